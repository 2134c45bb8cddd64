#include "payments/EditPaymentFrm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include "payments/CustomCheckFrm.h"
#include "platform/FormTexts.h"
#include "platform/MessageService.h"
#include "platform/QtFormKit.h"
#include "platform/QtModalFocus.h"
#include "state/SelvoModuleU.h"

namespace selvo {

// The operator-facing texts of the dialog, in one place.
namespace {

constexpr const char* kTitle = "Сведения о виде оплаты";
constexpr const char* kTitleEditing = " [изменение]";
constexpr const char* kTitleAdding = " [добавление]";
constexpr const char* kNameLabel = "Наименование:";
// The longest name the operator may type; a longer stored name is shown and
// kept whole, so that it and its settings keys do not change unasked.
constexpr int kTypedNameMaxLength = 20;
constexpr const char* kTypeGroup = "Оплата за ...";
constexpr const char* kTypeCash = "наличные";
constexpr const char* kTypeCashless = "безналичные";
constexpr const char* kCheckLabel = "Тип чека:";
constexpr const char* kPrintSumma = "Печать суммы в чеке";
constexpr const char* kPrintSummaHint = "ТОЛЬКО ДЛЯ БЕЗНАЛА!\r\nесли убрано, то печатается НОЛЬ";
constexpr const char* kDiscountGroup = "Скидки";
constexpr const char* kDiscountLabel = "Скидка (%):";
constexpr const char* kPrintSkidka = "Печать скидки в чеке";
constexpr const char* kUseDscCardValue = "Брать скидку с дисконтной карты";
constexpr const char* kDiscountNote =
    "Алгоритм расчета скидки можно задать также при добавлении \"автоматической скидки\"";
constexpr const char* kItogGroup = "Кратность итога чека кассы";
constexpr const char* kItogRoundTo = "Округлять до";
constexpr const char* kItogKopecks = "копеек, если итог";
constexpr const char* kItogAbove = "превышает";
constexpr const char* kItogRoubles = "руб";
constexpr const char* kTerminalGroup = "Параметры терминала";
constexpr const char* kTermNumberLabel = "Номер устройства:";
constexpr const char* kTermNumberNote = "Укажите номер терминала, настроенный с помощью программы конфигурации";
constexpr const char* kKoshelLabel = "Номер кошелька:";
constexpr const char* kKoshelNote = "Укажите рубевый или\r\nвалютный кошелек";
constexpr const char* kCalcTypeGroup = "Пересчет стоимости с учетом скидки";
constexpr const char* kCalcByTerminal = "Вычисляется терминалом";
constexpr const char* kCalcByProgram = "Вычисляется программой";
constexpr const char* kFixBonus = "Фиксировать бонусы";
constexpr const char* kFixBonusNote =
    "Для фиксации бонусов на терминале и на карте должен быть\r\nнастроен рублевый (или валютный) кошелек";
constexpr const char* kGsmGroup = "Соответствие с настроенным списком видов оплаты (в бензиновой части Norvan)";
constexpr const char* kBaseGsmLabel = "Связан в видом оплаты ГСМ:";
constexpr const char* kAddVOLabel = "Индекс:";
constexpr const char* kAddVONote =
    "Индекс дополнительного (созданного пользователем) вида оплаты\r\n"
    "(для базового вида оплаты он должен быть равен нулю).\r\n"
    "Индексы можно увидеть в меню \"Настройки / Виды оплаты\"";
constexpr const char* kCustomCheckGroup = "Печать товарного чека на кассе (на чековой ленте)";
constexpr const char* kCustomCheck = "Настроить товарный чек...";
constexpr const char* kEnabledOn = "Вид оплаты включен";
constexpr const char* kEnabledOff = "Вид оплаты отключен";

constexpr const char* kNoteColor = "#0000ff";
const QColor kEnabledColor(0x00, 0x80, 0x00);
const QColor kDisabledColor(0xff, 0x00, 0x00);

QLabel* Note(QWidget* parent, const char* text) {
  QLabel* label = MakeLabel(parent, text, kNoteColor);
  label->setFont(FormFont(11));
  return label;
}

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, color);
  palette.setColor(QPalette::ButtonText, color);
  palette.setColor(QPalette::Text, color);
  widget->setPalette(palette);
}

}  // namespace

// ---------------------------------------------------------------------------
// TRadioGroup

