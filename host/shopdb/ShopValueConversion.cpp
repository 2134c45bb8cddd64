#include "host/shopdb/ShopValueConversion.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool FitsInt32(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

// Rounds as the host platform's Round does: halves to the even neighbour.
std::optional<std::int32_t> RoundToInt32(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double r = std::nearbyint(value);
  if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(r);
}

[[noreturn]] void BadValue(const std::string& text, const char* what, const std::string& field) {
  throw EConvertError("'" + text + "' не является допустимым " + what + " для поля '" + field + "'");
}
constexpr const char* kIntegerWhat = "целым числом";
constexpr const char* kFloatWhat = "числом с плавающей точкой";
constexpr const char* kDateTimeWhat = "значением даты и времени";

// A number text under the module's format settings. A full stop is taken as
// the decimal separator too when the settings do not use it for thousands:
// the module writes exchange texts with a full stop whatever the locale, and
// the host, loaded apart from the module, cannot see its settings change.
std::optional<double> TextToFloat(std::string_view text) {
  const TFormatSettings& fs = ModuleFormatSettings();
  if (auto d = TryStrToFloat(text, fs)) return d;
  if (fs.DecimalSeparator != '.' && fs.ThousandSeparator != '.') {
    TFormatSettings fullStop = fs;
    fullStop.DecimalSeparator = '.';
    return TryStrToFloat(text, fullStop);
  }
  return std::nullopt;
}

// A value as a number, if it is one or is a text of one.
struct TNumber {
  bool isInteger;
  std::int64_t i;
  double d;
};
std::optional<TNumber> ValueNumber(const TVariant& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return TNumber{true, *i, static_cast<double>(*i)};
  if (const auto* d = std::get_if<double>(&v)) return TNumber{false, 0, *d};
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto i = ParseInteger(*s)) return TNumber{true, *i, static_cast<double>(*i)};
    if (auto d = TextToFloat(*s)) return TNumber{false, 0, *d};
  }
  return std::nullopt;
}

bool NumbersEqual(const TNumber& a, const TNumber& b) {
  if (a.isInteger && b.isInteger) return a.i == b.i;
  return a.d == b.d;
}

}  // namespace

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::int64_t value = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || ptr != s.data() + s.size()) return std::nullopt;
  return value;
}

std::int64_t RowKey(const TVariant& key, const std::string& table) {
  if (const auto* number = std::get_if<std::int64_t>(&key)) return *number;
  throw EDatabaseError("таблица " + table + ": столбец rowid должен быть целым числом, а хранит другой тип");
}

std::string VariantText(const TVariant& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  if (const auto* real = std::get_if<double>(&value)) return FloatToStr(*real, ModuleFormatSettings());
  if (const auto* text = std::get_if<std::string>(&value)) return "\"" + *text + "\"";
  return "NULL";
}

std::string ValueText(const TVariant& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return FloatToStr(*d, ModuleFormatSettings());
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return std::string();
}

std::optional<std::int64_t> LinkKey(const TVariant& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) {
    if (std::isfinite(*d) && std::trunc(*d) == *d && std::fabs(*d) < 9.2e18) return static_cast<std::int64_t>(*d);
    return std::nullopt;
  }
  if (const auto* s = std::get_if<std::string>(&v)) return ParseInteger(*s);
  return std::nullopt;
}

bool KeyMatches(const TVariant& stored, const TVariant& key, TFieldKind kind, unsigned options) {
  if (std::holds_alternative<std::monostate>(key)) return std::holds_alternative<std::monostate>(stored);
  if (std::holds_alternative<std::monostate>(stored)) return false;
  if (kind != TFieldKind::Text) {
    auto a = ValueNumber(stored);
    auto b = ValueNumber(key);
    if (a && b) return NumbersEqual(*a, *b);
    if (b && !a) return false;  // a number never equals a text that is none
    if (!b) return false;       // a key that does not convert matches nothing
  }
  // Two texts, whole, letter case ignored: the common lookup of a name
  // (an import looks up every row's name), compared without copies.
  // Folding keeps a character's UTF-8 length, so lengths that differ
  // cannot match.
  const auto* storedText = std::get_if<std::string>(&stored);
  const auto* keyText = std::get_if<std::string>(&key);
  if (storedText && keyText && (options & loCaseInsensitive) && !(options & loPartialKey))
    return storedText->size() == keyText->size() && SameText(*storedText, *keyText);
  std::string a = ValueText(stored);
  std::string b = ValueText(key);
  if (options & loCaseInsensitive) {
    a = LowerCase(a);
    b = LowerCase(b);
  }
  if (options & loPartialKey) return a.compare(0, b.size(), b) == 0;
  return a == b;
}

