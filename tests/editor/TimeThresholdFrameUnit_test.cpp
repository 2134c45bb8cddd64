#include "editor/TimeThresholdFrameUnit.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "platform/QtCalcEdit.h"
#include "platform/QtDateTimePickers.h"
#include "platform/QtSpinEdit.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ScriptedMessageService.h"

namespace selvo {
namespace {

using test::ScriptedMessageService;

double T(int h, int m, int s = 0) { return EncodeTime(h, m, s, 0); }

// The frame in a plain dialog beside another control, as the card editor
// holds it.
class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame = new TTimeThresholdFrame(&dialog);
    other = new QLineEdit(&dialog);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(frame);
    layout->addWidget(other);
    dialog.resize(360, 200);
  }
  test::ScopedFormatSettings format{TFormatSettings::Russian()};
  test::ScopedClock clock;

  void Show() {
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    grid()->setFocus();
    grid()->SetCurrentCell(0, 1);
  }
  TMyStringGrid* grid() { return frame->findChild<TMyStringGrid*>("sgTimeDscList"); }
  template <class W>
  W* editor(const char* name) {
    return frame->findChild<W*>(name);
  }
  QWidget* focus() { return QApplication::focusWidget(); }
  void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(focus(), Qt::Key(k), mods); }
  std::string cell(int c, int r) { return frame->Cells().Cell(c, r); }
  int tagOf(QWidget* w) { return w->property("tag").toInt(); }

  ScriptedMessageService messages;
  QDialog dialog;
  TTimeThresholdFrame* frame = nullptr;
  QLineEdit* other = nullptr;
};

TEST_F(FrameTest, ColumnsOfEachModeHaveTheirDesignedWidths) {
  const std::vector<int> widths[] = {{72, 68, 66, 39}, {72, 66, 39}, {82, 68, 82, 68, 74}};
  for (std::uint8_t mode = 0; mode < 3; ++mode) {
    TTimeThresholdFrame f;
    f.SetMode(mode);
    auto* view = f.findChild<TMyStringGrid*>("sgTimeDscList");
    ASSERT_EQ(view->model()->columnCount(), static_cast<int>(widths[mode].size()));
    EXPECT_EQ(view->model()->rowCount(), 1);
    for (int c = 0; c < view->model()->columnCount(); ++c) {
      EXPECT_EQ(view->columnWidth(c), widths[mode][c]);
      EXPECT_EQ(view->model()->headerData(c, Qt::Horizontal).toString().toStdString(), f.Cells().Cell(c, 0));
    }
    EXPECT_EQ(view->rowHeight(0), 20);
  }
}

TEST_F(FrameTest, SetModeAgainLaysOutThatModesColumnsAndClosesTheEditor) {
  const std::vector<int> widths[] = {{72, 68, 66, 39}, {72, 66, 39}, {82, 68, 82, 68, 74}};
  Show();
  for (std::uint8_t mode :
       {lmThresholds, lmThresholds, lmPeriods, lmPeriods, lmTimeDiscounts, lmPeriods, lmThresholds, lmTimeDiscounts}) {
    SCOPED_TRACE(int(mode));
    frame->sgTimeDscListGetEditText(0, 1);
    ASSERT_TRUE(frame->IsEditing());
    frame->SetMode(mode);
    EXPECT_FALSE(frame->IsEditing());
    EXPECT_EQ(frame->Mode(), mode);
    ASSERT_EQ(grid()->model()->columnCount(), static_cast<int>(widths[mode].size()));
    for (int c = 0; c < grid()->model()->columnCount(); ++c) {
      EXPECT_EQ(grid()->columnWidth(c), widths[mode][c]);
      EXPECT_EQ(grid()->model()->headerData(c, Qt::Horizontal).toString().toStdString(), frame->Cells().Cell(c, 0));
    }
  }
  EXPECT_EQ(cell(0, 0), "Начало");
}

