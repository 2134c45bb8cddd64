#include "platform/FormatSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/DateUtils.h"
#include "platform/TextCodec.h"

namespace selvo {
namespace {

TFormatSettings& ModuleSettingsSlot() {
  static TFormatSettings settings = TFormatSettings::FromProcessLocale();
  return settings;
}

// Translates a C library date/time pattern ("%d.%m.%Y", "%H:%M:%S") into the
// module's pattern language.
std::string FromStrftime(std::string_view f) {
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%' || i + 1 >= f.size()) {
      out += f[i];
      continue;
    }
    char c = f[++i];
    if (c == 'E' || c == 'O') {
      if (i + 1 >= f.size()) break;
      c = f[++i];
    }
    switch (c) {
      case 'H': out += "hh"; break;
      case 'k': out += "h"; break;
      case 'I': out += "hh"; break;
      case 'l': out += "h"; break;
      case 'M': out += "nn"; break;
      case 'S': out += "ss"; break;
      case 'p': out += "ampm"; break;
      case 'd': out += "dd"; break;
      case 'e': out += "d"; break;
      case 'm': out += "mm"; break;
      case 'Y': out += "yyyy"; break;
      case 'y': out += "yy"; break;
      case 'T': out += "hh:nn:ss"; break;
      case 'R': out += "hh:nn"; break;
      case 'D': out += "mm/dd/yy"; break;
      case 'F': out += "yyyy-mm-dd"; break;
      case 'r': out += "hh:nn:ss ampm"; break;
      case '%': out += '%'; break;
      default: break;  // names of days and months are not used by the module
    }
  }
  return out;
}

char FirstSeparator(const std::string& pattern, const std::string& letters, char fallback) {
  for (char c : pattern) {
    if (letters.find(static_cast<char>(std::tolower(static_cast<unsigned char>(c)))) == std::string::npos && c != ' ' &&
        c != '\'' && c != '"')
      return c;
  }
  return fallback;
}

// The digits of |value| with 15 significant digits, trailing zeros dropped,
// and the decimal exponent of the first digit.
void GeneralDigits(double value, std::string& digits, int& exponent) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  // buf: d.dddddddddddddde[+-]xx
  digits.clear();
  digits += buf[0];
  const char* p = buf + 2;
  while (*p && *p != 'e') digits += *p++;
  exponent = std::atoi(p + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  // At the top of the range, rounding to 15 digits would give a text above
  // the largest double, which reads back as no number: cut instead.
  if (exponent == 308 && digits > "179769313486231") digits = "179769313486231";
}

int ParseInt(std::string_view s, std::size_t& i, int maxDigits) {
  int v = 0, n = 0;
  while (i < s.size() && n < maxDigits && s[i] >= '0' && s[i] <= '9') {
    v = v * 10 + (s[i] - '0');
    ++i;
    ++n;
  }
  return n == 0 ? -1 : v;
}

