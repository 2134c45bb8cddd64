#include "discounts/DecimalRounding.h"

#include <cmath>
#include <cstdlib>

#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {
namespace {

// To the nearest integer, an exact half to the even neighbour. Kept in
// extended precision: every extended value of 2^63 or more is an integer
// already, so no conversion to a 64-bit integer is needed.
long double RoundToEven(long double x) {
  const long double down = std::floor(x);
  const long double diff = x - down;
  if (diff < 0.5L) return down;
  if (diff > 0.5L) return down + 1;
  return std::fmod(down, 2.0L) == 0 ? down : down + 1;
}

bool IsEven(long double integer) { return std::fmod(integer, 2.0L) == 0; }

}  // namespace

long double DecimalRound(long double value, std::int32_t decimals, double maxRelErr, std::uint8_t rule) {
  if (!std::isfinite(value) || rule == DecimalRule::None) return value;
  if (!(maxRelErr > 0)) throw EAssertionFailed("MaxRelErr param in call to DecimalRound() must be greater than zero.");

  long double scale = 1;
  const std::int64_t places = std::llabs(static_cast<std::int64_t>(decimals));
  for (std::int64_t i = 0; i < places && std::isfinite(scale); ++i) scale *= 10;
  if (!std::isfinite(scale)) return value;

  const long double error = std::fabs(value * static_cast<long double>(maxRelErr));
  const long double x = decimals >= 0 ? value * scale : value / scale;
  const long double e = decimals >= 0 ? error * scale : error / scale;
  const long double ax = std::fabs(x);

  const bool onMagnitude = rule == DecimalRule::HalfTowardZero || rule == DecimalRule::HalfAwayFromZero ||
                           rule == DecimalRule::TowardZero || rule == DecimalRule::AwayFromZero;
  long double r;
  if (std::floor(x) == x) {
    // Already whole: every rule keeps it. Said outright because the bound of
    // a large value exceeds half a unit, and rounding would shift it by that.
    r = onMagnitude ? ax : x;
  } else {
    switch (rule) {
      case DecimalRule::HalfEven: {
        const long double a = RoundToEven(x - e);
        r = IsEven(a) ? a : RoundToEven(x + e);
        break;
      }
      case DecimalRule::HalfTowardPositive: r = RoundToEven(x + e); break;
      case DecimalRule::HalfTowardNegative: r = RoundToEven(x - e); break;
      case DecimalRule::HalfTowardZero: r = RoundToEven(ax - e); break;
      case DecimalRule::HalfAwayFromZero: r = RoundToEven(ax + e); break;
      case DecimalRule::TowardNegative: r = RoundToEven(x + e - 0.5L); break;
      case DecimalRule::TowardPositive: r = RoundToEven(x - e + 0.5L); break;
      case DecimalRule::TowardZero: r = RoundToEven(ax + e - 0.5L); break;
      case DecimalRule::AwayFromZero: r = RoundToEven(ax - e + 0.5L); break;
      default: r = RoundToEven(x); break;
    }
  }

  long double result = decimals >= 0 ? r / scale : r * scale;
  if (onMagnitude && value < 0) result = -result;
  return result;
}

long double DecimalRoundDouble(double value, std::int32_t decimals, std::uint8_t rule) {
  return DecimalRound(value, decimals, kDoubleMaxRelErr, rule);
}

double RoundHalfAwayFromZero(std::uint8_t decimals, double value) {
  const std::uint8_t rule = value >= 0 ? DecimalRule::HalfTowardPositive : DecimalRule::HalfTowardNegative;
  return static_cast<double>(DecimalRoundDouble(value, decimals, rule));
}

double RoundMoney(double value) { return RoundHalfAwayFromZero(2, value); }

}  // namespace selvo