// A whole time list typed without the mouse: Enter opens an editor, Tab goes
// on to the next cell's editor, Enter writes back, Down adds a row.
TEST_F(FrameTest, AnOperatorFillsATimeListWithTheKeyboardOnly) {
  Show();
  auto typeRow = [&](const char* begin, const char* end, const char* amount, bool rouble) {
    key(Qt::Key_Return);
    ASSERT_EQ(focus(), editor<TTimePicker>("dtpTimeEdit"));
    QTest::keyClicks(focus(), begin);
    key(Qt::Key_Tab);
    ASSERT_EQ(focus(), editor<TTimePicker>("dtpTimeEdit"));
    EXPECT_EQ(grid()->Col(), 1);
    QTest::keyClicks(focus(), end);
    key(Qt::Key_Tab);
    ASSERT_TRUE(editor<TCalcEdit>("cedDiscount")->isAncestorOf(focus()));
    QTest::keyClicks(focus(), amount);
    key(Qt::Key_Tab);
    ASSERT_EQ(focus(), editor<QComboBox>("cbMetric"));
    if (rouble) key(Qt::Key_Down);
    key(Qt::Key_Return);
    EXPECT_EQ(focus(), grid());
    EXPECT_FALSE(frame->IsEditing());
  };
  typeRow("08:00", "123015", "5", false);
  key(Qt::Key_Down);  // a new row under the last one, the cursor in it
  EXPECT_EQ(grid()->Row(), 2);
  key(Qt::Key_Home);
  typeRow("18", "22", "7,5", true);

  TDynTimeArray b, e;
  TDynCharArray u;
  TDynDoubleArray a;
  ASSERT_EQ(frame->StoreTimeList(b, e, u, a), 0);
  EXPECT_EQ(b, (TDynTimeArray{T(8, 0), T(18, 0)}));
  EXPECT_EQ(e, (TDynTimeArray{T(12, 30, 15), T(22, 0)}));
  EXPECT_EQ(a, (TDynDoubleArray{5, 7.5}));
  EXPECT_EQ(u, (TDynCharArray{kUnitPercent, kUnitRouble}));
}

// Passing through an empty row with Tab opens each cell's editor; none of
// them may leave its default behind, or the list no longer passes its check.
// What the operator gives an editor (a typed key, Enter) is written.
TEST_F(FrameTest, TabbingThroughEmptyCellsLeavesThemEmpty) {
  Show();
  key(Qt::Key_Return);
  for (int i = 0; i < 3; ++i) key(Qt::Key_Tab);
  ASSERT_EQ(focus(), editor<QComboBox>("cbMetric"));
  frame->CommitEditor();  // as the card dialog's Escape: an editor given nothing writes nothing
  EXPECT_FALSE(frame->IsEditing());
  for (int c = 0; c < 4; ++c) EXPECT_EQ(cell(c, 1), "") << "column " << c;
  TDynTimeArray b, e;
  TDynCharArray u;
  TDynDoubleArray a;
  EXPECT_EQ(frame->StoreTimeList(b, e, u, a), 0) << "a blank row is no entry";

  grid()->SetCurrentCell(2, 1);
  key(Qt::Key_Return);
  QTest::keyClicks(focus(), "0");
  key(Qt::Key_Tab);
  key(Qt::Key_Return);
  EXPECT_EQ(cell(2, 1), "0") << "a typed value equal to the default is still written";
  EXPECT_EQ(cell(3, 1), "%") << "Enter accepts the unit the editor shows";
}

TEST_F(FrameTest, EditorsOpenOverTheirCellWithTheCellsValueAndTag) {
  frame->SetMode(lmPeriods);
  clock.SetFixed(EncodeDate(2026, 12, 8) + T(10, 0));
  frame->LoadPeriodList({EncodeDate(2026, 1, 2) + T(8, 0)}, {EncodeDate(2026, 1, 3)}, {false});
  Show();
  frame->sgTimeDscListGetEditText(0, 1);
  auto* date = editor<TDatePicker>("dtpDateEdit");
  EXPECT_EQ(tagOf(date), 0 * 65536 + 1);
  EXPECT_EQ(date->Date(), EncodeDate(2026, 1, 2));
  EXPECT_EQ(date->geometry(), grid()->CellRect(0, 1));
  EXPECT_EQ(date->text().toStdString(), "02.01.2026");
  frame->CommitEditor();  // back to the grid, the cell as it was
  EXPECT_TRUE(date->isHidden());
  EXPECT_EQ(cell(0, 1), "02.01.2026");
  EXPECT_EQ(focus(), grid());

  frame->sgTimeDscListGetEditText(1, 1);
  EXPECT_EQ(editor<TTimePicker>("dtpTimeEdit")->Time(), T(8, 0));
  EXPECT_EQ(editor<TTimePicker>("dtpTimeEdit")->text().toStdString(), "08:00:00");
  frame->sgTimeDscListGetEditText(4, 1);
  EXPECT_EQ(editor<QComboBox>("cbExclEnabled")->currentText().toStdString(), "Нет");
  EXPECT_FALSE(frame->IsEditing());  // the in-effect list does not count
  key(Qt::Key_Up);
  key(Qt::Key_Return);
  EXPECT_EQ(cell(4, 1), "Да");

  frame->ClearList();
  frame->sgTimeDscListGetEditText(2, 1);  // no date in the cell: today
  EXPECT_EQ(editor<TDatePicker>("dtpDateEdit")->Date(), EncodeDate(2026, 12, 8));
}

