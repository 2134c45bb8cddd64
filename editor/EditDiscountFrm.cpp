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
constexpr const char* kOk = "OK";
constexpr const char* kOkHint = "Сохраняет изменения в базе данных и закрывает окно";
constexpr const char* kCancel = "Отмена";
constexpr const char* kCancelHint = "Закрывает окно без сохранения изменений";

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
  // The card's head: payment type, name, target.
  cbPayments = new QComboBox(this);
  cbPayments->setObjectName("cbPayments");
  edComment = new QLineEdit(this);
  edComment->setObjectName("edComment");
  edComment->setMaxLength(kNameMaxLength);
  cbDscTarget = new QComboBox(this);
  cbDscTarget->setObjectName("cbDscTarget");
  for (const char* item : kTargetItems) cbDscTarget->addItem(QString::fromUtf8(item));
  cbDscTarget->setCurrentIndex(kTargetReceipt);
  connect(cbDscTarget, &QComboBox::activated, this, [this] { cbDscTargetSelect(); });
  btnChooseTarget = new QPushButton(QString::fromUtf8(kChooseTarget), this);
  btnChooseTarget->setObjectName("btnChooseTarget");
  btnChooseTarget->setEnabled(false);
  connect(btnChooseTarget, &QPushButton::clicked, this, [this] { btnChooseTargetClick(); });

  auto* head = new QGridLayout;
  head->setHorizontalSpacing(6);
  head->setVerticalSpacing(3);
  head->addWidget(MakeLabel(this, kPaymentLabel), 0, 0);
  head->addWidget(cbPayments, 0, 1, 1, 2);
  head->addWidget(MakeLabel(this, kNameLabel), 1, 0);
  head->addWidget(edComment, 1, 1, 1, 2);
  head->addWidget(MakeLabel(this, kTargetLabel), 2, 0);
  head->addWidget(cbDscTarget, 2, 1);
  head->addWidget(btnChooseTarget, 2, 2);
  head->setColumnStretch(1, 1);

  // Week days.
  gbWeekDays = new QGroupBox(QString::fromUtf8(kWeekGroup), this);
  gbWeekDays->setObjectName("gbWeekDays");
  SetHint(gbWeekDays, kWeekGroupHint);
  rbAllWeek = new QRadioButton(QString::fromUtf8(kAllWeek), gbWeekDays);
  rbAllWeek->setObjectName("rbAllWeek");
  rbChooseDays = new QRadioButton(QString::fromUtf8(kChooseDays), gbWeekDays);
  rbChooseDays->setObjectName("rbChooseDays");
  auto* weekButtons = new QButtonGroup(gbWeekDays);
  weekButtons->addButton(rbAllWeek);
  weekButtons->addButton(rbChooseDays);
  rbAllWeek->setChecked(true);
  clbWeekDays = new QListWidget(gbWeekDays);
  clbWeekDays->setObjectName("clbWeekDays");
  for (const char* day : kWeekDays) {
    auto* item = new QListWidgetItem(QString::fromUtf8(day), clbWeekDays);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
  }
  clbWeekDays->setEnabled(false);
  clbWeekDays->setFixedHeight(clbWeekDays->sizeHintForRow(0) * 7 + 2 * clbWeekDays->frameWidth());
  connect(rbAllWeek, &QRadioButton::clicked, this, [this] { rbAllWeekClick(); });
  connect(rbChooseDays, &QRadioButton::clicked, this, [this] { rbAllWeekClick(); });
  auto* week = new QGridLayout(gbWeekDays);
  week->setContentsMargins(6, 2, 6, 4);
  week->setVerticalSpacing(2);
  week->addWidget(rbAllWeek, 0, 0);
  week->addWidget(rbChooseDays, 1, 0);
  week->addWidget(clbWeekDays, 0, 1, 3, 1);
  week->setRowStretch(2, 1);
  week->setColumnStretch(1, 1);

  // The daily window.
  auto* dayGroup = new QGroupBox(QString::fromUtf8(kDayGroup), this);
  dayGroup->setObjectName("gbDayPeriod");
  rbAllDay = new QRadioButton(QString::fromUtf8(kAllDay), dayGroup);
  rbAllDay->setObjectName("rbAllDay");
  rbTimePeriod = new QRadioButton(QString::fromUtf8(kTimePeriod), dayGroup);
  rbTimePeriod->setObjectName("rbTimePeriod");
  auto* dayButtons = new QButtonGroup(dayGroup);
  dayButtons->addButton(rbAllDay);
  dayButtons->addButton(rbTimePeriod);
  rbAllDay->setChecked(true);
  dtpBeginTime = new TTimePicker(dayGroup);
  dtpBeginTime->setObjectName("dtpBeginTime");
  dtpBeginTime->SetTime(0);
  dtpEndTime = new TTimePicker(dayGroup);
  dtpEndTime->setObjectName("dtpEndTime");
  dtpEndTime->SetTime(kLastSecondOfDay);
  dtpBeginTime->setEnabled(false);
  dtpEndTime->setEnabled(false);
  connect(rbAllDay, &QRadioButton::clicked, this, [this] { rbAllDayClick(); });
  connect(rbTimePeriod, &QRadioButton::clicked, this, [this] { rbAllDayClick(); });
  auto* day = new QGridLayout(dayGroup);
  day->setContentsMargins(6, 2, 6, 4);
  day->setVerticalSpacing(4);
  day->addWidget(rbAllDay, 0, 0, 1, 4);
  day->addWidget(rbTimePeriod, 1, 0, 1, 4);
  day->addWidget(MakeLabel(dayGroup, kFrom), 2, 0, Qt::AlignRight);
  day->addWidget(dtpBeginTime, 2, 1);
  day->addWidget(MakeLabel(dayGroup, kTo), 2, 2, Qt::AlignRight);
  day->addWidget(dtpEndTime, 2, 3);
  day->setRowStretch(3, 1);
  day->setColumnStretch(1, 1);
  day->setColumnStretch(3, 1);

  auto* windows = new QHBoxLayout;
  windows->setSpacing(6);
  windows->addWidget(gbWeekDays, 1);
  windows->addWidget(dayGroup, 1);

  // The information panel.
  auto* info = new QFrame(this);
  info->setObjectName("pnlInfo");
  info->setFrameShape(QFrame::StyledPanel);
  info->setAutoFillBackground(true);
  QPalette infoPalette = info->palette();
  infoPalette.setColor(QPalette::Window, infoPalette.color(QPalette::ToolTipBase));
  infoPalette.setColor(QPalette::WindowText, infoPalette.color(QPalette::ToolTipText));
  info->setPalette(infoPalette);
  auto* infoLayout = new QVBoxLayout(info);
  infoLayout->setContentsMargins(4, 2, 4, 2);
  infoLayout->setSpacing(0);
  for (const char* line : {kInfoLine1, kInfoLine2}) {
    QLabel* label = MakeLabel(info, line);
    label->setAlignment(Qt::AlignHCenter);
    infoLayout->addWidget(label);
  }

  // Time discounts and thresholds.
  auto* timeGroup = new QGroupBox(QString::fromUtf8(kTimeGroup), this);
  timeGroup->setObjectName("gbTimeDiscounts");
  btnSaleDenyDsc = new QPushButton(QString::fromUtf8(kSaleDeny), timeGroup);
  btnSaleDenyDsc->setObjectName("btnSaleDenyDsc");
  btnSaleDenyDsc->setFlat(true);
  connect(btnSaleDenyDsc, &QPushButton::clicked, this, [this] { btnSaleDenyDscClick(); });
  TimeDscListFrame = new TTimeThresholdFrame(timeGroup);
  TimeDscListFrame->setObjectName("TimeDscListFrame");
  auto* time = new QVBoxLayout(timeGroup);
  time->setContentsMargins(4, 2, 4, 4);
  time->setSpacing(2);
  time->addWidget(btnSaleDenyDsc);
  time->addWidget(TimeDscListFrame, 1);

  auto* thresholdGroup = new QGroupBox(QString::fromUtf8(kThresholdGroup), this);
  thresholdGroup->setObjectName("gbThresholds");
  ThresholdDscListFrame = new TTimeThresholdFrame(thresholdGroup);
  ThresholdDscListFrame->setObjectName("ThresholdDscListFrame");
  ThresholdDscListFrame->SetMode(lmThresholds);
  auto* threshold = new QVBoxLayout(thresholdGroup);
  threshold->setContentsMargins(4, 2, 4, 4);
  threshold->addWidget(ThresholdDscListFrame, 1);

  auto* lists = new QHBoxLayout;
  lists->setSpacing(6);
  lists->addWidget(timeGroup, 3);
  lists->addWidget(thresholdGroup, 2);

  // Periods, growing with the window.
  auto* periodGroup = new QGroupBox(QString::fromUtf8(kPeriodGroup), this);
  periodGroup->setObjectName("gbPeriods");
  btnAddHolidays = new QPushButton(QString::fromUtf8(kAddHolidays), periodGroup);
  btnAddHolidays->setObjectName("btnAddHolidays");
  connect(btnAddHolidays, &QPushButton::clicked, this, [this] { btnAddHolidaysClick(); });
  ExclusionsFrame = new TTimeThresholdFrame(periodGroup);
  ExclusionsFrame->setObjectName("ExclusionsFrame");
  ExclusionsFrame->SetMode(lmPeriods);
  auto* periodHead = new QHBoxLayout;
  periodHead->addWidget(MakeLabel(periodGroup, kPeriodNote), 1);
  periodHead->addWidget(btnAddHolidays);
  auto* period = new QVBoxLayout(periodGroup);
  period->setContentsMargins(4, 2, 4, 4);
  period->setSpacing(2);
  period->addLayout(periodHead);
  period->addWidget(ExclusionsFrame, 1);

  // The bottom panel.
  cbDscEnabled = new QCheckBox(QString::fromUtf8(kEnabled), this);
  cbDscEnabled->setObjectName("cbDscEnabled");
  QFont bold = cbDscEnabled->font();
  bold.setBold(true);
  cbDscEnabled->setFont(bold);
  cbDscEnabled->setChecked(true);
  btnOk = new QPushButton(QString::fromUtf8(kOk), this);
  btnOk->setObjectName("btnOk");
  SetHint(btnOk, kOkHint);
  btnOk->setAutoDefault(false);
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  btnCancel = new QPushButton(QString::fromUtf8(kCancel), this);
  btnCancel->setObjectName("btnCancel");
  SetHint(btnCancel, kCancelHint);
  btnCancel->setAutoDefault(false);
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(cbDscEnabled);
  bottom->addStretch(1);
  bottom->addWidget(btnOk);
  bottom->addWidget(btnCancel);

  // Keyboard actions; they come before the controls' own keys.
  actnOk = new QAction(this);
  actnOk->setObjectName("actnOk");
  actnOk->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
  actnOk->setShortcutContext(Qt::WindowShortcut);
  connect(actnOk, &QAction::triggered, this, [this] { actnOkExecute(); });
  addAction(actnOk);
  actnCancel = new QAction(this);
  actnCancel->setObjectName("actnCancel");
  actnCancel->setShortcut(QKeySequence(Qt::Key_Escape));
  actnCancel->setShortcutContext(Qt::WindowShortcut);
  connect(actnCancel, &QAction::triggered, this, [this] { actnCancelExecute(); });
  addAction(actnCancel);

  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(6, 6, 6, 6);
  window->setSpacing(4);
  window->addLayout(head);
  window->addLayout(windows);
  window->addWidget(info);
  window->addLayout(lists);
  window->addWidget(periodGroup, 1);
  window->addLayout(bottom);

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
