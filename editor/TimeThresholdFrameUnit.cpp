#include "editor/TimeThresholdFrameUnit.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "platform/FormTexts.h"
#include "platform/MessageService.h"
#include "platform/QtCalcEdit.h"
#include "platform/QtDateTimePickers.h"
#include "platform/QtFormKit.h"
#include "platform/QtSpinEdit.h"

namespace selvo {
namespace {

constexpr const char* kSaleBanText = "запрет";
constexpr const char* kDeleteQuestion = "Вы действительно хотите удалить данную запись?";
constexpr const char* kTagProperty = "tag";

// Text offsets of the cells that the frame draws itself.
constexpr int kTextLeft = 4;
constexpr int kTextTop = 2;

// Keys that move on or close an editor without giving it a value.
bool IsPassingKey(const QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  switch (static_cast<const QKeyEvent*>(event)->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt: return true;
    default: return false;
  }
}

// Whether `widget` is `editor` or lies inside it, its drop-downs (calendar,
// calculator, list) included: those are windows of their own whose parent
// chain leads back to the editor.
bool IsInside(const QWidget* editor, const QWidget* widget) {
  for (; widget; widget = widget->parentWidget())
    if (widget == editor) return true;
  return false;
}

Qt::KeyboardModifiers ModifiersOf(const QKeyEvent* key) { return key->modifiers() & ~Qt::KeypadModifier; }

}  // namespace

// The cell table as the view sees it: the header row becomes the view's
// header, data row r is model row r - 1. The model keeps its own counts and
// follows the table in Sync(), so that the view hears of every row added or
// removed at the end (all row changes of the table happen there) and keeps
// its current cell.
class TCellTableModel : public QAbstractTableModel {
 public:
  TCellTableModel(const TTimeThresholdCells& cells, QObject* parent)
      : QAbstractTableModel(parent), cells_(cells), rows_(cells.DataRowCount()), columns_(cells.ColCount()) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : rows_; }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : columns_; }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return QString::fromStdString(cells_.Cell(index.column(), index.row() + 1));
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(cells_.Cell(section, 0));
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    return {};
  }

  void Sync() {
    if (columns_ != cells_.ColCount()) {
      beginResetModel();
      rows_ = cells_.DataRowCount();
      columns_ = cells_.ColCount();
      endResetModel();
      return;
    }
    const int rows = cells_.DataRowCount();
    if (rows > rows_) {
      beginInsertRows(QModelIndex(), rows_, rows - 1);
      rows_ = rows;
      endInsertRows();
    } else if (rows < rows_) {
      beginRemoveRows(QModelIndex(), rows, rows_ - 1);
      rows_ = rows;
      endRemoveRows();
    }
    if (rows_ > 0 && columns_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, columns_ - 1));
    emit headerDataChanged(Qt::Horizontal, 0, columns_ - 1);
  }

 private:
  const TTimeThresholdCells& cells_;
  int rows_;
  int columns_;
};

