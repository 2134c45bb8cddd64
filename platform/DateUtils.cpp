#include "platform/DateUtils.h"

#include <cmath>
#include <cstdint>

#include "selvo/Errors.h"

namespace selvo {
namespace {

constexpr std::int64_t kMSecsPerDay = 86400000;
// Day number of 31 December 1899 when 1 January of year 1 is day 1.
constexpr std::int64_t kDateDelta = 693594;

std::int64_t DaysBeforeYear(int year) {
  std::int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400;
}

// Total milliseconds, rounded to the nearest one as the host platform does.
std::int64_t TotalMSecs(double dateTime) {
  return static_cast<std::int64_t>(std::nearbyint(dateTime * static_cast<double>(kMSecsPerDay)));
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<double> TryEncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return std::nullopt;
  std::int64_t days = DaysBeforeYear(year);
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  days += day;
  return static_cast<double>(days - kDateDelta);
}

std::optional<double> TryEncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
    return std::nullopt;
  return static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + msec) / static_cast<double>(kMSecsPerDay);
}

double EncodeDate(int year, int month, int day) {
  if (auto d = TryEncodeDate(year, month, day)) return *d;
  throw EConvertError("Недопустимый аргумент для кодирования даты");
}

double EncodeTime(int hour, int minute, int second, int msec) {
  if (auto t = TryEncodeTime(hour, minute, second, msec)) return *t;
  throw EConvertError("Недопустимый аргумент для кодирования времени");
}

double ComposeDateTime(double date, double time) { return date < 0 ? date - time : date + time; }

TDateParts DecodeDate(double dateTime) {
  std::int64_t ms = TotalMSecs(dateTime);
  // Days since 1 January of year 1 (day 0); truncation toward zero, as the platform.
  std::int64_t days = ms / kMSecsPerDay + kDateDelta - 1;
  if (days < 0) return {};
  // Civil-from-days on the proleptic Gregorian calendar.
  std::int64_t n = days;
  int year = static_cast<int>(n / 146097 * 400);
  n %= 146097;
  std::int64_t c = n / 36524;
  if (c == 4) c = 3;
  n -= c * 36524;
  year += static_cast<int>(c * 100);
  std::int64_t q = n / 1461;
  n -= q * 1461;
  year += static_cast<int>(q * 4);
  std::int64_t y = n / 365;
  if (y == 4) y = 3;
  n -= y * 365;
  year += static_cast<int>(y) + 1;
  int month = 1;
  while (n >= DaysInMonth(year, month)) {
    n -= DaysInMonth(year, month);
    ++month;
  }
  return {year, month, static_cast<int>(n) + 1};
}

TTimeParts DecodeTime(double dateTime) {
  std::int64_t ms = std::llabs(TotalMSecs(dateTime)) % kMSecsPerDay;
  TTimeParts t;
  t.msec = static_cast<int>(ms % 1000);
  ms /= 1000;
  t.second = static_cast<int>(ms % 60);
  ms /= 60;
  t.minute = static_cast<int>(ms % 60);
  t.hour = static_cast<int>(ms / 60);
  return t;
}

double TimeOf(double dateTime) {
  std::int64_t ms = std::llabs(TotalMSecs(dateTime)) % kMSecsPerDay;
  return static_cast<double>(ms) / static_cast<double>(kMSecsPerDay);
}

double DateOf(double dateTime) { return static_cast<double>(TotalMSecs(dateTime) / kMSecsPerDay); }

int DayOfTheWeek(double dateTime) {
  // 30 December 1899 was a Saturday (ISO 6).
  std::int64_t days = TotalMSecs(dateTime) / kMSecsPerDay;
  std::int64_t iso = ((days + 5) % 7 + 7) % 7 + 1;
  return static_cast<int>(iso);
}

}  // namespace selvo
