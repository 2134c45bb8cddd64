// A spin edit for fractional values (sums of money): the shortest number
// text in the module's format settings, arrows step by one.
#pragma once

#include <QDoubleSpinBox>

namespace selvo {

class TSpinEdit : public QDoubleSpinBox {
  Q_OBJECT

 public:
  // Range -1E15 .. 1E15, values kept to 10 decimals.
  explicit TSpinEdit(QWidget* parent = nullptr);
  // The value after reading what is typed; 0 for text that is no number.
  double Value();
  void SetValue(double value);

  QString textFromValue(double value) const override;
  double valueFromText(const QString& text) const override;
  QValidator::State validate(QString& text, int& pos) const override;
};

}  // namespace selvo