namespace {

// Draws the cells that the grid does not show as they are: the sale-ban
// amounts of the time list read "запрет", and every cell of a period that is
// switched off is greyed. Both on the button-face colour, text at 4, 2.
class TCellDelegate : public QStyledItemDelegate {
 public:
  TCellDelegate(const TTimeThresholdCells& cells, QObject* parent) : QStyledItemDelegate(parent), cells_(cells) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int column = index.column(), row = index.row() + 1;
    const bool ban = cells_.ShowsSaleBan(column, row);
    if (!ban && !cells_.RowGreyed(row)) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    painter->save();
    painter->fillRect(option.rect, option.palette.color(QPalette::Button));
    painter->setPen(option.palette.color(QPalette::ButtonText));
    painter->setFont(option.font);
    const QString text = ban ? QString::fromUtf8(kSaleBanText) : index.data().toString();
    painter->drawText(option.rect.adjusted(kTextLeft, kTextTop, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
    // The operator still sees where the cursor is.
    if (option.state & QStyle::State_HasFocus) {
      painter->setPen(QPen(option.palette.color(QPalette::Highlight), 1, Qt::DotLine));
      painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
    painter->restore();
  }

 private:
  const TTimeThresholdCells& cells_;
};

}  // namespace

// ---------------------------------------------------------------------------
// The grid

TMyStringGrid::TMyStringGrid(TTimeThresholdFrame* frame) : QTableView(frame), frame_(frame) {
  setObjectName("sgTimeDscList");
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(DoubleClicked | SelectedClicked | EditKeyPressed | AnyKeyPressed);
  setTabKeyNavigation(true);
  setShowGrid(true);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setHorizontalScrollMode(ScrollPerPixel);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(kGridRowHeight);
  verticalHeader()->setDefaultSectionSize(kGridRowHeight);
  QHeaderView* header = horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Fixed);
  header->setMinimumSectionSize(8);
  header->setDefaultSectionSize(kDefaultColumnWidth);
  header->setStretchLastSection(false);
  header->setHighlightSections(false);
  header->setFixedHeight(kGridRowHeight);
  QFont bold = font();
  bold.setBold(true);
  header->setFont(bold);
}

int TMyStringGrid::Col() const { return currentIndex().isValid() ? currentIndex().column() : 0; }
int TMyStringGrid::Row() const { return currentIndex().isValid() ? currentIndex().row() + 1 : 0; }

void TMyStringGrid::SetCurrentCell(int column, int row) {
  const QModelIndex index = model()->index(row - 1, column);
  if (index.isValid()) setCurrentIndex(index);
}

QRect TMyStringGrid::CellRect(int column, int row) const { return visualRect(model()->index(row - 1, column)); }

bool TMyStringGrid::CellAt(const QPoint& viewportPos, int& column, int& row) const {
  const QModelIndex index = indexAt(viewportPos);
  if (!index.isValid()) return false;
  column = index.column();
  row = index.row() + 1;
  return true;
}

// The table flips by its own mode, which is the frame's.
void TMyStringGrid::ToggleLastColumn(int column, int row, std::uint8_t) {
  if (frame_->cells_.ToggleLastColumn(column, row)) frame_->CellsChanged();
}

// Every start of editing the view knows (double click, a click on the
// current cell, F2, typing) opens the frame's editor instead of the view's
// own; a typed key goes on to that editor.
bool TMyStringGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (!index.isValid() || !(editTriggers() & trigger)) return false;
  frame_->sgTimeDscListGetEditText(index.column(), index.row() + 1);
  QWidget* editor = frame_->activeEditor_;
  if (trigger == AnyKeyPressed && editor && event && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    QKeyEvent copy(key->type(), key->key(), key->modifiers(), key->text());
    QWidget* target = QApplication::focusWidget() && IsInside(editor, QApplication::focusWidget())
                          ? QApplication::focusWidget()
                          : (editor->focusProxy() ? editor->focusProxy() : editor);
    QApplication::sendEvent(target, &copy);
  }
  return true;
}

void TMyStringGrid::keyPressEvent(QKeyEvent* event) {
  if (frame_->sgTimeDscListKeyDown(event)) {
    event->accept();
    return;
  }
  const auto mods = ModifiersOf(event);
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::NoModifier) {
    if (Row() > 0) frame_->sgTimeDscListGetEditText(Col(), Row());
    event->accept();
    return;
  }
  // Tab walks the cells row by row and opens each one's editor; past the
  // last cell it leaves the grid.
  if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && !(mods & (Qt::ControlModifier | Qt::AltModifier))) {
    const bool back = key == Qt::Key_Backtab || (mods & Qt::ShiftModifier);
    const int columns = model()->columnCount();
    const int cell = (Row() - 1) * columns + Col() + (back ? -1 : 1);
    if (Row() < 1 || cell < 0 || cell >= model()->rowCount() * columns) {
      event->ignore();
      return;
    }
    SetCurrentCell(cell % columns, cell / columns + 1);
    frame_->sgTimeDscListGetEditText(Col(), Row());
    event->accept();
    return;
  }
  if (event->text() == QLatin1String(" ") && Col() == model()->columnCount() - 1 && Row() > 0) {
    ToggleLastColumn(Col(), Row(), frame_->Mode());
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void TMyStringGrid::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    frame_->sgTimeDscListMouseDown(event->button(), event->position().toPoint());
    event->accept();
    return;
  }
  QTableView::mousePressEvent(event);
}

