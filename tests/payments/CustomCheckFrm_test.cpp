#include "payments/CustomCheckFrm.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "payments/SelvoPaymentListU.h"
#include "platform/MessageService.h"
#include "platform/TextCodec.h"
#include "tests/common/OpenerWindow.h"
#include "tests/common/ScriptedFileDialogs.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using test::ReadFileBytes;
using test::ScriptedFileDialogs;
using test::ScriptedMessageService;
using test::TempDir;
using test::WriteFileBytes;

// ---------------------------------------------------------------------------
// The dialog

class CustomCheckFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form.SetParts(SplitTemplate(DefaultCustomCheck()));
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  }

  QTextEdit* editor(const char* name) { return form.findChild<QTextEdit*>(name); }
  QLabel* label(const char* name) {
    QLabel* found = form.findChild<QLabel*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  void click(const char* labelName) { QTest::mouseClick(label(labelName), Qt::LeftButton); }

  // Gives the editor the focus with the caret at a line and column (0-based).
  void putCaret(QTextEdit* edit, int line, int column) {
    edit->setFocus();
    QTextCursor caret(edit->document()->findBlockByNumber(line));
    caret.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, column);
    edit->setTextCursor(caret);
    QApplication::processEvents();
  }

  static QTextCharFormat formatAt(QTextEdit* edit, int position) {
    QTextCursor cursor(edit->document());
    cursor.setPosition(position + 1);  // the format of the character before the cursor
    return cursor.charFormat();
  }
  static bool isBold(const QTextCharFormat& format) { return format.fontWeight() >= QFont::Bold; }

  ScriptedMessageService messages;
  TCustomCheckForm form;
};

TEST_F(CustomCheckFormTest, OpensOnTheHeaderWithThePartsInTheirEditors) {
  EXPECT_EQ(form.CurrentEditor(), editor("reCheckHead"));
  EXPECT_EQ(QApplication::focusWidget(), editor("reCheckHead"));
  EXPECT_EQ(form.Parts(), SplitTemplate(DefaultCustomCheck()));
  EXPECT_EQ(JoinTemplate(form.Parts()), DefaultCustomCheck());
  EXPECT_EQ(form.windowTitle().toStdString(), "Настройка произвольного чека");
  EXPECT_GE(form.width(), 894);
  EXPECT_GE(form.height(), 530);
}

TEST_F(CustomCheckFormTest, TabRunsHeaderRepeatFooterThenCliche) {
  QWidget* expected[] = {editor("reCheckRepeat"), editor("reCheckFooter"), editor("reCheckKlishe")};
  for (QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
    EXPECT_EQ(form.CurrentEditor(), next);
  }
}

TEST_F(CustomCheckFormTest, HighlightsVariablesBlueBoldAndAtLinesBoldAtSize14) {
  QTextEdit* footer = editor("reCheckFooter");
  const std::string text = "@ИТОГО: <#Itog(10.2)>р.\r\nx @mid <#DSCPr>\r\n@later <#Kassir";
  form.SetParts({"", "", "", text});
  const QString plain = footer->document()->toRawText();

  const QTextCharFormat atLine = formatAt(footer, 1);
  EXPECT_TRUE(isBold(atLine));
  EXPECT_EQ(atLine.fontPointSize(), 14);
  EXPECT_EQ(atLine.foreground().color(), QColor(Qt::black));

  const QTextCharFormat variable = formatAt(footer, int(plain.indexOf("<#Itog")) + 3);
  EXPECT_TRUE(isBold(variable));
  EXPECT_EQ(variable.foreground().color(), QColor(Qt::blue));
  EXPECT_EQ(variable.fontPointSize(), 14);  // on the bold line

  const QTextCharFormat middleAt = formatAt(footer, int(plain.indexOf("@mid")));
  EXPECT_FALSE(isBold(middleAt));
  EXPECT_EQ(middleAt.fontPointSize(), 10);
  const QTextCharFormat plainVariable = formatAt(footer, int(plain.indexOf("<#DSCPr")));
  EXPECT_TRUE(isBold(plainVariable));
  EXPECT_EQ(plainVariable.foreground().color(), QColor(Qt::blue));
  EXPECT_EQ(plainVariable.fontPointSize(), 10);

  EXPECT_EQ(formatAt(footer, int(plain.indexOf("@later")) + 2).fontPointSize(), 14);
  const QTextCharFormat unclosed = formatAt(footer, int(plain.indexOf("<#Kassir")) + 3);
  EXPECT_NE(unclosed.foreground().color(), QColor(Qt::blue));

  // Display only: the text is untouched.
  EXPECT_EQ(form.Parts().footer, text);
}

