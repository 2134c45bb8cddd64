// The module's message service on Qt: modal message boxes owned by the
// application's active window.
#pragma once

#include <memory>

#include "platform/MessageService.h"

class QMessageBox;
class QWidget;

namespace selvo {

// The box that TQtMessageService shows for `message`, not yet shown: its
// caption, plain text, icon, buttons, default and escape buttons.
std::unique_ptr<QMessageBox> MakeMessageBox(const TMessage& message, QWidget* parent);

// Shows each message in a QMessageBox whose parent is the active window, with
// the caption, text, icon and buttons of the message, and answers the button
// pressed (closing the box answers the box's escape button: Cancel, or No for
// Yes/No, or OK). `topmost` keeps the box above other windows. When the box
// has closed, the window that was active gets the activation and the
// keyboard focus back (platform/QtModalFocus.h), window manager or not.
//
// Without a QApplication (a headless process, or a GUI application without
// widgets), or when called off the GUI thread, it behaves as
// TConsoleMessageService: informative messages go to standard error and
// questions raise EMessageRefused.
class TQtMessageService : public IMessageService {
 public:
  TModalResult Show(const TMessage& message) override;

 private:
  TConsoleMessageService console_;
};

// Makes a process-wide TQtMessageService the module's message service. The
// object lives until the process (or the module) goes; calling it again
// changes nothing.
void InstallQtMessageService();

}  // namespace selvo
