#include "platform/Calculator.h"

#include <gtest/gtest.h>

#include "platform/FormatSettings.h"
#include "tests/common/ScopedOverrides.h"

namespace selvo {
namespace {

TEST(Calculator, KeysWorkLeftToRightAsOnADeskCalculator) {
  test::ScopedFormatSettings format(TFormatSettings::Russian());
  struct Case {
    const char* keys;
    double start;
    const char* display;
  };
  const Case cases[] = {
      {"", 12.5, "12,5"},        {"2+3*4=", 0, "20"}, {"7/2=", 0, "3,5"},
      {"1.5+1,25=", 0, "2,75"},  {"*2=", 21, "42"},  // the drop-down starts from the edit's value
      {"5+-3=", 0, "2"},                             // a second operation key replaces the first
      {"9-=", 0, "0"},                               // no second operand: the first is taken again
      {"12\b3", 0, "13"},        {"00012", 0, "12"},  {"5/0=", 0, "Ошибка"},
      {"5/0=7+1=", 0, "Ошибка"},  // only C leaves the error
      {"5/0=C4=", 0, "4"},       {"1+2C", 0, "0"},    {"9999999999999999999", 0, "999999999999999"},
      {"1+2x", 0, "2"},  // unknown keys change nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    TCalculator calc;
    calc.Start(c.start);
    for (const char* k = c.keys; *k; ++k) calc.Press(*k);
    EXPECT_EQ(calc.Display(), c.display);
  }
  TCalculator error;
  for (char k : std::string("1/0=")) error.Press(k);
  EXPECT_FALSE(error.Value().has_value());
}

}  // namespace
}  // namespace selvo
