// Decimal rounding: near-ties count as ties, the ten rules, money to kopecks.
#include "discounts/DecimalRounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {
namespace {

double Round(double value, int decimals, std::uint8_t rule) {
  return static_cast<double>(DecimalRoundDouble(value, decimals, rule));
}

TEST(RoundMoney, HalvesGoAwayFromZeroEvenWhenTheDoubleLiesBelowTheTie) {
  struct Case {
    double value, expected;
  };
  for (const Case& c : {Case{2.675, 2.68}, Case{-2.675, -2.68}, Case{1.005, 1.01}, Case{-1.005, -1.01},
                        Case{0.125, 0.13}, Case{0.115, 0.12}, Case{0.014999, 0.01}, Case{1.004999, 1.0}, Case{0.0, 0.0},
                        Case{-0.005, -0.01}, Case{199.995, 200.0}, Case{1e17, 1e17}})
    EXPECT_EQ(RoundMoney(c.value), c.expected) << c.value;
}

// Each rule on an exact tie, on a double just below a decimal tie and on a
// value that is plainly no tie.
TEST(DecimalRoundDouble, EveryRuleOnTiesNearTiesAndPlainValues) {
  struct Case {
    std::uint8_t rule;
    double tiePos, tieNeg;    // 2.5 and -2.5 to 0 places
    double nearPos, nearNeg;  // 2.675 and -2.675 to 2 places (held as 2.67499999...)
    double plain;             // 2.6749 to 2 places
  };
  using namespace DecimalRule;
  const Case cases[] = {
      {HalfEven, 2, -2, 2.68, -2.68, 2.67},           {HalfTowardPositive, 3, -2, 2.68, -2.67, 2.67},
      {HalfTowardNegative, 2, -3, 2.67, -2.68, 2.67}, {HalfTowardZero, 2, -2, 2.67, -2.67, 2.67},
      {HalfAwayFromZero, 3, -3, 2.68, -2.68, 2.67},   {TowardNegative, 2, -3, 2.67, -2.68, 2.67},
      {TowardPositive, 3, -2, 2.68, -2.67, 2.68},     {TowardZero, 2, -2, 2.67, -2.67, 2.67},
      {AwayFromZero, 3, -3, 2.68, -2.68, 2.68},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Round(2.5, 0, c.rule), c.tiePos) << int(c.rule);
    EXPECT_EQ(Round(-2.5, 0, c.rule), c.tieNeg) << int(c.rule);
    EXPECT_EQ(Round(2.675, 2, c.rule), c.nearPos) << int(c.rule);
    EXPECT_EQ(Round(-2.675, 2, c.rule), c.nearNeg) << int(c.rule);
    EXPECT_EQ(Round(2.6749, 2, c.rule), c.plain) << int(c.rule);
  }
}

TEST(DecimalRoundDouble, HalfEvenPicksTheEvenNeighbour) {
  EXPECT_EQ(Round(2.5, 0, DecimalRule::HalfEven), 2);
  EXPECT_EQ(Round(3.5, 0, DecimalRule::HalfEven), 4);
  EXPECT_EQ(Round(0.125, 2, DecimalRule::HalfEven), 0.12);
  EXPECT_EQ(Round(0.135, 2, DecimalRule::HalfEven), 0.14);  // held a little above the tie
  EXPECT_EQ(Round(0.145, 2, DecimalRule::HalfEven), 0.14);  // held a little below it
}

TEST(DecimalRoundDouble, NegativePlacesRoundToTensAndHundreds) {
  EXPECT_EQ(Round(1234.5, -2, DecimalRule::HalfTowardPositive), 1200);
  EXPECT_EQ(Round(1250, -2, DecimalRule::HalfEven), 1200);
  EXPECT_EQ(Round(1201, -1, DecimalRule::TowardPositive), 1210);
  EXPECT_EQ(Round(-1201, -1, DecimalRule::AwayFromZero), -1210);
}

