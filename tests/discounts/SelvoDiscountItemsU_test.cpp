// The discount card: defaults, stored text forms, in-effect tests, discount.
#include "discounts/SelvoDiscountItemsU.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"
#include "tests/common/ScopedOverrides.h"

namespace selvo {
namespace {

const char kRub = kUnitRouble;

double T(int h, int m, int s, int ms = 0) { return EncodeTime(h, m, s, ms); }

// Russian format settings and a clock at 03:00 on 5 June 2024 unless a test
// moves it; both restored afterwards.
class CardTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClockTime(T(3, 0, 0)); }
  void SetClockTime(double time) { clock_.SetFixed(EncodeDate(2024, 6, 5) + time); }
  static TDiscountItem Thresholds(std::initializer_list<std::tuple<double, double, char>> entries) {
    TDiscountItem card;
    for (auto [sum, value, unit] : entries) {
      card.ThresholdSum.push_back(sum);
      card.ThresholdValue.push_back(value);
      card.ThresholdUnit.push_back(unit);
    }
    return card;
  }
  static void AddTime(TDiscountItem& card, double begin, double end, double value, char unit) {
    card.TimeBegin.push_back(begin);
    card.TimeEnd.push_back(end);
    card.TimeValue.push_back(value);
    card.TimeUnit.push_back(unit);
  }
  static void AddPeriod(TDiscountItem& card, double begin, double end, bool enabled) {
    card.PeriodBegin.push_back(begin);
    card.PeriodEnd.push_back(end);
    card.PeriodEnabled.push_back(enabled);
  }

  test::ScopedFormatSettings format_{TFormatSettings::Russian()};
  test::ScopedClock clock_;
};

TEST_F(CardTest, NewCardHoldsAlwaysAndGivesNothing) {
  TDiscountItem card;
  EXPECT_EQ(card.ETime, 86399.0 / 86400.0);
  EXPECT_EQ(card.BTime, 0);
  for (double moment : {0.0, EncodeDate(2024, 6, 9) + T(23, 59, 59, 500), EncodeDate(2030, 1, 1) + 0.5})
    EXPECT_TRUE(card.IsActive(moment)) << moment;
  for (double amount : {0.0, 1.0, 1e9}) EXPECT_EQ(card.GetDiscount(nullptr, nullptr, amount, 1), 0);
  EXPECT_EQ(card.EncodeTimeList(), "");
  EXPECT_EQ(card.EncodeThresholdList(), "");
}

TEST_F(CardTest, NameIsCutToHundredCharactersNotBytes) {
  TDiscountItem card;
  std::string name;
  for (int i = 0; i < 120; ++i) name += "ж";
  card.SetDiscountName(name);
  EXPECT_EQ(Utf8Length(card.DiscountName), 100u);
  EXPECT_EQ(card.DiscountName.size(), 200u);
}

// ---------------------------------------------------------------------------
// Text forms

TEST_F(CardTest, ThresholdTextOfTheTwoEntryExample) {
  TDiscountItem card = Thresholds({{1000, 5, '%'}, {3000, 150, kRub}});
  EXPECT_EQ(card.EncodeThresholdList(), "1000=5%;3000=150р;");

  TDiscountItem back;
  back.DecodeThresholdList("1000=5%;3000=150р;");
  ASSERT_EQ(back.ThresholdSum.size(), 2u);
  EXPECT_EQ(back.ThresholdSum, card.ThresholdSum);
  EXPECT_EQ(back.ThresholdValue, card.ThresholdValue);
  EXPECT_EQ(back.ThresholdUnit, card.ThresholdUnit);
}

TEST_F(CardTest, AmountsUseTheDecimalSeparatorOfTheSetting) {
  TDiscountItem card = Thresholds({{99.5, 2.5, '%'}});
  EXPECT_EQ(card.EncodeThresholdList(), "99,5=2,5%;");
  format_.Set(TFormatSettings::English());
  EXPECT_EQ(card.EncodeThresholdList(), "99.5=2.5%;");

  // A text written under the other separator is read all the same: lists
  // written on one till must work on another.
  TDiscountItem back;
  back.DecodeThresholdList("99,5=2,5%;");
  EXPECT_EQ(back.ThresholdSum, TDynDoubleArray{99.5});
  EXPECT_EQ(back.ThresholdValue, TDynDoubleArray{2.5});
}