// ---------------------------------------------------------------------------
// The frame

TTimeThresholdFrame::TTimeThresholdFrame(QWidget* parent) : QFrame(parent) {
  setObjectName("TimeThresholdFrame");
  setFont(FormFont(11));
  model_ = new TCellTableModel(cells_, this);
  sgTimeDscList = new TMyStringGrid(this);
  sgTimeDscList->setModel(model_);
  sgTimeDscList->setItemDelegate(new TCellDelegate(cells_, sgTimeDscList));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(sgTimeDscList);

  QWidget* cells = sgTimeDscList->viewport();
  dtpTimeEdit = new TTimePicker(cells);
  dtpTimeEdit->setObjectName("dtpTimeEdit");
  cedDiscount = new TCalcEdit(cells);
  cedDiscount->setObjectName("cedDiscount");
  cbMetric = new QComboBox(cells);
  cbMetric->setObjectName("cbMetric");
  cbMetric->addItems({QString::fromUtf8(kPercentText), QString::fromUtf8(kRoubleText)});
  seSumma = new TSpinEdit(cells);
  seSumma->setObjectName("seSumma");
  dtpDateEdit = new TDatePicker(cells);
  dtpDateEdit->setObjectName("dtpDateEdit");
  cbExclEnabled = new QComboBox(cells);
  cbExclEnabled->setObjectName("cbExclEnabled");
  cbExclEnabled->addItems({QString::fromUtf8(kYesText), QString::fromUtf8(kNoText)});
  for (QWidget* editor :
       std::initializer_list<QWidget*>{dtpTimeEdit, cedDiscount, cbMetric, seSumma, dtpDateEdit, cbExclEnabled}) {
    editor->hide();
    editor->installEventFilter(this);
    for (QWidget* child : editor->findChildren<QWidget*>())
      if (child->window() == editor->window()) child->installEventFilter(this);
  }
  // The lists of the drop-down editors, which take their own Escape (see
  // eventFilter).
  for (QComboBox* combo : {cbMetric, cbExclEnabled}) combo->view()->installEventFilter(this);
  connect(qApp, &QApplication::focusChanged, this, &TTimeThresholdFrame::FocusChanged);
  ApplyColumns();
  sgTimeDscList->SetCurrentCell(0, 1);
}

// The editors go with the frame's children, after this destructor: a focused
// one hands the focus on as it goes, which must not reach the frame any more.
TTimeThresholdFrame::~TTimeThresholdFrame() {
  disconnect(qApp, &QApplication::focusChanged, this, nullptr);
  activeEditor_ = nullptr;
}

void TTimeThresholdFrame::ApplyColumns() {
  model_->Sync();
  for (int c = 0; c < cells_.ColCount(); ++c) sgTimeDscList->setColumnWidth(c, cells_.ColWidth(c));
}

void TTimeThresholdFrame::CellsChanged() {
  model_->Sync();
  sgTimeDscList->viewport()->update();
}

QSize TTimeThresholdFrame::sizeHint() const {
  int width = 0;
  for (int c = 0; c < cells_.ColCount(); ++c) width += cells_.ColWidth(c);
  const int frame = 2 * sgTimeDscList->frameWidth();
  const int bar = sgTimeDscList->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, sgTimeDscList);
  return {width + frame + bar, kGridRowHeight * 6 + frame};
}

void TTimeThresholdFrame::SetMode(std::uint8_t mode) {
  // An editor over a cell of the old columns goes without writing back.
  if (activeEditor_) FinishEditor(activeEditor_, false);
  cells_.SetMode(mode);
  ApplyColumns();
  sgTimeDscList->SetCurrentCell(0, 1);
  updateGeometry();
}

void TTimeThresholdFrame::ClearList() {
  cells_.ClearList();
  CellsChanged();
}

