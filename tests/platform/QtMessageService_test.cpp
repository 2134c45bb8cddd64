// The Qt message service drives real message boxes: each test schedules an
// action that finds the box once it is up, records what it shows and presses
// a button with Qt Test, then checks the answer.
#include "platform/QtMessageService.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <thread>

#include <gmock/gmock.h>

namespace selvo {
namespace {

// What a box showed to the operator.
struct TSeenBox {
  bool shown = false;
  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  QWidget* parent = nullptr;
  bool staysOnTop = false;
  Qt::TextFormat format = Qt::AutoText;
};

// Polls for the next modal message box and hands it to `act`, which must
// close it. Gives up after a few seconds so a missing box cannot hang the run.
void WhenBoxShown(TSeenBox& seen, std::function<void(QMessageBox&)> act) {
  auto* timer = new QTimer(qApp);
  auto attempts = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, attempts, &seen, act] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) {
      if (++*attempts > 500) timer->deleteLater();
      return;
    }
    timer->stop();
    timer->deleteLater();
    seen.shown = true;
    seen.caption = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.defaultButton = box->standardButton(box->defaultButton());
    seen.parent = box->parentWidget();
    seen.staysOnTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    seen.format = box->textFormat();
    act(*box);
  });
  timer->start(10);
}

void Click(TSeenBox& seen, QMessageBox::StandardButton which) {
  WhenBoxShown(seen, [which](QMessageBox& box) {
    QAbstractButton* button = box.button(which);
    if (button)
      QTest::mouseClick(button, Qt::LeftButton);
    else
      box.done(QMessageBox::NoButton);  // the check on `buttons` reports it
  });
}

TMessage Message(TMsgIcon icon, TMsgButtons buttons) {
  TMessage m;
  m.caption = "Подтверждение";
  m.text = "Вид оплаты \"Карта\" уже есть.\r\nЗагрузить?";
  m.icon = icon;
  m.buttons = buttons;
  return m;
}

struct TBoxCase {
  const char* name;
  TMsgIcon icon;
  TMsgButtons buttons;
  QMessageBox::StandardButton press;
  TModalResult answer;
  QMessageBox::Icon qtIcon;
  QMessageBox::StandardButtons qtButtons;
};

class QtMessageBoxCase : public ::testing::TestWithParam<TBoxCase> {};

TEST_P(QtMessageBoxCase, ShowsIconButtonsAndAnswersThePressedButton) {
  const TBoxCase& c = GetParam();
  TQtMessageService service;
  TSeenBox seen;
  Click(seen, c.press);
  const TModalResult answer = service.Show(Message(c.icon, c.buttons));

  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.caption, QString::fromUtf8("Подтверждение"));
  EXPECT_EQ(seen.text, QString::fromUtf8("Вид оплаты \"Карта\" уже есть.\r\nЗагрузить?"));
  EXPECT_EQ(seen.icon, c.qtIcon);
  EXPECT_EQ(seen.buttons, c.qtButtons);
  EXPECT_EQ(answer, c.answer);
}

constexpr auto Ok = QMessageBox::Ok, Cancel = QMessageBox::Cancel, Yes = QMessageBox::Yes, No = QMessageBox::No;