TEST_F(CustomCheckFormTest, ReloadsOnlyWhenTheFormattingDiffersAndKeepsTheSelection) {
  QTextEdit* head = editor("reCheckHead");
  form.SetParts({"", "Итог <#Itog text", "", ""});
  QSignalSpy changes(head->document(), &QTextDocument::contentsChange);

  form.reCheckHeadChange(head);
  EXPECT_EQ(changes.count(), 0) << "already highlighted: nothing to reload";

  QTextCursor selection(head->document());
  selection.setPosition(0);
  selection.setPosition(4, QTextCursor::KeepAnchor);
  head->setTextCursor(selection);
  QTextCursor elsewhere(head->document());
  elsewhere.setPosition(11);
  elsewhere.insertText(">");  // closes the variable: one text change, one reload
  EXPECT_EQ(changes.count(), 2);
  EXPECT_EQ(formatAt(head, 6).foreground().color(), QColor(Qt::blue));
  EXPECT_EQ(head->textCursor().anchor(), 0);
  EXPECT_EQ(head->textCursor().position(), 4);

  changes.clear();
  form.reCheckHeadChange(head);
  EXPECT_EQ(changes.count(), 0);
  // The hidden editor keeps one copy, not one per change.
  EXPECT_LE(editor("RichEdit2")->findChildren<QTextDocument*>(Qt::FindDirectChildrenOnly).size(), 1);
}

TEST_F(CustomCheckFormTest, OneUndoTakesBackTheTypedCharacterAndItsHighlighting) {
  QTextEdit* head = editor("reCheckHead");
  form.SetParts({"", "<#Itog", "", ""});
  putCaret(head, 0, 6);
  QTest::keyClick(head, Qt::Key_Greater, Qt::ShiftModifier);
  ASSERT_EQ(form.Parts().head, "<#Itog>");
  ASSERT_EQ(formatAt(head, 2).foreground().color(), QColor(Qt::blue));

  QTest::keyClick(head, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(form.Parts().head, "<#Itog");
  EXPECT_NE(formatAt(head, 2).foreground().color(), QColor(Qt::blue));
}

TEST_F(CustomCheckFormTest, BlankTextIsLeftAlone) {
  QTextEdit* klishe = editor("reCheckKlishe");
  form.SetParts({"  \r\n ", "", "", ""});
  QSignalSpy changes(klishe->document(), &QTextDocument::contentsChange);
  form.reCheckHeadChange(klishe);
  EXPECT_EQ(changes.count(), 0);
  EXPECT_EQ(form.Parts().klishe, "  \r\n ");
}

TEST_F(CustomCheckFormTest, RepeatVariablesGoIntoTheRepeatingPartWhicheverEditorIsCurrent) {
  QTextEdit* footer = editor("reCheckFooter");
  QTextEdit* repeat = editor("reCheckRepeat");
  putCaret(repeat, 1, 1);  // before " <#Kod(13)>"'s "<"
  putCaret(footer, 0, 0);
  ASSERT_EQ(form.CurrentEditor(), footer);
  const std::string footerBefore = form.Parts().footer;

  click("lbKod");
  click("lbExampleTovar");
  EXPECT_EQ(form.Parts().repeat,
            "<#Line( 2.0)>.<#Tovar(33)>\r\n <#Kod><#Tovar(20)><#Kod(13)> <#Count(5.1)>x<#Price(7.2 )><#Summa(8.2)>");
  EXPECT_EQ(form.Parts().footer, footerBefore);
  EXPECT_EQ(form.CurrentEditor(), footer);
}

TEST_F(CustomCheckFormTest, OtherVariablesGoIntoTheCurrentEditorBeforeItsSelection) {
  QTextEdit* footer = editor("reCheckFooter");
  form.SetParts({"", "", "", "Итого: 5"});
  footer->setFocus();
  QTextCursor selection(footer->document());
  selection.setPosition(7);
  selection.setPosition(5, QTextCursor::KeepAnchor);  // ": " selected backwards
  footer->setTextCursor(selection);

  click("lbItog");
  EXPECT_EQ(form.Parts().footer, "Итого<#Itog>: 5");
  click("lbExampleCurDateTime");
  EXPECT_EQ(form.Parts().footer, "Итого<#Itog><#CurDateTime(dd.mm.yy)>: 5");
  EXPECT_EQ(footer->textCursor().position(), 36);
}

TEST_F(CustomCheckFormTest, BoldLineLabelTogglesTheMarkerOfTheCaretLine) {
  QTextEdit* footer = editor("reCheckFooter");
  form.SetParts({"", "", "", "first\r\nКАССИР\r\n@ИТОГО"});
  putCaret(footer, 1, 3);

  click("lbBoldLine");
  EXPECT_EQ(form.Parts().footer, "first\r\n@КАССИР\r\n@ИТОГО");
  EXPECT_EQ(formatAt(footer, 9).fontPointSize(), 14);
  click("lbBoldLine");
  EXPECT_EQ(form.Parts().footer, "first\r\nКАССИР\r\n@ИТОГО");
  EXPECT_EQ(formatAt(footer, 8).fontPointSize(), 10);

  putCaret(footer, 2, 0);
  click("lbBoldLine");
  EXPECT_EQ(form.Parts().footer, "first\r\nКАССИР\r\nИТОГО");
}

TEST_F(CustomCheckFormTest, CaptionClicksShowTheirHints) {
  click("lbCaptionKlishe");
  click("lbCaptionHead");
  ASSERT_EQ(messages.messages().size(), 2u);
  const TMessage& klishe = messages.messages()[0];
  EXPECT_EQ(klishe.caption, "Внимание!");
  EXPECT_EQ(klishe.icon, TMsgIcon::Information);
  EXPECT_EQ(klishe.text,
            "Заполняйте клише только в том случае,\r\nесли касса не поддерживает печать клише после\r\n"
            "печати произвольного документа.\r\nПОМНИТЕ, что касса печатает клише следующего\r\n"
            "чека ЗАРАНЕЕ! Задайте необходимое количество\r\nпустых строк так, чтобы отрезка чека "
            "производилась\r\nв правильном месте.");
  EXPECT_EQ(messages.messages()[1].text, "");  // the header caption has no hint
  EXPECT_EQ(form.Parts(), SplitTemplate(DefaultCustomCheck()));
}

TEST_F(CustomCheckFormTest, EscapeInAnEditorMovesTheFocusToCancel) {
  QTextEdit* repeat = editor("reCheckRepeat");
  putCaret(repeat, 0, 0);
  QTest::keyClick(repeat, Qt::Key_Escape);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(QApplication::focusWidget(), form.findChild<QPushButton*>("btnCancel"));

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Rejected);
}

