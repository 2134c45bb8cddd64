#include "editor/EditDiscountFrm.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include "editor/TimeThresholdFrameUnit.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "platform/FormTexts.h"
#include "platform/MessageService.h"
#include "platform/QtDateTimePickers.h"
#include "platform/QtFormKit.h"
#include "platform/QtModalFocus.h"
#include "state/SelvoModuleU.h"
#include "support/QtProgressViewer.h"

namespace selvo {

// The operator-facing texts of the dialog, in one place (the checks' texts
// are in editor/EditDiscountU.h).
namespace {

constexpr const char* kTitle = "Настройка карты автоматических скидок";
constexpr const char* kTitleChanging = " [изменение]";
constexpr const char* kTitleAdding = " [добавление]";
constexpr const char* kPaymentLabel = "Имя вида оплаты:";
constexpr const char* kNameLabel = "Название карты:";
constexpr const char* kTargetLabel = "Действует на:";
constexpr const char* kTargetItems[] = {"Сумму чека", "Выбранные товары"};
constexpr const char* kChooseTarget = "Выбрать";
constexpr const char* kWeekGroup = "Дни недели действия скидки";
constexpr const char* kWeekGroupHint = "Выберите дни недели, по которым будет действовать скидка";
constexpr const char* kAllWeek = "Ежедневно";
constexpr const char* kChooseDays = "Выборочно";
constexpr const char* kWeekDays[] = {"Понедельник", "Вторник", "Среда", "Четверг", "Пятница", "Суббота", "Воскресенье"};
constexpr const char* kDayGroup = "Суточный период действия скидки";
constexpr const char* kAllDay = "Круглосуточно";
constexpr const char* kTimePeriod = "Заданный период:";
constexpr const char* kFrom = "с";
constexpr const char* kTo = "до";
constexpr const char* kInfoLine1 = "Внимание! Среди пороговых и временных скидок программа при расчете";
constexpr const char* kInfoLine2 = "автоматических скидок выберет наибольшую скидку";
constexpr const char* kTimeGroup = "\"Временные\" скидки";
constexpr const char* kSaleDeny = "Добавить \"скидку\" запрета продажи";
constexpr const char* kThresholdGroup = "Пороговые скидки";
constexpr const char* kPeriodGroup = "Промежутки времени, в которых должна действовать скидка";
constexpr const char* kPeriodNote = "(если нет ни одного интервала, то скидка действует постоянно)";
constexpr const char* kAddHolidays = "Добавить праздники";
constexpr const char* kEnabled = "Скидка включена";

constexpr int kNameMaxLength = 100;

void ShowError(const std::string& text) { ShowMessageBox(text, kErrorCaption, TMsgIcon::Exclamation); }

}  // namespace

// ---------------------------------------------------------------------------
// Entry point

void ShowEditDiscountForm(std::int32_t position, QWidget* parent) {
  SelvoDiscountDataSet();
  const TOpenerFocus opener;
  TEditDiscountForm form(parent);
  form.Open(position);
  form.exec();
}

// ---------------------------------------------------------------------------
// The dialog

TEditDiscountForm::TEditDiscountForm(QWidget* parent) : QDialog(parent) {
  setObjectName("EditDiscountForm");
  setWindowTitle(QString::fromUtf8(kTitle));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setFont(FormFont(11));
  BuildControls();
  FormCreate();
}

TEditDiscountForm::~TEditDiscountForm() = default;

void TEditDiscountForm::FormCreate() {
  TSelvoPaymentList& payments = PaymentList();
  for (std::int32_t i = 0; i < payments.Count(); ++i) {
    const TPaymentRec& rec = *payments.GetItem(i);
    cbPayments->addItem(QString::fromStdString(PaymentRecName(rec)), QVariant(rec.ID));
  }
}

void TEditDiscountForm::BuildControls() {
  const QMargins groupMargins(6, 2, 6, 4);
  const QMargins listMargins(4, 2, 4, 4);

  // The card's head: payment type, name, target.
  cbPayments = MakeNamed<QComboBox>(this, "cbPayments");
  edComment = MakeNamed<QLineEdit>(this, "edComment");
  edComment->setMaxLength(kNameMaxLength);
  cbDscTarget = MakeNamed<QComboBox>(this, "cbDscTarget");
  for (const char* item : kTargetItems) cbDscTarget->addItem(QString::fromUtf8(item));
  cbDscTarget->setCurrentIndex(kTargetReceipt);
  connect(cbDscTarget, &QComboBox::activated, this, [this] { cbDscTargetSelect(); });
  btnChooseTarget = MakeNamed<QPushButton>(this, "btnChooseTarget", kChooseTarget);
  btnChooseTarget->setEnabled(false);
  connect(btnChooseTarget, &QPushButton::clicked, this, [this] { btnChooseTargetClick(); });

  QGridLayout* head = MakeGrid(6, 3);
  AddLabelledRow(head, 0, kPaymentLabel, cbPayments, 2);
  AddLabelledRow(head, 1, kNameLabel, edComment, 2);
  AddLabelledRow(head, 2, kTargetLabel, cbDscTarget);
  head->addWidget(btnChooseTarget, 2, 2);
  head->setColumnStretch(1, 1);

  // Week days.
  gbWeekDays = MakeNamed<QGroupBox>(this, "gbWeekDays", kWeekGroup, kWeekGroupHint);
  rbAllWeek = MakeNamed<QRadioButton>(gbWeekDays, "rbAllWeek", kAllWeek);
  rbChooseDays = MakeNamed<QRadioButton>(gbWeekDays, "rbChooseDays", kChooseDays);
  auto* weekButtons = new QButtonGroup(gbWeekDays);
  weekButtons->addButton(rbAllWeek);
  weekButtons->addButton(rbChooseDays);
  rbAllWeek->setChecked(true);
  clbWeekDays = MakeNamed<QListWidget>(gbWeekDays, "clbWeekDays");
  for (const char* day : kWeekDays) {
    auto* item = new QListWidgetItem(QString::fromUtf8(day), clbWeekDays);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
  }
  clbWeekDays->setEnabled(false);
  clbWeekDays->setFixedHeight(clbWeekDays->sizeHintForRow(0) * 7 + 2 * clbWeekDays->frameWidth());
  connect(rbAllWeek, &QRadioButton::clicked, this, [this] { rbAllWeekClick(); });
  connect(rbChooseDays, &QRadioButton::clicked, this, [this] { rbAllWeekClick(); });
  QGridLayout* week = MakeGrid(gbWeekDays, groupMargins, -1, 2);
  week->addWidget(rbAllWeek, 0, 0);
  week->addWidget(rbChooseDays, 1, 0);
  week->addWidget(clbWeekDays, 0, 1, 3, 1);
  week->setRowStretch(2, 1);
  week->setColumnStretch(1, 1);

  // The daily window.
  auto* dayGroup = MakeNamed<QGroupBox>(this, "gbDayPeriod", kDayGroup);
  rbAllDay = MakeNamed<QRadioButton>(dayGroup, "rbAllDay", kAllDay);
  rbTimePeriod = MakeNamed<QRadioButton>(dayGroup, "rbTimePeriod", kTimePeriod);
  auto* dayButtons = new QButtonGroup(dayGroup);
  dayButtons->addButton(rbAllDay);
  dayButtons->addButton(rbTimePeriod);
  rbAllDay->setChecked(true);
  dtpBeginTime = MakeNamed<TTimePicker>(dayGroup, "dtpBeginTime");
  dtpBeginTime->SetTime(0);
  dtpEndTime = MakeNamed<TTimePicker>(dayGroup, "dtpEndTime");
  dtpEndTime->SetTime(kLastSecondOfDay);
  dtpBeginTime->setEnabled(false);
  dtpEndTime->setEnabled(false);
  connect(rbAllDay, &QRadioButton::clicked, this, [this] { rbAllDayClick(); });
  connect(rbTimePeriod, &QRadioButton::clicked, this, [this] { rbAllDayClick(); });
  QGridLayout* day = MakeGrid(dayGroup, groupMargins, -1, 4);
  day->addWidget(rbAllDay, 0, 0, 1, 4);
  day->addWidget(rbTimePeriod, 1, 0, 1, 4);
  day->addWidget(MakeLabel(dayGroup, kFrom), 2, 0, Qt::AlignRight);
  day->addWidget(dtpBeginTime, 2, 1);
  day->addWidget(MakeLabel(dayGroup, kTo), 2, 2, Qt::AlignRight);
  day->addWidget(dtpEndTime, 2, 3);
  day->setRowStretch(3, 1);
  day->setColumnStretch(1, 1);
  day->setColumnStretch(3, 1);

  // The information panel.
  auto* info = MakeNamed<QFrame>(this, "pnlInfo");
  info->setFrameShape(QFrame::StyledPanel);
  info->setAutoFillBackground(true);
  QPalette infoPalette = info->palette();
  infoPalette.setColor(QPalette::Window, infoPalette.color(QPalette::ToolTipBase));
  infoPalette.setColor(QPalette::WindowText, infoPalette.color(QPalette::ToolTipText));
  info->setPalette(infoPalette);
  auto* infoLayout = MakeBox<QVBoxLayout>(info, QMargins(4, 2, 4, 2), 0, {});
  for (const char* line : {kInfoLine1, kInfoLine2}) {
    QLabel* label = MakeLabel(info, line);
    label->setAlignment(Qt::AlignHCenter);
    infoLayout->addWidget(label);
  }

  // Time discounts and thresholds.
  auto* timeGroup = MakeNamed<QGroupBox>(this, "gbTimeDiscounts", kTimeGroup);
  btnSaleDenyDsc = MakeNamed<QPushButton>(timeGroup, "btnSaleDenyDsc", kSaleDeny);
  btnSaleDenyDsc->setFlat(true);
  connect(btnSaleDenyDsc, &QPushButton::clicked, this, [this] { btnSaleDenyDscClick(); });
  TimeDscListFrame = MakeNamed<TTimeThresholdFrame>(timeGroup, "TimeDscListFrame");
  MakeBox<QVBoxLayout>(timeGroup, listMargins, 2, {btnSaleDenyDsc, {TimeDscListFrame, 1}});

  auto* thresholdGroup = MakeNamed<QGroupBox>(this, "gbThresholds", kThresholdGroup);
  ThresholdDscListFrame = MakeNamed<TTimeThresholdFrame>(thresholdGroup, "ThresholdDscListFrame");
  ThresholdDscListFrame->SetMode(lmThresholds);
  MakeBox<QVBoxLayout>(thresholdGroup, listMargins, -1, {{ThresholdDscListFrame, 1}});

  // Periods, growing with the window.
  auto* periodGroup = MakeNamed<QGroupBox>(this, "gbPeriods", kPeriodGroup);
  btnAddHolidays = MakeNamed<QPushButton>(periodGroup, "btnAddHolidays", kAddHolidays);
  connect(btnAddHolidays, &QPushButton::clicked, this, [this] { btnAddHolidaysClick(); });
  ExclusionsFrame = MakeNamed<TTimeThresholdFrame>(periodGroup, "ExclusionsFrame");
  ExclusionsFrame->SetMode(lmPeriods);
  auto* periodHead = MakeBox<QHBoxLayout>(-1, {{MakeLabel(periodGroup, kPeriodNote), 1}, btnAddHolidays});
  MakeBox<QVBoxLayout>(periodGroup, listMargins, 2, {periodHead, {ExclusionsFrame, 1}});

  // The bottom panel.
  cbDscEnabled = MakeNamed<QCheckBox>(this, "cbDscEnabled", kEnabled);
  QFont bold = cbDscEnabled->font();
  bold.setBold(true);
  cbDscEnabled->setFont(bold);
  cbDscEnabled->setChecked(true);
  const TOkCancelButtons buttons = MakeOkCancel(this, "btnOk", "btnCancel");
  btnOk = buttons.ok;
  btnCancel = buttons.cancel;
  btnOk->setAutoDefault(false);
  btnCancel->setAutoDefault(false);
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
  auto* bottom = new QHBoxLayout;
  AddOkCancelRow(bottom, {cbDscEnabled}, buttons);

  // Keyboard actions; they come before the controls' own keys.
  actnOk = AddWindowShortcut(this, "actnOk",
                             {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)},
                             [this] { actnOkExecute(); });
  actnCancel = AddWindowShortcut(this, "actnCancel", {QKeySequence(Qt::Key_Escape)}, [this] { actnCancelExecute(); });

