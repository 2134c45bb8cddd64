// The discount card dialog TEditDiscountForm and its entry point
// ShowEditDiscountForm. Its checks and the writing of the card into the
// host's datasets are editor/EditDiscountU.h; this unit is the window over
// them, with the three list frames of editor/TimeThresholdFrameUnit.h.
#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>

#include "discounts/SelvoDiscountItemsU.h"
#include "editor/EditDiscountU.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace selvo {

class TTimePicker;
class TTimeThresholdFrame;

// Opens the dialog modally for the card at that position of the discount
// list (0 or more) or for a new card (negative), and returns when it closes.
// A confirmed card is already in "SelvoDiscountDS", "DiscountGoodsDS" and
// "ExclusionsDS" as pending changes; the caller reloads the discount list.
// The lookup error of "SelvoDiscountDS" and EListError for a position
// outside the list come before the dialog opens.
void ShowEditDiscountForm(std::int32_t position, QWidget* parent = nullptr);

// The dialog. Controls carry the names below as object names; event
// handlers are public, as the toolkit would call them.
class TEditDiscountForm : public QDialog {
  Q_OBJECT

 public:
  explicit TEditDiscountForm(QWidget* parent = nullptr);
  ~TEditDiscountForm() override;

  // Takes the card at that position of the discount list, or a new card
  // for a negative position, completes the title and shows the card.
  void Open(std::int32_t position);
  TDiscountItem& Card() { return *card_; }
  bool Changing() const { return changing_; }

  // Copies the controls into the card and checks it; shows the faults (or
  // another error) in one box and answers false when there are any.
  bool CheckCardIntegrity();
  // Writes the card into the datasets; shows the error and answers false
  // when that fails.
  bool SaveDataToBase();

  // Event handlers.
  void FormCreate();
  void cbDscTargetSelect();
  void btnChooseTargetClick();
  void rbAllWeekClick();
  void rbAllDayClick();
  void btnSaleDenyDscClick();
  void btnAddHolidaysClick();
  void btnOkClick();
  void btnCancelClick();
  // Ctrl+Enter: writes back any open cell editor and presses OK.
  void actnOkExecute();
  // Escape: writes back an open time or threshold cell editor and keeps the
  // dialog open; otherwise, a period editor open included, presses Cancel.
  void actnCancelExecute();

 private:
  void BuildControls();
  void ShowCard();
  TCardControls Controls() const;

  QComboBox* cbPayments = nullptr;
  QLineEdit* edComment = nullptr;
  QComboBox* cbDscTarget = nullptr;
  QPushButton* btnChooseTarget = nullptr;
  QGroupBox* gbWeekDays = nullptr;
  QRadioButton* rbAllWeek = nullptr;
  QRadioButton* rbChooseDays = nullptr;
  QListWidget* clbWeekDays = nullptr;
  QRadioButton* rbAllDay = nullptr;
  QRadioButton* rbTimePeriod = nullptr;
  TTimePicker* dtpBeginTime = nullptr;
  TTimePicker* dtpEndTime = nullptr;
  QPushButton* btnSaleDenyDsc = nullptr;
  TTimeThresholdFrame* TimeDscListFrame = nullptr;
  TTimeThresholdFrame* ThresholdDscListFrame = nullptr;
  QPushButton* btnAddHolidays = nullptr;
  TTimeThresholdFrame* ExclusionsFrame = nullptr;
  QCheckBox* cbDscEnabled = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;
  QAction* actnOk = nullptr;
  QAction* actnCancel = nullptr;

  bool changing_ = false;
  std::int32_t position_ = -1;
  TDiscountItem* card_ = nullptr;
  std::unique_ptr<TDiscountItem> ownCard_;  // a new card (add mode)
};

}  // namespace selvo