void SkipBlanks(std::string_view s, std::size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

bool StartsWithNoCase(std::string_view s, std::size_t i, std::string_view what) {
  if (what.empty() || s.size() - i < what.size()) return false;
  return SameText(s.substr(i, what.size()), what);
}

std::string Pad(int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

}  // namespace

TFormatSettings TFormatSettings::Russian() {
  TFormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = ' ';
  fs.DateSeparator = '.';
  fs.TimeSeparator = ':';
  fs.ShortDateFormat = "dd.mm.yyyy";
  fs.LongDateFormat = "dd.mm.yyyy";
  fs.ShortTimeFormat = "hh:nn";
  fs.LongTimeFormat = "hh:nn:ss";
  fs.CurrencyString = "р.";
  fs.CurrencyFormat = 1;
  fs.CurrencyDecimals = 2;
  return fs;
}

TFormatSettings TFormatSettings::English() {
  TFormatSettings fs;
  fs.DecimalSeparator = '.';
  fs.ThousandSeparator = ',';
  fs.DateSeparator = '/';
  fs.TimeSeparator = ':';
  fs.ShortDateFormat = "m/d/yyyy";
  fs.LongDateFormat = "m/d/yyyy";
  fs.ShortTimeFormat = "h:nn ampm";
  fs.LongTimeFormat = "h:nn:ss ampm";
  fs.CurrencyString = "$";
  fs.CurrencyFormat = 0;
  fs.CurrencyDecimals = 2;
  return fs;
}

TFormatSettings TFormatSettings::FromProcessLocale() {
  TFormatSettings fs;
  locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return fs;
  if (const char* radix = nl_langinfo_l(RADIXCHAR, loc); radix && radix[0] && !radix[1]) fs.DecimalSeparator = radix[0];
  if (const char* thou = nl_langinfo_l(THOUSEP, loc); thou && thou[0] && !thou[1]) fs.ThousandSeparator = thou[0];
  if (const char* t = nl_langinfo_l(T_FMT, loc); t && *t) {
    fs.LongTimeFormat = FromStrftime(t);
    fs.TimeSeparator = FirstSeparator(fs.LongTimeFormat, "hnsampm", ':');
  }
  if (const char* d = nl_langinfo_l(D_FMT, loc); d && *d) {
    fs.ShortDateFormat = FromStrftime(d);
    fs.LongDateFormat = fs.ShortDateFormat;
    fs.DateSeparator = FirstSeparator(fs.ShortDateFormat, "dmy", '/');
  }
  if (const char* am = nl_langinfo_l(AM_STR, loc); am && *am) fs.TimeAMString = am;
  if (const char* pm = nl_langinfo_l(PM_STR, loc); pm && *pm) fs.TimePMString = pm;
  if (const char* cur = nl_langinfo_l(CRNCYSTR, loc); cur && cur[0] && cur[1]) {
    // "-$" symbol before the amount, "+р." after it.
    fs.CurrencyString = cur + 1;
    fs.CurrencyFormat = cur[0] == '-' ? 0 : 3;
  }
  freelocale(loc);
  return fs;
}

const TFormatSettings& ModuleFormatSettings() { return ModuleSettingsSlot(); }

void SetModuleFormatSettings(const TFormatSettings& settings) { ModuleSettingsSlot() = settings; }

std::string FloatToStr(double value, const TFormatSettings& fs) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  std::string digits;
  int exponent = 0;
  GeneralDigits(value, digits, exponent);
  std::string out = value < 0 ? "-" : "";
  if (exponent >= 15 || exponent < -5) {
    out += digits[0];
    if (digits.size() > 1) {
      out += fs.DecimalSeparator;
      out += digits.substr(1);
    }
    out += 'E';
    if (exponent < 0) out += '-';
    out += std::to_string(std::abs(exponent));
    return out;
  }
  if (exponent < 0) {
    out += '0';
    out += fs.DecimalSeparator;
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  const std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= intDigits) {
    out += digits;
    out.append(intDigits - digits.size(), '0');
  } else {
    out += digits.substr(0, intDigits);
    out += fs.DecimalSeparator;
    out += digits.substr(intDigits);
  }
  return out;
}

std::string FloatToStrFixed(double value, int decimals, const TFormatSettings& fs) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  std::string out = buf;
  if (auto dot = out.find('.'); dot != std::string::npos) out[dot] = fs.DecimalSeparator;
  if (out == "-0" || out.find_first_not_of("-0.,") == std::string::npos) {
    if (!out.empty() && out[0] == '-') out.erase(0, 1);  // no "-0,00"
  }
  return out;
}

std::string CurrToStr(double value, const TFormatSettings& fs) {
  std::string amount = FloatToStrFixed(std::fabs(value), fs.CurrencyDecimals, fs);
  std::string text;
  switch (fs.CurrencyFormat) {
    case 0: text = fs.CurrencyString + amount; break;
    case 1: text = amount + fs.CurrencyString; break;
    case 2: text = fs.CurrencyString + " " + amount; break;
    default: text = amount + " " + fs.CurrencyString; break;
  }
  bool negative = value < 0 && FloatToStrFixed(value, fs.CurrencyDecimals, fs)[0] == '-';
  return negative ? "-" + text : text;
}