TEST_F(CardTest, TimeTextShortensEveryDoubleZero) {
  TDiscountItem card;
  AddTime(card, T(8, 0, 0), T(10, 0, 0), 7, '%');
  AddTime(card, T(20, 5, 0), T(0, 0, 5), 1.5, kRub);
  EXPECT_EQ(card.EncodeTimeList(), "08:0:0-10:0:0=7%;20:05:0-0:0:05=1,5р;");

  format_.Set(TFormatSettings::English());
  EXPECT_EQ(card.EncodeTimeList(), "8:0:0 AM-10:0:0 AM=7%;8:05:0 PM-12:0:05 AM=1.5р;");
}

TEST_F(CardTest, WhatIsWrittenUnderASettingReadsBackUnderIt) {
  for (const TFormatSettings& fs : {TFormatSettings::Russian(), TFormatSettings::English()}) {
    format_.Set(fs);
    TDiscountItem card = Thresholds({{0, 15, '%'}, {1234.56, 0.125, kRub}, {1e7, -3, '%'}});
    AddTime(card, T(0, 0, 0), T(11, 59, 59), 7, '%');
    AddTime(card, T(12, 0, 0), T(23, 59, 59), SaleBanAmount, kRub);
    AddTime(card, T(13, 10, 1), T(13, 10, 1), 0.001, kRub);

    TDiscountItem back;
    back.DecodeThresholdList(card.EncodeThresholdList());
    back.DecodeTimeList(card.EncodeTimeList());
    EXPECT_EQ(back.ThresholdSum, card.ThresholdSum);
    EXPECT_EQ(back.ThresholdValue, card.ThresholdValue);
    EXPECT_EQ(back.ThresholdUnit, card.ThresholdUnit);
    EXPECT_EQ(back.TimeBegin, card.TimeBegin);
    EXPECT_EQ(back.TimeEnd, card.TimeEnd);
    EXPECT_EQ(back.TimeValue, card.TimeValue);
    EXPECT_EQ(back.TimeUnit, card.TimeUnit);
  }
}

TEST_F(CardTest, ExtremeAmountsStillReadBack) {
  // The largest double written with 15 digits rounded up would read back as
  // no number at all.
  TDiscountItem card = Thresholds({{DBL_MAX, DBL_TRUE_MIN, '%'}});
  TDiscountItem back;
  back.DecodeThresholdList(card.EncodeThresholdList());
  ASSERT_EQ(back.ThresholdSum.size(), 1u);
  EXPECT_NEAR(back.ThresholdSum[0] / DBL_MAX, 1, 1e-14);
  EXPECT_EQ(back.ThresholdValue[0], DBL_TRUE_MIN);
}

TEST_F(CardTest, TheLimitCountsCharactersAndExactly255Stands) {
  // "1=2р;" is five characters and six bytes: 51 entries make 255 characters.
  TDiscountItem card;
  for (int i = 0; i < 51; ++i) {
    card.ThresholdSum.push_back(1);
    card.ThresholdValue.push_back(2);
    card.ThresholdUnit.push_back(kRub);
  }
  const std::string text = card.EncodeThresholdList();
  EXPECT_EQ(Utf8Length(text), 255u);
  EXPECT_EQ(text.size(), 306u);

  card.ThresholdSum.back() = 10;  // one character more
  EXPECT_EQ(card.EncodeThresholdList(), "длина превышена");

  TDiscountItem times;  // "10:11:12-13:14:15=12,5%;" is 24 characters
  for (int i = 0; i < 10; ++i) AddTime(times, T(10, 11, 12), T(13, 14, 15), 12.5, '%');
  EXPECT_EQ(Utf8Length(times.EncodeTimeList()), 240u);
  AddTime(times, T(10, 11, 12), T(13, 14, 15), 12.5, '%');
  EXPECT_EQ(times.EncodeTimeList(), "длина превышена");
}

TEST_F(CardTest, ThresholdDecodingSkipsMalformedEntriesAndKeepsOrder) {
  TDiscountItem card;
  card.DecodeThresholdList("=5%;700=1%;100=5;100=x%;1000=5$;;\r\n300=2р\r\n100=5%%;1.5=1%;200=р;50=\xD1%;5%;20=7,5%");
  EXPECT_EQ(card.ThresholdSum, (TDynDoubleArray{700, 300, 1.5, 20}));  // "1.5": the other separator
  EXPECT_EQ(card.ThresholdValue, (TDynDoubleArray{1, 2, 1, 7.5}));
  EXPECT_EQ(card.ThresholdUnit, (TDynCharArray{'%', kRub, '%', '%'}));

  // Decoding replaces the list; a wholly malformed text leaves it empty.
  card.DecodeThresholdList("garbage;=;%;р");
  EXPECT_TRUE(card.ThresholdSum.empty() && card.ThresholdValue.empty() && card.ThresholdUnit.empty());
}

