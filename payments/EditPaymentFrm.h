// The payment type dialog TEditPaymentForm and its entry point EditPayment.
// What it shows and stores is payments/EditPaymentU.h; this unit is the
// window over it.
#pragma once

#include <QDialog>
#include <QGroupBox>

#include <cstdint>
#include <string>
#include <vector>

#include "payments/EditPaymentU.h"
#include "payments/SelvoPaymentListU.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace selvo {

// Opens the dialog for adding (index < 0) or for the payment type at that
// position of the payment list. After a confirmation the "Payment" row is
// left in edit or append mode with the new values, for the caller's
// FillPaymentsList to store, and the Selvo.ini settings of the name are
// written; on cancel nothing is written. The dataset lookup's error, and
// EDatabaseError when the payment type's row is missing, come before the
// dialog opens; a value the dataset refuses on confirmation passes through.
void EditPayment(std::int32_t index, QWidget* parent = nullptr);

// A titled group of radio buttons laid out in columns; ItemIndex is the
// position of the checked one, -1 for none.
class TRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  TRadioGroup(const QString& title, const std::vector<const char*>& items, int columns, QWidget* parent);
  int ItemIndex() const;
  void SetItemIndex(int index);

 private:
  QButtonGroup* buttons_;
};

// The dialog. Controls carry the names below as object names, so tests find
// them with findChild. Event handlers are public, as the toolkit would call
// them.
class TEditPaymentForm : public QDialog {
  Q_OBJECT

 public:
  explicit TEditPaymentForm(QWidget* parent = nullptr);
  ~TEditPaymentForm() override;

  // Puts the content into the controls and completes the title.
  void Fill(const TPaymentEdit& edit);
  // The content as the controls now hold it.
  TPaymentEdit Edited() const;

  // Event handlers.
  void FormCreate();
  void FormDestroy();
  void BitBtn3Click();
  void btnCustomCheckClick();
  void cbBaseGsmVOSelect();
  void cbCheckSelect();
  void cbEnabledClick();
  void cbTermFixBonusClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  std::optional<std::int32_t> SelectedBaseCode() const;

  QLineEdit* edName = nullptr;
  TRadioGroup* rgType = nullptr;
  QComboBox* cbCheck = nullptr;
  QCheckBox* cbPrintSumma = nullptr;
  QDoubleSpinBox* edDiscount = nullptr;
  QCheckBox* cbPrintSkidka = nullptr;
  QCheckBox* cbTermUseDscCardValue = nullptr;
  QGroupBox* GroupBox9 = nullptr;
  QComboBox* cbItogPrec = nullptr;
  QDoubleSpinBox* edItogPrecLimit = nullptr;
  QGroupBox* gbTerminalProp = nullptr;
  QComboBox* cbTermNumber = nullptr;
  QSpinBox* seTermKoshel = nullptr;
  TRadioGroup* rgTermCalcType = nullptr;
  QCheckBox* cbTermFixBonus = nullptr;
  QComboBox* cbBaseGsmVO = nullptr;
  QSpinBox* seAddVOIndex = nullptr;
  QPushButton* btnCustomCheck = nullptr;
  QCheckBox* cbEnabled = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QPushButton* BitBtn4 = nullptr;

  // The base payment types of the fuel side, with their codes.
  std::vector<TGsmBaseKind> baseKinds_;
  TPaymentEdit edit_;
};

}  // namespace selvo
