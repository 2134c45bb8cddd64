#include "platform/QtCalcEdit.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QToolButton>

#include "platform/FormatSettings.h"

namespace selvo {
namespace {

struct TCalcKey {
  const char* text;
  const char* objectName;
  char key;
  int row, column;
};
// The decimal point's text is the module's separator, set when built.
constexpr TCalcKey kKeys[] = {
    {"C", "calcClear", 'C', 0, 0},    {"←", "calcBack", '\b', 0, 1}, {"/", "calcDivide", '/', 0, 3},
    {"7", "calc7", '7', 1, 0},        {"8", "calc8", '8', 1, 1},     {"9", "calc9", '9', 1, 2},
    {"*", "calcMultiply", '*', 1, 3}, {"4", "calc4", '4', 2, 0},     {"5", "calc5", '5', 2, 1},
    {"6", "calc6", '6', 2, 2},        {"-", "calcMinus", '-', 2, 3}, {"1", "calc1", '1', 3, 0},
    {"2", "calc2", '2', 3, 1},        {"3", "calc3", '3', 3, 2},     {"+", "calcPlus", '+', 3, 3},
    {"0", "calc0", '0', 4, 0},        {".", "calcPoint", '.', 4, 1}, {"=", "calcEquals", '=', 4, 2},
};

// Number texts while they are typed: sign, digits, one separator, exponent.
QRegularExpression NumberPattern() {
  const QString sep = QRegularExpression::escape(QString(QChar::fromLatin1(ModuleFormatSettings().DecimalSeparator)));
  return QRegularExpression(QStringLiteral("^ *[+-]?[0-9]*(%1[0-9]*)?([eE][+-]?[0-9]*)? *$").arg(sep));
}

}  // namespace

TCalcEdit::TCalcEdit(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  edit_ = new QLineEdit(this);
  edit_->setObjectName("edit");
  edit_->setValidator(new QRegularExpressionValidator(NumberPattern(), edit_));
  edit_->installEventFilter(this);
  button_ = new QToolButton(this);
  button_->setObjectName("dropDown");
  button_->setArrowType(Qt::DownArrow);
  button_->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(edit_, 1);
  layout->addWidget(button_);
  setFocusProxy(edit_);
  setFocusPolicy(Qt::StrongFocus);
  connect(button_, &QToolButton::clicked, this, &TCalcEdit::ShowCalculator);
  SetValue(0);
}

TCalcEdit::~TCalcEdit() = default;

double TCalcEdit::Value() const {
  return TryStrToFloat(edit_->text().toStdString(), ModuleFormatSettings()).value_or(0);
}

void TCalcEdit::SetValue(double value) {
  edit_->setText(QString::fromStdString(FloatToStr(value, ModuleFormatSettings())));
  edit_->selectAll();
}

TCalcPopup* TCalcEdit::Calculator() const { return popup_ && popup_->isVisible() ? popup_ : nullptr; }

void TCalcEdit::ShowCalculator() {
  if (!popup_) popup_ = new TCalcPopup(this);
  popup_->Start(Value());
  popup_->adjustSize();
  QPoint at = mapToGlobal(QPoint(0, height()));
  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    if (at.y() + popup_->height() > area.bottom()) at.setY(mapToGlobal(QPoint(0, 0)).y() - popup_->height());
    at.setX(std::max(area.left(), std::min(at.x(), area.right() - popup_->width())));
  }
  popup_->move(at);
  popup_->show();
  popup_->setFocus(Qt::PopupFocusReason);
}

void TCalcEdit::TakeResult(double value) {
  SetValue(value);
  if (popup_) popup_->hide();
  edit_->setFocus(Qt::PopupFocusReason);
}

bool TCalcEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const auto mods = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_F4 && mods == Qt::NoModifier) ||
        (key->key() == Qt::Key_Down && mods == Qt::AltModifier)) {
      ShowCalculator();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------

TCalcPopup::TCalcPopup(TCalcEdit* owner) : QFrame(owner, Qt::Popup), owner_(owner) {
  setObjectName("calculator");
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setFocusPolicy(Qt::StrongFocus);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setSpacing(2);
  display_ = new QLabel(this);
  display_->setObjectName("calcDisplay");
  display_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  display_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  display_->setMinimumWidth(120);
  grid->addWidget(display_, 0, 0, 1, 4);
  for (const TCalcKey& k : kKeys) {
    auto* button = new QToolButton(this);
    button->setObjectName(k.objectName);
    button->setText(k.key == '.' ? QString(QChar::fromLatin1(ModuleFormatSettings().DecimalSeparator))
                                 : QString::fromUtf8(k.text));
    button->setFocusPolicy(Qt::NoFocus);
    button->setMinimumSize(28, 24);
    const char key = k.key;
    connect(button, &QToolButton::clicked, this, [this, key] { Press(key); });
    grid->addWidget(button, k.row + 1, k.column);
  }
}

void TCalcPopup::Start(double value) {
  calculator_.Start(value);
  display_->setText(QString::fromStdString(calculator_.Display()));
}

void TCalcPopup::Press(char key) {
  const bool equals = key == '=';
  calculator_.Press(key);
  display_->setText(QString::fromStdString(calculator_.Display()));
  if (equals) {
    if (const auto value = calculator_.Value()) owner_->TakeResult(*value);
  }
}

void TCalcPopup::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      hide();
      owner_->LineEdit()->setFocus(Qt::PopupFocusReason);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter: Press('='); return;
    case Qt::Key_Backspace: Press('\b'); return;
    case Qt::Key_Delete: Press('C'); return;
    default: break;
  }
  const QString text = event->text();
  if (text.size() == 1 && text[0].unicode() < 128) {
    const char c = static_cast<char>(text[0].unicode());
    if (std::string_view("0123456789.,+-*/=Cc").find(c) != std::string_view::npos) {
      Press(c);
      return;
    }
  }
  QFrame::keyPressEvent(event);
}

}  // namespace selvo