void TTimeThresholdFrame::LoadTimeList(const TDynTimeArray& begins, const TDynTimeArray& ends,
                                       const TDynCharArray& units, const TDynDoubleArray& amounts) {
  cells_.LoadTimeList(begins, ends, units, amounts);
  CellsChanged();
}

void TTimeThresholdFrame::LoadThresholdList(const TDynDoubleArray& sums, const TDynDoubleArray& amounts,
                                            const TDynCharArray& units) {
  cells_.LoadThresholdList(sums, amounts, units);
  CellsChanged();
}

void TTimeThresholdFrame::LoadPeriodList(const TDynDateTimeArray& begins, const TDynDateTimeArray& ends,
                                         const TDynBooleanArray& enabled) {
  cells_.LoadPeriodList(begins, ends, enabled);
  CellsChanged();
}

int TTimeThresholdFrame::CheckTimeList(double lowerBound, double upperBound) const {
  return cells_.CheckTimeList(lowerBound, upperBound);
}
int TTimeThresholdFrame::CheckThresholdList() const { return cells_.CheckThresholdList(); }
int TTimeThresholdFrame::CheckPeriodList() const { return cells_.CheckPeriodList(); }

int TTimeThresholdFrame::StoreTimeList(TDynTimeArray& begins, TDynTimeArray& ends, TDynCharArray& units,
                                       TDynDoubleArray& amounts) const {
  return cells_.StoreTimeList(begins, ends, units, amounts);
}
int TTimeThresholdFrame::StoreThresholdList(TDynDoubleArray& sums, TDynDoubleArray& amounts,
                                            TDynCharArray& units) const {
  return cells_.StoreThresholdList(sums, amounts, units);
}
int TTimeThresholdFrame::StorePeriodList(TDynDateTimeArray& begins, TDynDateTimeArray& ends,
                                         TDynBooleanArray& enabled) const {
  return cells_.StorePeriodList(begins, ends, enabled);
}

void TTimeThresholdFrame::AddSaleDenyRows() {
  cells_.AddSaleDenyRows();
  CellsChanged();
}

bool TTimeThresholdFrame::IsEditing() const {
  for (const QWidget* editor :
       {static_cast<QWidget*>(dtpTimeEdit), static_cast<QWidget*>(cedDiscount), static_cast<QWidget*>(cbMetric),
        static_cast<QWidget*>(seSumma), static_cast<QWidget*>(dtpDateEdit)})
    if (!editor->isHidden()) return true;
  return false;
}

void TTimeThresholdFrame::CommitEditor() {
  if (!dtpTimeEdit->isHidden())
    dtpTimeEditExit();
  else if (!cedDiscount->isHidden())
    cedDiscountExit();
  else if (!cbMetric->isHidden())
    cbMetricExit();
  else if (!seSumma->isHidden())
    seSummaExit();
  else if (!dtpDateEdit->isHidden())
    dtpDateEditExit();
  sgTimeDscList->setFocus();
}

QWidget* TTimeThresholdFrame::EditorWidget(TCellEditor kind) const {
  switch (kind) {
    case TCellEditor::TimeEdit: return dtpTimeEdit;
    case TCellEditor::Discount: return cedDiscount;
    case TCellEditor::Metric: return cbMetric;
    case TCellEditor::Summa: return seSumma;
    case TCellEditor::DateEdit: return dtpDateEdit;
    case TCellEditor::ExclEnabled: return cbExclEnabled;
  }
  return nullptr;
}