TRadioGroup::TRadioGroup(const QString& title, const std::vector<const char*>& items, int columns, QWidget* parent)
    : QGroupBox(title, parent), buttons_(new QButtonGroup(this)) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(8, 2, 8, 4);
  grid->setVerticalSpacing(2);
  const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    auto* button = new QRadioButton(QString::fromUtf8(items[static_cast<std::size_t>(i)]), this);
    buttons_->addButton(button, i);
    grid->addWidget(button, i % rows, i / rows);
  }
}

int TRadioGroup::ItemIndex() const { return buttons_->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* button = buttons_->button(index)) {
    button->setChecked(true);
    return;
  }
  // Unchecking one of an exclusive group needs the group's exclusiveness off.
  buttons_->setExclusive(false);
  for (QAbstractButton* button : buttons_->buttons()) button->setChecked(false);
  buttons_->setExclusive(true);
}

// ---------------------------------------------------------------------------
// Entry point

void EditPayment(std::int32_t index, QWidget* parent) {
  TDataSet& ds = PaymentDataSet();
  const TPaymentEdit opened = OpenPaymentEdit(ds, index);
  const TOpenerFocus opener;
  TEditPaymentForm form(parent);
  form.Fill(opened);
  if (form.exec() != QDialog::Accepted) return;
  StorePaymentEdit(ds, form.Edited());
}

// ---------------------------------------------------------------------------
// The dialog

TEditPaymentForm::TEditPaymentForm(QWidget* parent) : QDialog(parent) {
  setObjectName("EditPaymentForm");
  setWindowTitle(QString::fromUtf8(kTitle));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setWindowFlag(Qt::WindowMinimizeButtonHint, false);
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);
  setFont(FormFont(16));
  FormCreate();
  BuildControls();
}

TEditPaymentForm::~TEditPaymentForm() { FormDestroy(); }

void TEditPaymentForm::FormCreate() { baseKinds_.assign(std::begin(kGsmBaseKinds), std::end(kGsmBaseKinds)); }

void TEditPaymentForm::FormDestroy() { baseKinds_.clear(); }

