#include "platform/QtSpinEdit.h"

#include <QLineEdit>
#include <QRegularExpression>

#include "platform/FormatSettings.h"

namespace selvo {

TSpinEdit::TSpinEdit(QWidget* parent) : QDoubleSpinBox(parent) {
  setDecimals(10);
  setRange(-1e15, 1e15);
  setSingleStep(1);
  setKeyboardTracking(false);
}

double TSpinEdit::Value() {
  interpretText();
  return value();
}

void TSpinEdit::SetValue(double value) {
  setValue(value);
  selectAll();
}

QString TSpinEdit::textFromValue(double value) const {
  return QString::fromStdString(FloatToStr(value, ModuleFormatSettings()));
}

double TSpinEdit::valueFromText(const QString& text) const {
  return TryStrToFloat(text.toStdString(), ModuleFormatSettings()).value_or(0);
}

QValidator::State TSpinEdit::validate(QString& text, int&) const {
  const std::string typed = text.toStdString();
  if (const auto value = TryStrToFloat(typed, ModuleFormatSettings()))
    return *value >= minimum() && *value <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
  const QString sep = QRegularExpression::escape(QString(QChar::fromLatin1(ModuleFormatSettings().DecimalSeparator)));
  static const QString pattern = QStringLiteral("^ *[+-]?[0-9]*(%1[0-9]*)?([eE][+-]?[0-9]*)? *$");
  return QRegularExpression(pattern.arg(sep)).match(text).hasMatch() ? QValidator::Intermediate : QValidator::Invalid;
}

}  // namespace selvo
