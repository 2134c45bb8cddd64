#include "editor/SelvoPaymentsFrm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>
#include <optional>
#include <string_view>

#include "discounts/SelvoDiscountItemsU.h"
#include "editor/EditDiscountFrm.h"
#include "editor/EditDiscountU.h"
#include "editor/SelvoPaymentsU.h"
#include "payments/EditPaymentFrm.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/Clock.h"
#include "platform/FormTexts.h"
#include "platform/MessageService.h"
#include "platform/QtFileDialogs.h"
#include "platform/QtFormKit.h"
#include "platform/QtModalFocus.h"
#include "platform/QtTranslation.h"
#include "state/SelvoModuleU.h"

namespace selvo {

// The discount card dialog the module opens from the editor; tests pass
// their own through the window's constructor.
void DefaultCardDialog(std::int32_t position) { ShowEditDiscountForm(position); }

// The operator-facing texts of the window, in one place.
namespace {

constexpr const char* kPaymentsTab = "Виды оплаты";
constexpr const char* kDiscountsTab = "Автоматические скидки";
constexpr const char* kTip = "Совет: для быстрого включения/отключения вида оплаты выберите его и щелкните [Пробел]";
constexpr const char* kExport = "Экспорт...";
constexpr const char* kImport = "Импорт...";
constexpr const char* kAdd = "Добавить";
constexpr const char* kEdit = "Изменить";
constexpr const char* kDelete = "Удалить";
constexpr const char* kAddHint = "Выполняет добавление нового вида оплаты (Ctrl + I)";
constexpr const char* kEditHint = "Изменение выбранного вида оплаты (Ctrl + E)";
constexpr const char* kDeleteHint = "Удаление выбранного вида оплаты (Ctrl + Del)";
constexpr const char* kRSumOption = "Не разрешать продажную стоимость ниже закупочной";
constexpr const char* kFileFilter = "Файл экспорта (*.exp)|*.exp|Все файлы (*.*)|*.*";
constexpr const char* kFileName = "SelvoPayments.exp";
constexpr const char* kFileExt = "exp";
constexpr const char* kExportTitle = "Введите имя файла, в который вы хотите сохранить виды оплаты";
constexpr const char* kImportTitle = "Выберите файл, из которого вы хотите загрузить виды оплаты";
// What the next save holds, told to the host ahead of it (SelvoCallbacks.h).
constexpr const char* kImportOrigin = "ORIGIN import";
constexpr const char* kFileMissing = "Файл \"%s\" не найден!";
constexpr const char* kCloseQuestion =
    "Были внесены изменения. При закрытии окна они будут потеряны.\r\n"
    "Вы действительно хотите закрыть данное окно?";
constexpr const char* kStartRefused =
    "Изменения не сохранены: не удалось начать транзакцию базы данных "
    "(так бывает, пока другой компьютер сохраняет данные магазина).\r\n"
    "Повторите сохранение позже или закройте окно без сохранения.";
constexpr const char* kCommitRefused =
    "Изменения не сохранены: не удалось завершить транзакцию базы данных.\r\n"
    "Повторите сохранение позже или закройте окно без сохранения.";
constexpr const char* kEntriesRefused =
    "Изменения не сохранены: база данных не приняла часть записей, и сохранение отменено целиком.\r\n"
    "Обновите данные или повторите сохранение позже; можно и закрыть окно без сохранения.";
constexpr const char* kChangedElsewhere =
    "Изменения не сохранены: другой компьютер изменил те же данные после того, как это окно их загрузило, "
    "и сохранение отменено целиком.\r\n"
    "Закройте окно без сохранения и откройте его снова, чтобы увидеть данные магазина такими, какие они есть.";
constexpr const char* kNoApplication = "Редактор настроек: нет оконного приложения";
constexpr const char* kTipColor = "#0000ff";
const QColor kHighlightColor(0, 0, 128);
const QColor kGridColor(0xc0, 0xc0, 0xc0);

constexpr int kClientWidth = 741;
constexpr int kClientHeight = 353;
constexpr int kMinHeight = 223;

// Draws a row navy and bold when `marked` says so for its position, and
// the grid lines of the cells.
class TMarkedRowDelegate : public QStyledItemDelegate {
 public:
  TMarkedRowDelegate(std::function<bool(int)> marked, QObject* parent)
      : QStyledItemDelegate(parent), marked_(std::move(marked)) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(kGridColor);
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!marked_(index.row())) return;
    option->font.setBold(true);
    option->palette.setColor(QPalette::Text, kHighlightColor);
  }

