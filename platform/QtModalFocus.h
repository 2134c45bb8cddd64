// The keyboard focus goes back to the window that opened a modal window.
//
// A window manager activates a modal window's opener when it closes; on an X
// display without one (a till in kiosk mode often has none) nobody does, and
// the opener's shortcuts stay dead until the operator clicks it. Every place
// that runs a modal window (the message boxes, the file choosers, the entry
// points that exec() a dialog) keeps a TOpenerFocus around the exec().
//
// Inline, so that the host's own windows use it without the module's UI
// library.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace selvo {

// Remembers the active window and its focus widget when made; when it goes
// (after the modal window has closed), activates and raises that window
// again and gives the remembered widget the focus. Nothing happens when no
// window was active, or when that window has gone or is hidden meanwhile; a
// focus widget that has gone, is hidden or disabled, or moved to another
// window leaves the focus to the window's own choice.
class TOpenerFocus {
 public:
  TOpenerFocus() : window_(QApplication::activeWindow()), focus_(window_ ? window_->focusWidget() : nullptr) {}
  ~TOpenerFocus() { Restore(); }
  TOpenerFocus(const TOpenerFocus&) = delete;
  TOpenerFocus& operator=(const TOpenerFocus&) = delete;

  // Gives the activation and the focus back now; once.
  void Restore() {
    QWidget* window = window_;
    QWidget* focus = focus_;
    window_ = nullptr;
    focus_ = nullptr;
    if (!window || !window->isVisible()) return;
    window->activateWindow();
    window->raise();
    if (focus && focus->window() == window && focus->isVisible() && focus->isEnabled())
      focus->setFocus(Qt::ActiveWindowFocusReason);
  }

  // The window that gets the activation back; null when none was active.
  QWidget* Opener() const { return window_; }

 private:
  QPointer<QWidget> window_;
  QPointer<QWidget> focus_;
};

}  // namespace selvo
