// Rounding to a number of decimal places that treats values within a small
// relative error of a decimal tie (or of a decimal integer) as lying on it, so
// that 2.675, held in binary a little below 2.675, still rounds to 2.68.
// Working values are extended precision (long double, 64-bit mantissa).
#pragma once

#include <cstdint>

namespace selvo {

// The rounding rules (one byte). Values above 9 round to the nearest, ties to
// even, without the error bound.
namespace DecimalRule {
enum : std::uint8_t {
  None = 0,                // no rounding
  HalfEven = 1,            // nearest; a tie to the even neighbour
  HalfTowardPositive = 2,  // nearest; a tie up
  HalfTowardNegative = 3,  // nearest; a tie down
  HalfTowardZero = 4,      // nearest; a tie toward zero
  HalfAwayFromZero = 5,    // nearest; a tie away from zero
  TowardNegative = 6,      // floor
  TowardPositive = 7,      // ceiling
  TowardZero = 8,          // truncation
  AwayFromZero = 9,        // away from zero
};
}  // namespace DecimalRule

// The relative error bound for values that come from doubles.
inline constexpr double kDoubleMaxRelErr = 5.481726184209375e-16;

// Rounds value to `decimals` places (negative: to tens, hundreds, ...) by the
// rule. Infinities, NaN and rule None return the value unchanged. Raises
// EAssertionFailed when maxRelErr is not greater than 0 (for a finite value
// and a rule other than None). A value that is already whole at the scale
// keeps it under every rule (for large values the bound exceeds half a unit
// and would otherwise shift them); a scale 10^|decimals| beyond the extended
// range leaves the value unchanged.
long double DecimalRound(long double value, std::int32_t decimals, double maxRelErr, std::uint8_t rule);
// DecimalRound with kDoubleMaxRelErr.
long double DecimalRoundDouble(double value, std::int32_t decimals, std::uint8_t rule);
// To the nearest, halves away from zero (rule 2 for values >= 0, 3 below 0).
double RoundHalfAwayFromZero(std::uint8_t decimals, double value);
// Money to kopecks: RoundHalfAwayFromZero with two places.
double RoundMoney(double value);

}  // namespace selvo