 private:
  std::function<bool(int)> marked_;
};

QTreeWidget* MakeList(QWidget* parent, const char* name, const TColumn (&columns)[6]) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(name);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // The selection stays visible when the list loses the focus.
  QPalette palette = list->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  list->setPalette(palette);
  QStringList titles;
  for (const TColumn& c : columns) titles << QString::fromUtf8(c.title);
  list->setHeaderLabels(titles);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionsMovable(false);
  for (int i = 0; i < 6; ++i) list->setColumnWidth(i, columns[i].width);
  return list;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const char* hint = nullptr) {
  auto* button = MakeNamed<QPushButton>(parent, name, caption, hint);
  button->setAutoDefault(false);
  QFont font = button->font();
  font.setBold(true);
  button->setFont(font);
  return button;
}

void FillList(QTreeWidget* list, int count, const std::function<std::vector<std::string>(int)>& cells) {
  list->setUpdatesEnabled(false);
  QSignalBlocker block(list);
  list->clear();
  struct TResume {
    QTreeWidget* list;
    ~TResume() { list->setUpdatesEnabled(true); }
  } resume{list};
  QList<QTreeWidgetItem*> items;
  for (int i = 0; i < count; ++i) {
    QStringList texts;
    for (const std::string& cell : cells(i)) texts << QString::fromStdString(cell);
    items << new QTreeWidgetItem(texts);
  }
  list->addTopLevelItems(items);
}

std::string Replace(const char* text, const std::string& value) {
  const std::string_view pattern = text;
  const std::size_t at = pattern.find("%s");
  return std::string(pattern.substr(0, at)) + value + std::string(pattern.substr(at + 2));
}

}  // namespace

// ---------------------------------------------------------------------------
// Entry point

void ShowSelvoPaymentsForm() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app) throw ENotAvailable(kNoApplication);
  InstallQtTranslation(*app);
  const TOpenerFocus opener;
  TSelvoPaymentsForm form;
  form.exec();
}

// ---------------------------------------------------------------------------
// The window

TSelvoPaymentsForm::TSelvoPaymentsForm(TShowCardDialog cardDialog, QWidget* parent)
    : QDialog(parent), cardDialog_(cardDialog) {
  setObjectName("SelvoPaymentsForm");
  setWindowTitle(QString::fromUtf8(kEditorTitle));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setWindowFlag(Qt::WindowMinimizeButtonHint, false);
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);
  setFont(FormFont(11));
  BuildControls();
  FormCreate();
  RestorePlacement();
}

TSelvoPaymentsForm::~TSelvoPaymentsForm() {
  try {
    FormDestroy();
  } catch (...) {
    // A dataset that fails to close leaves nothing of the window's to undo.
  }
}

