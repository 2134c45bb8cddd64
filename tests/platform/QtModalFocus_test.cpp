// The keyboard goes back to the window that opened a modal window: a
// main-window-like widget opens a question box through the real Qt message
// service, a file chooser and a dialog; each is answered from inside its own
// loop, and afterwards the opener is the active window again, its focus
// widget has the focus and its shortcut fires on a key press.
#include "platform/QtModalFocus.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

#include <gmock/gmock.h>

#include "platform/MessageService.h"
#include "platform/QtFileDialogs.h"
#include "platform/QtMessageService.h"
#include "tests/common/OpenerWindow.h"

namespace selvo {
namespace {

class OpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(opener.ShowActive());
    InstallQtMessageService();
  }
  void TearDown() override { SetMessageService(nullptr); }

  // Closes the modal window that is up (rejects a dialog, Escape on a box)
  // from inside its loop; `closed` tells that it was there.
  static void CloseModalWindowFromItsLoop(bool& closed) {
    QTimer::singleShot(0, [&closed] {
      QWidget* modal = QApplication::activeModalWidget();
      ASSERT_NE(modal, nullptr);
      ASSERT_TRUE(QTest::qWaitForWindowActive(modal));
      if (auto* box = qobject_cast<QMessageBox*>(modal))
        QTest::keyClick(box, Qt::Key_Escape);
      else if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
      closed = true;
    });
  }
  void ExpectTheOpenerHasTheKeyboard() { opener.ExpectHasTheKeyboard(); }

  test::OpenerWindow opener;
};

TEST_F(OpenerTest, AQuestionBoxGivesTheKeyboardBack) {
  bool closed = false;
  CloseModalWindowFromItsLoop(closed);
  EXPECT_EQ(ShowMessageBox("Удалить запись?", "Подтверждение", TMsgIcon::Question, TMsgButtons::OKCancel),
            TModalResult::mrCancel);
  ASSERT_TRUE(closed);
  ExpectTheOpenerHasTheKeyboard();

  // And again: the second box is the opener's too.
  closed = false;
  CloseModalWindowFromItsLoop(closed);
  ShowMessageBox("Готово", "", TMsgIcon::Information);
  ASSERT_TRUE(closed);
  ExpectTheOpenerHasTheKeyboard();
}

TEST_F(OpenerTest, AFileChooserGivesTheKeyboardBack) {
  bool closed = false;
  CloseModalWindowFromItsLoop(closed);
  TFileDialogRequest request;
  request.title = "Выберите файл";
  request.filter = "Все файлы (*.*)|*.*";
  EXPECT_EQ(ChooseFile(&opener, request), std::nullopt);
  ASSERT_TRUE(closed);
  ExpectTheOpenerHasTheKeyboard();
}

// A dialog run under the guard, with a question box of its own: the box
// gives the keyboard back to the dialog, the dialog to the opener.
TEST_F(OpenerTest, ADialogAndItsOwnQuestionGiveTheKeyboardBackInTurn) {
  bool boxClosed = false, dialogClosed = false;
  {
    const TOpenerFocus keep;
    EXPECT_EQ(keep.Opener(), &opener);
    QDialog dialog;  // no parent, as the card dialog
    auto* field = new QLineEdit(&dialog);
    new QVBoxLayout(&dialog);
    dialog.layout()->addWidget(field);
    QTimer::singleShot(0, [&] {
      ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
      field->setFocus();
      CloseModalWindowFromItsLoop(boxClosed);
      ShowMessageBox("Ошибка", "Ошибка", TMsgIcon::Exclamation);
      EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
      EXPECT_EQ(QApplication::activeWindow(), &dialog);
      EXPECT_EQ(QApplication::focusWidget(), field);
      dialog.reject();
      dialogClosed = true;
    });
    dialog.exec();
  }
  ASSERT_TRUE(boxClosed);
  ASSERT_TRUE(dialogClosed);
  ExpectTheOpenerHasTheKeyboard();
}

// An opener that went while the modal window was up is left alone.
TEST_F(OpenerTest, AGoneOpenerIsLeftAlone) {
  auto gone = std::make_unique<QWidget>();
  gone->show();
  gone->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(gone.get()));
  TOpenerFocus keep;
  EXPECT_EQ(keep.Opener(), gone.get());
  gone.reset();
  EXPECT_EQ(keep.Opener(), nullptr);
  keep.Restore();
}

}  // namespace
}  // namespace selvo