void TTimeThresholdFrame::sgTimeDscListGetEditText(int column, int row) {
  if (row < 1 || row >= cells_.RowCount() || column < 0 || column >= cells_.ColCount()) return;
  if (activeEditor_) FinishEditor(activeEditor_, true);
  const TCellEditor kind = cells_.EditorFor(column);
  QWidget* editor = EditorWidget(kind);
  const std::string& text = cells_.Cell(column, row);
  switch (kind) {
    case TCellEditor::TimeEdit: dtpTimeEdit->SetTime(CellTimeOrZero(text)); break;
    case TCellEditor::Discount: cedDiscount->SetValue(CellNumberOrZero(text)); break;
    case TCellEditor::Summa: seSumma->SetValue(CellNumberOrZero(text)); break;
    case TCellEditor::DateEdit: dtpDateEdit->SetDate(CellDateOrToday(text)); break;
    case TCellEditor::Metric: {
      const int item = cbMetric->findText(QString::fromStdString(text), Qt::MatchExactly);
      cbMetric->setCurrentIndex(item >= 0 ? item : 0);
      break;
    }
    case TCellEditor::ExclEnabled: cbExclEnabled->setCurrentIndex(text == kNoText ? 1 : 0); break;
  }
  editorOnEmptyCell_ = text.empty();
  editorTouched_ = false;
  editorStartText_ = EditorValueText(editor);
  editor->setProperty(kTagProperty, EditorTag(column, row));
  sgTimeDscList->scrollTo(model_->index(row - 1, column));
  editor->setGeometry(sgTimeDscList->CellRect(column, row));
  editor->show();
  editor->raise();
  activeEditor_ = editor;
  editor->setFocus(Qt::OtherFocusReason);
  // Typing replaces what the editor shows: a picker's first section, or the
  // whole number.
  if (auto* picker = qobject_cast<QDateTimeEdit*>(editor))
    picker->setSelectedSection(picker->sectionAt(0));
  else if (editor == seSumma)
    seSumma->selectAll();
}

std::string TTimeThresholdFrame::EditorValueText(QWidget* editor) const {
  if (editor == dtpTimeEdit) {
    dtpTimeEdit->interpretText();
    return TimeCellText(dtpTimeEdit->Time());
  }
  if (editor == dtpDateEdit) {
    dtpDateEdit->interpretText();
    return DateCellText(dtpDateEdit->Date());
  }
  if (editor == cedDiscount) return NumberCellText(cedDiscount->Value());
  if (editor == seSumma) return NumberCellText(seSumma->Value());
  return static_cast<QComboBox*>(editor)->currentText().toStdString();
}

void TTimeThresholdFrame::FinishEditor(QWidget* editor, bool writeBack) {
  if (editor->isHidden()) return;
  if (activeEditor_ == editor) activeEditor_ = nullptr;
  if (writeBack) {
    int column = 0, row = 0;
    DecodeEditorTag(editor->property(kTagProperty).toInt(), column, row);
    std::string text = EditorValueText(editor);
    const bool given = !editorOnEmptyCell_ || editorTouched_ || text != editorStartText_;
    if (row >= 1 && given) cells_.SetCell(column, row, std::move(text));
    CellsChanged();
  }
  // Hiding the focused editor would hand the focus to whatever comes next in
  // the dialog; the grid is where the operator was.
  if (IsInside(editor, QApplication::focusWidget())) sgTimeDscList->setFocus();
  editor->hide();
}

void TTimeThresholdFrame::dtpTimeEditExit() { FinishEditor(dtpTimeEdit, true); }
void TTimeThresholdFrame::cedDiscountExit() { FinishEditor(cedDiscount, true); }
void TTimeThresholdFrame::cbMetricExit() { FinishEditor(cbMetric, true); }
void TTimeThresholdFrame::seSummaExit() { FinishEditor(seSumma, true); }
void TTimeThresholdFrame::dtpDateEditExit() { FinishEditor(dtpDateEdit, true); }
void TTimeThresholdFrame::cbExclEnabledExit() {
  FinishEditor(cbExclEnabled, true);
  sgTimeDscList->viewport()->update();
}

// The focus left the shown editor (and its drop-down) for another control:
// that is the editor's exit. A window losing the focus altogether is not.
void TTimeThresholdFrame::FocusChanged(QWidget* old, QWidget* now) {
  QWidget* editor = activeEditor_;
  if (!editor || !now || !IsInside(editor, old) || IsInside(editor, now)) return;
  if (editor == dtpTimeEdit)
    dtpTimeEditExit();
  else if (editor == cedDiscount)
    cedDiscountExit();
  else if (editor == cbMetric)
    cbMetricExit();
  else if (editor == seSumma)
    seSummaExit();
  else if (editor == dtpDateEdit)
    dtpDateEditExit();
  else
    cbExclEnabledExit();
}