void TSelvoPaymentsForm::BuildControls() {
  PageControl1 = MakeNamed<QTabWidget>(this, "PageControl1");

  // Payment types.
  TabSheet1 = MakeNamed<QWidget>(nullptr, "TabSheet1");
  ListView = MakeList(TabSheet1, "ListView", kPaymentColumns);
  ListView->setFont(FormFont(13));
  ListView->setItemDelegate(new TMarkedRowDelegate(
      [this](int row) {
        QTreeWidgetItem* item = ListView->topLevelItem(row);
        return item && IsBuiltInPaymentName(item->text(1).toStdString());
      },
      ListView));
  Panel2 = MakeNamed<QWidget>(TabSheet1, "Panel2");
  Panel2->setFixedHeight(60);
  Panel2->setMinimumWidth(446);
  Label1 = MakeLabel(Panel2, kTip, kTipColor);
  Label1->setObjectName("Label1");
  Label1->setFont(FormFont(13));
  btnExport = MakeButton(Panel2, "btnExport", kExport);
  btnImport = MakeButton(Panel2, "btnImport", kImport);
  btnAdd = MakeButton(Panel2, "btnAdd", kAdd, kAddHint);
  btnEdit = MakeButton(Panel2, "btnEdit", kEdit, kEditHint);
  btnDelete = MakeButton(Panel2, "btnDelete", kDelete, kDeleteHint);
  btnEdit->setEnabled(false);
  btnDelete->setEnabled(false);
  MakeBox<QVBoxLayout>(
      Panel2, QMargins(4, 2, 4, 4), -1,
      {Label1, MakeBox<QHBoxLayout>(-1, {btnExport, btnImport, TBoxItem::Stretch(), btnAdd, btnEdit, btnDelete})});
  MakeBox<QVBoxLayout>(TabSheet1, QMargins(), 0, {{ListView, 1}, Panel2});
  PageControl1->addTab(TabSheet1, QString::fromUtf8(kPaymentsTab));

  // Discount cards.
  TabSheet2 = MakeNamed<QWidget>(nullptr, "TabSheet2");
  lvDiscounts = MakeList(TabSheet2, "lvDiscounts", kDiscountColumns);
  lvDiscounts->setItemDelegate(new TMarkedRowDelegate(
      [](int row) {
        TDiscountList& cards = DiscountList();
        return row >= 0 && row < cards.Count() && cards.GetItem(row)->IsActive(Now());
      },
      lvDiscounts));
  Panel3 = MakeNamed<QWidget>(TabSheet2, "Panel3");
  Panel3->setFixedHeight(40);
  Panel3->setMinimumWidth(446);
  btnAdd1 = MakeButton(Panel3, "btnAdd1", kAdd, kAddHint);
  btnEdit1 = MakeButton(Panel3, "btnEdit1", kEdit, kEditHint);
  btnDelete1 = MakeButton(Panel3, "btnDelete1", kDelete, kDeleteHint);
  btnEdit1->setEnabled(false);
  btnDelete1->setEnabled(false);
  MakeBox<QHBoxLayout>(Panel3, QMargins(4, 4, 4, 4), -1, {TBoxItem::Stretch(), btnAdd1, btnEdit1, btnDelete1});
  MakeBox<QVBoxLayout>(TabSheet2, QMargins(), 0, {{lvDiscounts, 1}, Panel3});
  PageControl1->addTab(TabSheet2, QString::fromUtf8(kDiscountsTab));

  // The bottom bar.
  Panel1 = MakeNamed<QWidget>(this, "Panel1");
  Panel1->setFixedHeight(41);
  CheckBox1 = MakeNamed<QCheckBox>(Panel1, "CheckBox1", kRSumOption);
  QFont bold = CheckBox1->font();
  bold.setBold(true);
  CheckBox1->setFont(bold);
  const TOkCancelButtons buttons = MakeOkCancel(Panel1, "BitBtn1", "BitBtn2");
  BitBtn1 = buttons.ok;
  BitBtn2 = buttons.cancel;
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  BitBtn1->setDefault(true);
  BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  BitBtn2->setAutoDefault(false);
  AddOkCancelRow(MakeBox<QHBoxLayout>(Panel1, QMargins(8, 4, 8, 4), -1, {}), {CheckBox1}, buttons);

  MakeBox<QVBoxLayout>(this, QMargins(), 0, {{PageControl1, 1}, Panel1});

  // The payment type shortcuts act wherever the focus is in the window.
  acPayInsert =
      AddWindowShortcut(this, "acPayInsert", {QKeySequence(Qt::CTRL | Qt::Key_I)}, [this] { acPayInsertExecute(); });
  acPayEdit =
      AddWindowShortcut(this, "acPayEdit", {QKeySequence(Qt::CTRL | Qt::Key_E)}, [this] { acPayEditExecute(); });
  acPayDelete = AddWindowShortcut(this, "acPayDelete", {QKeySequence(Qt::CTRL | Qt::Key_Delete)},
                                  [this] { acPayDeleteExecute(); });

  connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == 0) TabSheet1Show();
    if (index == 1) TabSheet2Show();
  });
  connect(ListView, &QTreeWidget::itemSelectionChanged, this, [this] { ListViewSelectItem(); });
  connect(ListView, &QTreeWidget::itemDoubleClicked, this, [this] { ListViewDblClick(); });
  connect(lvDiscounts, &QTreeWidget::itemSelectionChanged, this, [this] { lvDiscountsSelectItem(); });
  connect(lvDiscounts, &QTreeWidget::itemDoubleClicked, this, [this] { lvDiscountsDblClick(); });
  ListView->installEventFilter(this);
  lvDiscounts->installEventFilter(this);
  connect(btnAdd, &QPushButton::clicked, this, [this] { btnAddClick(); });
  connect(btnEdit, &QPushButton::clicked, this, [this] { btnEditClick(); });
  connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(); });
  connect(btnExport, &QPushButton::clicked, this, [this] { btnExportClick(); });
  connect(btnImport, &QPushButton::clicked, this, [this] { btnImportClick(); });
  connect(btnAdd1, &QPushButton::clicked, this, [this] { btnAdd1Click(); });
  connect(btnEdit1, &QPushButton::clicked, this, [this] { btnEdit1Click(); });
  connect(btnDelete1, &QPushButton::clicked, this, [this] { btnDelete1Click(); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { reject(); });

  resize(QSize(kClientWidth, kClientHeight).expandedTo(minimumSizeHint()));
  setMinimumHeight(kMinHeight);
}

