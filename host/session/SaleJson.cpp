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

// The kind of a JSON value as a message names it.
std::string KindOf(const json& value) {
  switch (value.type()) {
    case json::value_t::null: return "null";
    case json::value_t::object: return "объект";
    case json::value_t::array: return "массив";
    case json::value_t::string: return "текст";
    case json::value_t::boolean: return "логическое значение";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: return "целое число";
    case json::value_t::number_float: return "дробное число";
    default: return "значение";
  }
}

const json& Member(const json& object, const std::string& where, const char* name) {
  auto it = object.find(name);
  if (it == object.end()) Fail(where.empty() ? name : where + "." + name, "поле не указано");
  return *it;
}

// A number no less than 0 and no more than `most`: a negative price or
// quantity, or one far beyond any sale, would give a meaningless sum.
double Amount(const json& value, const std::string& where, double most) {
  if (!value.is_number()) Fail(where, "ожидается число, а не " + KindOf(value));
  const double v = value.get<double>();
  if (std::isfinite(v) && v >= 0 && v <= most) return v;
  char range[64];
  std::snprintf(range, sizeof range, "от 0 до %.0f", most);
  Fail(where, "число вне допустимых пределов (" + std::string(range) + ")");
}

std::int32_t Identifier(const json& value, const std::string& where) {
  if (!value.is_number_integer()) Fail(where, "ожидается целое число, а не " + KindOf(value));
  // A large unsigned number read as signed would wrap into the range.
  if (value.is_number_unsigned() ? value.get<std::uint64_t>() > INT32_MAX
                                 : value.get<std::int64_t>() < INT32_MIN || value.get<std::int64_t>() > INT32_MAX)
    Fail(where, "число вне 32-битного диапазона");
  return static_cast<std::int32_t>(value.get<std::int64_t>());
}

// A text of the sale; one with a NUL inside would be cut short where it is
// handed on as a C string, and mean something else than it says.
std::string Text(const json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "ожидается текст, а не " + KindOf(value));
  std::string text = value.get<std::string>();
  if (text.find('\0') != std::string::npos) Fail(where, "текст содержит символ NUL");
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

// Follows a parse through the document to name the place where it fails:
// "lines[0].price". The parser itself tells only the byte, and for a number
// too large for a double (1e309) not even that.
class TPlaceOfFault : public nlohmann::json_sax<json> {
 public:
  std::string place;

  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t) override { return Value(); }
  bool number_unsigned(number_unsigned_t) override { return Value(); }
  bool number_float(number_float_t, const string_t&) override { return Value(); }
  bool string(string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool start_object(std::size_t) override { return Open(false); }
  bool key(string_t& name) override {
    frames_.back().key = name;
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(true); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    place = Place();
    return false;
  }

 private:
  struct TFrame {
    bool array = false;
    std::size_t values = 0;  // in an array: the elements begun
    std::string key;         // in an object: the last key read
  };
  // The place of the value being read: in an array that holds the value,
  // the element begun last, and in the innermost one the element not yet
  // begun.
  std::string Place() const {
    std::string out;
    for (std::size_t i = 0; i < frames_.size(); ++i) {
      const TFrame& f = frames_[i];
      if (f.array)
        out += "[" + std::to_string(i + 1 == frames_.size() ? f.values : f.values - 1) + "]";
      else
        out += (out.empty() ? "" : ".") + f.key;
    }
    return out.empty() ? "sale" : out;
  }
  bool Value() {
    if (!frames_.empty() && frames_.back().array) ++frames_.back().values;
    return true;
  }
  bool Open(bool array) {
    Value();
    frames_.push_back({array, 0, {}});
    return true;
  }
  bool Close() {
    frames_.pop_back();
    return true;
  }
  std::vector<TFrame> frames_;
};

}  // namespace

