// The host's window application: the QApplication that the editor and the
// goods selection window run in, with Qt's own texts in Russian.
#pragma once

#include <iosfwd>
#include <memory>

class QApplication;

namespace selvo::host {

class THostApplication {
 public:
  // Opens the display. When it does not answer, says so in one line on err
  // and ends the process with exit code 1: Qt itself would abort it. What
  // else Qt says while the display opens is passed on to err afterwards.
  explicit THostApplication(std::ostream& err);
  ~THostApplication();
  THostApplication(const THostApplication&) = delete;
  THostApplication& operator=(const THostApplication&) = delete;

  QApplication& Application() { return *app_; }

 private:
  int argc_ = 1;
  char name_[11] = "selvo-host";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

}  // namespace selvo::host
