#include "platform/QtFormKit.h"

#include <QColor>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <utility>

namespace selvo {
namespace {

constexpr const char* kHintProperty = "selvoHint";

// Turns press-and-release over a label into a click.
class TLabelClickFilter : public QObject {
 public:
  TLabelClickFilter(QLabel* label, std::function<void()> action) : QObject(label), action_(std::move(action)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* label = static_cast<QLabel*>(watched);
    if (event->type() == QEvent::MouseButtonPress) {
      pressed_ = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    } else if (event->type() == QEvent::MouseButtonRelease) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const bool click =
          pressed_ && mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint());
      pressed_ = false;
      if (click && action_) action_();
      return click;
    }
    return false;
  }

 private:
  std::function<void()> action_;
  bool pressed_ = false;
};

}  // namespace

QFont FormFont(int pixelSize) {
  QFont font;
  font.setFamilies(
      {"MS Sans Serif", "Microsoft Sans Serif", "DejaVu Sans Condensed", "Liberation Sans Narrow", "DejaVu Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  return font;
}

QFont CourierFont(int pixelSize) {
  QFont font;
  font.setFamilies({"Courier New", "Liberation Mono", "DejaVu Sans Mono"});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(pixelSize);
  return font;
}

void SetHint(QWidget* widget, const std::string& hint) {
  const QString text = QString::fromStdString(hint);
  widget->setProperty(kHintProperty, text);
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  widget->setToolTip(shown);
}

std::string Hint(const QWidget* widget) { return widget->property(kHintProperty).toString().toStdString(); }

void OnLabelClick(QLabel* label, std::function<void()> action) {
  label->installEventFilter(new TLabelClickFilter(label, std::move(action)));
  label->setCursor(Qt::PointingHandCursor);
}

QLabel* MakeLabel(QWidget* parent, const std::string& text, const char* color, bool bold) {
  QString shown = QString::fromStdString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  auto* label = new QLabel(shown, parent);
  label->setTextFormat(Qt::PlainText);
  // Partial palette and font: the rest follows the window.
  if (color && *color) {
    QPalette palette;
    palette.setColor(QPalette::WindowText, QColor(color));
    label->setPalette(palette);
  }
  if (bold) {
    QFont font;
    font.setBold(true);
    label->setFont(font);
  }
  return label;
}

}  // namespace selvo