  MakeBox<QVBoxLayout>(this, QMargins(6, 6, 6, 6), 4,
                       {head,
                        MakeBox<QHBoxLayout>(6, {{gbWeekDays, 1}, {dayGroup, 1}}),
                        info,
                        MakeBox<QHBoxLayout>(6, {{timeGroup, 3}, {thresholdGroup, 2}}),
                        {periodGroup, 1},
                        bottom});

  // The designed client area, unless this machine's fonts need more room;
  // the width stays within a few pixels, the height may grow.
  const QSize designed = QSize(552, 606).expandedTo(minimumSizeHint());
  setMinimumSize(designed);
  setMaximumWidth(designed.width() + 8);
  resize(designed);
}

void TEditDiscountForm::Open(std::int32_t position) {
  changing_ = position >= 0;
  position_ = position;
  if (changing_) {
    card_ = DiscountList().GetItem(position);
    ownCard_.reset();
    setWindowTitle(QString::fromUtf8(kTitle) + QString::fromUtf8(kTitleChanging));
    cbPayments->setCurrentIndex(PaymentList().IndexOfID(card_->PayID));
    SelvoDiscountDataSet().Locate("td_ID", {TVariant(std::int64_t{card_->ID})}, loNone);
  } else {
    ownCard_ = std::make_unique<TDiscountItem>();
    card_ = ownCard_.get();
    setWindowTitle(QString::fromUtf8(kTitle) + QString::fromUtf8(kTitleAdding));
    cbPayments->setCurrentIndex(cbPayments->count() > 0 ? 0 : -1);
  }
  ShowCard();
}

