#include "platform/QtDateTimePickers.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "tests/common/ScopedOverrides.h"

namespace selvo {
namespace {

TEST(QtDateTimeFormat, TranslatesTheModulesPatterns) {
  const TFormatSettings ru = TFormatSettings::Russian(), en = TFormatSettings::English();
  TFormatSettings dashes = ru;
  dashes.DateSeparator = '-';
  struct Case {
    const char* pattern;
    const TFormatSettings& fs;
    const char* qt;
  };
  const Case cases[] = {
      {"hh:nn:ss", ru, "HH:mm:ss"},     {"h:nn:ss ampm", en, "h:mm:ss AP"},
      {"dd.mm.yyyy", ru, "dd.MM.yyyy"}, {"m/d/yyyy", en, "M/d/yyyy"},
      {"dd/mm/yy", dashes, "dd-MM-yy"}, {"hh:mm", ru, "HH:mm"},  // "m" right after an hour is minutes
      {"hh 'ч' nn", ru, "HH 'ч' mm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(QtDateTimeFormat(c.pattern, c.fs).toStdString(), c.qt);
  }
}

class PickerTest : public ::testing::Test {
 protected:
  test::ScopedFormatSettings format_{TFormatSettings::Russian()};
  template <class Picker>
  void Type(Picker& picker, const char* keys) {
    picker.show();
    picker.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&picker));
    picker.setFocus();
    picker.setSelectedSection(picker.sectionAt(0));
    QTest::keyClicks(&picker, keys);
  }

 private:
};

// An operator types a time with or without its separators.
TEST_F(PickerTest, TimesTypedWithOrWithoutSeparators) {
  for (const char* keys : {"08:30:15", "083015", "8:30:15"}) {
    SCOPED_TRACE(keys);
    TTimePicker picker;
    Type(picker, keys);
    EXPECT_EQ(picker.Time(), EncodeTime(8, 30, 15, 0));
    EXPECT_EQ(picker.text().toStdString(), "08:30:15");
  }
}

TEST_F(PickerTest, DatesTypedAndSetAsDayNumbers) {
  TDatePicker picker;
  Type(picker, "02.01.2026");
  EXPECT_EQ(picker.Date(), EncodeDate(2026, 1, 2));
  picker.SetDate(EncodeDate(1999, 12, 31) + 0.75);
  EXPECT_EQ(picker.text().toStdString(), "31.12.1999");
  EXPECT_TRUE(picker.calendarPopup());

  format_.Set(TFormatSettings::English());
  TTimePicker english;
  english.SetTime(EncodeTime(23, 5, 0, 0));
  EXPECT_EQ(english.text().toStdString(), TimeToStr(EncodeTime(23, 5, 0, 0), ModuleFormatSettings()));
}

}  // namespace
}  // namespace selvo