void TEditPaymentForm::BuildControls() {
  const QMargins groupMargins(8, 2, 8, 4);

  // Left column: name, kind, receipt, discounts, rounding.
  edName = MakeNamed<QLineEdit>(this, "edName", kNewPaymentName);
  edName->setMaxLength(kTypedNameMaxLength);
  rgType = new TRadioGroup(QString::fromUtf8(kTypeGroup), {kTypeCash, kTypeCashless}, 2, this);
  rgType->setObjectName("rgType");
  rgType->SetItemIndex(0);
  cbCheck = MakeNamed<QComboBox>(this, "cbCheck");
  for (const char* text : kCheckKindLongTexts) cbCheck->addItem(QString::fromUtf8(text));
  cbCheck->setCurrentIndex(0);
  connect(cbCheck, &QComboBox::activated, this, [this] { cbCheckSelect(); });
  cbPrintSumma = MakeNamed<QCheckBox>(this, "cbPrintSumma", kPrintSumma, kPrintSummaHint);

  QGridLayout* head = MakeGrid(6, 3);
  AddLabelledRow(head, 0, kNameLabel, edName);
  head->addWidget(rgType, 1, 0, 1, 2);
  AddLabelledRow(head, 2, kCheckLabel, cbCheck);
  head->addWidget(cbPrintSumma, 3, 1);
  head->setColumnStretch(1, 1);

  auto* discounts = MakeNamed<QGroupBox>(this, "gbDiscounts", kDiscountGroup);
  edDiscount = MakeNamed<QDoubleSpinBox>(discounts, "edDiscount");
  edDiscount->setRange(0, kMaxDiscount);
  edDiscount->setDecimals(kDiscountDecimals);
  edDiscount->setSingleStep(1);
  edDiscount->setValue(0);
  edDiscount->setMinimumWidth(80);
  cbPrintSkidka = MakeNamed<QCheckBox>(discounts, "cbPrintSkidka", kPrintSkidka);
  cbTermUseDscCardValue = MakeNamed<QCheckBox>(discounts, "cbTermUseDscCardValue", kUseDscCardValue);
  QLabel* discountNote = Note(discounts, kDiscountNote);
  discountNote->setWordWrap(true);
  QGridLayout* discountGrid = MakeGrid(discounts, groupMargins, -1, 2);
  AddLabelledRow(discountGrid, 0, kDiscountLabel, edDiscount);
  discountGrid->addWidget(cbPrintSkidka, 1, 0, 1, 3);
  discountGrid->addWidget(cbTermUseDscCardValue, 2, 0, 1, 3);
  discountGrid->addWidget(discountNote, 3, 0, 1, 3);
  discountGrid->setColumnStretch(2, 1);

  GroupBox9 = MakeNamed<QGroupBox>(this, "GroupBox9", kItogGroup);
  cbItogPrec = MakeNamed<QComboBox>(GroupBox9, "cbItogPrec");
  for (int value : kItogPrecValues) cbItogPrec->addItem(QString::number(value));
  cbItogPrec->setCurrentIndex(0);
  cbItogPrec->setMaximumWidth(80);
  edItogPrecLimit = MakeNamed<QDoubleSpinBox>(GroupBox9, "edItogPrecLimit");
  edItogPrecLimit->setRange(0, kMaxItogPrecLimit);
  edItogPrecLimit->setDecimals(kItogPrecLimitDecimals);
  edItogPrecLimit->setValue(5.0);
  edItogPrecLimit->setMinimumWidth(110);
  // Three lines that read as one sentence, so that the group fits the
  // narrower column: "Округлять до [1] копеек, если итог превышает [5] руб".
  QGridLayout* itogGrid = MakeGrid(GroupBox9, groupMargins, 6, 2);
  AddLabelledRow(itogGrid, 0, kItogRoundTo, cbItogPrec);
  itogGrid->addWidget(MakeLabel(GroupBox9, kItogKopecks), 1, 0, 1, 3);
  AddLabelledRow(itogGrid, 2, kItogAbove, edItogPrecLimit);
  itogGrid->addWidget(MakeLabel(GroupBox9, kItogRoubles), 2, 2);
  itogGrid->setColumnStretch(3, 1);

  // Right column: terminal parameters, the receipt template.
  gbTerminalProp = MakeNamed<QGroupBox>(this, "gbTerminalProp", kTerminalGroup);
  cbTermNumber = MakeNamed<QComboBox>(gbTerminalProp, "cbTermNumber");
  for (int i = 1; i <= kTerminalCount; ++i) cbTermNumber->addItem(QString::number(i));
  cbTermNumber->setCurrentIndex(0);
  cbTermNumber->setMaximumWidth(64);
  seTermKoshel = MakeNamed<QSpinBox>(gbTerminalProp, "seTermKoshel");
  seTermKoshel->setRange(0, kMaxKoshel);
  seTermKoshel->setValue(0);
  seTermKoshel->setMinimumWidth(64);
  rgTermCalcType =
      new TRadioGroup(QString::fromUtf8(kCalcTypeGroup), {kCalcByTerminal, kCalcByProgram}, 1, gbTerminalProp);
  rgTermCalcType->setObjectName("rgTermCalcType");
  rgTermCalcType->SetItemIndex(1);
  cbTermFixBonus = MakeNamed<QCheckBox>(gbTerminalProp, "cbTermFixBonus", kFixBonus);
  connect(cbTermFixBonus, &QCheckBox::clicked, this, [this] { cbTermFixBonusClick(); });
  QLabel* termNumberNote = Note(gbTerminalProp, kTermNumberNote);
  termNumberNote->setWordWrap(true);
  QGridLayout* terminalGrid = MakeGrid(gbTerminalProp, groupMargins, 6, 2);
  AddLabelledRow(terminalGrid, 0, kTermNumberLabel, cbTermNumber);
  terminalGrid->addWidget(termNumberNote, 0, 2);
  AddLabelledRow(terminalGrid, 1, kKoshelLabel, seTermKoshel);
  terminalGrid->addWidget(Note(gbTerminalProp, kKoshelNote), 1, 2);
  terminalGrid->addWidget(rgTermCalcType, 2, 0, 1, 3);
  terminalGrid->addWidget(cbTermFixBonus, 3, 0, 1, 3);
  terminalGrid->addWidget(Note(gbTerminalProp, kFixBonusNote), 4, 0, 1, 3);
  terminalGrid->setColumnStretch(2, 1);

  auto* customCheckGroup = MakeNamed<QGroupBox>(this, "gbCustomCheck", kCustomCheckGroup);
  btnCustomCheck = MakeNamed<QPushButton>(customCheckGroup, "btnCustomCheck", kCustomCheck);
  connect(btnCustomCheck, &QPushButton::clicked, this, &TEditPaymentForm::btnCustomCheckClick);
  MakeBox<QHBoxLayout>(customCheckGroup, groupMargins, -1, {btnCustomCheck, TBoxItem::Stretch()});

  auto* columns =
      MakeBox<QHBoxLayout>(10, {{MakeBox<QVBoxLayout>(4, {head, discounts, GroupBox9, TBoxItem::Stretch()}), 1},
                                {MakeBox<QVBoxLayout>(4, {gbTerminalProp, customCheckGroup, TBoxItem::Stretch()}), 1}});

  // Across the window: the link with the fuel side.
  auto* gsmGroup = MakeNamed<QGroupBox>(this, "gbGsm", kGsmGroup);
  cbBaseGsmVO = MakeNamed<QComboBox>(gsmGroup, "cbBaseGsmVO");
  for (const TGsmBaseKind& kind : baseKinds_) cbBaseGsmVO->addItem(QString::fromUtf8(kind.text), kind.code);
  cbBaseGsmVO->setCurrentIndex(-1);
  connect(cbBaseGsmVO, &QComboBox::activated, this, [this] { cbBaseGsmVOSelect(); });
  seAddVOIndex = MakeNamed<QSpinBox>(gsmGroup, "seAddVOIndex");
  seAddVOIndex->setRange(0, kMaxAddVOIndex);
  seAddVOIndex->setValue(0);
  seAddVOIndex->setMinimumWidth(64);
  auto* indexRow = MakeBox<QHBoxLayout>(8, {seAddVOIndex, {Note(gsmGroup, kAddVONote), 1}});
  QGridLayout* gsmGrid = MakeGrid(gsmGroup, groupMargins, 6, 2);
  AddLabelledRow(gsmGrid, 0, kBaseGsmLabel, cbBaseGsmVO, 1, Qt::AlignLeft);
  gsmGrid->addWidget(MakeLabel(gsmGroup, kAddVOLabel), 1, 0, Qt::AlignRight | Qt::AlignTop);
  gsmGrid->addLayout(indexRow, 1, 1);
  gsmGrid->setColumnStretch(1, 1);

  // Bottom bar.
  cbEnabled = MakeNamed<QCheckBox>(this, "cbEnabled", kEnabledOn);
  QFont enabledFont = FormFont(19);
  enabledFont.setBold(true);
  cbEnabled->setFont(enabledFont);
  cbEnabled->setChecked(true);
  SetTextColor(cbEnabled, kEnabledColor);
  connect(cbEnabled, &QCheckBox::toggled, this, [this] { cbEnabledClick(); });
  const TOkCancelButtons buttons = MakeOkCancel(this, "BitBtn3", "BitBtn4");
  BitBtn3 = buttons.ok;
  BitBtn4 = buttons.cancel;
  BitBtn3->setDefault(true);
  for (QPushButton* button : {BitBtn3, BitBtn4}) {
    button->setFont(FormFont(19));
    button->setMinimumSize(110, 30);
  }
  connect(BitBtn3, &QPushButton::clicked, this, &TEditPaymentForm::BitBtn3Click);
  connect(BitBtn4, &QPushButton::clicked, this, &QDialog::reject);
  auto* bottom = new QHBoxLayout;
  AddOkCancelRow(bottom, {cbEnabled}, buttons);

  MakeBox<QVBoxLayout>(this, QMargins(8, 6, 8, 6), 4, {{columns, 1}, gsmGroup, bottom});

  // The designed size, unless this machine's fonts need more room, measured
  // with every group shown.
  setFixedSize(QSize(789, 559).expandedTo(minimumSizeHint()));
  GroupBox9->hide();
  gbTerminalProp->hide();
}