void TEditDiscountForm::ShowCard() {
  const TDiscountItem& card = *card_;
  edComment->setText(QString::fromStdString(card.DiscountName));
  cbDscTarget->setCurrentIndex(card.DiscountTarget == kTargetGoods ? kTargetGoods : kTargetReceipt);
  if (card.DiscountTarget != kTargetReceipt && card.DiscountTarget != kTargetGoods) cbDscTarget->setCurrentIndex(-1);
  cbDscTargetSelect();
  cbDscEnabled->setChecked(card.Enabled);
  TimeDscListFrame->LoadTimeList(card.TimeBegin, card.TimeEnd, card.TimeUnit, card.TimeValue);
  ThresholdDscListFrame->LoadThresholdList(card.ThresholdSum, card.ThresholdValue, card.ThresholdUnit);
  ExclusionsFrame->LoadPeriodList(card.PeriodBegin, card.PeriodEnd, card.PeriodEnabled);
  dtpBeginTime->SetTime(card.BTime);
  dtpEndTime->SetTime(card.ETime);
  if (!card.AllDay) rbTimePeriod->setChecked(true);
  rbAllDayClick();
  for (int i = 0; i < clbWeekDays->count(); ++i)
    clbWeekDays->item(i)->setCheckState((card.WeekDays >> i) & 1 ? Qt::Checked : Qt::Unchecked);
  if (!card.AllWeek) rbChooseDays->setChecked(true);
  rbAllWeekClick();
}

