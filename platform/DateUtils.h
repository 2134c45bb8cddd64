// Day-based date-times: the whole part counts days since 30 December 1899,
// the fraction is the time of day (0.5 is noon).
#pragma once

#include <optional>

namespace selvo {

struct TDateParts {
  int year = 1899, month = 12, day = 30;
};
struct TTimeParts {
  int hour = 0, minute = 0, second = 0, msec = 0;
};

// Raises EConvertError for a date or time that does not exist.
double EncodeDate(int year, int month, int day);
double EncodeTime(int hour, int minute, int second, int msec);
std::optional<double> TryEncodeDate(int year, int month, int day);
std::optional<double> TryEncodeTime(int hour, int minute, int second, int msec);
// Composes a full date-time; negative values keep their date part before the
// time as the host platform does (the time is added to |date|).
double ComposeDateTime(double date, double time);

TDateParts DecodeDate(double dateTime);
// The time of day rounded to the millisecond.
TTimeParts DecodeTime(double dateTime);
// The time-of-day fraction of a date-time (0 <= result < 1).
double TimeOf(double dateTime);
double DateOf(double dateTime);
// ISO 8601 day number: Monday 1 .. Sunday 7.
int DayOfTheWeek(double dateTime);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

}  // namespace selvo
