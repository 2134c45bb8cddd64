#include "platform/QtCalcEdit.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "platform/FormatSettings.h"
#include "tests/common/ScopedOverrides.h"

namespace selvo {
namespace {

class CalcEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    edit = std::make_unique<TCalcEdit>();
    edit->show();
    edit->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(edit.get()));
    edit->setFocus();
  }
  void TearDown() override { edit.reset(); }
  test::ScopedFormatSettings format_{TFormatSettings::Russian()};
  std::unique_ptr<TCalcEdit> edit;

 private:
};

TEST_F(CalcEditTest, TypingTakesNumbersInTheModulesFormatOnly) {
  edit->LineEdit()->clear();
  QTest::keyClicks(edit->LineEdit(), "-12x,5.7");  // "x" and a second separator are refused
  EXPECT_EQ(edit->LineEdit()->text().toStdString(), "-12,57");
  EXPECT_EQ(edit->Value(), -12.57);
  edit->LineEdit()->setText("-");
  EXPECT_EQ(edit->Value(), 0);
}

TEST_F(CalcEditTest, TheDropDownWorksFromTheKeyboard) {
  edit->SetValue(10);
  QTest::keyClick(edit->LineEdit(), Qt::Key_Down, Qt::AltModifier);
  ASSERT_NE(edit->Calculator(), nullptr);
  QTest::keyClicks(edit->Calculator(), "/4");
  EXPECT_EQ(edit->Calculator()->DisplayText(), "4");
  QTest::keyClick(edit->Calculator(), Qt::Key_Escape);  // closes, the edit unchanged
  EXPECT_EQ(edit->Calculator(), nullptr);
  EXPECT_EQ(edit->Value(), 10);

  QTest::keyClick(edit->LineEdit(), Qt::Key_F4);
  QTest::keyClicks(edit->Calculator(), "/4");
  QTest::keyClick(edit->Calculator(), Qt::Key_Return);
  EXPECT_EQ(edit->Calculator(), nullptr);
  EXPECT_EQ(edit->LineEdit()->text().toStdString(), "2,5");
  EXPECT_EQ(QApplication::focusWidget(), edit->LineEdit());
}

}  // namespace
}  // namespace selvo