std::vector<std::string> SplitKeyFields(const std::string& keyFields) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= keyFields.size()) {
    std::size_t end = keyFields.find(';', start);
    if (end == std::string::npos) end = keyFields.size();
    std::string name(TrimBlanks(std::string_view(keyFields).substr(start, end - start)));
    if (!name.empty()) names.push_back(name);
    start = end + 1;
  }
  return names;
}

std::int32_t ValueAsInteger(const TVariant& v, const std::string& fieldName) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) {
    if (!FitsInt32(*i)) BadValue(std::to_string(*i), kIntegerWhat, fieldName);
    return static_cast<std::int32_t>(*i);
  }
  if (const auto* d = std::get_if<double>(&v)) {
    if (auto r = RoundToInt32(*d)) return *r;
    BadValue(FloatToStr(*d, ModuleFormatSettings()), kIntegerWhat, fieldName);
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    auto i = ParseInteger(*s);
    if (!i || !FitsInt32(*i)) BadValue(*s, kIntegerWhat, fieldName);
    return static_cast<std::int32_t>(*i);
  }
  return 0;
}

double ValueAsFloat(const TVariant& v, const std::string& fieldName) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto d = TextToFloat(*s)) return *d;
    BadValue(*s, kFloatWhat, fieldName);
  }
  return 0;
}

double ValueAsDateTime(const TVariant& v, const std::string& fieldName) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto d = TryStrToDateTime(*s, ModuleFormatSettings())) return *d;
    if (auto d = TextToFloat(*s)) return *d;
    BadValue(*s, kDateTimeWhat, fieldName);
  }
  return ValueAsFloat(v, fieldName);
}

TVariant ValueFromInteger(TFieldKind kind, std::int32_t value) {
  switch (kind) {
    case TFieldKind::Integer: return TVariant(std::int64_t{value});
    case TFieldKind::Real: return TVariant(static_cast<double>(value));
    case TFieldKind::Text: break;
  }
  return TVariant(std::to_string(value));
}

TVariant ValueFromFloat(TFieldKind kind, double value, const std::string& fieldName) {
  switch (kind) {
    case TFieldKind::Integer: {
      auto r = RoundToInt32(value);
      if (!r) BadValue(FloatToStr(value, ModuleFormatSettings()), kIntegerWhat, fieldName);
      return TVariant(std::int64_t{*r});
    }
    case TFieldKind::Real: return TVariant(value);
    case TFieldKind::Text: break;
  }
  return TVariant(FloatToStr(value, ModuleFormatSettings()));
}

TVariant ValueFromDateTime(TFieldKind kind, double value, const std::string& fieldName) {
  if (kind == TFieldKind::Text) return TVariant(DateTimeToStr(value, ModuleFormatSettings()));
  return ValueFromFloat(kind, value, fieldName);
}

TVariant ValueFromString(TFieldKind kind, const std::string& value, const std::string& fieldName) {
  if (kind == TFieldKind::Text) return TVariant(value);
  if (value.empty()) return TVariant();
  if (kind == TFieldKind::Integer) {
    auto i = ParseInteger(value);
    if (!i || !FitsInt32(*i)) BadValue(value, kIntegerWhat, fieldName);
    return TVariant(*i);
  }
  auto d = TextToFloat(value);
  if (!d) BadValue(value, kFloatWhat, fieldName);
  return TVariant(*d);
}

}  // namespace selvo::host
