#include "host/windows/GoodsSelectFrm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <cstdlib>

#include "host/shopdb/ShopDataModule.h"
#include "platform/FormTexts.h"
#include "platform/FormatSettings.h"
#include "platform/QtModalFocus.h"
#include "platform/QtTranslation.h"

namespace selvo::host {

namespace {

constexpr const char* kTitle = "Выбор товаров и категорий";
constexpr const char* kCategoriesLabel = "Категории (отмеченная выбрана целиком):";
constexpr const char* kAllCategories = "Все категории";
constexpr const char* kFilterLabel = "Поиск:";
constexpr const char* kFilterHint = "наименование или код товара";
constexpr const char* kGoodsLabel = "Товары:";
constexpr const char* kColumns[] = {"Код", "Наименование", "Цена"};

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// ---------------------------------------------------------------------------
// TGoodsTableModel

TGoodsTableModel::TGoodsTableModel(TGoodsChoice& choice, QObject* parent)
    : QAbstractTableModel(parent), choice_(choice) {}

void TGoodsTableModel::SetVisible(std::vector<std::size_t> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int TGoodsTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TGoodsTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant TGoodsTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const TGoodsArticle& a = choice_.Articles()[ArticleAt(index.row())];
  if (role == Qt::CheckStateRole && index.column() == 0) return a.checked ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::TextAlignmentRole && index.column() != 1)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case 0: return Q(a.code);
    case 1: return Q(a.name);
    default: return Q(FloatToStrFixed(a.price, 2, ModuleFormatSettings()));
  }
}

bool TGoodsTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole) return false;
  choice_.SetArticleChecked(ArticleAt(index.row()), value.toInt() == Qt::Checked);
  emit dataChanged(index, index, {Qt::CheckStateRole});
  emit ArticleToggled();
  return true;
}

Qt::ItemFlags TGoodsTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant TGoodsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 3)
    return QString::fromUtf8(kColumns[section]);
  return QAbstractTableModel::headerData(section, orientation, role);
}

// ---------------------------------------------------------------------------
// TGoodsSelectForm

TGoodsSelectForm::TGoodsSelectForm(TGoodsChoice& choice, QWidget* parent) : QDialog(parent), choice_(choice) {
  setObjectName("GoodsSelectForm");
  setWindowTitle(QString::fromUtf8(kTitle));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  lbCategories = new QListWidget(this);
  lbCategories->setObjectName("lbCategories");
  auto* all = new QListWidgetItem(QString::fromUtf8(kAllCategories), lbCategories);
  all->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  for (const TGoodsCategory& c : choice_.Categories()) {
    auto* item = new QListWidgetItem(Q(c.name), lbCategories);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(c.checked ? Qt::Checked : Qt::Unchecked);
  }
  lbCategories->setCurrentRow(0);
  connect(lbCategories, &QListWidget::currentRowChanged, this, [this] { lbCategoriesChange(); });
  connect(lbCategories, &QListWidget::itemChanged, this, &TGoodsSelectForm::lbCategoriesToggle);

  edFilter = new QLineEdit(this);
  edFilter->setObjectName("edFilter");
  edFilter->setPlaceholderText(QString::fromUtf8(kFilterHint));
  edFilter->setClearButtonEnabled(true);
  connect(edFilter, &QLineEdit::textChanged, this, [this] { edFilterChange(); });

  model_ = new TGoodsTableModel(choice_, this);
  connect(model_, &TGoodsTableModel::ArticleToggled, this, &TGoodsSelectForm::UpdateCounts);
  tvGoods = new QTableView(this);
  tvGoods->setObjectName("tvGoods");
  tvGoods->setModel(model_);
  tvGoods->setSelectionBehavior(QAbstractItemView::SelectRows);
  tvGoods->verticalHeader()->hide();
  tvGoods->verticalHeader()->setDefaultSectionSize(tvGoods->fontMetrics().height() + 6);
  tvGoods->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  tvGoods->setColumnWidth(0, 90);
  tvGoods->setColumnWidth(2, 80);

  lbCounts = new QLabel(this);
  lbCounts->setObjectName("lbCounts");
  btnOk = new QPushButton(QString::fromUtf8(kOkText), this);
  btnOk->setObjectName("btnOk");
  btnOk->setDefault(true);
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  btnCancel = new QPushButton(QString::fromUtf8(kCancelText), this);
  btnCancel->setObjectName("btnCancel");
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QString::fromUtf8(kCategoriesLabel), this));
  left->addWidget(lbCategories, 1);
  auto* filter = new QHBoxLayout;
  filter->addWidget(new QLabel(QString::fromUtf8(kFilterLabel), this));
  filter->addWidget(edFilter, 1);
  auto* right = new QVBoxLayout;
  right->addLayout(filter);
  right->addWidget(new QLabel(QString::fromUtf8(kGoodsLabel), this));
  right->addWidget(tvGoods, 1);
  auto* lists = new QHBoxLayout;
  lists->addLayout(left, 2);
  lists->addLayout(right, 3);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(lbCounts, 1);
  bottom->addWidget(btnOk);
  bottom->addWidget(btnCancel);
  auto* window = new QVBoxLayout(this);
  window->addLayout(lists, 1);
  window->addLayout(bottom);
  resize(QSize(760, 520).expandedTo(minimumSizeHint()));

  lbCategoriesChange();
  UpdateCounts();
  edFilter->setFocus();
}

void TGoodsSelectForm::lbCategoriesChange() { edFilterChange(); }

void TGoodsSelectForm::lbCategoriesToggle(QListWidgetItem* item) {
  const int row = lbCategories->row(item);
  if (row < 1) return;
  choice_.SetCategoryChecked(static_cast<std::size_t>(row - 1), item->checkState() == Qt::Checked);
  UpdateCounts();
}

void TGoodsSelectForm::edFilterChange() {
  const int row = lbCategories->currentRow();
  const std::int32_t* category = row >= 1 ? &choice_.Categories()[static_cast<std::size_t>(row - 1)].id : nullptr;
  model_->SetVisible(choice_.Visible(category, edFilter->text().toStdString()));
}

void TGoodsSelectForm::UpdateCounts() { lbCounts->setText(Q(choice_.CountsText())); }

// ---------------------------------------------------------------------------
// Entry points

std::int32_t ShowGoodsSelectForm(TShopDataModule& dataModule, QWidget* parent) {
  TShopDataSet& keyTovar = dataModule.DataSet("KeyTovar");
  TShopDataSet& goods = dataModule.DataSet("Goods");
  const bool perCategory = goods.Master() == &keyTovar;
  TGoodsChoice choice;
  choice.Load(keyTovar, goods, perCategory);
  const TOpenerFocus opener;
  TGoodsSelectForm form(choice, parent);
  if (form.exec() != QDialog::Accepted) return 0;
  choice.Store(keyTovar, goods, perCategory);
  return 1;
}

std::int32_t GoodsSelectWindowCallback() {
  TShopDataModule* dataModule = CallbackDataModule();
  if (!dataModule) return 0;
  if (!QApplication::instance()) {
    // The host owns the user-interface thread; its application object lives
    // as long as the process.
    static int argc = 1;
    static char name[] = "selvo-host";
    static char* argv[] = {name, nullptr};
    InstallQtTranslation(*new QApplication(argc, argv));
  }
  return ShowGoodsSelectForm(*dataModule, QApplication::activeWindow());
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace selvo::host