INSTANTIATE_TEST_SUITE_P(IconsAndButtons, QtMessageBoxCase,
                         ::testing::Values(TBoxCase{"InformationOk", TMsgIcon::Information, TMsgButtons::OK, Ok,
                                                    TModalResult::mrOk, QMessageBox::Information, Ok},
                                           TBoxCase{"ExclamationIsWarning", TMsgIcon::Exclamation, TMsgButtons::OK, Ok,
                                                    TModalResult::mrOk, QMessageBox::Warning, Ok},
                                           TBoxCase{"WarningOkCancelCancel", TMsgIcon::Warning, TMsgButtons::OKCancel,
                                                    Cancel, TModalResult::mrCancel, QMessageBox::Warning, Ok | Cancel},
                                           TBoxCase{"ErrorIsCritical", TMsgIcon::Error, TMsgButtons::OKCancel, Ok,
                                                    TModalResult::mrOk, QMessageBox::Critical, Ok | Cancel},
                                           TBoxCase{"QuestionYes", TMsgIcon::Question, TMsgButtons::YesNoCancel, Yes,
                                                    TModalResult::mrYes, QMessageBox::Question, Yes | No | Cancel},
                                           TBoxCase{"QuestionNo", TMsgIcon::Question, TMsgButtons::YesNoCancel, No,
                                                    TModalResult::mrNo, QMessageBox::Question, Yes | No | Cancel},
                                           TBoxCase{"QuestionCancel", TMsgIcon::Question, TMsgButtons::YesNoCancel,
                                                    Cancel, TModalResult::mrCancel, QMessageBox::Question,
                                                    Yes | No | Cancel},
                                           TBoxCase{"YesNoNo", TMsgIcon::None, TMsgButtons::YesNo, No,
                                                    TModalResult::mrNo, QMessageBox::NoIcon, Yes | No}),
                         [](const ::testing::TestParamInfo<TBoxCase>& box) { return std::string(box.param.name); });

TEST(QtMessageService, EscapeAnswersCancelOrNoWhenThereIsNoCancel) {
  TQtMessageService service;
  const auto pressEscape = [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); };

  TSeenBox seen;
  WhenBoxShown(seen, pressEscape);
  EXPECT_EQ(service.Show(Message(TMsgIcon::Question, TMsgButtons::YesNoCancel)), TModalResult::mrCancel);
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.defaultButton, QMessageBox::Yes);

  TSeenBox seenYesNo;
  WhenBoxShown(seenYesNo, pressEscape);
  EXPECT_EQ(service.Show(Message(TMsgIcon::Question, TMsgButtons::YesNo)), TModalResult::mrNo);
  ASSERT_TRUE(seenYesNo.shown);
}

TEST(QtMessageService, BoxIsOwnedByTheActiveWindowAndTopmostOnRequest) {
  TQtMessageService service;
  {
    TSeenBox seen;
    Click(seen, Ok);
    service.Show(Message(TMsgIcon::Information, TMsgButtons::OK));
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.parent, nullptr);
    EXPECT_FALSE(seen.staysOnTop);
  }

  QWidget window;
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  TSeenBox seen;
  Click(seen, Ok);
  TMessage message = Message(TMsgIcon::Information, TMsgButtons::OK);
  message.topmost = true;
  service.Show(message);
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.parent, &window);
  EXPECT_TRUE(seen.staysOnTop);
}

TEST(QtMessageService, OffTheGuiThreadFallsBackToTheConsole) {
  TQtMessageService service;
  bool refused = false;
  TModalResult informed = TModalResult::mrNone;
  ::testing::internal::CaptureStderr();
  std::thread worker([&] {
    try {
      service.Show(Message(TMsgIcon::Question, TMsgButtons::YesNoCancel));
    } catch (const EMessageRefused&) {
      refused = true;
    }
    informed = service.Show(Message(TMsgIcon::Information, TMsgButtons::OK));
  });
  worker.join();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(refused);
  EXPECT_EQ(informed, TModalResult::mrOk);
  EXPECT_THAT(err, ::testing::HasSubstr("Подтверждение: Вид оплаты \"Карта\" уже есть."));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(QtMessageService, InstalledServiceShowsTheModuleMessages) {
  InstallQtMessageService();
  EXPECT_NE(dynamic_cast<TQtMessageService*>(&Messages()), nullptr);

  TSeenBox seen;
  Click(seen, No);
  const TModalResult answer =
      ShowMessageBox("Удалить <#Kassir(16)>?", "Внимание!", TMsgIcon::Exclamation, TMsgButtons::YesNoCancel);
  SetMessageService(nullptr);  // back to the console
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.caption, QString::fromUtf8("Внимание!"));
  EXPECT_EQ(seen.text, QString::fromUtf8("Удалить <#Kassir(16)>?"));
  EXPECT_EQ(seen.format, Qt::PlainText) << "template tags such as <#Kassir(16)> are no markup";
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_EQ(answer, TModalResult::mrNo);
}

}  // namespace
}  // namespace selvo
