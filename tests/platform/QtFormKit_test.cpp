// The form kit's layout calls: the OK/Cancel row with the shared texts,
// labelled rows, box entries and window shortcuts.
#include "platform/QtFormKit.h"

#include <QAction>
#include <QBoxLayout>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "platform/FormTexts.h"

namespace selvo {
namespace {

TEST(QtFormKit, OkAndCancelCarryTheSharedTextsAndTheWindowsNames) {
  QDialog window;
  const TOkCancelButtons buttons = MakeOkCancel(&window, "BitBtn3", "BitBtn4");
  EXPECT_EQ(buttons.ok, window.findChild<QPushButton*>("BitBtn3"));
  EXPECT_EQ(buttons.cancel, window.findChild<QPushButton*>("BitBtn4"));
  EXPECT_EQ(buttons.ok->text().toStdString(), "OK");
  EXPECT_EQ(buttons.cancel->text().toStdString(), "Отмена");
  EXPECT_EQ(Hint(buttons.ok), kOkHint);
  EXPECT_EQ(Hint(buttons.cancel), kCancelHint);
  EXPECT_FALSE(buttons.ok->isDefault()) << "the window decides which button is the default";
}

TEST(QtFormKit, AWindowShortcutActsWhereverTheFocusIs) {
  QDialog window;
  auto* edit = new QLineEdit(&window);
  new QVBoxLayout(&window);
  window.layout()->addWidget(edit);
  int runs = 0;
  QAction* action = AddWindowShortcut(&window, "actnOk", {QKeySequence(Qt::CTRL | Qt::Key_Return)}, [&] { ++runs; });
  EXPECT_EQ(action->objectName().toStdString(), "actnOk");
  EXPECT_TRUE(window.actions().contains(action));
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace selvo