template <class Work>
void TSelvoPaymentsForm::Guarded(Work&& work) {
  try {
    work();
  } catch (const Exception& e) {
    ShowMessageBox(e.Message(), kErrorCaption, TMsgIcon::Exclamation);
  } catch (const std::exception& e) {
    ShowMessageBox(e.what(), kErrorCaption, TMsgIcon::Exclamation);
  }
}

void TSelvoPaymentsForm::FormCreate() {
  PageControl1->setCurrentIndex(0);
  // Each opening starts from the database: changes left unsaved by an
  // earlier opening (also those of the discount tables) are dropped here, so
  // they can never be applied by a later save.
  TDataSet& payments = PaymentDataSet();
  payments.Close();
  payments.Open();
  for (TDataSet* ds : {&SelvoDiscountDataSet(), &DiscountGoodsDataSet(), &ExclusionsDataSet()}) {
    if (ds->ChangeCount() == 0 && ds->State() == TDataSetState::dsBrowse) continue;
    ds->Close();
    ds->Open();
  }
  FillPaymentsList();
  FillDiscountList();
  const bool option = ReadRSumOption();
  Module().RSumCanNotBeLowThenZSum = option;
  CheckBox1->setChecked(option);
}

void TSelvoPaymentsForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous() || shown_) return;
  shown_ = true;
  Guarded([this] { FormShow(); });
  ListView->setFocus();
}

void TSelvoPaymentsForm::FormShow() {
  FillPaymentsView();
  FillDiscountsView();
}

void TSelvoPaymentsForm::TabSheet1Show() { ListView->setFocus(); }
void TSelvoPaymentsForm::TabSheet2Show() { lvDiscounts->setFocus(); }

void TSelvoPaymentsForm::FillPaymentsView() {
  TSelvoPaymentList& list = PaymentList();
  const TFormatSettings& fs = ModuleFormatSettings();
  FillList(ListView, list.Count(), [&](int i) { return PaymentRowCells(*list.GetItem(i), fs); });
  ListViewSelectItem();
}

void TSelvoPaymentsForm::FillDiscountsView() {
  TDiscountList& cards = DiscountList();
  TSelvoPaymentList& payments = PaymentList();
  FillList(lvDiscounts, cards.Count(), [&](int i) { return DiscountRowCells(*cards.GetItem(i), payments); });
  lvDiscountsSelectItem();
}

int TSelvoPaymentsForm::SelectedRow(const QTreeWidget* list) {
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.front());
}

void TSelvoPaymentsForm::SelectRow(QTreeWidget* list, int row) {
  if (row < 0 || row >= list->topLevelItemCount()) return;
  QTreeWidgetItem* item = list->topLevelItem(row);
  list->setCurrentItem(item);
  item->setSelected(true);
  list->scrollToItem(item);
}

void TSelvoPaymentsForm::ListViewSelectItem() {
  const int row = SelectedRow(ListView);
  btnEdit->setEnabled(row >= 0);
  btnDelete->setEnabled(row >= 0 && IsRenamablePayment(row));
}

void TSelvoPaymentsForm::lvDiscountsSelectItem() {
  const bool selected = SelectedRow(lvDiscounts) >= 0;
  btnEdit1->setEnabled(selected);
  btnDelete1->setEnabled(selected);
}

void TSelvoPaymentsForm::ListViewDblClick() {
  if (btnEdit->isEnabled()) btnEditClick();
}

void TSelvoPaymentsForm::lvDiscountsDblClick() {
  if (btnEdit1->isEnabled()) btnEdit1Click();
}

