#include "platform/QtFormKit.h"

#include <QAction>
#include <QBoxLayout>
#include <QColor>
#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <utility>

#include "platform/FormTexts.h"

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

QAction* AddWindowShortcut(QWidget* window, const char* name, const QList<QKeySequence>& keys,
                           std::function<void()> handler) {
  auto* action = new QAction(window);
  action->setObjectName(QString::fromUtf8(name));
  action->setShortcuts(keys);
  action->setShortcutContext(Qt::WindowShortcut);
  QObject::connect(action, &QAction::triggered, window, std::move(handler));
  window->addAction(action);
  return action;
}

void TBoxItem::AddTo(QBoxLayout* box) const {
  if (widget_)
    box->addWidget(widget_, stretch_, alignment_);
  else if (layout_)
    box->addLayout(layout_, stretch_);
  else if (spacing_ >= 0)
    box->addSpacing(spacing_);
  else
    box->addStretch(stretch_);
}

void AddItems(QBoxLayout* box, std::initializer_list<TBoxItem> items) {
  for (const TBoxItem& item : items) item.AddTo(box);
}

QGridLayout* MakeGrid(int horizontalSpacing, int verticalSpacing) {
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(horizontalSpacing);
  grid->setVerticalSpacing(verticalSpacing);
  return grid;
}

QGridLayout* MakeGrid(QWidget* owner, const QMargins& margins, int horizontalSpacing, int verticalSpacing) {
  auto* grid = new QGridLayout(owner);
  grid->setContentsMargins(margins);
  grid->setHorizontalSpacing(horizontalSpacing);
  grid->setVerticalSpacing(verticalSpacing);
  return grid;
}

QLabel* AddLabelledRow(QGridLayout* grid, int row, const char* caption, QWidget* field, int columnSpan,
                       Qt::Alignment fieldAlignment) {
  QLabel* label = MakeLabel(field->parentWidget(), caption);
  grid->addWidget(label, row, 0);
  grid->addWidget(field, row, 1, 1, columnSpan, fieldAlignment);
  return label;
}

TOkCancelButtons MakeOkCancel(QWidget* parent, const char* okName, const char* cancelName) {
  return {MakeNamed<QPushButton>(parent, okName, kOkText, kOkHint),
          MakeNamed<QPushButton>(parent, cancelName, kCancelText, kCancelHint)};
}

void AddOkCancelRow(QBoxLayout* row, std::initializer_list<TBoxItem> leading, const TOkCancelButtons& buttons) {
  AddItems(row, leading);
  row->addStretch(1);
  row->addWidget(buttons.ok);
  row->addWidget(buttons.cancel);
}

}  // namespace selvo
