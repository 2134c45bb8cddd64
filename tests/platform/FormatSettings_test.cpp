#include "platform/FormatSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/DateUtils.h"

namespace selvo {
namespace {

const TFormatSettings kRu = TFormatSettings::Russian();
const TFormatSettings kEn = TFormatSettings::English();

TEST(FloatToStr, ShortestGeneralText) {
  struct Row {
    double value;
    const char* ru;
    const char* en;
  } rows[] = {
      {0, "0", "0"},
      {5, "5", "5"},
      {2.5, "2,5", "2.5"},
      {-1000.25, "-1000,25", "-1000.25"},
      {0.1 + 0.2, "0,3", "0.3"},  // 15 significant digits hide the binary error
      {123456789012345.0, "123456789012345", "123456789012345"},
      {1e15, "1E15", "1E15"},  // 16 integer digits: scientific
      {0.00001, "0,00001", "0.00001"},
      {0.000001, "1E-6", "1E-6"},
      {1.5e-7, "1,5E-7", "1.5E-7"},
      {10000000, "10000000", "10000000"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(FloatToStr(r.value, kRu), r.ru) << r.value;
    EXPECT_EQ(FloatToStr(r.value, kEn), r.en) << r.value;
  }
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::quiet_NaN(), kRu), "NAN");
  EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity(), kRu), "-INF");
}

TEST(FloatToStr, ReadsBackUnderTheSameSettings) {
  for (double v : {0.0, 1.0, 2.5, -7.125, 1234.5678, 1e-7, 3e20, 99.99}) {
    for (const TFormatSettings* fs : {&kRu, &kEn}) {
      auto back = TryStrToFloat(FloatToStr(v, *fs), *fs);
      ASSERT_TRUE(back.has_value()) << v;
      EXPECT_DOUBLE_EQ(*back, v);
    }
  }
}

TEST(TryStrToFloat, AcceptsOnlyNumberTexts) {
  EXPECT_EQ(TryStrToFloat("2,5", kRu), 2.5);
  EXPECT_EQ(TryStrToFloat(" -3 ", kRu), -3.0);
  EXPECT_EQ(TryStrToFloat("+1E3", kEn), 1000.0);
  EXPECT_EQ(TryStrToFloat(",5", kRu), 0.5);
  for (const char* bad : {"", " ", "2.5", "1 000", "1,2,3", "abc", "1e", "E5", "--1", "1,5р", "inf", "nan"})
    EXPECT_FALSE(TryStrToFloat(bad, kRu).has_value()) << bad;
  EXPECT_FALSE(TryStrToFloat("1e999", kEn).has_value()) << "out of range is not a number";
}

TEST(FormatDateTime, PatternsOfTheModule) {
  const double t = EncodeDate(2026, 12, 8) + EncodeTime(8, 5, 7, 42);
  EXPECT_EQ(FormatDateTime("hh:nn:ss", t, kRu), "08:05:07");
  EXPECT_EQ(FormatDateTime("h:nn:ss ampm", t, kEn), "8:05:07 AM");
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzzz", t, kRu), "08:05:07.042") << "four z give three digits";
  EXPECT_EQ(FormatDateTime("dd.mm.yyyy", t, kRu), "08.12.2026");
  EXPECT_EQ(FormatDateTime("m/d/yyyy", t, kEn), "12/8/2026");
  EXPECT_EQ(FormatDateTime("h:mm", t, kRu), "8:05") << "m after an hour is the minute";
  EXPECT_EQ(FormatDateTime("'at' hh", t, kRu), "at 08");
  EXPECT_EQ(TimeToStr(EncodeTime(23, 59, 59, 999), kRu), "23:59:59");
  EXPECT_EQ(TimeToStr(EncodeTime(0, 0, 0, 0), kEn), "12:00:00 AM");
  EXPECT_EQ(TimeToStr(EncodeTime(12, 30, 0, 0), kEn), "12:30:00 PM");
}

TEST(TryStrToTime, ReadsWhatItWritesAndShortForms) {
  EXPECT_EQ(TryStrToTime("8:0:0", kRu), EncodeTime(8, 0, 0, 0));
  EXPECT_EQ(TryStrToTime("08:05", kRu), EncodeTime(8, 5, 0, 0));
  EXPECT_EQ(TryStrToTime("13:45:07.123", kRu), EncodeTime(13, 45, 7, 123));
  EXPECT_EQ(TryStrToTime("8:05:07 PM", kEn), EncodeTime(20, 5, 7, 0));
  EXPECT_EQ(TryStrToTime("12:00:00 AM", kEn), 0.0);
  for (const char* bad : {"", "8", "24:00:00", "8:60", "8:0:0:0", "a:b", "8:0:0 XM", "13:00 PM"})
    EXPECT_FALSE(TryStrToTime(bad, kEn).has_value()) << bad;
  for (int s = 0; s < 86400; s += 3599) {
    double t = EncodeTime(s / 3600, s / 60 % 60, s % 60, 0);
    EXPECT_EQ(TryStrToTime(TimeToStr(t, kEn), kEn), t);
    EXPECT_EQ(TryStrToTime(TimeToStr(t, kRu), kRu), t);
  }
}

TEST(TryStrToDate, OrderAndSeparatorOfTheSettings) {
  EXPECT_EQ(TryStrToDate("08.12.2026", kRu), EncodeDate(2026, 12, 8));
  EXPECT_EQ(TryStrToDate("12/8/2026", kEn), EncodeDate(2026, 12, 8));
  EXPECT_FALSE(TryStrToDate("31.02.2026", kRu).has_value());
  EXPECT_FALSE(TryStrToDate("08/12/2026", kRu).has_value());
  EXPECT_EQ(TryStrToDateTime("08.12.2026 10:30:00", kRu), EncodeDate(2026, 12, 8) + EncodeTime(10, 30, 0, 0));
}

TEST(CurrencyText, GroupsTheDigits) {
  const TFormatSettings ru = TFormatSettings::Russian(), en = TFormatSettings::English();
  EXPECT_EQ(CurrencyText(1500, ru), "1 500,00р.");
  EXPECT_EQ(CurrencyText(-1234567.5, ru), "-1 234 567,50р.");
  EXPECT_EQ(CurrencyText(999.99, ru), "999,99р.");
  EXPECT_EQ(CurrencyText(100000, en),
            CurrToStr(100000, en).replace(CurrToStr(100000, en).find("100000"), 6, "100,000"));
}

TEST(CurrToStr, CurrencyFormats) {
  EXPECT_EQ(CurrToStr(100, kRu), "100,00р.");
  EXPECT_EQ(CurrToStr(-2.5, kEn), "-$2.50");
  EXPECT_EQ(FloatToStrFixed(2, 2, kRu), "2,00");
}

}  // namespace
}  // namespace selvo