TEST_F(CardTest, TimeDecodingSkipsMalformedEntriesAndKeepsOrder) {
  TDiscountItem card;
  card.DecodeTimeList(
      "-10:0:0=5%;"          // no begin
      "9:0:0-10:0:0=-2%;"    // good, negative amount
      "8:0:0=5%;"            // no end
      "8:0:0=5%-9:0:0;"      // "=" before "-"
      "25:0:0-26:0:0=5%;"    // not times of day
      "8:0:0-9:0:0=5;"       // no unit
      "8:0:0-9:0:0=%;"       // no amount
      "8:0:0--9:0:0=5%;"     // end "-9:0:0"
      "08:0:0-10:0:0=7%\n"   // good
      "12:30:0-13:0:0=1,5р"  // good, last entry without ";"
  );
  EXPECT_EQ(card.TimeBegin, (TDynTimeArray{T(9, 0, 0), T(8, 0, 0), T(12, 30, 0)}));
  EXPECT_EQ(card.TimeEnd, (TDynTimeArray{T(10, 0, 0), T(10, 0, 0), T(13, 0, 0)}));
  EXPECT_EQ(card.TimeValue, (TDynDoubleArray{-2, 7, 1.5}));
  EXPECT_EQ(card.TimeUnit, (TDynCharArray{'%', '%', kRub}));
}

TEST_F(CardTest, BinaryTextsGiveNoInventedEntries) {
  TDiscountItem card;
  const std::string withNul("1\0=5%;2=3\0%;3=4%", 16);
  card.DecodeThresholdList(withNul);
  EXPECT_EQ(card.ThresholdSum, (TDynDoubleArray{3}));

  std::string noise;
  for (int i = 0; i < 100000; ++i) noise += static_cast<char>((i * 7919) & 0xFF);
  card.DecodeThresholdList(noise);
  card.DecodeTimeList(noise);
  for (std::size_t i = 0; i < card.ThresholdUnit.size(); ++i)
    EXPECT_TRUE(card.ThresholdUnit[i] == '%' || card.ThresholdUnit[i] == kRub);
  EXPECT_EQ(card.TimeBegin.size(), card.TimeUnit.size());
}

// ---------------------------------------------------------------------------
// Discount

TEST_F(CardTest, TheHighestThresholdReachedDecides) {
  TDiscountItem card = Thresholds({{1000, 10, '%'}, {500, 30, '%'}});
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 2000, 1), 200);
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 999, 1), 299.7);
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 1000, 1), 100);  // reaching means "at least"
  EXPECT_EQ(card.GetDiscount(nullptr, nullptr, 499.99, 1), 0);

  TDiscountItem twins = Thresholds({{100, 1, '%'}, {100, 50, '%'}});
  EXPECT_DOUBLE_EQ(twins.GetDiscount(nullptr, nullptr, 200, 1), 2);  // the first of equal thresholds
}

TEST_F(CardTest, AbsoluteThresholdAmountsScaleWithTheSumWhenThereIsAQuantity) {
  TDiscountItem card = Thresholds({{1000, 50, kRub}});
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 1500, 2), 75);
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 1500, 0), 50);
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 1500, -1), 50);
}

TEST_F(CardTest, ThresholdZeroWithAnAbsoluteAmountGivesTheAmountUnchanged) {
  TDiscountItem card = Thresholds({{0, 50, kRub}});
  EXPECT_EQ(card.GetDiscount(nullptr, nullptr, 200, 3), 50);
  EXPECT_EQ(card.GetDiscount(nullptr, nullptr, 0, 3), 50);
  EXPECT_EQ(card.GetDiscount(nullptr, nullptr, 0, 0), 50);
}

TEST_F(CardTest, NoNaNOrInfinityLeavesTheDiscount) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  TDiscountItem card = Thresholds({{0, 10, '%'}, {1e-300, 1e300, kRub}});
  AddTime(card, T(0, 0, 0), T(23, 59, 59), 20, '%');
  for (double amount : {inf, nan, 1e300, 0.0, -inf}) {
    for (double quantity : {1.0, 0.0}) {
      const double d = card.GetDiscount(nullptr, nullptr, amount, quantity);
      EXPECT_TRUE(std::isfinite(d)) << amount << " " << quantity << " -> " << d;
    }
  }
  // The unscalable absolute amount is taken as it is.
  EXPECT_EQ(card.GetDiscount(nullptr, nullptr, 1e300, 1), 1e300);
}