bool TTimeThresholdFrame::dtpTimeEditKeyDown(QWidget* editor, QKeyEvent* key) {
  const auto mods = ModifiersOf(key);
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (mods != Qt::NoModifier) return false;
      editorTouched_ = true;  // Enter accepts what the editor shows
      FocusChanged(editor, sgTimeDscList);
      sgTimeDscList->setFocus();
      return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
      if (mods & (Qt::ControlModifier | Qt::AltModifier)) return false;
      FocusChanged(editor, sgTimeDscList);
      sgTimeDscList->setFocus();
      QKeyEvent tab(QEvent::KeyPress, key->key(), key->modifiers());
      QApplication::sendEvent(sgTimeDscList, &tab);
      return true;
    }
    default: return false;
  }
}

bool TTimeThresholdFrame::eventFilter(QObject* watched, QEvent* event) {
  if ((event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress) && activeEditor_ &&
      watched->isWidgetType() && IsInside(activeEditor_, static_cast<QWidget*>(watched)) && !IsPassingKey(event))
    editorTouched_ = true;
  if (event->type() == QEvent::KeyPress && activeEditor_ && watched->isWidgetType() &&
      IsInside(activeEditor_, static_cast<QWidget*>(watched)) &&
      static_cast<QWidget*>(watched)->window() == activeEditor_->window()) {
    if (dtpTimeEditKeyDown(activeEditor_, static_cast<QKeyEvent*>(event))) return true;
  }
  // An open drop-down list of an editor closes itself on Escape, and that
  // is all the key does: the window's Escape must not run as well (the list
  // would close before the window's shortcuts are tried).
  if (event->type() == QEvent::ShortcutOverride && activeEditor_ && watched->isWidgetType() &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
      IsInside(activeEditor_, static_cast<QWidget*>(watched)) &&
      static_cast<QWidget*>(watched)->window() != activeEditor_->window()) {
    event->accept();
    return true;
  }
  // Enter without Ctrl belongs to the editor while it is open, before any
  // shortcut of the window; Ctrl+Enter stays the window's confirmation.
  // Escape is not claimed: it keeps its meaning in the window (the card
  // dialog writes the value back and stays open, see EditDiscountFrm.h).
  if (event->type() == QEvent::ShortcutOverride && activeEditor_ && watched->isWidgetType() &&
      IsInside(activeEditor_, static_cast<QWidget*>(watched))) {
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    const int key = keyEvent->key();
    const bool ctrl = keyEvent->modifiers() & Qt::ControlModifier;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !ctrl) event->accept();
  }
  return QFrame::eventFilter(watched, event);
}

bool TTimeThresholdFrame::sgTimeDscListKeyDown(QKeyEvent* key) {
  const auto mods = ModifiersOf(key);
  const int row = sgTimeDscList->Row();
  switch (key->key()) {
    case Qt::Key_Down:
      if (mods == Qt::NoModifier && cells_.AddRowAfterLast(row)) CellsChanged();
      return false;  // the view then moves into the new row
    case Qt::Key_Up:
      if (mods != Qt::NoModifier || !cells_.RemoveBlankLastRow(row)) return false;
      {
        const int column = sgTimeDscList->Col();
        CellsChanged();
        sgTimeDscList->SetCurrentCell(column, cells_.RowCount() - 1);
      }
      return true;
    case Qt::Key_Delete:
      if (mods != Qt::ControlModifier) return false;
      if (row >= 1 && ShowMessageBox(kDeleteQuestion, kConfirmCaption, TMsgIcon::Question, TMsgButtons::OKCancel) ==
                          TModalResult::mrOk) {
        cells_.DeleteRow(row);
        CellsChanged();
      }
      return true;
    default: return false;
  }
}

void TTimeThresholdFrame::sgTimeDscListMouseDown(Qt::MouseButton button, const QPoint& viewportPos) {
  int column = 0, row = 0;
  if (button == Qt::RightButton && sgTimeDscList->CellAt(viewportPos, column, row))
    sgTimeDscList->ToggleLastColumn(column, row, Mode());
}

}  // namespace selvo
