// The pocket calculator behind the drop-down of a calculator edit: the four
// operations, clear and equals, worked left to right as on a desk
// calculator. Keys are characters; the display is a number text in the
// module's format settings.
#pragma once

#include <optional>
#include <string>

namespace selvo {

class TCalculator {
 public:
  // Keys: '0'..'9', '.' or ',' (the decimal separator), '+', '-', '*', '/',
  // '=' (also Enter), 'C' (clear all), '\b' (drop the last typed digit).
  // Other keys are ignored. Answers whether the key was taken.
  bool Press(char key);
  // Starts over with a value on the display, as when the drop-down opens.
  void Start(double value);

  // What the display shows: the number being typed or the last result;
  // "Ошибка" after a division by zero or an overflow, until 'C'.
  std::string Display() const;
  // The displayed value; none while the display shows an error.
  std::optional<double> Value() const;
  bool HasError() const { return error_; }

 private:
  void Apply();

  std::string typed_;  // digits being typed, '.' as separator; empty: showing value_
  double value_ = 0;   // the number on the display when nothing is typed
  double accumulator_ = 0;
  char pending_ = 0;  // the operation waiting for its right operand
  bool error_ = false;
};

}  // namespace selvo