// Escape is not the frame's: in every editor of every list it reaches the
// window's own Escape (here an action of the dialog, as the card dialog has),
// and the frame neither closes the editor nor writes it back. An editor's
// open drop-down closes itself on Escape, and the window's action does not
// run then.
TEST_F(FrameTest, EscapeInAnEditorIsLeftToTheWindow) {
  int escapes = 0;
  QAction escape(&dialog);
  escape.setShortcut(QKeySequence(Qt::Key_Escape));
  escape.setShortcutContext(Qt::WindowShortcut);
  QObject::connect(&escape, &QAction::triggered, [&escapes] { ++escapes; });
  dialog.addAction(&escape);
  TTimeThresholdFrame* frames[] = {frame, new TTimeThresholdFrame(&dialog), new TTimeThresholdFrame(&dialog)};
  for (std::uint8_t mode : {lmThresholds, lmPeriods}) {
    frames[mode]->SetMode(mode);
    dialog.layout()->addWidget(frames[mode]);
  }
  frame->LoadTimeList({T(8, 0)}, {T(9, 0)}, {kUnitPercent}, {12});
  dialog.resize(400, 600);
  Show();

  struct TEditorCase {
    std::uint8_t mode;
    int column;
    const char* editor;
  };
  const TEditorCase cases[] = {
      {lmTimeDiscounts, 0, "dtpTimeEdit"}, {lmTimeDiscounts, 2, "cedDiscount"}, {lmTimeDiscounts, 3, "cbMetric"},
      {lmThresholds, 0, "seSumma"},        {lmPeriods, 0, "dtpDateEdit"},       {lmPeriods, 4, "cbExclEnabled"},
  };
  auto open = [&](std::uint8_t mode, int column) {
    auto* view = frames[mode]->findChild<TMyStringGrid*>("sgTimeDscList");
    view->setFocus();
    view->SetCurrentCell(column, 1);
    key(Qt::Key_Return);
  };
  for (const TEditorCase& c : cases) {
    SCOPED_TRACE(c.editor);
    open(c.mode, c.column);
    QWidget* shown = frames[c.mode]->findChild<QWidget*>(c.editor);
    ASSERT_NE(shown, nullptr);
    ASSERT_TRUE(shown->isVisible());
    ASSERT_TRUE(shown == focus() || shown->isAncestorOf(focus()));
    const int before = escapes;
    key(Qt::Key_Escape);
    EXPECT_EQ(escapes, before + 1) << "the window's Escape ran";
    EXPECT_TRUE(shown->isVisible()) << "the frame left the editor open";
    EXPECT_TRUE(shown == focus() || shown->isAncestorOf(focus()));
    EXPECT_TRUE(dialog.isVisible());
    other->setFocus();  // the editor's exit
    EXPECT_TRUE(shown->isHidden());
  }

  // Open drop-downs: the calculator, the list of a combo box, the calendar.
  open(lmTimeDiscounts, 2);
  key(Qt::Key_F4);
  auto* calc = editor<TCalcEdit>("cedDiscount");
  ASSERT_NE(calc->Calculator(), nullptr);
  QTest::keyClick(calc->Calculator(), Qt::Key_Escape);
  EXPECT_EQ(calc->Calculator(), nullptr);
  EXPECT_TRUE(calc->isVisible());
  EXPECT_EQ(escapes, 6);

  key(Qt::Key_Tab);
  auto* metric = editor<QComboBox>("cbMetric");
  ASSERT_EQ(focus(), metric);
  metric->showPopup();
  ASSERT_NE(QApplication::activePopupWidget(), nullptr);
  ASSERT_EQ(focus(), metric->view());
  key(Qt::Key_Escape);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_TRUE(metric->isVisible());
  EXPECT_EQ(escapes, 6);
  other->setFocus();

  open(lmPeriods, 0);
  auto* date = frames[lmPeriods]->findChild<TDatePicker*>("dtpDateEdit");
  ASSERT_EQ(focus(), date);
  // The calendar opens on a click on the picker's arrow.
  QTest::mouseClick(date, Qt::LeftButton, Qt::NoModifier, QPoint(date->width() - 6, date->height() / 2));
  ASSERT_NE(QApplication::activePopupWidget(), nullptr);
  key(Qt::Key_Escape);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_TRUE(date->isVisible());
  EXPECT_EQ(escapes, 6);
  other->setFocus();
}