TEST_F(CardTest, TimeDiscountsFollowTheClockAndBeatTheThresholdOnlyWhenLarger) {
  TDiscountItem card = Thresholds({{0, 5, '%'}});
  AddTime(card, T(10, 0, 0), T(12, 0, 0), 7, '%');
  AddTime(card, T(13, 0, 0), T(12, 0, 0), 90, '%');  // begin after end: never
  SetClockTime(T(9, 59, 59));
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 1000, 1), 50);
  SetClockTime(T(10, 0, 0));
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 1000, 1), 70);
  SetClockTime(T(12, 0, 0));
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 1000, 1), 70);
  SetClockTime(T(12, 30, 0));
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 1000, 1), 50);

  // An absolute time amount is not scaled.
  TDiscountItem absolute;
  AddTime(absolute, T(12, 0, 0), T(13, 0, 0), 30, kRub);
  EXPECT_EQ(absolute.GetDiscount(nullptr, nullptr, 5000, 4), 30);
}

TEST_F(CardTest, ASaleBanReportsItsInterval) {
  TDiscountItem card;
  AddTime(card, T(2, 0, 0), T(4, 0, 0), SaleBanAmount, kRub);
  double begin = -1, end = -1;
  EXPECT_EQ(card.GetDiscount(&begin, &end, 100, 1), SaleBanAmount);
  EXPECT_EQ(begin, T(2, 0, 0));
  EXPECT_EQ(end, T(4, 0, 0));
  EXPECT_EQ(card.GetDiscount(nullptr, &end, 100, 1), SaleBanAmount);  // one output is enough

  // A threshold already at the ban amount (or above) wins: no interval.
  TDiscountItem high = Thresholds({{0, SaleBanAmount, kRub}});
  AddTime(high, T(2, 0, 0), T(4, 0, 0), SaleBanAmount, kRub);
  EXPECT_EQ(high.GetDiscount(&begin, &end, 100, 1), SaleBanAmount);
  EXPECT_EQ(begin, 0);
  EXPECT_EQ(end, 0);

  // A larger time discount after the ban takes the interval back.
  AddTime(card, T(3, 0, 0), T(3, 0, 0), 2 * SaleBanAmount, kRub);
  EXPECT_EQ(card.GetDiscount(&begin, &end, 100, 1), 2 * SaleBanAmount);
  EXPECT_EQ(begin, 0);
  EXPECT_EQ(end, 0);
}

TEST_F(CardTest, TheLastSecondOfTheDayCountsAsItsStart) {
  TDiscountItem card;
  AddTime(card, T(23, 0, 0), T(23, 59, 59), 10, '%');
  SetClockTime(T(23, 59, 59, 500));
  EXPECT_DOUBLE_EQ(card.GetDiscount(nullptr, nullptr, 100, 1), 10);

  // The daily window has no such rule.
  card.AllDay = false;
  EXPECT_FALSE(card.IsActive(EncodeDate(2024, 6, 5) + T(23, 59, 59, 500)));
  EXPECT_TRUE(card.IsActive(EncodeDate(2024, 6, 5) + T(23, 59, 59)));
}

// ---------------------------------------------------------------------------
// In effect, targets, periods

TEST_F(CardTest, DailyWindowAndWeekDays) {
  TDiscountItem card;
  card.AllDay = false;
  card.BTime = T(9, 0, 0);
  card.ETime = T(18, 0, 0);
  const double day = EncodeDate(2024, 6, 5);
  EXPECT_FALSE(card.IsActive(day + T(8, 59, 59)));
  EXPECT_TRUE(card.IsActive(day + T(9, 0, 0)));
  EXPECT_TRUE(card.IsActive(day + T(18, 0, 0)));
  EXPECT_FALSE(card.IsActive(day + T(18, 0, 1)));

  TDiscountItem sundays;
  sundays.AllWeek = false;
  sundays.WeekDays = 1 << 6;
  const double sunday = EncodeDate(2024, 6, 9);
  EXPECT_EQ(TDiscountItem::WeekDayIndex(sunday), 6);
  EXPECT_EQ(TDiscountItem::WeekDayIndex(sunday + 1), 0);
  EXPECT_TRUE(sundays.IsActive(sunday + 0.75));
  for (int d = 1; d < 7; ++d) EXPECT_FALSE(sundays.IsActive(sunday + d + 0.75)) << d;
  sundays.AllWeek = true;
  EXPECT_TRUE(sundays.IsActive(sunday + 1));

  TDiscountItem off;
  off.Enabled = false;
  EXPECT_FALSE(off.IsActive(day));
}

