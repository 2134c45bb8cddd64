// The form kit's layout calls: the OK/Cancel row with the shared texts,
// labelled rows, box entries and window shortcuts.
#include "platform/QtFormKit.h"

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
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

TEST(QtFormKit, TheBottomRowPutsTheLeadingControlsLeftAndOkCancelRight) {
  QDialog window;
  auto* enabled = MakeNamed<QCheckBox>(&window, "cbEnabled", "включен");
  const TOkCancelButtons buttons = MakeOkCancel(&window, "btnOk", "btnCancel");
  auto* row = new QHBoxLayout(&window);
  AddOkCancelRow(row, {enabled}, buttons);
  ASSERT_EQ(row->count(), 4);
  EXPECT_EQ(row->itemAt(0)->widget(), enabled);
  EXPECT_NE(row->itemAt(1)->spacerItem(), nullptr);
  EXPECT_EQ(row->stretch(1), 1);
  EXPECT_EQ(row->itemAt(2)->widget(), buttons.ok);
  EXPECT_EQ(row->itemAt(3)->widget(), buttons.cancel);
}

TEST(QtFormKit, BoxEntriesKeepTheirKindStretchAndAlignment) {
  QWidget owner;
  auto* label = new QLabel(&owner);
  auto* nested = new QVBoxLayout;
  auto* box = MakeBox<QHBoxLayout>(&owner, QMargins(8, 2, 8, 4), 6,
                                   {{label, 2, Qt::AlignTop}, {nested, 3}, TBoxItem::Spacing(4), TBoxItem::Stretch(5)});
  EXPECT_EQ(owner.layout(), box);
  EXPECT_EQ(box->contentsMargins(), QMargins(8, 2, 8, 4));
  EXPECT_EQ(box->spacing(), 6);
  ASSERT_EQ(box->count(), 4);
  EXPECT_EQ(box->itemAt(0)->widget(), label);
  EXPECT_EQ(box->itemAt(0)->alignment(), Qt::AlignTop);
  EXPECT_EQ(box->stretch(0), 2);
  EXPECT_EQ(box->itemAt(1)->layout(), nested);
  EXPECT_EQ(box->stretch(1), 3);
  // A spacing is fixed, a stretch grows.
  ASSERT_NE(box->itemAt(2)->spacerItem(), nullptr);
  EXPECT_EQ(box->itemAt(2)->sizeHint().width(), 4);
  EXPECT_EQ(box->itemAt(2)->expandingDirections(), Qt::Orientations());
  EXPECT_EQ(box->stretch(2), 0);
  ASSERT_NE(box->itemAt(3)->spacerItem(), nullptr);
  EXPECT_EQ(box->stretch(3), 5);
}

TEST(QtFormKit, ALabelledRowPutsTheCaptionBesideItsField) {
  QWidget group;
  auto* field = MakeNamed<QLineEdit>(&group, "edName");
  QGridLayout* grid = MakeGrid(&group, QMargins(8, 2, 8, 4), 6, 2);
  QLabel* label = AddLabelledRow(grid, 2, "Наименование:\r\nвида", field, 3, Qt::AlignLeft);
  EXPECT_EQ(label->parentWidget(), &group);
  EXPECT_EQ(label->text().toStdString(), "Наименование:\nвида");
  int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
  grid->getItemPosition(grid->indexOf(label), &row, &column, &rowSpan, &columnSpan);
  EXPECT_EQ(std::vector<int>({row, column, rowSpan, columnSpan}), std::vector<int>({2, 0, 1, 1}));
  grid->getItemPosition(grid->indexOf(field), &row, &column, &rowSpan, &columnSpan);
  EXPECT_EQ(std::vector<int>({row, column, rowSpan, columnSpan}), std::vector<int>({2, 1, 1, 3}));
  EXPECT_EQ(grid->itemAt(grid->indexOf(field))->alignment(), Qt::AlignLeft);
  EXPECT_EQ(grid->horizontalSpacing(), 6);
  EXPECT_EQ(grid->verticalSpacing(), 2);
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