TEST_F(FrameTest, TheUnitEditorStartsOnPercentForAnUnknownUnit) {
  frame->LoadTimeList({T(8, 0)}, {T(9, 0)}, {'$'}, {3});
  Show();
  frame->sgTimeDscListGetEditText(3, 1);
  EXPECT_EQ(editor<QComboBox>("cbMetric")->currentText().toStdString(), "%");
  key(Qt::Key_Return);
  EXPECT_EQ(cell(3, 1), "%");
}

TEST_F(FrameTest, LosingTheFocusWritesTheEditorBackIntoItsCell) {
  frame->SetMode(lmThresholds);
  frame->LoadThresholdList({1000}, {5}, {kUnitPercent});
  Show();
  frame->sgTimeDscListGetEditText(0, 1);
  auto* summa = editor<TSpinEdit>("seSumma");
  EXPECT_EQ(summa->Value(), 1000);
  summa->selectAll();
  QTest::keyClicks(summa, "2500,5");
  other->setFocus();
  EXPECT_TRUE(summa->isHidden());
  EXPECT_EQ(cell(0, 1), "2500,5");
  EXPECT_EQ(focus(), other);  // the focus stays where the operator put it
}

// The editor remembers its cell: the grid may scroll and move its cursor
// while the editor is open, the value still lands where editing began.
TEST_F(FrameTest, WriteBackLandsInTheEditedCellAfterTheGridScrolled) {
  TDynTimeArray begins, ends;
  TDynDoubleArray amounts;
  for (int i = 0; i < 30; ++i) {
    begins.push_back(T(0, i * 2));
    ends.push_back(T(0, i * 2 + 1));
    amounts.push_back(i);
  }
  frame->LoadTimeList(begins, ends, TDynCharArray(30, kUnitPercent), amounts);
  Show();
  grid()->SetCurrentCell(2, 25);
  key(Qt::Key_Return);
  auto* calc = editor<TCalcEdit>("cedDiscount");
  EXPECT_EQ(tagOf(calc), 2 * 65536 + 25);
  EXPECT_EQ(calc->Value(), 24);
  grid()->verticalScrollBar()->setValue(0);
  grid()->selectionModel()->setCurrentIndex(grid()->model()->index(0, 2), QItemSelectionModel::NoUpdate);
  calc->LineEdit()->setText("42");
  frame->CommitEditor();
  EXPECT_EQ(cell(2, 25), "42");
  EXPECT_EQ(cell(2, 1), "0");
  EXPECT_EQ(focus(), grid());
}

TEST_F(FrameTest, TypingIntoACellOpensItsEditorWithTheTypedKey) {
  Show();
  grid()->SetCurrentCell(2, 1);
  QTest::keyClicks(grid(), "7");
  auto* calc = editor<TCalcEdit>("cedDiscount");
  ASSERT_TRUE(frame->IsEditing());
  EXPECT_EQ(calc->LineEdit()->text().toStdString(), "7");
  QTest::keyClicks(focus(), "5");
  key(Qt::Key_Enter);
  EXPECT_EQ(cell(2, 1), "75");
}

