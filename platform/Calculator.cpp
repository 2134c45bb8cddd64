#include "platform/Calculator.h"

#include <cmath>

#include "platform/FormatSettings.h"

namespace selvo {
namespace {
constexpr const char* kErrorText = "Ошибка";
constexpr std::size_t kMaxDigits = 15;
}  // namespace

void TCalculator::Start(double value) {
  *this = TCalculator();
  value_ = std::isfinite(value) ? value : 0;
}

std::optional<double> TCalculator::Value() const {
  if (error_) return std::nullopt;
  if (typed_.empty()) return value_;
  TFormatSettings dot = ModuleFormatSettings();
  dot.DecimalSeparator = '.';
  return TryStrToFloat(typed_ == "." ? "0" : typed_, dot).value_or(0);
}

std::string TCalculator::Display() const {
  if (error_) return kErrorText;
  if (typed_.empty()) return FloatToStr(value_, ModuleFormatSettings());
  std::string shown = typed_;
  if (shown.front() == '.') shown.insert(shown.begin(), '0');
  for (char& c : shown)
    if (c == '.') c = ModuleFormatSettings().DecimalSeparator;
  return shown;
}

// Works out the pending operation with the displayed number as its right
// operand; a result that is no finite number is an error.
void TCalculator::Apply() {
  const double operand = *Value();
  double result = operand;
  switch (pending_) {
    case '+': result = accumulator_ + operand; break;
    case '-': result = accumulator_ - operand; break;
    case '*': result = accumulator_ * operand; break;
    case '/':
      if (operand == 0) {
        error_ = true;
        return;
      }
      result = accumulator_ / operand;
      break;
    default: break;
  }
  if (!std::isfinite(result)) {
    error_ = true;
    return;
  }
  value_ = result;
  accumulator_ = result;
  typed_.clear();
}

bool TCalculator::Press(char key) {
  if (key == 'C' || key == 'c') {
    *this = TCalculator();
    return true;
  }
  if (error_) return false;
  if (key >= '0' && key <= '9') {
    std::size_t digits = 0;
    for (char c : typed_) digits += c != '.';
    if (digits >= kMaxDigits) return true;
    if (typed_ == "0") typed_.clear();
    typed_ += key;
    return true;
  }
  if (key == '.' || key == ',') {
    if (typed_.find('.') == std::string::npos) typed_ += '.';
    return true;
  }
  if (key == '\b') {
    if (!typed_.empty()) typed_.pop_back();
    return true;
  }
  if (key == '+' || key == '-' || key == '*' || key == '/') {
    // A second operation key in a row only replaces the first.
    if (pending_ == 0 || !typed_.empty()) {
      if (pending_ == 0) {
        accumulator_ = *Value();
        value_ = accumulator_;
        typed_.clear();
      } else {
        Apply();
        if (error_) return true;
      }
    }
    pending_ = key;
    return true;
  }
  if (key == '=' || key == '\r' || key == '\n') {
    if (pending_ != 0) Apply();
    pending_ = 0;
    return true;
  }
  return false;
}

}  // namespace selvo