// "YYYY-MM-DDTHH:MM[:SS[.fff]]" (a blank may stand for the T; month, day and
// the time's parts may have one digit). Nothing else may stand in it.
double ParseMoment(const std::string& text) {
  // Worded only for a moment refused: every sale's moment is read here.
  const auto bad = [&] { return InputExcerpt(text) + " не в виде ГГГГ-ММ-ДДTЧЧ:ММ[:СС[.ммм]]"; };
  int y, mo, d, h, mi, s = 0, ms = 0;
  std::size_t p = 0;
  auto expect = [&](char c) { return p < text.size() && text[p] == c ? (++p, true) : false; };
  if (!Digits(text, p, 4, 4, y) || !expect('-') || !Digits(text, p, 1, 2, mo) || !expect('-') ||
      !Digits(text, p, 1, 2, d) || !(expect('T') || expect(' ')) || !Digits(text, p, 1, 2, h) || !expect(':') ||
      !Digits(text, p, 1, 2, mi))
    Fail("moment", bad());
  if (expect(':')) {
    if (!Digits(text, p, 1, 2, s)) Fail("moment", bad());
    if (expect('.')) {
      int digits = 0;
      while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        if (digits < 3) ms = ms * 10 + (text[p] - '0');
        ++digits;
        ++p;
      }
      if (digits == 0) Fail("moment", bad());
      for (; digits < 3; ++digits) ms *= 10;
    }
  }
  if (p != text.size()) Fail("moment", bad());
  auto date = TryEncodeDate(y, mo, d);
  auto time = TryEncodeTime(h, mi, s, ms);
  if (!date || !time) Fail("moment", InputExcerpt(text) + " — нет таких даты и времени");
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
  // The JSON parser would take a NUL for the end of the text and the sale
  // before it for the whole: no JSON text holds one.
  if (jsonText.find('\0') != std::string::npos) throw ESaleFormat("продажа не в формате JSON: в тексте символ NUL");
  if (!JsonDepthWithin(jsonText))
    Fail("sale", "массивы и объекты вложены глубже " + std::to_string(kMaxJsonDepth) + " уровней");
  json doc;
  try {
    doc = json::parse(jsonText);
  } catch (const json::out_of_range&) {
    // A number past the range of a double.
    TPlaceOfFault fault;
    json::sax_parse(jsonText, &fault);
    Fail(fault.place, "число вне допустимых пределов");
  } catch (const json::exception& e) {
    // The parser's message quotes what it read, which may be any length and
    // hold any bytes.
    throw ESaleFormat("продажа не в формате JSON: " + InputExcerpt(e.what(), 160));
  }
  if (!doc.is_object()) Fail("sale", "ожидается объект JSON, а не " + KindOf(doc));
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
  if (!lines.is_array()) Fail("lines", "ожидается массив, а не " + KindOf(lines));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string where = "lines[" + std::to_string(i) + "]";
    const json& l = lines[i];
    if (!l.is_object()) Fail(where, "ожидается объект, а не " + KindOf(l));
    TSaleLine line;
    line.goods = Identifier(Member(l, where, "goods"), where + ".goods");
    line.category = Identifier(Member(l, where, "category"), where + ".category");
    line.zprice = Amount(Member(l, where, "zprice"), where + ".zprice", kMaxPrice);
    line.price = Amount(Member(l, where, "price"), where + ".price", kMaxPrice);
    line.quantity = Amount(Member(l, where, "quantity"), where + ".quantity", kMaxQuantity);
    sale.lines.push_back(line);
  }
  return sale;
}

// The arrays are filled in place: a record is made for every sale computed.
TSaleRecord::TSaleRecord(const TSale& sale, std::int32_t payID, double moment) {
  const auto count = static_cast<std::int32_t>(sale.lines.size());
  try {
    data_.GoodsIDs = DynArrayNew<std::int32_t>(count);
    data_.CategoryIDs = DynArrayNew<std::int32_t>(count);
    data_.ZPrices = DynArrayNew<double>(count);
    data_.Prices = DynArrayNew<double>(count);
    data_.Quantities = DynArrayNew<double>(count);
  } catch (...) {
    Release();
    throw;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    const TSaleLine& l = sale.lines[static_cast<std::size_t>(i)];
    data_.GoodsIDs[i] = l.goods;
    data_.CategoryIDs[i] = l.category;
    data_.ZPrices[i] = l.zprice;
    data_.Prices[i] = l.price;
    data_.Quantities[i] = l.quantity;
  }
  data_.PayID = payID;
  data_.SaleTime = moment;
}

TSaleRecord::~TSaleRecord() { Release(); }

void TSaleRecord::Release() {
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