void TEditPaymentForm::Fill(const TPaymentEdit& edit) {
  edit_ = edit;
  setWindowTitle(QString::fromUtf8(kTitle) + QString::fromUtf8(edit.Editing() ? kTitleEditing : kTitleAdding));
  const QString name = QString::fromStdString(edit.name);
  edName->setMaxLength(std::max(kTypedNameMaxLength, static_cast<int>(name.size())));
  edName->setText(name);
  rgType->SetItemIndex(edit.type);
  cbCheck->setCurrentIndex(edit.check);
  cbPrintSumma->setVisible(edit.printSummaVisible);
  cbPrintSumma->setChecked(edit.printSumma);
  edDiscount->setValue(edit.discount);
  cbPrintSkidka->setChecked(edit.printSkidka);
  cbTermUseDscCardValue->setVisible(edit.useDscCardValueVisible);
  cbTermUseDscCardValue->setChecked(edit.useDscCardValue);
  GroupBox9->setVisible(edit.itogVisible);
  cbItogPrec->setCurrentIndex(ItogPrecIndex(edit.itogPrec));
  edItogPrecLimit->setValue(edit.itogPrecLimit);
  gbTerminalProp->setVisible(edit.terminalVisible);
  cbTermNumber->setCurrentIndex(edit.termNumber);
  seTermKoshel->setValue(edit.termKoshel);
  rgTermCalcType->SetItemIndex(edit.termCalcType);
  {
    const QSignalBlocker quiet(cbTermFixBonus);
    cbTermFixBonus->setChecked(edit.termFixBonus);
  }
  cbBaseGsmVO->setCurrentIndex(edit.baseGsmCode ? BaseGsmKindIndex(*edit.baseGsmCode) : -1);
  if (edit.Editing() && edit.gsmEnabled) SetHint(cbBaseGsmVO, BaseGsmHint(edit.baseGsmCode));
  seAddVOIndex->setValue(edit.addVOIndex);
  cbBaseGsmVO->setEnabled(edit.gsmEnabled);
  seAddVOIndex->setEnabled(edit.gsmEnabled);
  btnCustomCheck->setEnabled(edit.customCheckEnabled);
  edName->setEnabled(edit.nameEnabled);
  rgType->setEnabled(edit.nameEnabled);
  cbEnabled->setChecked(edit.enabled);
  cbEnabledClick();
}

