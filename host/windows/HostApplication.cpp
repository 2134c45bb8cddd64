#include "host/windows/HostApplication.h"

#include <QApplication>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/session/SaleJson.h"
#include "platform/QtTranslation.h"

namespace selvo::host {
namespace {

constexpr const char* kDisplayUnreachable = "дисплей для окон редактора не отвечает";

// Qt ends the process (abort) when the display it is given does not answer.
// While the application opens its display, Qt's messages are held back; a
// fatal one becomes one line of the host's and exit code 1, the others are
// passed on once the display is open.
class TDisplayOpening {
 public:
  explicit TDisplayOpening(std::ostream& err) : err_(err) {
    current_ = this;
    previous_ = qInstallMessageHandler(&Handle);
  }
  ~TDisplayOpening() {
    qInstallMessageHandler(previous_);
    current_ = nullptr;
    for (const std::string& message : held_) err_ << message << "\n";
  }
  TDisplayOpening(const TDisplayOpening&) = delete;
  TDisplayOpening& operator=(const TDisplayOpening&) = delete;

 private:
  static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    TDisplayOpening& self = *current_;
    std::string message =
        (context.category && std::string_view(context.category) != "default" ? std::string(context.category) + ": "
                                                                             : std::string()) +
        text.toStdString();
    if (type != QtFatalMsg) {
      self.held_.push_back(std::move(message));
      return;
    }
    // The first thing Qt said names the cause ("could not connect to display").
    std::string reason = self.held_.empty() ? message : self.held_.front();
    reason = TerminalText(reason.substr(0, reason.find('\n')));
    const char* display = std::getenv("DISPLAY");
    self.err_ << "selvo-host: " << kDisplayUnreachable << " (DISPLAY=" << TerminalText(display ? display : "")
              << "): " << reason << std::endl;
    std::_Exit(1);
  }

  static inline TDisplayOpening* current_ = nullptr;
  std::ostream& err_;
  QtMessageHandler previous_;
  std::vector<std::string> held_;
};

}  // namespace

THostApplication::THostApplication(std::ostream& err) {
  {
    TDisplayOpening opening(err);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  QApplication::setApplicationDisplayName(QString());
  InstallQtTranslation(*app_);
}

THostApplication::~THostApplication() = default;

}  // namespace selvo::host