TEST_F(CardTest, PeriodsAreInclusiveAndOnlyEnabledOnesCount) {
  const double b = EncodeDate(2024, 5, 1), e = EncodeDate(2024, 5, 9) + 0.5;
  TDiscountItem card;
  AddPeriod(card, b, e, false);
  EXPECT_FALSE(card.IsActive(b + 1));  // all periods off: never

  AddPeriod(card, b, e, true);
  EXPECT_TRUE(card.IsActive(b));
  EXPECT_TRUE(card.IsActive(e));
  EXPECT_FALSE(card.IsActive(b - 1e-6));
  EXPECT_FALSE(card.IsActive(e + 1e-6));
}

TEST_F(CardTest, HasPeriodComparesWithTheTolerance) {
  const double b = 45000.25, e = 45010.75;
  TDiscountItem card;
  AddPeriod(card, b, e, true);
  EXPECT_TRUE(card.HasPeriod(true, b + 4e-8, e - 4e-8));  // within 1e-12 of the magnitude
  EXPECT_FALSE(card.HasPeriod(true, b + 1e-6, e));
  EXPECT_FALSE(card.HasPeriod(false, b, e));

  TDiscountItem nearZero;
  AddPeriod(nearZero, 0, 1e-13, true);
  EXPECT_TRUE(nearZero.HasPeriod(true, 5e-13, 0));  // at least 1e-12 absolutely
  EXPECT_FALSE(nearZero.HasPeriod(true, 2e-12, 0));
}

TEST_F(CardTest, IsTargetLooksOnlyInTheListItIsAskedFor) {
  TDiscountItem card;
  card.Goods.Add("15");
  card.Categories.Add("-7");
  EXPECT_FALSE(card.IsTarget(15, true));
  EXPECT_TRUE(card.IsTarget(15, false));
  EXPECT_TRUE(card.IsTarget(-7, true));
  EXPECT_FALSE(card.IsTarget(150, false));
}

TEST(HashedTextList, IgnoresLetterCaseOfCyrillicAndLatinAndKeepsOrder) {
  THashedTextList list;
  list.Add("Ёлка");
  list.Add("Milk");
  list.Add("ЁЛКА");
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list[0], "Ёлка");
  EXPECT_EQ(list[1], "Milk");
  EXPECT_TRUE(list.Contains("ёлКА"));
  EXPECT_TRUE(list.Contains("MILK"));
  EXPECT_FALSE(list.Contains("Мilk"));  // Cyrillic "М"
  list.Clear();
  EXPECT_FALSE(list.Contains("milk"));
}

// Short lists are searched one by one, long ones through a hash of the folded
// texts: both must answer alike, also for the texts added when the list
// grows past the switch and after a Clear.
TEST(HashedTextList, ShortAndLongListsAnswerAlike) {
  for (int count : {1, 8, 9, 40}) {
    THashedTextList list;
    for (int i = 0; i < count; ++i) {
      list.Add(i % 3 == 0 ? "Ёлка" + std::to_string(i) : std::to_string(i));
      list.Add(i % 3 == 0 ? "ЁЛКА" + std::to_string(i) : std::to_string(i));  // the same text again
    }
    ASSERT_EQ(list.Count(), static_cast<std::size_t>(count)) << count;
    for (int i = 0; i < count; ++i) {
      EXPECT_TRUE(list.Contains(i % 3 == 0 ? "ёлКа" + std::to_string(i) : std::to_string(i))) << count << " " << i;
      EXPECT_EQ(list[static_cast<std::size_t>(i)], i % 3 == 0 ? "Ёлка" + std::to_string(i) : std::to_string(i));
    }
    EXPECT_FALSE(list.Contains(std::to_string(count + 1))) << count;
    EXPECT_FALSE(list.Contains("0" + std::to_string(count - 1))) << "no numeric matching";
    list.Clear();
    EXPECT_FALSE(list.Contains("1"));
    list.Add("Milk");
    EXPECT_TRUE(list.Contains("MILK"));
  }
}

}  // namespace
}  // namespace selvo