TEST_F(CustomCheckFormTest, CursorIndicatorShowsCaretLineColumnAndLineLength) {
  QTextEdit* footer = editor("reCheckFooter");
  putCaret(footer, 1, 4);  // "@ИТОГО:  <#Itog(10.2)>р." is 24 characters
  form.Timer1Timer();
  EXPECT_EQ(label("lbCurLine")->text(), "2");
  EXPECT_EQ(label("lbCurChar")->text(), "5");
  EXPECT_EQ(label("lbCharCount")->text(), "24");

  putCaret(editor("reCheckKlishe"), 0, 0);
  QTimer* timer = form.findChild<QTimer*>("Timer1");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 200);
  QSignalSpy ticks(timer, &QTimer::timeout);
  ASSERT_TRUE(ticks.wait(2000));
  EXPECT_EQ(label("lbCharCount")->text(), "24");  // "       <#OrgName> <#AZS>"
  EXPECT_EQ(label("lbCurLine")->text(), "1");
}

// ---------------------------------------------------------------------------
// Template files

class CustomCheckFileTest : public CustomCheckFormTest {
 protected:
  TempDir dir;
  ScriptedFileDialogs files;
};

TEST_F(CustomCheckFileTest, SavedTemplateIsWindows1251LinesAndLoadsBack) {
  const std::string path = dir.file("CustomCheck.txt");
  files.Choose(path);
  form.findChild<QPushButton*>("btnSave")->click();

  ASSERT_EQ(files.requests().size(), 1u);
  const TFileDialogRequest& save = files.requests()[0];
  EXPECT_EQ(save.kind, TFileDialogKind::Save);
  EXPECT_EQ(save.title, "Введите имя файла");
  EXPECT_EQ(save.filter, "Текстовый файл (*.txt)|*.txt|Все файлы (*.*)|*.*");
  EXPECT_EQ(save.fileName, "CustomCheck.txt");
  EXPECT_EQ(save.defaultExt, "txt");
  EXPECT_TRUE(save.overwritePrompt);
  EXPECT_EQ(ReadFileBytes(path), Utf8ToCp1251(DefaultCustomCheck()));  // it ends in CR LF already
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0].text, "Шаблон произвольного чека сохранен в файле:\r\n\r\n" + path);
  EXPECT_EQ(messages.messages()[0].caption, "Информация");
  EXPECT_EQ(messages.messages()[0].icon, TMsgIcon::Information);

  form.SetParts({"x", "y", "z", "w"});
  files.Choose(path);
  form.findChild<QPushButton*>("btnLoad")->click();
  EXPECT_EQ(files.requests()[1].kind, TFileDialogKind::Open);
  EXPECT_EQ(files.requests()[1].title, "Выберите файл с шаблоном произвольного чека");
  EXPECT_TRUE(files.requests()[1].fileMustExist);
  EXPECT_EQ(JoinTemplate(form.Parts()), DefaultCustomCheck());
}

