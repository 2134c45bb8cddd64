// A numeric edit with a drop-down calculator. Typing a number works as in any
// numeric field (the module's decimal separator); F4, Alt+Down or the arrow
// button opens the calculator, whose "=" (or Enter) puts its result into the
// edit and closes it. Escape or a click elsewhere closes it unchanged.
#pragma once

#include <QFrame>
#include <QWidget>

#include <memory>

#include "platform/Calculator.h"

class QLabel;
class QLineEdit;
class QToolButton;

namespace selvo {

class TCalcPopup;

class TCalcEdit : public QWidget {
  Q_OBJECT

 public:
  explicit TCalcEdit(QWidget* parent = nullptr);
  ~TCalcEdit() override;

  // The edit's number; 0 when its text is no number.
  double Value() const;
  // Shows the value as the shortest number text and selects it.
  void SetValue(double value);
  QLineEdit* LineEdit() const { return edit_; }

  // Opens the calculator under the edit, starting from the edit's value.
  void ShowCalculator();
  // The open calculator; null when it is closed.
  TCalcPopup* Calculator() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class TCalcPopup;
  void TakeResult(double value);

  QLineEdit* edit_ = nullptr;
  QToolButton* button_ = nullptr;
  TCalcPopup* popup_ = nullptr;
};

// The drop-down calculator. Its keys carry the object names "calc0".."calc9",
// "calcPoint", "calcPlus", "calcMinus", "calcMultiply", "calcDivide",
// "calcEquals", "calcClear", "calcBack"; the display is "calcDisplay".
class TCalcPopup : public QFrame {
  Q_OBJECT

 public:
  explicit TCalcPopup(TCalcEdit* owner);
  void Start(double value);
  // Presses a key of the calculator (see TCalculator::Press).
  void Press(char key);
  std::string DisplayText() const { return calculator_.Display(); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TCalcEdit* owner_;
  TCalculator calculator_;
  QLabel* display_ = nullptr;
};

}  // namespace selvo