std::optional<std::int32_t> TEditPaymentForm::SelectedBaseCode() const {
  const int index = cbBaseGsmVO->currentIndex();
  if (index < 0) return std::nullopt;
  return cbBaseGsmVO->itemData(index).toInt();
}

TPaymentEdit TEditPaymentForm::Edited() const {
  TPaymentEdit edit = edit_;
  edit.name = edName->text().toStdString();
  edit.type = rgType->ItemIndex();
  edit.check = cbCheck->currentIndex();
  edit.discount = edDiscount->value();
  edit.enabled = cbEnabled->isChecked();
  edit.itogPrec = kItogPrecValues[cbItogPrec->currentIndex() < 0 ? 0 : cbItogPrec->currentIndex()];
  edit.itogPrecLimit = edItogPrecLimit->value();
  edit.baseGsmCode = SelectedBaseCode();
  edit.addVOIndex = seAddVOIndex->value();
  edit.termNumber = cbTermNumber->currentIndex();
  edit.termKoshel = seTermKoshel->value();
  edit.termCalcType = rgTermCalcType->ItemIndex();
  edit.termFixBonus = cbTermFixBonus->isChecked();
  edit.useDscCardValue = cbTermUseDscCardValue->isChecked();
  edit.printSumma = cbPrintSumma->isChecked();
  edit.printSkidka = cbPrintSkidka->isChecked();
  edit.terminalVisible = !gbTerminalProp->isHidden();
  edit.useDscCardValueVisible = !cbTermUseDscCardValue->isHidden();
  edit.itogVisible = !GroupBox9->isHidden();
  edit.printSummaVisible = !cbPrintSumma->isHidden();
  return edit;
}

void TEditPaymentForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  edName->setFocus();
  if (!parentWidget()) {
    if (QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  }
}

void TEditPaymentForm::BitBtn3Click() {
  setResult(QDialog::Rejected);
  edit_ = Edited();
  if (const std::optional<std::string> message = CheckPaymentEdit(edit_)) {
    ShowMessageBox(*message, kErrorAlarmCaption, TMsgIcon::Exclamation);
    return;
  }
  accept();
}

void TEditPaymentForm::btnCustomCheckClick() { EditCustomCheck(edit_.customCheck, this); }

void TEditPaymentForm::cbBaseGsmVOSelect() {
  const std::optional<std::int32_t> code = SelectedBaseCode();
  SetHint(cbBaseGsmVO, BaseGsmHint(code));
  gbTerminalProp->setVisible(
      TerminalGroupAfterBaseSelect(edName->text().toStdString(), code, !gbTerminalProp->isHidden()));
}

void TEditPaymentForm::cbCheckSelect() { cbPrintSumma->setVisible(PrintSummaShown(cbCheck->currentIndex())); }

void TEditPaymentForm::cbEnabledClick() {
  const bool on = cbEnabled->isChecked();
  cbEnabled->setText(QString::fromUtf8(on ? kEnabledOn : kEnabledOff));
  SetTextColor(cbEnabled, on ? kEnabledColor : kDisabledColor);
}

void TEditPaymentForm::cbTermFixBonusClick() {
  const QSignalBlocker quiet(cbTermFixBonus);
  if (cbTermFixBonus->isChecked() && rgTermCalcType->ItemIndex() == 1) {
    cbTermFixBonus->setChecked(false);
    ShowMessageBox(kFixBonusMessage, kAttentionText, TMsgIcon::Exclamation);
  }
}

}  // namespace selvo
