// Locale formats and the conversions that use them: the module-wide format
// settings value (taken from the process locale when the module loads, and
// replaceable in tests), number and date-time texts in those formats.
//
// Format strings follow the host platform's date-time pattern language:
// d dd (day), m mm (month; minutes right after an hour token), yy yyyy,
// h hh (hour), n nn (minutes), s ss, z (ms) zzz (ms, three digits; longer runs
// also give three), ampm, / (DateSeparator), : (TimeSeparator), '...' and
// "..." literal text; other characters are copied.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace selvo {

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "mm/dd/yyyy";
  std::string LongDateFormat = "mm/dd/yyyy";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  // Currency: CurrencyFormat 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"; negative
  // amounts put "-" before the whole text.
  std::string CurrencyString = "$";
  int CurrencyFormat = 0;
  int CurrencyDecimals = 2;

  // A Russian workstation: "," decimals, "dd.mm.yyyy", "hh:nn:ss", "р.".
  static TFormatSettings Russian();
  // An English (US) workstation: "." decimals, "m/d/yyyy", "h:nn:ss ampm", "$".
  static TFormatSettings English();
  // Built from the process locale (LC_NUMERIC, LC_TIME, LC_MONETARY of the
  // environment); unknown parts keep the defaults above.
  static TFormatSettings FromProcessLocale();
};

// The module's format settings. Set from the process locale when the module
// loads; tests replace it with SetModuleFormatSettings.
const TFormatSettings& ModuleFormatSettings();
void SetModuleFormatSettings(const TFormatSettings& settings);

// Shortest general text of a double: up to 15 significant digits, no
// thousands separator, scientific form ("1E20", "1,5E-7") only when the
// integer part needs more than 15 digits or |value| < 1E-5. NaN gives "NAN",
// infinities "INF" and "-INF".
std::string FloatToStr(double value, const TFormatSettings& fs);
// Fixed-point text with `decimals` digits after the separator.
std::string FloatToStrFixed(double value, int decimals, const TFormatSettings& fs);
// Money in the currency format: "100,00р." for the Russian settings.
std::string CurrToStr(double value, const TFormatSettings& fs);
// CurrToStr with the digits grouped by ThousandSeparator: "1 500,00р.".
std::string CurrencyText(double value, const TFormatSettings& fs);

// A number text: optional sign, digits with at most one DecimalSeparator, an
// optional exponent "E[+|-]digits"; blanks around it are allowed. Anything
// else (thousands separators included) does not convert.
std::optional<double> TryStrToFloat(std::string_view text, const TFormatSettings& fs);

std::string FormatDateTime(std::string_view format, double dateTime, const TFormatSettings& fs);
std::string TimeToStr(double time, const TFormatSettings& fs);          // LongTimeFormat
std::string DateToStr(double date, const TFormatSettings& fs);          // ShortDateFormat
std::string DateTimeToStr(double dateTime, const TFormatSettings& fs);  // date, blank, time (time left out at midnight)

// "h[:n[:s[.z]]]" with TimeSeparator, optional AM/PM suffix; components may
// have any number of digits ("8:0:0"). Gives the day fraction.
std::optional<double> TryStrToTime(std::string_view text, const TFormatSettings& fs);
// Day, month, year in the order of ShortDateFormat, split by DateSeparator; a
// two-digit year lands within 50 years of the current century.
std::optional<double> TryStrToDate(std::string_view text, const TFormatSettings& fs);
// A date, then optionally blanks and a time.
std::optional<double> TryStrToDateTime(std::string_view text, const TFormatSettings& fs);

}  // namespace selvo
