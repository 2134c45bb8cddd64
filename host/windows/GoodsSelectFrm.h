// The host's goods selection window: the shop's categories with a check box
// each (a category chosen whole), the articles of the category in view with
// a check box each, a filter that narrows the articles by name or code as
// the operator types, and the counts of what is chosen. Its content and the
// writing of the marks are host/windows/GoodsSelectU.h.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>

#include <cstdint>
#include <vector>

#include "host/windows/GoodsSelectU.h"
#include "selvo/SelvoCallbacks.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTableView;

namespace selvo::host {

class TShopDataModule;

// The articles in view, over a TGoodsChoice: code (with the check box),
// name, price.
class TGoodsTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TGoodsTableModel(TGoodsChoice& choice, QObject* parent = nullptr);
  void SetVisible(std::vector<std::size_t> rows);
  std::size_t ArticleAt(int row) const { return rows_.at(static_cast<std::size_t>(row)); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 signals:
  void ArticleToggled();

 private:
  TGoodsChoice& choice_;
  std::vector<std::size_t> rows_;
};

class TGoodsSelectForm : public QDialog {
  Q_OBJECT

 public:
  explicit TGoodsSelectForm(TGoodsChoice& choice, QWidget* parent = nullptr);

  // Event handlers.
  void lbCategoriesChange();  // another category in view
  void lbCategoriesToggle(QListWidgetItem* item);
  void edFilterChange();
  void UpdateCounts();

 private:
  TGoodsChoice& choice_;
  QListWidget* lbCategories = nullptr;
  QLineEdit* edFilter = nullptr;
  QTableView* tvGoods = nullptr;
  TGoodsTableModel* model_ = nullptr;
  QLabel* lbCounts = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;
};

// Shows the window over the data module's "KeyTovar" and "Goods" and, when
// the operator confirms, writes the marks back into them. Answers 1 when
// confirmed, 0 when cancelled (nothing written then).
std::int32_t ShowGoodsSelectForm(TShopDataModule& dataModule, QWidget* parent = nullptr);

// The goods selection the host hands the module when it has a display: the
// window over the data module of the callbacks (SetCallbackDataModule); 0
// when there is none. Makes the process's QApplication on first use when
// there is none yet.
std::int32_t GoodsSelectWindowCallback();

// Whether the process can show windows: $DISPLAY, $WAYLAND_DISPLAY or
// $QT_QPA_PLATFORM is set.
bool HasDisplay();

}  // namespace selvo::host