TEST_F(CustomCheckFileTest, CancelledChoosersDoNothing) {
  files.Cancel();
  files.Cancel();
  form.findChild<QPushButton*>("btnSave")->click();
  form.findChild<QPushButton*>("btnLoad")->click();
  EXPECT_EQ(files.requests().size(), 2u);
  EXPECT_TRUE(messages.messages().empty());
  EXPECT_EQ(form.Parts(), SplitTemplate(DefaultCustomCheck()));
}

TEST_F(CustomCheckFileTest, FilesThatCannotBeReadOrWrittenAreReportedAndChangeNothing) {
  const std::string missing = dir.file("missing.txt");
  files.Choose(missing);
  form.findChild<QPushButton*>("btnLoad")->click();
  files.Choose(dir.file("no-such-folder/t.txt"));
  form.findChild<QPushButton*>("btnSave")->click();
  files.Choose(dir.path());  // a folder is no file to write
  form.findChild<QPushButton*>("btnSave")->click();

  ASSERT_EQ(messages.messages().size(), 3u);
  for (const TMessage& message : messages.messages()) {
    EXPECT_EQ(message.caption, "Ошибка");
    EXPECT_EQ(message.icon, TMsgIcon::Exclamation);
  }
  EXPECT_THAT(messages.messages()[0].text, ::testing::HasSubstr("\"" + missing + "\""));
  EXPECT_THAT(messages.messages()[1].text, ::testing::HasSubstr("no-such-folder"));
  EXPECT_EQ(form.Parts(), SplitTemplate(DefaultCustomCheck()));
  EXPECT_TRUE(form.isVisible());
}

// ---------------------------------------------------------------------------
// EditCustomCheck, with the modal dialog answered from inside its own loop

// Runs `answer` on the dialog once it is shown modally.
void WhenModal(std::function<void(TCustomCheckForm&)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* form = qobject_cast<TCustomCheckForm*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    answer(*form);
  });
}

TEST(EditCustomCheck, ConfirmingJoinsTheEditedParts) {
  std::string checkTemplate = "Клише#Delim1#Заголовок";
  WhenModal([](TCustomCheckForm& form) {
    TCustomCheckParts parts = form.Parts();
    EXPECT_EQ(parts, (TCustomCheckParts{"Клише", "Заголовок", "", ""}));
    form.findChild<QTextEdit*>("reCheckRepeat")->setPlainText("<#Tovar>");
    QTest::mouseClick(form.findChild<QPushButton*>("BitBtn3"), Qt::LeftButton);
  });
  EXPECT_TRUE(EditCustomCheck(checkTemplate));
  EXPECT_EQ(checkTemplate, "Клише#Delim1#Заголовок#Delim2#<#Tovar>#Delim3#");
}

TEST(EditCustomCheck, CancelAndEscapeLeaveTheTemplateUnchanged) {
  const std::string original = DefaultCustomCheck();
  std::string checkTemplate = original;
  WhenModal([](TCustomCheckForm& form) {
    form.findChild<QTextEdit*>("reCheckHead")->setPlainText("changed");
    QTest::mouseClick(form.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
  });
  EXPECT_FALSE(EditCustomCheck(checkTemplate));
  EXPECT_EQ(checkTemplate, original);

  WhenModal([](TCustomCheckForm& form) {
    form.findChild<QTextEdit*>("reCheckHead")->setPlainText("changed");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  });
  EXPECT_FALSE(EditCustomCheck(checkTemplate));
  EXPECT_EQ(checkTemplate, original);
}

// The window that opened the editor has the keyboard again once it closes.
TEST(EditCustomCheck, TheKeyboardGoesBackToTheOpener) {
  test::OpenerWindow opener;
  ASSERT_NO_FATAL_FAILURE(opener.ShowActive());
  std::string checkTemplate = DefaultCustomCheck();
  WhenModal(
      [](TCustomCheckForm& form) { QTest::mouseClick(form.findChild<QPushButton*>("btnCancel"), Qt::LeftButton); });
  EXPECT_FALSE(EditCustomCheck(checkTemplate));
  opener.ExpectHasTheKeyboard();
}

}  // namespace
}  // namespace selvo