TEST(DecimalRoundDouble, ExcessWithinTheBoundCountsAsAnInteger) {
  const double justAbove2 = std::nextafter(2.0, 3.0);
  const double justBelow2 = std::nextafter(2.0, 1.0);
  EXPECT_EQ(Round(justAbove2, 0, DecimalRule::TowardPositive), 2);
  EXPECT_EQ(Round(2.01, 0, DecimalRule::TowardPositive), 3);
  EXPECT_EQ(Round(justAbove2, 0, DecimalRule::AwayFromZero), 2);
  EXPECT_EQ(Round(justBelow2, 0, DecimalRule::TowardNegative), 2);
  EXPECT_EQ(Round(justBelow2, 0, DecimalRule::TowardZero), 2);
  EXPECT_EQ(Round(-justBelow2, 0, DecimalRule::TowardPositive), -2);
}

TEST(DecimalRoundDouble, RulesAboveNineRoundToEvenWithoutTheBound) {
  EXPECT_EQ(Round(2.675, 2, 10), 2.67);
  EXPECT_EQ(Round(2.5, 0, 200), 2);
  EXPECT_EQ(Round(3.5, 0, 255), 4);
}

TEST(DecimalRound, NoRuleAndNonFiniteValuesComeBackUnchanged) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Round(2.675, 2, DecimalRule::None), 2.675);
  for (int rule = 0; rule <= 10; ++rule) {
    EXPECT_EQ(DecimalRound(inf, 2, 0, static_cast<std::uint8_t>(rule)), inf);
    EXPECT_EQ(DecimalRound(-inf, 2, 0, static_cast<std::uint8_t>(rule)), -inf);
    EXPECT_TRUE(std::isnan(DecimalRound(std::nanl(""), 2, 0, static_cast<std::uint8_t>(rule))));
  }
}

TEST(DecimalRound, ABoundThatIsNotPositiveFailsTheAssertion) {
  for (double bad : {0.0, -1e-16, std::numeric_limits<double>::quiet_NaN()}) {
    try {
      DecimalRound(1.5L, 0, bad, DecimalRule::HalfTowardPositive);
      ADD_FAILURE() << "no assertion for " << bad;
    } catch (const EAssertionFailed& e) {
      EXPECT_STREQ(e.what(), "MaxRelErr param in call to DecimalRound() must be greater than zero.");
    }
  }
  EXPECT_EQ(DecimalRound(1.5L, 0, 0, DecimalRule::None), 1.5L);
}

TEST(DecimalRound, WorksInExtendedPrecision) {
  // 2.675 held as an extended value lies so close to the tie that its
  // scaled value is the tie itself; held as a double it lies too far below
  // for a bound this small.
  EXPECT_EQ(DecimalRound(2.675L, 2, 1e-18, DecimalRule::HalfTowardPositive), 2.68L);
  EXPECT_EQ(DecimalRound(2.675L, 2, 1e-18, 10), 2.68L);
  EXPECT_EQ(DecimalRound(static_cast<double>(2.675L), 2, 1e-18, DecimalRule::HalfTowardPositive), 2.67L);
}

TEST(DecimalRound, ValuesBeyondTheIntegerRangeOrTheScaleRange) {
  // Whole kopecks stay as they are, also where the bound is larger than half
  // a kopeck; no conversion to a 64-bit integer takes place.
  EXPECT_EQ(RoundMoney(1e15), 1e15);
  EXPECT_EQ(RoundMoney(-123456789012345.0), -123456789012345.0);
  EXPECT_EQ(Round(3e19, 0, DecimalRule::HalfEven), 3e19);
  EXPECT_EQ(Round(-9.5e18, 0, DecimalRule::AwayFromZero), -9.5e18);
  EXPECT_EQ(RoundMoney(1e300), 1e300);
  // A scale that overflows the extended range leaves the value as it is.
  EXPECT_EQ(Round(1.25, 5000, DecimalRule::HalfEven), 1.25);
}

}  // namespace
}  // namespace selvo