TEST_F(FrameTest, TheCalculatorDropDownPutsItsResultIntoTheCell) {
  frame->LoadTimeList({T(8, 0)}, {T(9, 0)}, {kUnitPercent}, {12});
  Show();
  grid()->SetCurrentCell(2, 1);
  key(Qt::Key_F2);
  key(Qt::Key_F4);
  TCalcPopup* popup = editor<TCalcEdit>("cedDiscount")->Calculator();
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(frame->IsEditing());  // the drop-down is part of the editor
  QTest::keyClicks(popup, "*3");
  QTest::mouseClick(popup->findChild<QWidget*>("calcEquals"), Qt::LeftButton);
  EXPECT_EQ(editor<TCalcEdit>("cedDiscount")->Calculator(), nullptr);
  EXPECT_EQ(editor<TCalcEdit>("cedDiscount")->LineEdit()->text().toStdString(), "36");
  key(Qt::Key_Return);
  EXPECT_EQ(cell(2, 1), "36");
}

TEST_F(FrameTest, DownAndUpAddAndRemoveTheBlankLastRow) {
  Show();
  key(Qt::Key_Down);  // the only row is blank: nothing added
  EXPECT_EQ(frame->Cells().RowCount(), 2);
  frame->LoadTimeList({T(8, 0)}, {T(9, 0)}, {kUnitPercent}, {1});
  grid()->SetCurrentCell(1, 1);
  key(Qt::Key_Down);
  EXPECT_EQ(frame->Cells().RowCount(), 3);
  EXPECT_EQ(grid()->Row(), 2);
  key(Qt::Key_Down);  // the new row is blank
  EXPECT_EQ(frame->Cells().RowCount(), 3);
  key(Qt::Key_Up);
  EXPECT_EQ(frame->Cells().RowCount(), 2);
  EXPECT_EQ(grid()->Row(), 1);
  EXPECT_EQ(grid()->Col(), 1);
  key(Qt::Key_Up);
  EXPECT_EQ(frame->Cells().RowCount(), 2);
}

TEST_F(FrameTest, CtrlDeleteAsksAndDeletesTheCurrentRow) {
  frame->LoadTimeList({T(8, 0), T(10, 0)}, {T(9, 0), T(11, 0)}, {kUnitPercent, kUnitRouble}, {1, 2});
  Show();
  messages.Answer(TModalResult::mrCancel);
  key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(frame->Cells().RowCount(), 3);
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].text, "Вы действительно хотите удалить данную запись?");
  EXPECT_EQ(messages.messages()[0].caption, "Подтверждение");
  EXPECT_EQ(messages.messages()[0].icon, TMsgIcon::Question);
  EXPECT_EQ(messages.messages()[0].buttons, TMsgButtons::OKCancel);

  messages.Answer(TModalResult::mrOk);
  key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(frame->Cells().RowCount(), 2);
  EXPECT_EQ(cell(0, 1), "10:00:00");
  messages.Answer(TModalResult::mrOk);
  key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(frame->Cells().RowCount(), 2);
  EXPECT_TRUE(frame->Cells().RowIsBlank(1));
  key(Qt::Key_Delete);  // without Ctrl: no question
  EXPECT_EQ(messages.messages().size(), 3u);
}

TEST_F(FrameTest, RightClickAndSpaceFlipTheLastColumn) {
  frame->SetMode(lmPeriods);
  frame->LoadPeriodList({EncodeDate(2026, 1, 1)}, {EncodeDate(2026, 2, 1)}, {true});
  Show();
  const QPoint inEffect = grid()->CellRect(4, 1).center();
  QTest::mouseClick(grid()->viewport(), Qt::RightButton, Qt::NoModifier, inEffect);
  EXPECT_EQ(cell(4, 1), "Нет");
  EXPECT_TRUE(frame->Cells().RowGreyed(1));
  QTest::mouseClick(grid()->viewport(), Qt::RightButton, Qt::NoModifier, grid()->CellRect(0, 1).center());
  EXPECT_EQ(cell(0, 1), "01.01.2026");
  QTest::mouseClick(grid()->horizontalHeader()->viewport(), Qt::RightButton, Qt::NoModifier,
                    QPoint(grid()->columnViewportPosition(4) + 5, 5));
  EXPECT_EQ(cell(4, 0), "Действует");

  grid()->SetCurrentCell(4, 1);
  QTest::keyClick(grid(), Qt::Key_Space);
  EXPECT_EQ(cell(4, 1), "Да");
  EXPECT_FALSE(frame->IsEditing());
}

}  // namespace
}  // namespace selvo
