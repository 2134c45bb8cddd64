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
constexpr const char* kOk = "OK";
constexpr const char* kOkHint = "Сохраняет изменения в базе данных и закрывает окно";
constexpr const char* kCancel = "Отмена";
constexpr const char* kCancelHint = "Закрывает окно без сохранения изменений";
constexpr const char* kErrorCaption = "Ошибка!";
constexpr const char* kAttentionCaption = "Внимание!";

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
  // Left column: name, kind, receipt, discounts, rounding.
  edName = new QLineEdit(QString::fromUtf8(kNewPaymentName), this);
  edName->setObjectName("edName");
  edName->setMaxLength(kTypedNameMaxLength);

  rgType = new TRadioGroup(QString::fromUtf8(kTypeGroup), {kTypeCash, kTypeCashless}, 2, this);
  rgType->setObjectName("rgType");
  rgType->SetItemIndex(0);

  cbCheck = new QComboBox(this);
  cbCheck->setObjectName("cbCheck");
  for (const char* text : kCheckKindLongTexts) cbCheck->addItem(QString::fromUtf8(text));
  cbCheck->setCurrentIndex(0);
  connect(cbCheck, &QComboBox::activated, this, [this] { cbCheckSelect(); });

  cbPrintSumma = new QCheckBox(QString::fromUtf8(kPrintSumma), this);
  cbPrintSumma->setObjectName("cbPrintSumma");
  SetHint(cbPrintSumma, kPrintSummaHint);

  auto* head = new QGridLayout;
  head->setHorizontalSpacing(6);
  head->setVerticalSpacing(3);
  head->addWidget(MakeLabel(this, kNameLabel), 0, 0);
  head->addWidget(edName, 0, 1);
  head->addWidget(rgType, 1, 0, 1, 2);
  head->addWidget(MakeLabel(this, kCheckLabel), 2, 0);
  head->addWidget(cbCheck, 2, 1);
  head->addWidget(cbPrintSumma, 3, 1);
  head->setColumnStretch(1, 1);

  auto* discounts = new QGroupBox(QString::fromUtf8(kDiscountGroup), this);
  discounts->setObjectName("gbDiscounts");
  edDiscount = new QDoubleSpinBox(discounts);
  edDiscount->setObjectName("edDiscount");
  edDiscount->setRange(0, kMaxDiscount);
  edDiscount->setDecimals(kDiscountDecimals);
  edDiscount->setSingleStep(1);
  edDiscount->setValue(0);
  edDiscount->setMinimumWidth(80);
  cbPrintSkidka = new QCheckBox(QString::fromUtf8(kPrintSkidka), discounts);
  cbPrintSkidka->setObjectName("cbPrintSkidka");
  cbTermUseDscCardValue = new QCheckBox(QString::fromUtf8(kUseDscCardValue), discounts);
  cbTermUseDscCardValue->setObjectName("cbTermUseDscCardValue");
  QLabel* discountNote = Note(discounts, kDiscountNote);
  discountNote->setWordWrap(true);
  auto* discountGrid = new QGridLayout(discounts);
  discountGrid->setContentsMargins(8, 2, 8, 4);
  discountGrid->setVerticalSpacing(2);
  discountGrid->addWidget(MakeLabel(discounts, kDiscountLabel), 0, 0);
  discountGrid->addWidget(edDiscount, 0, 1);
  discountGrid->addWidget(cbPrintSkidka, 1, 0, 1, 3);
  discountGrid->addWidget(cbTermUseDscCardValue, 2, 0, 1, 3);
  discountGrid->addWidget(discountNote, 3, 0, 1, 3);
  discountGrid->setColumnStretch(2, 1);

  GroupBox9 = new QGroupBox(QString::fromUtf8(kItogGroup), this);
  GroupBox9->setObjectName("GroupBox9");
  cbItogPrec = new QComboBox(GroupBox9);
  cbItogPrec->setObjectName("cbItogPrec");
  for (int value : kItogPrecValues) cbItogPrec->addItem(QString::number(value));
  cbItogPrec->setCurrentIndex(0);
  cbItogPrec->setMaximumWidth(80);
  edItogPrecLimit = new QDoubleSpinBox(GroupBox9);
  edItogPrecLimit->setObjectName("edItogPrecLimit");
  edItogPrecLimit->setRange(0, kMaxItogPrecLimit);
  edItogPrecLimit->setDecimals(kItogPrecLimitDecimals);
  edItogPrecLimit->setValue(5.0);
  edItogPrecLimit->setMinimumWidth(110);
  // Three lines that read as one sentence, so that the group fits the
  // narrower column: "Округлять до [1] копеек, если итог превышает [5] руб".
  auto* itogGrid = new QGridLayout(GroupBox9);
  itogGrid->setContentsMargins(8, 2, 8, 4);
  itogGrid->setHorizontalSpacing(6);
  itogGrid->setVerticalSpacing(2);
  itogGrid->addWidget(MakeLabel(GroupBox9, kItogRoundTo), 0, 0);
  itogGrid->addWidget(cbItogPrec, 0, 1);
  itogGrid->addWidget(MakeLabel(GroupBox9, kItogKopecks), 1, 0, 1, 3);
  itogGrid->addWidget(MakeLabel(GroupBox9, kItogAbove), 2, 0);
  itogGrid->addWidget(edItogPrecLimit, 2, 1);
  itogGrid->addWidget(MakeLabel(GroupBox9, kItogRoubles), 2, 2);
  itogGrid->setColumnStretch(3, 1);

  auto* left = new QVBoxLayout;
  left->setSpacing(4);
  left->addLayout(head);
  left->addWidget(discounts);
  left->addWidget(GroupBox9);
  left->addStretch(1);

  // Right column: terminal parameters, the receipt template.
  gbTerminalProp = new QGroupBox(QString::fromUtf8(kTerminalGroup), this);
  gbTerminalProp->setObjectName("gbTerminalProp");
  cbTermNumber = new QComboBox(gbTerminalProp);
  cbTermNumber->setObjectName("cbTermNumber");
  for (int i = 1; i <= kTerminalCount; ++i) cbTermNumber->addItem(QString::number(i));
  cbTermNumber->setCurrentIndex(0);
  cbTermNumber->setMaximumWidth(64);
  seTermKoshel = new QSpinBox(gbTerminalProp);
  seTermKoshel->setObjectName("seTermKoshel");
  seTermKoshel->setRange(0, kMaxKoshel);
  seTermKoshel->setValue(0);
  seTermKoshel->setMinimumWidth(64);
  rgTermCalcType =
      new TRadioGroup(QString::fromUtf8(kCalcTypeGroup), {kCalcByTerminal, kCalcByProgram}, 1, gbTerminalProp);
  rgTermCalcType->setObjectName("rgTermCalcType");
  rgTermCalcType->SetItemIndex(1);
  cbTermFixBonus = new QCheckBox(QString::fromUtf8(kFixBonus), gbTerminalProp);
  cbTermFixBonus->setObjectName("cbTermFixBonus");
  connect(cbTermFixBonus, &QCheckBox::clicked, this, [this] { cbTermFixBonusClick(); });
  QLabel* termNumberNote = Note(gbTerminalProp, kTermNumberNote);
  termNumberNote->setWordWrap(true);
  auto* terminalGrid = new QGridLayout(gbTerminalProp);
  terminalGrid->setContentsMargins(8, 2, 8, 4);
  terminalGrid->setHorizontalSpacing(6);
  terminalGrid->setVerticalSpacing(2);
  terminalGrid->addWidget(MakeLabel(gbTerminalProp, kTermNumberLabel), 0, 0);
  terminalGrid->addWidget(cbTermNumber, 0, 1);
  terminalGrid->addWidget(termNumberNote, 0, 2);
  terminalGrid->addWidget(MakeLabel(gbTerminalProp, kKoshelLabel), 1, 0);
  terminalGrid->addWidget(seTermKoshel, 1, 1);
  terminalGrid->addWidget(Note(gbTerminalProp, kKoshelNote), 1, 2);
  terminalGrid->addWidget(rgTermCalcType, 2, 0, 1, 3);
  terminalGrid->addWidget(cbTermFixBonus, 3, 0, 1, 3);
  terminalGrid->addWidget(Note(gbTerminalProp, kFixBonusNote), 4, 0, 1, 3);
  terminalGrid->setColumnStretch(2, 1);

  auto* customCheckGroup = new QGroupBox(QString::fromUtf8(kCustomCheckGroup), this);
  customCheckGroup->setObjectName("gbCustomCheck");
  btnCustomCheck = new QPushButton(QString::fromUtf8(kCustomCheck), customCheckGroup);
  btnCustomCheck->setObjectName("btnCustomCheck");
  connect(btnCustomCheck, &QPushButton::clicked, this, &TEditPaymentForm::btnCustomCheckClick);
  auto* customCheckRow = new QHBoxLayout(customCheckGroup);
  customCheckRow->setContentsMargins(8, 2, 8, 4);
  customCheckRow->addWidget(btnCustomCheck);
  customCheckRow->addStretch(1);

  auto* right = new QVBoxLayout;
  right->setSpacing(4);
  right->addWidget(gbTerminalProp);
  right->addWidget(customCheckGroup);
  right->addStretch(1);

  auto* columns = new QHBoxLayout;
  columns->setSpacing(10);
  columns->addLayout(left, 1);
  columns->addLayout(right, 1);

  // Across the window: the link with the fuel side.
  auto* gsmGroup = new QGroupBox(QString::fromUtf8(kGsmGroup), this);
  gsmGroup->setObjectName("gbGsm");
  cbBaseGsmVO = new QComboBox(gsmGroup);
  cbBaseGsmVO->setObjectName("cbBaseGsmVO");
  for (const TGsmBaseKind& kind : baseKinds_) cbBaseGsmVO->addItem(QString::fromUtf8(kind.text), kind.code);
  cbBaseGsmVO->setCurrentIndex(-1);
  connect(cbBaseGsmVO, &QComboBox::activated, this, [this] { cbBaseGsmVOSelect(); });
  seAddVOIndex = new QSpinBox(gsmGroup);
  seAddVOIndex->setObjectName("seAddVOIndex");
  seAddVOIndex->setRange(0, kMaxAddVOIndex);
  seAddVOIndex->setValue(0);
  seAddVOIndex->setMinimumWidth(64);
  auto* indexRow = new QHBoxLayout;
  indexRow->setSpacing(8);
  indexRow->addWidget(seAddVOIndex);
  indexRow->addWidget(Note(gsmGroup, kAddVONote), 1);
  auto* gsmGrid = new QGridLayout(gsmGroup);
  gsmGrid->setContentsMargins(8, 2, 8, 4);
  gsmGrid->setHorizontalSpacing(6);
  gsmGrid->setVerticalSpacing(2);
  gsmGrid->addWidget(MakeLabel(gsmGroup, kBaseGsmLabel), 0, 0);
  gsmGrid->addWidget(cbBaseGsmVO, 0, 1, Qt::AlignLeft);
  gsmGrid->addWidget(MakeLabel(gsmGroup, kAddVOLabel), 1, 0, Qt::AlignRight | Qt::AlignTop);
  gsmGrid->addLayout(indexRow, 1, 1);
  gsmGrid->setColumnStretch(1, 1);

  // Bottom bar.
  cbEnabled = new QCheckBox(QString::fromUtf8(kEnabledOn), this);
  cbEnabled->setObjectName("cbEnabled");
  QFont enabledFont = FormFont(19);
  enabledFont.setBold(true);
  cbEnabled->setFont(enabledFont);
  cbEnabled->setChecked(true);
  SetTextColor(cbEnabled, kEnabledColor);
  connect(cbEnabled, &QCheckBox::toggled, this, [this] { cbEnabledClick(); });

  BitBtn3 = new QPushButton(QString::fromUtf8(kOk), this);
  BitBtn3->setObjectName("BitBtn3");
  SetHint(BitBtn3, kOkHint);
  BitBtn3->setDefault(true);
  BitBtn4 = new QPushButton(QString::fromUtf8(kCancel), this);
  BitBtn4->setObjectName("BitBtn4");
  SetHint(BitBtn4, kCancelHint);
  for (QPushButton* button : {BitBtn3, BitBtn4}) {
    button->setFont(FormFont(19));
    button->setMinimumSize(110, 30);
  }
  connect(BitBtn3, &QPushButton::clicked, this, &TEditPaymentForm::BitBtn3Click);
  connect(BitBtn4, &QPushButton::clicked, this, &QDialog::reject);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(cbEnabled);
  bottom->addStretch(1);
  bottom->addWidget(BitBtn3);
  bottom->addWidget(BitBtn4);

  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(8, 6, 8, 6);
  window->setSpacing(4);
  window->addLayout(columns, 1);
  window->addWidget(gsmGroup);
  window->addLayout(bottom);

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
    ShowMessageBox(*message, kErrorCaption, TMsgIcon::Exclamation);
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
    ShowMessageBox(kFixBonusMessage, kAttentionCaption, TMsgIcon::Exclamation);
  }
}

}  // namespace selvo