void TSelvoPaymentsForm::acPayInsertExecute() {
  if (btnAdd->isEnabled()) btnAddClick();
}
void TSelvoPaymentsForm::acPayEditExecute() {
  if (btnEdit->isEnabled()) btnEditClick();
}
void TSelvoPaymentsForm::acPayDeleteExecute() {
  if (btnDelete->isEnabled()) btnDeleteClick();
}

bool TSelvoPaymentsForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && (watched == ListView || watched == lvDiscounts)) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Space) {
      if (watched == ListView)
        ListViewKeyDown(key);
      else
        lvDiscountsKeyDown(key);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TSelvoPaymentsForm::btnAddClick() {
  Guarded([this] {
    EditPayment(-1, this);
    FillPaymentsList();
    FillPaymentsView();
    SelectRow(ListView, ListView->topLevelItemCount() - 1);
  });
}

void TSelvoPaymentsForm::btnEditClick() {
  const int row = SelectedRow(ListView);
  if (row < 0) return;
  Guarded([this, row] {
    EditPayment(row, this);
    FillPaymentsList();
    FillPaymentsView();
    SelectRow(ListView, row);
  });
}

void TSelvoPaymentsForm::btnDeleteClick() {
  QTreeWidgetItem* item = ListView->currentItem();
  if (!item || !item->isSelected()) return;
  Guarded([this, item] {
    if (!DeleteEditorRow(kPaymentDelete, item->text(0).toInt(), item->text(1).toStdString())) return;
    FillPaymentsList();
    FillPaymentsView();
  });
}

void TSelvoPaymentsForm::btnAdd1Click() {
  Guarded([this] {
    cardDialog_(-1);
    FillDiscountList();
    FillDiscountsView();
    SelectRow(lvDiscounts, lvDiscounts->topLevelItemCount() - 1);
  });
}

void TSelvoPaymentsForm::btnEdit1Click() {
  const int row = SelectedRow(lvDiscounts);
  if (row < 0) return;
  Guarded([this, row] {
    cardDialog_(row);
    FillDiscountList();
    FillDiscountsView();
    SelectRow(lvDiscounts, row);
  });
}

void TSelvoPaymentsForm::btnDelete1Click() {
  QTreeWidgetItem* item = lvDiscounts->currentItem();
  if (!item || !item->isSelected()) return;
  Guarded([this, item] {
    if (!DeleteEditorRow(kDiscountDelete, item->text(0).toInt(), item->text(2).toStdString())) return;
    FillDiscountList();
    FillDiscountsView();
  });
}

void TSelvoPaymentsForm::ListViewKeyDown(int key) {
  const int row = SelectedRow(ListView);
  if (key != Qt::Key_Space || row < 0) return;
  const std::int32_t id = ListView->topLevelItem(row)->text(0).toInt();
  Guarded([this, row, id] {
    if (!ToggleEnabled(PaymentDataSet(), "ID", id, "Enabled")) return;
    FillPaymentsList();
    FillPaymentsView();
    SelectRow(ListView, row);
  });
}

void TSelvoPaymentsForm::lvDiscountsKeyDown(int key) {
  const int row = SelectedRow(lvDiscounts);
  if (key != Qt::Key_Space || row < 0) return;
  const std::int32_t id = lvDiscounts->topLevelItem(row)->text(0).toInt();
  Guarded([this, row, id] {
    if (!ToggleEnabled(SelvoDiscountDataSet(), "td_ID", id, "td_Enabled")) return;
    FillDiscountList();
    FillDiscountsView();
    SelectRow(lvDiscounts, row);
  });
}

void TSelvoPaymentsForm::btnExportClick() {
  TFileDialogRequest request{TFileDialogKind::Open, kExportTitle, kFileFilter, kFileExt, kFileName, "", false, false};
  const std::optional<std::string> file = ChooseFile(this, request);
  if (!file) return;
  Guarded([&file] { PaymentList().ExportToFile(*file); });
}

void TSelvoPaymentsForm::btnImportClick() {
  TFileDialogRequest request{TFileDialogKind::Open, kImportTitle, kFileFilter, kFileExt, kFileName, "", false, false};
  const std::optional<std::string> file = ChooseFile(this, request);
  if (!file) return;
  if (!QFileInfo::exists(QString::fromStdString(*file))) {
    ShowMessageBox(Replace(kFileMissing, *file), "", TMsgIcon::None);
    return;
  }
  Guarded([this, &file] {
    PaymentList().ImportFromFile(*file);
    imported_ = true;
    FillPaymentsView();
  });
}

void TSelvoPaymentsForm::BitBtn1Click() {
  std::optional<TSaveResult> result;
  // Told right before the save, so that only a save holding an import is
  // recorded as one.
  if (imported_ && Module().TransactionFunc) Module().TransactionFunc(kImportOrigin);
  Guarded([&result] { result = SaveEditorChanges(Module().TransactionFunc); });
  if (result == TSaveResult::Saved) imported_ = false;
  // A save that did not happen whole would lose the operator's work without
  // a word: tell it and keep the window with the changes, still pending, for
  // another try. An error has been shown already.
  if (!result) return;
  const char* notSaved = nullptr;
  switch (*result) {
    case TSaveResult::Refused: notSaved = kStartRefused; break;
    case TSaveResult::EntriesRefused: notSaved = kEntriesRefused; break;
    case TSaveResult::ChangedElsewhere: notSaved = kChangedElsewhere; break;
    case TSaveResult::CommitRefused: notSaved = kCommitRefused; break;
    case TSaveResult::NothingToSave:
    case TSaveResult::Saved: break;
  }
  if (notSaved) {
    ShowMessageBox(notSaved, kErrorCaption, TMsgIcon::Exclamation);
    return;
  }
  accept();
}

bool TSelvoPaymentsForm::FormCloseQuery() {
  bool pending = false;
  Guarded([&pending] { pending = HasPendingChanges(); });
  if (!pending) return true;
  return ShowMessageBox(kCloseQuestion, kConfirmCaption, TMsgIcon::Question, TMsgButtons::OKCancel) ==
         TModalResult::mrOk;
}

void TSelvoPaymentsForm::reject() {
  if (FormCloseQuery()) QDialog::reject();
}

void TSelvoPaymentsForm::done(int result) {
  StorePlacement();
  QDialog::done(result);
  FormClose();
}

void TSelvoPaymentsForm::FormClose() {
  Module().RSumCanNotBeLowThenZSum = CheckBox1->isChecked();
  Guarded([this] { WriteRSumOption(CheckBox1->isChecked()); });
}

void TSelvoPaymentsForm::FormDestroy() {
  PaymentDataSet().Close();
  KeyTovarDataSet().Close();
  GoodsDataSet().Close();
}

// ---------------------------------------------------------------------------
// Placement, per user

void TSelvoPaymentsForm::RestorePlacement() {
  QSettings settings(kPlacementOrganization, kPlacementApplication);
  settings.beginGroup(kPlacementGroup);
  if (!settings.contains("width")) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame(QPoint(), size());
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
    return;
  }
  TScreenRect stored{settings.value("x").toInt(), settings.value("y").toInt(), settings.value("width").toInt(),
                     settings.value("height").toInt()};
  std::vector<TScreenRect> screens;
  if (QScreen* primary = QGuiApplication::primaryScreen()) {
    const QRect r = primary->availableGeometry();
    screens.push_back({r.x(), r.y(), r.width(), r.height()});
  }
  for (QScreen* screen : QGuiApplication::screens()) {
    if (screen == QGuiApplication::primaryScreen()) continue;
    const QRect r = screen->availableGeometry();
    screens.push_back({r.x(), r.y(), r.width(), r.height()});
  }
  const TScreenRect placed = PlaceOnScreens(stored, screens);
  resize(QSize(placed.width, placed.height).expandedTo(minimumSize()));
  move(placed.x, placed.y);
  if (settings.value("maximized").toBool()) setWindowState(windowState() | Qt::WindowMaximized);
}

void TSelvoPaymentsForm::StorePlacement() {
  QSettings settings(kPlacementOrganization, kPlacementApplication);
  settings.beginGroup(kPlacementGroup);
  const QRect normal = isMaximized() ? normalGeometry() : geometry();
  const QPoint corner = isMaximized() ? normal.topLeft() : pos();
  settings.setValue("x", corner.x());
  settings.setValue("y", corner.y());
  settings.setValue("width", normal.width());
  settings.setValue("height", normal.height());
  settings.setValue("maximized", isMaximized());
}

}  // namespace selvo