TCardControls TEditDiscountForm::Controls() const {
  TCardControls c;
  if (cbPayments->currentIndex() >= 0) c.payID = cbPayments->currentData().toInt();
  c.name = edComment->text().toStdString();
  c.target = cbDscTarget->currentIndex();
  c.allDay = rbAllDay->isChecked();
  c.beginTime = dtpBeginTime->Time();
  c.endTime = dtpEndTime->Time();
  c.allWeek = rbAllWeek->isChecked();
  c.weekDays = 0;
  for (int i = 0; i < clbWeekDays->count(); ++i)
    if (clbWeekDays->item(i)->checkState() == Qt::Checked) c.weekDays |= static_cast<std::uint8_t>(1u << i);
  c.enabled = cbDscEnabled->isChecked();
  return c;
}

bool TEditDiscountForm::CheckCardIntegrity() {
  try {
    const std::vector<std::string> faults =
        CheckCard(Controls(), {TimeDscListFrame->Cells(), ThresholdDscListFrame->Cells(), ExclusionsFrame->Cells()},
                  *card_, DiscountList());
    if (faults.empty()) return true;
    ShowMessageBox(JoinFaults(faults), kCheckCaption, TMsgIcon::Exclamation);
  } catch (const Exception& e) {
    ShowMessageBox(e.Message(), kCheckCaption, TMsgIcon::Exclamation);
  }
  return false;
}

