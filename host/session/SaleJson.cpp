#include "host/session/SaleJson.h"

#include <cctype>
#include <climits>
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
  // A large unsigned number read as signed would wrap into the range.
  if (value.is_number_unsigned() ? value.get<std::uint64_t>() > INT32_MAX
                                 : value.get<std::int64_t>() < INT32_MIN || value.get<std::int64_t>() > INT32_MAX)
    Fail(where, "out of the 32-bit range");
  return static_cast<std::int32_t>(value.get<std::int64_t>());
}

// A text of the sale; one with a NUL inside would be cut short where it is
// handed on as a C string, and mean something else than it says.
std::string Text(const json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, std::string("a text is expected, not ") + value.type_name());
  std::string text = value.get<std::string>();
  if (text.find('\0') != std::string::npos) Fail(where, "a text with a NUL character inside");
  return text;
}

// `count` to `most` decimal digits at `pos`, nothing else (no blanks, no signs).
bool Digits(const std::string& text, std::size_t& pos, int least, int most, int& value) {
  value = 0;
  int n = 0;
  while (n < most && pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + (text[pos++] - '0');
    ++n;
  }
  return n >= least;
}

// Appends the character at text[i] to `out`, a whole UTF-8 sequence as it is
// and anything else (control characters, bytes that are not UTF-8, and quotes
// and backslashes when `quoting`) as an escape; answers the bytes taken.
// A line break passes as it is when `keepLineBreaks`.
std::size_t AppendEscaped(std::string& out, std::string_view text, std::size_t i, bool quoting, bool keepLineBreaks) {
  const auto c = static_cast<unsigned char>(text[i]);
  std::size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  bool valid = length > 0 && i + length <= text.size() && !(length == 2 && c < 0xC2);
  for (std::size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
  if (valid && length == 1 && (c < 0x20 || c == 0x7F) && !(keepLineBreaks && c == '\n')) valid = false;
  if (valid && quoting && (c == '"' || c == '\\')) valid = false;
  if (valid) {
    out.append(text.substr(i, length));
    return length;
  }
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, c == '"' || c == '\\' ? "\\%c" : "\\x%02X", c);
  out += escaped;
  return 1;
}

}  // namespace

// "YYYY-MM-DDTHH:MM[:SS[.fff]]" (a blank may stand for the T; month, day and
// the time's parts may have one digit). Nothing else may stand in it.
double ParseMoment(const std::string& text) {
  const std::string bad = InputExcerpt(text) + " is not YYYY-MM-DDTHH:MM[:SS[.fff]]";
  int y, mo, d, h, mi, s = 0, ms = 0;
  std::size_t p = 0;
  auto expect = [&](char c) { return p < text.size() && text[p] == c ? (++p, true) : false; };
  if (!Digits(text, p, 4, 4, y) || !expect('-') || !Digits(text, p, 1, 2, mo) || !expect('-') ||
      !Digits(text, p, 1, 2, d) || !(expect('T') || expect(' ')) || !Digits(text, p, 1, 2, h) || !expect(':') ||
      !Digits(text, p, 1, 2, mi))
    Fail("moment", bad);
  if (expect(':')) {
    if (!Digits(text, p, 1, 2, s)) Fail("moment", bad);
    if (expect('.')) {
      int digits = 0;
      while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        if (digits < 3) ms = ms * 10 + (text[p] - '0');
        ++digits;
        ++p;
      }
      if (digits == 0) Fail("moment", bad);
      for (; digits < 3; ++digits) ms *= 10;
    }
  }
  if (p != text.size()) Fail("moment", bad);
  auto date = TryEncodeDate(y, mo, d);
  auto time = TryEncodeTime(h, mi, s, ms);
  if (!date || !time) Fail("moment", InputExcerpt(text) + " is not a real date and time");
  return ComposeDateTime(*date, *time);
}

bool JsonDepthWithin(std::string_view text, int maxDepth) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;  // the escaped character is never a quote that ends the string
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

std::string InputExcerpt(std::string_view text, std::size_t maxCharacters) {
  std::string out = "\"";
  std::size_t characters = 0, i = 0;
  for (; i < text.size() && characters < maxCharacters; ++characters) i += AppendEscaped(out, text, i, true, false);
  out += "\"";
  if (i < text.size()) out += "… (" + std::to_string(text.size()) + " bytes)";
  return out;
}

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) i += AppendEscaped(out, text, i, false, true);
  return out;
}

TSale ParseSale(const std::string& jsonText) {
  if (!JsonDepthWithin(jsonText))
    Fail("sale", "arrays and objects nest deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  json doc;
  try {
    doc = json::parse(jsonText);
  } catch (const json::parse_error& e) {
    // The parser's message quotes what it read, which may be any length and
    // hold any bytes.
    throw ESaleFormat("the sale is not valid JSON: " + InputExcerpt(e.what(), 160));
  }
  if (!doc.is_object()) Fail("sale", "a JSON object is expected");
  TSale sale;
  const json& payment = Member(doc, "", "payment");
  if (payment.is_string()) {
    sale.paymentName = Text(payment, "payment");
  } else {
    sale.paymentID = Identifier(payment, "payment");
  }
  if (auto it = doc.find("moment"); it != doc.end() && !it->is_null()) {
    sale.moment = ParseMoment(Text(*it, "moment"));
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

std::string JsonText(const nlohmann::json& document) {
  return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace selvo::host
