// The Qt message service in a process without a QApplication. This file has
// its own main (it takes precedence over the QApplication main of the window
// tests' library), so no GUI application object exists unless a test makes one.
#include "platform/QtMessageService.h"

#include <QCoreApplication>

#include <gmock/gmock.h>

namespace selvo {
namespace {

using ::testing::HasSubstr;

TMessage Question() {
  TMessage m;
  m.caption = "Подтверждение";
  m.text = "Вид оплаты \"Карта\" уже есть.";
  m.icon = TMsgIcon::Question;
  m.buttons = TMsgButtons::YesNoCancel;
  return m;
}

TMessage Information() {
  TMessage m;
  m.caption = "Сообщение";
  m.text = "Импорт видов оплат завершен!";
  m.icon = TMsgIcon::Information;
  return m;
}

// Informs on standard error, refuses questions with a message naming them.
void ExpectConsoleBehaviour(TQtMessageService& service) {
  try {
    service.Show(Question());
    ADD_FAILURE() << "a question was answered without anybody to ask";
  } catch (const EMessageRefused& e) {
    EXPECT_THAT(e.Message(), HasSubstr("Подтверждение"));
    EXPECT_THAT(e.Message(), HasSubstr("Вид оплаты \"Карта\" уже есть."));
  }
  TMessage okCancel = Question();
  okCancel.buttons = TMsgButtons::OKCancel;
  EXPECT_THROW(service.Show(okCancel), EMessageRefused);

  ::testing::internal::CaptureStderr();
  const TModalResult answer = service.Show(Information());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Сообщение: Импорт видов оплат завершен!\n");
  EXPECT_EQ(answer, TModalResult::mrOk);
}

TEST(QtMessageServiceHeadless, WithoutAnyApplicationObject) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  TQtMessageService service;
  ExpectConsoleBehaviour(service);
}

TEST(QtMessageServiceHeadless, WithANonWidgetApplication) {
  int argc = 1;
  char name[] = "headless";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  TQtMessageService service;
  ExpectConsoleBehaviour(service);
}

}  // namespace
}  // namespace selvo

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
