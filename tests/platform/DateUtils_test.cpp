#include "platform/DateUtils.h"

#include <gtest/gtest.h>

namespace selvo {
namespace {

TEST(DateUtils, KnownDays) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(2026, 12, 8), 46364.0);
  EXPECT_EQ(DayOfTheWeek(EncodeDate(2026, 12, 8)), 2) << "a Tuesday";
  EXPECT_EQ(DayOfTheWeek(EncodeDate(2026, 12, 13) + 0.99), 7) << "a Sunday evening";
}

TEST(DateUtils, DecodeInvertsEncodeOverCenturies) {
  for (int year : {1900, 1999, 2000, 2024, 2100, 2400}) {
    for (int month = 1; month <= 12; ++month) {
      for (int day : {1, 15, DaysInMonth(year, month)}) {
        TDateParts p = DecodeDate(EncodeDate(year, month, day) + 0.75);
        EXPECT_EQ(p.year, year);
        EXPECT_EQ(p.month, month);
        EXPECT_EQ(p.day, day);
      }
    }
  }
}

TEST(DateUtils, TimeRoundsToTheMillisecond) {
  TTimeParts t = DecodeTime(EncodeTime(23, 59, 59, 999));
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.minute, 59);
  EXPECT_EQ(t.second, 59);
  EXPECT_EQ(t.msec, 999);
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0).has_value());
  EXPECT_FALSE(TryEncodeDate(2025, 2, 29).has_value());
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29).has_value());
  EXPECT_DOUBLE_EQ(TimeOf(46364.25), 0.25);
}

}  // namespace
}  // namespace selvo
