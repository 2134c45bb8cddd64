// How the module talks to the operator: one small service that shows a
// message box and answers the button pressed. The library installs a Qt
// implementation; tests install a scripted one. Without any, or in a process
// without a GUI application, messages that only inform go to standard error
// and questions are refused with EMessageRefused.
#pragma once

#include <string>

#include "selvo/Errors.h"

namespace selvo {

enum class TMsgIcon { None, Information, Exclamation, Question, Warning, Error };
enum class TMsgButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

struct TMessage {
  std::string caption;
  std::string text;
  TMsgIcon icon = TMsgIcon::None;
  TMsgButtons buttons = TMsgButtons::OK;
  bool topmost = false;
};

// A question that cannot be put to anybody (no GUI, no answer queued).
class EMessageRefused : public Exception {
  using Exception::Exception;
};

class IMessageService {
 public:
  virtual ~IMessageService() = default;
  // Shows the message and answers the button pressed.
  virtual TModalResult Show(const TMessage& message) = 0;
};

// Writes informative messages to standard error; refuses questions.
class TConsoleMessageService : public IMessageService {
 public:
  TModalResult Show(const TMessage& message) override;
};

// The service in use. SetMessageService does not take ownership; nullptr
// restores the console service.
IMessageService& Messages();
void SetMessageService(IMessageService* service);

// Shorthand for Messages().Show(...).
TModalResult ShowMessageBox(const std::string& text, const std::string& caption, TMsgIcon icon,
                            TMsgButtons buttons = TMsgButtons::OK);

}  // namespace selvo
