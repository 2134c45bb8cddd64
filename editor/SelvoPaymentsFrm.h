// The settings editor TSelvoPaymentsForm: payment types and automatic
// discount cards in two lists, their dialogs, export and import, and the
// save of all changes in one host transaction. Its logic is
// editor/SelvoPaymentsU.h; this unit is the window over it.
#pragma once

#include <QDialog>

#include <cstdint>

#include "editor/CardDialogSeam.h"

class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QWidget;

namespace selvo {

// Creates the editor without owner, shows it modally and destroys it.
// Needs a running QApplication (ENotAvailable otherwise).
void ShowSelvoPaymentsForm();

// The window. Controls carry the names below as object names; event
// handlers are public, as the toolkit would call them.
class TSelvoPaymentsForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSelvoPaymentsForm(TShowCardDialog cardDialog = DefaultCardDialog, QWidget* parent = nullptr);
  ~TSelvoPaymentsForm() override;

  void FillPaymentsView();
  void FillDiscountsView();

  // Event handlers.
  void FormCreate();
  void FormShow();
  bool FormCloseQuery();
  void FormClose();
  void FormDestroy();
  void TabSheet1Show();
  void TabSheet2Show();
  void ListViewSelectItem();
  void ListViewDblClick();
  void ListViewKeyDown(int key);
  void btnAddClick();
  void btnEditClick();
  void btnDeleteClick();
  void btnExportClick();
  void btnImportClick();
  void acPayInsertExecute();
  void acPayEditExecute();
  void acPayDeleteExecute();
  void lvDiscountsSelectItem();
  void lvDiscountsDblClick();
  void lvDiscountsKeyDown(int key);
  void btnAdd1Click();
  void btnEdit1Click();
  void btnDelete1Click();
  void BitBtn1Click();

  void done(int result) override;
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void RestorePlacement();
  void StorePlacement();
  // Runs a handler's work; a module error is shown to the operator.
  template <class Work>
  void Guarded(Work&& work);
  static void SelectRow(QTreeWidget* list, int row);
  static int SelectedRow(const QTreeWidget* list);

  TShowCardDialog cardDialog_;
  bool shown_ = false;
  bool closed_ = false;
  bool imported_ = false;  // payment types imported since the last save

  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;
  QWidget* TabSheet2 = nullptr;
  QTreeWidget* ListView = nullptr;
  QTreeWidget* lvDiscounts = nullptr;
  QWidget* Panel1 = nullptr;
  QWidget* Panel2 = nullptr;
  QWidget* Panel3 = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* btnExport = nullptr;
  QPushButton* btnImport = nullptr;
  QPushButton* btnAdd = nullptr;
  QPushButton* btnEdit = nullptr;
  QPushButton* btnDelete = nullptr;
  QPushButton* btnAdd1 = nullptr;
  QPushButton* btnEdit1 = nullptr;
  QPushButton* btnDelete1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QAction* acPayInsert = nullptr;
  QAction* acPayEdit = nullptr;
  QAction* acPayDelete = nullptr;
};

}  // namespace selvo