std::string CurrencyText(double value, const TFormatSettings& fs) {
  std::string amount = FloatToStrFixed(std::fabs(value), fs.CurrencyDecimals, fs);
  if (!std::isfinite(value)) return CurrToStr(value, fs);
  std::size_t end = amount.find(fs.DecimalSeparator);
  if (end == std::string::npos) end = amount.size();
  for (std::size_t at = end; at > 3; at -= 3) amount.insert(at - 3, 1, fs.ThousandSeparator);
  std::string text;
  switch (fs.CurrencyFormat) {
    case 0: text = fs.CurrencyString + amount; break;
    case 1: text = amount + fs.CurrencyString; break;
    case 2: text = fs.CurrencyString + " " + amount; break;
    default: text = amount + " " + fs.CurrencyString; break;
  }
  const bool negative = value < 0 && FloatToStrFixed(value, fs.CurrencyDecimals, fs)[0] == '-';
  return negative ? "-" + text : text;
}

std::optional<double> TryStrToFloat(std::string_view text, const TFormatSettings& fs) {
  std::size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  std::string_view s = text.substr(b, e - b);
  std::string normal;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
  bool digits = false, sep = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      normal += c;
      digits = true;
    } else if (c == fs.DecimalSeparator && !sep) {
      normal += '.';
      sep = true;
    } else {
      break;
    }
  }
  if (!digits) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
    bool expDigits = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      normal += s[i++];
      expDigits = true;
    }
    if (!expDigits) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  const char* first = normal.c_str();
  if (*first == '+') ++first;
  double value = 0;
  auto [ptr, ec] = std::from_chars(first, normal.c_str() + normal.size(), value);
  if (ec != std::errc() || ptr != normal.c_str() + normal.size()) return std::nullopt;
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::string FormatDateTime(std::string_view f, double dateTime, const TFormatSettings& fs) {
  const TDateParts d = DecodeDate(dateTime);
  const TTimeParts t = DecodeTime(dateTime);
  bool ampm = false;
  for (std::size_t k = 0; k + 1 < f.size(); ++k)
    if (StartsWithNoCase(f, k, "ampm") || StartsWithNoCase(f, k, "am/pm") || StartsWithNoCase(f, k, "a/p")) ampm = true;
  std::string out;
  bool lastWasHour = false;
  for (std::size_t i = 0; i < f.size();) {
    char c = f[i];
    char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t run = 1;
    while (i + run < f.size() && std::tolower(static_cast<unsigned char>(f[i + run])) == lc) ++run;
    if (c == '\'' || c == '"') {
      std::size_t end = f.find(c, i + 1);
      if (end == std::string_view::npos) end = f.size();
      out += f.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (StartsWithNoCase(f, i, "ampm")) {
      out += t.hour < 12 ? fs.TimeAMString : fs.TimePMString;
      i += 4;
      continue;
    }
    if (StartsWithNoCase(f, i, "am/pm")) {
      out += t.hour < 12 ? "am" : "pm";
      i += 5;
      continue;
    }
    if (StartsWithNoCase(f, i, "a/p")) {
      out += t.hour < 12 ? "a" : "p";
      i += 3;
      continue;
    }
    switch (lc) {
      case 'y':
        out += run <= 2 ? Pad(d.year % 100, 2) : Pad(d.year, 4);
        lastWasHour = false;
        break;
      case 'm':
        if (lastWasHour) {
          out += run == 1 ? std::to_string(t.minute) : Pad(t.minute, 2);
        } else {
          out += run == 1 ? std::to_string(d.month) : Pad(d.month, 2);
        }
        lastWasHour = false;
        break;
      case 'd':
        out += run == 1 ? std::to_string(d.day) : Pad(d.day, 2);
        lastWasHour = false;
        break;
      case 'h': {
        int h = t.hour;
        if (ampm) {
          h %= 12;
          if (h == 0) h = 12;
        }
        out += run == 1 ? std::to_string(h) : Pad(h, 2);
        lastWasHour = true;
        break;
      }
      case 'n':
        out += run == 1 ? std::to_string(t.minute) : Pad(t.minute, 2);
        lastWasHour = false;
        break;
      case 's':
        out += run == 1 ? std::to_string(t.second) : Pad(t.second, 2);
        lastWasHour = false;
        break;
      case 'z':
        out += run == 1 ? std::to_string(t.msec) : Pad(t.msec, 3);
        lastWasHour = false;
        break;
      case '/': out.append(run, fs.DateSeparator); break;
      case ':': out.append(run, fs.TimeSeparator); break;
      default: out.append(f.substr(i, run)); break;
    }
    i += run;
  }
  return out;
}

std::string TimeToStr(double time, const TFormatSettings& fs) { return FormatDateTime(fs.LongTimeFormat, time, fs); }

std::string DateToStr(double date, const TFormatSettings& fs) { return FormatDateTime(fs.ShortDateFormat, date, fs); }

std::string DateTimeToStr(double dateTime, const TFormatSettings& fs) {
  std::string s = DateToStr(dateTime, fs);
  if (TimeOf(dateTime) != 0) s += " " + TimeToStr(dateTime, fs);
  return s;
}

std::optional<double> TryStrToTime(std::string_view text, const TFormatSettings& fs) {
  std::size_t i = 0;
  SkipBlanks(text, i);
  int parts[4] = {0, 0, 0, 0};
  int count = 0;
  while (count < 4) {
    int v = ParseInt(text, i, count == 3 ? 3 : 9);
    if (v < 0) return std::nullopt;
    parts[count++] = v;
    if (count < 3 && i < text.size() && text[i] == fs.TimeSeparator) {
      ++i;
      continue;
    }
    if (count == 3 && i < text.size() && (text[i] == '.' || text[i] == fs.DecimalSeparator)) {
      ++i;
      continue;
    }
    break;
  }
  if (count < 2 && !(count == 1 && i < text.size())) return std::nullopt;
  SkipBlanks(text, i);
  int hour = parts[0];
  if (i < text.size()) {
    bool pm = false;
    if (StartsWithNoCase(text, i, fs.TimeAMString)) {
      i += fs.TimeAMString.size();
    } else if (StartsWithNoCase(text, i, fs.TimePMString)) {
      i += fs.TimePMString.size();
      pm = true;
    } else if (StartsWithNoCase(text, i, "AM")) {
      i += 2;
    } else if (StartsWithNoCase(text, i, "PM")) {
      i += 2;
      pm = true;
    } else {
      return std::nullopt;
    }
    if (hour < 1 || hour > 12) return std::nullopt;
    hour = hour % 12 + (pm ? 12 : 0);
    SkipBlanks(text, i);
    if (i != text.size()) return std::nullopt;
  } else if (count < 2) {
    return std::nullopt;
  }
  return TryEncodeTime(hour, parts[1], parts[2], parts[3]);
}

std::optional<double> TryStrToDate(std::string_view text, const TFormatSettings& fs) {
  // Order of day, month and year from the first letters of the pattern.
  std::string order;
  for (char c : fs.ShortDateFormat) {
    char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if ((lc == 'd' || lc == 'm' || lc == 'y') && order.find(lc) == std::string::npos) order += lc;
  }
  if (order.size() != 3) order = "mdy";
  std::size_t i = 0;
  SkipBlanks(text, i);
  int values[3];
  int digitsOfYear = 0;
  for (int k = 0; k < 3; ++k) {
    std::size_t start = i;
    values[k] = ParseInt(text, i, order[static_cast<std::size_t>(k)] == 'y' ? 4 : 2);
    if (values[k] < 0) return std::nullopt;
    if (order[static_cast<std::size_t>(k)] == 'y') digitsOfYear = static_cast<int>(i - start);
    if (k < 2) {
      if (i >= text.size() || text[i] != fs.DateSeparator) return std::nullopt;
      ++i;
    }
  }
  SkipBlanks(text, i);
  if (i != text.size()) return std::nullopt;
  auto valueOf = [&](char part) { return values[order[0] == part ? 0 : order[1] == part ? 1 : 2]; };
  int day = valueOf('d'), month = valueOf('m'), year = valueOf('y');
  if (digitsOfYear <= 2) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    int current = local.tm_year + 1900;
    int century = current - current % 100;
    year += century;
    if (year > current + 50) year -= 100;
    if (year <= current - 50) year += 100;
  }
  return TryEncodeDate(year, month, day);
}

std::optional<double> TryStrToDateTime(std::string_view text, const TFormatSettings& fs) {
  std::size_t b = 0;
  SkipBlanks(text, b);
  std::size_t blank = text.find(' ', b);
  if (blank == std::string_view::npos) return TryStrToDate(text, fs);
  auto date = TryStrToDate(text.substr(0, blank), fs);
  if (!date) return std::nullopt;
  auto time = TryStrToTime(text.substr(blank + 1), fs);
  if (!time) return std::nullopt;
  return ComposeDateTime(*date, *time);
}

}  // namespace selvo
