#include "platform/QtMessageService.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QThread>

#include "platform/QtModalFocus.h"

namespace selvo {
namespace {

QMessageBox::Icon ToQtIcon(TMsgIcon icon) {
  switch (icon) {
    case TMsgIcon::Information: return QMessageBox::Information;
    case TMsgIcon::Exclamation:
    case TMsgIcon::Warning: return QMessageBox::Warning;
    case TMsgIcon::Question: return QMessageBox::Question;
    case TMsgIcon::Error: return QMessageBox::Critical;
    case TMsgIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQtButtons(TMsgButtons buttons) {
  switch (buttons) {
    case TMsgButtons::OK: return QMessageBox::Ok;
    case TMsgButtons::OKCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case TMsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case TMsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

// The answer when the box is closed without a button (Esc, the title bar).
QMessageBox::StandardButton EscapeButton(TMsgButtons buttons) {
  switch (buttons) {
    case TMsgButtons::OK: return QMessageBox::Ok;
    case TMsgButtons::OKCancel:
    case TMsgButtons::YesNoCancel: return QMessageBox::Cancel;
    case TMsgButtons::YesNo: return QMessageBox::No;
  }
  return QMessageBox::Ok;
}

TModalResult ToModalResult(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok: return TModalResult::mrOk;
    case QMessageBox::Cancel: return TModalResult::mrCancel;
    case QMessageBox::Yes: return TModalResult::mrYes;
    case QMessageBox::No: return TModalResult::mrNo;
    default: return TModalResult::mrNone;
  }
}

bool CanShowWidgets() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app && QThread::currentThread() == app->thread();
}

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(const TMessage& message, QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(ToQtIcon(message.icon), QString::fromUtf8(message.caption),
                                           QString::fromUtf8(message.text), ToQtButtons(message.buttons), parent);
  // Operator texts quote receipt template tags ("<#Kassir(16)>"), which must
  // not be taken for markup.
  box->setTextFormat(Qt::PlainText);
  // The first button is the default one, as the operator expects of these boxes.
  switch (message.buttons) {
    case TMsgButtons::OK:
    case TMsgButtons::OKCancel: box->setDefaultButton(QMessageBox::Ok); break;
    case TMsgButtons::YesNo:
    case TMsgButtons::YesNoCancel: box->setDefaultButton(QMessageBox::Yes); break;
  }
  box->setEscapeButton(EscapeButton(message.buttons));
  if (message.topmost) box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
  return box;
}

TModalResult TQtMessageService::Show(const TMessage& message) {
  if (!CanShowWidgets()) return console_.Show(message);

  // The window the box belongs to takes the keyboard back when it closes.
  const TOpenerFocus opener;
  const std::unique_ptr<QMessageBox> shown = MakeMessageBox(message, QApplication::activeWindow());
  QMessageBox& box = *shown;
  box.exec();

  QAbstractButton* clicked = box.clickedButton();
  const QMessageBox::StandardButton pressed = clicked ? box.standardButton(clicked) : EscapeButton(message.buttons);
  return ToModalResult(pressed);
}

void InstallQtMessageService() {
  static TQtMessageService service;
  SetMessageService(&service);
}

}  // namespace selvo