bool TEditDiscountForm::SaveDataToBase() {
  try {
    SaveCard(*card_, changing_, DiscountList(), {SelvoDiscountDataSet(), DiscountGoodsDataSet(), ExclusionsDataSet()});
    return true;
  } catch (const Exception& e) {
    ShowError(std::string(kSaveOperation) + " -> " + e.Message());
  }
  return false;
}

void TEditDiscountForm::cbDscTargetSelect() {
  btnChooseTarget->setEnabled(cbDscTarget->currentIndex() == kTargetGoods);
}

void TEditDiscountForm::rbAllWeekClick() { clbWeekDays->setEnabled(!rbAllWeek->isChecked()); }

void TEditDiscountForm::rbAllDayClick() {
  const bool window = !rbAllDay->isChecked();
  dtpBeginTime->setEnabled(window);
  dtpEndTime->setEnabled(window);
}

void TEditDiscountForm::btnChooseTargetClick() {
  TProgressViewer* viewer = nullptr;
  try {
    ChooseCardTargets(
        *card_, KeyTovarDataSet(), GoodsDataSet(), Module().GoodsSelectFormShow,
        [&] {
          // The picture only shows that the goods are loading: when its
          // thread cannot start, the choice goes on without it.
          try {
            viewer = TProgressViewer::Create(kLoadingGoodsText);
          } catch (const std::exception&) {
            viewer = nullptr;
          }
        },
        [&] {
          if (viewer) viewer->Terminate();  // it frees itself
          viewer = nullptr;
        });
  } catch (const Exception& e) {
    ShowError(e.Message().rfind(kChooseTargetOperation, 0) == 0
                  ? e.Message()
                  : std::string(kChooseTargetOperation) + " -> " + e.Message());
  }
}

void TEditDiscountForm::btnSaleDenyDscClick() {
  if (cbDscTarget->currentIndex() != kTargetGoods) {
    ShowError(kSaleBanOnlyForGoods);
    return;
  }
  TimeDscListFrame->AddSaleDenyRows();
}

void TEditDiscountForm::btnAddHolidaysClick() {
  try {
    if (int code = ExclusionsFrame->CheckPeriodList(); code > 0 && code <= 3) {
      ShowError(kPeriodFaults[code]);
      return;
    }
    TDiscountItem& card = *card_;
    ExclusionsFrame->StorePeriodList(card.PeriodBegin, card.PeriodEnd, card.PeriodEnabled);
    AddHolidayPeriods(card, DecodeDate(Now()).year);
    ExclusionsFrame->LoadPeriodList(card.PeriodBegin, card.PeriodEnd, card.PeriodEnabled);
  } catch (const Exception& e) {
    ShowError(e.Message());
  }
}

void TEditDiscountForm::btnOkClick() {
  setResult(QDialog::Rejected);
  if (!CheckCardIntegrity()) return;
  if (!SaveDataToBase()) return;
  accept();
}

void TEditDiscountForm::btnCancelClick() {
  if (TimeDscListFrame->IsEditing() || ThresholdDscListFrame->IsEditing()) return;
  reject();
}

void TEditDiscountForm::actnOkExecute() {
  // A value still in a cell editor belongs to what the operator confirms.
  for (TTimeThresholdFrame* frame : {TimeDscListFrame, ThresholdDscListFrame, ExclusionsFrame})
    if (frame->IsEditing()) frame->CommitEditor();
  btnOkClick();
}

void TEditDiscountForm::actnCancelExecute() {
  if (TimeDscListFrame->IsEditing())
    TimeDscListFrame->CommitEditor();
  else if (ThresholdDscListFrame->IsEditing())
    ThresholdDscListFrame->CommitEditor();
  else
    btnCancel->click();
}

}  // namespace selvo
