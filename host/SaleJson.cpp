#include "host/SaleJson.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/DateUtils.h"

namespace selvo::host {
namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) { throw ESaleFormat(where + ": " + what); }

const json& Member(const json& object, const std::string& where, const char* name) {
  auto it = object.find(name);
  if (it == object.end()) Fail(where.empty() ? name : where + "." + name, "missing");
  return *it;
}

double Number(const json& value, const std::string& where) {
  if (!value.is_number()) Fail(where, std::string("a number is expected, not ") + value.type_name());
  const double v = value.get<double>();
  if (!std::isfinite(v)) Fail(where, "not a finite number");
  return v;
}

std::int32_t Identifier(const json& value, const std::string& where) {
  if (!value.is_number_integer()) Fail(where, std::string("a whole number is expected, not ") + value.type_name());
  const auto v = value.get<std::int64_t>();
  if (v < INT32_MIN || v > INT32_MAX) Fail(where, "out of the 32-bit range");
  return static_cast<std::int32_t>(v);
}

// "YYYY-MM-DDTHH:MM[:SS[.fff]]" (a blank may stand for the T).
double ParseMoment(const std::string& text) {
  int y, mo, d, h = 0, mi = 0, s = 0, ms = 0;
  char sep = 0;
  int consumed = 0;
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &consumed);
  if (n != 6 || (sep != 'T' && sep != ' ')) Fail("moment", "\"" + text + "\" is not YYYY-MM-DDTHH:MM[:SS]");
  const char* rest = text.c_str() + consumed;
  if (*rest == ':') {
    int used = 0;
    if (std::sscanf(rest, ":%2d%n", &s, &used) != 1) Fail("moment", "bad seconds in \"" + text + "\"");
    rest += used;
    if (*rest == '.') {
      ++rest;
      int digits = 0;
      while (std::isdigit(static_cast<unsigned char>(*rest))) {
        if (digits < 3) ms = ms * 10 + (*rest - '0');
        ++digits;
        ++rest;
      }
      if (digits == 0) Fail("moment", "bad fraction in \"" + text + "\"");
      for (; digits < 3; ++digits) ms *= 10;
    }
  }
  if (*rest != '\0') Fail("moment", "unexpected text after the time in \"" + text + "\"");
  auto date = TryEncodeDate(y, mo, d);
  auto time = TryEncodeTime(h, mi, s, ms);
  if (!date || !time) Fail("moment", "\"" + text + "\" is not a real date and time");
  return ComposeDateTime(*date, *time);
}

}  // namespace

TSale ParseSale(const std::string& jsonText) {
  json doc;
  try {
    doc = json::parse(jsonText);
  } catch (const json::parse_error& e) {
    throw ESaleFormat(std::string("the sale is not valid JSON: ") + e.what());
  }
  if (!doc.is_object()) Fail("sale", "a JSON object is expected");
  TSale sale;
  const json& payment = Member(doc, "", "payment");
  if (payment.is_string()) {
    sale.paymentName = payment.get<std::string>();
  } else {
    sale.paymentID = Identifier(payment, "payment");
  }
  if (auto it = doc.find("moment"); it != doc.end() && !it->is_null()) {
    if (!it->is_string()) Fail("moment", std::string("a text is expected, not ") + it->type_name());
    sale.moment = ParseMoment(it->get<std::string>());
  }
  const json& lines = Member(doc, "", "lines");
  if (!lines.is_array()) Fail("lines", std::string("an array is expected, not ") + lines.type_name());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string where = "lines[" + std::to_string(i) + "]";
    const json& l = lines[i];
    if (!l.is_object()) Fail(where, "an object is expected");
    TSaleLine line;
    line.goods = Identifier(Member(l, where, "goods"), where + ".goods");
    line.category = Identifier(Member(l, where, "category"), where + ".category");
    line.zprice = Number(Member(l, where, "zprice"), where + ".zprice");
    line.price = Number(Member(l, where, "price"), where + ".price");
    line.quantity = Number(Member(l, where, "quantity"), where + ".quantity");
    sale.lines.push_back(line);
  }
  return sale;
}

TSaleRecord::TSaleRecord(const TSale& sale, std::int32_t payID, double moment) {
  std::vector<std::int32_t> goods, categories;
  std::vector<double> zprices, prices, quantities;
  for (const TSaleLine& l : sale.lines) {
    goods.push_back(l.goods);
    categories.push_back(l.category);
    zprices.push_back(l.zprice);
    prices.push_back(l.price);
    quantities.push_back(l.quantity);
  }
  data_.GoodsIDs = DynArrayFrom(goods);
  data_.CategoryIDs = DynArrayFrom(categories);
  data_.ZPrices = DynArrayFrom(zprices);
  data_.Prices = DynArrayFrom(prices);
  data_.Quantities = DynArrayFrom(quantities);
  data_.PayID = payID;
  data_.SaleTime = moment;
}

TSaleRecord::~TSaleRecord() {
  DynArrayRelease(data_.GoodsIDs);
  DynArrayRelease(data_.CategoryIDs);
  DynArrayRelease(data_.ZPrices);
  DynArrayRelease(data_.Prices);
  DynArrayRelease(data_.Quantities);
}

TResultRecord::~TResultRecord() {
  DynArrayRelease(data_.Reserved1);
  DynArrayRelease(data_.Reserved2);
}

}  // namespace selvo::host
