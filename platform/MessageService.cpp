#include "platform/MessageService.h"

#include <cstdio>

namespace selvo {
namespace {

TConsoleMessageService gConsole;
IMessageService* gService = nullptr;

}  // namespace

TModalResult TConsoleMessageService::Show(const TMessage& message) {
  if (message.buttons != TMsgButtons::OK) {
    throw EMessageRefused("Нет окна для вопроса оператору: " + message.caption + ": " + message.text);
  }
  std::fprintf(stderr, "%s: %s\n", message.caption.c_str(), message.text.c_str());
  std::fflush(stderr);
  return TModalResult::mrOk;
}

IMessageService& Messages() { return gService ? *gService : gConsole; }

void SetMessageService(IMessageService* service) { gService = service; }

TModalResult ShowMessageBox(const std::string& text, const std::string& caption, TMsgIcon icon, TMsgButtons buttons) {
  TMessage message;
  message.caption = caption;
  message.text = text;
  message.icon = icon;
  message.buttons = buttons;
  return Messages().Show(message);
}

}  // namespace selvo
