// The grid frame of the discount card editor that edits one of a card's
// three lists: time discounts (mode 0), threshold discounts (mode 1) or the
// dated periods in which the card is in effect (mode 2). The cell texts live
// in a TTimeThresholdCells table (TimeThresholdListsU), which also holds the
// checks and the conversions to the card's sequences; this unit shows the
// table and lays its own editor controls over the cells.
//
// Keyboard: Enter or F2 opens the editor of the current cell, and so does
// typing into it (the typed key goes on to the editor); Tab moves to the next
// cell and opens its editor; in an editor Enter (no modifier key) writes the
// value back and returns to the grid, Tab writes it back and goes on to the
// next cell. Other keys keep their meaning in the editor and its window: the
// frame does not claim Escape (the card dialog's Escape writes a time or
// threshold editor's value back and keeps the dialog open; an editor's open
// drop-down closes itself on Escape). Arrows move; Down on the last row adds a
// row when that row holds data, Up on a blank last row removes it;
// Ctrl+Delete deletes the current row after a question. Space, or a right
// click, flips the last column ("%"/"р", "Да"/"Нет").
#pragma once

#include <QFrame>
#include <QTableView>

#include <cstdint>

#include "editor/TimeThresholdListsU.h"

class QComboBox;
class QKeyEvent;

namespace selvo {

class TTimeThresholdFrame;
class TCalcEdit;
class TCellTableModel;
class TDatePicker;
class TSpinEdit;
class TTimePicker;

// The frame's grid: a table view whose start of editing opens the frame's
// editors, with the grid keys of the frame and a typed space that flips the
// last column. Row numbers here are those of the cell table: the header
// row is 0 (shown as the view's header), data rows start at 1.
class TMyStringGrid : public QTableView {
  Q_OBJECT

 public:
  explicit TMyStringGrid(TTimeThresholdFrame* frame);

  // The current cell; row 0 when there is none.
  int Col() const;
  int Row() const;
  void SetCurrentCell(int column, int row);
  // The cell's rectangle in the viewport's coordinates, where the frame's
  // editors live (so that they scroll with their cells).
  QRect CellRect(int column, int row) const;
  // The cell under a point of the viewport; false when there is none.
  bool CellAt(const QPoint& viewportPos, int& column, int& row) const;

  // Flips the last column of a data row (see TTimeThresholdCells) and
  // repaints; the mode is the frame's.
  void ToggleLastColumn(int column, int row, std::uint8_t mode);

 protected:
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  TTimeThresholdFrame* frame_;
};

class TTimeThresholdFrame : public QFrame {
  Q_OBJECT

 public:
  explicit TTimeThresholdFrame(QWidget* parent = nullptr);
  ~TTimeThresholdFrame() override;

  // Sets the list the frame edits and its columns; meant once, before any
  // load. Called again it closes a shown editor and lays the columns out
  // anew for the mode.
  void SetMode(std::uint8_t mode);
  std::uint8_t Mode() const { return cells_.Mode(); }
  const TTimeThresholdCells& Cells() const { return cells_; }

  void ClearList();
  void LoadTimeList(const TDynTimeArray& begins, const TDynTimeArray& ends, const TDynCharArray& units,
                    const TDynDoubleArray& amounts);
  void LoadThresholdList(const TDynDoubleArray& sums, const TDynDoubleArray& amounts, const TDynCharArray& units);
  void LoadPeriodList(const TDynDateTimeArray& begins, const TDynDateTimeArray& ends, const TDynBooleanArray& enabled);
  // Codes as TTimeThresholdCells; a time cell that is no time raises
  // EConvertError.
  int CheckTimeList(double lowerBound, double upperBound) const;
  int CheckThresholdList() const;
  int CheckPeriodList() const;
  // Replace the card's sequences with the rows; a failing check leaves them
  // empty and answers its code.
  int StoreTimeList(TDynTimeArray& begins, TDynTimeArray& ends, TDynCharArray& units, TDynDoubleArray& amounts) const;
  int StoreThresholdList(TDynDoubleArray& sums, TDynDoubleArray& amounts, TDynCharArray& units) const;
  int StorePeriodList(TDynDateTimeArray& begins, TDynDateTimeArray& ends, TDynBooleanArray& enabled) const;
  void AddSaleDenyRows();
  // An editor other than the in-effect list is shown.
  bool IsEditing() const;
  // Writes back the shown editor (the in-effect list excepted) and focuses
  // the grid.
  void CommitEditor();
  static bool IntervalsOverlap(double b1, double e1, double b2, double e2) {
    return selvo::IntervalsOverlap(b1, e1, b2, e2);
  }

  // The size that shows every column and a few rows.
  QSize sizeHint() const override;

  // Event handlers.
  // Lays the cell's editor over a data cell, fills and focuses it.
  void sgTimeDscListGetEditText(int column, int row);
  // Answers whether the key was taken (not to be handled by the grid).
  bool sgTimeDscListKeyDown(QKeyEvent* key);
  void sgTimeDscListMouseDown(Qt::MouseButton button, const QPoint& viewportPos);
  void dtpTimeEditExit();
  void cedDiscountExit();
  void cbMetricExit();
  void seSummaExit();
  void dtpDateEditExit();
  void cbExclEnabledExit();
  // The key handler of all six editors (Enter, Tab); answers whether the key
  // was taken.
  bool dtpTimeEditKeyDown(QWidget* editor, QKeyEvent* key);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class TMyStringGrid;
  QWidget* EditorWidget(TCellEditor kind) const;
  // Writes the editor's value into the cell of its tag and hides it.
  void FinishEditor(QWidget* editor, bool writeBack);
  // The cell text of the value the editor shows.
  std::string EditorValueText(QWidget* editor) const;
  void CellsChanged();
  void FocusChanged(QWidget* old, QWidget* now);
  void ApplyColumns();

  TTimeThresholdCells cells_;
  TCellTableModel* model_ = nullptr;
  TMyStringGrid* sgTimeDscList = nullptr;
  TTimePicker* dtpTimeEdit = nullptr;
  TCalcEdit* cedDiscount = nullptr;
  QComboBox* cbMetric = nullptr;
  TSpinEdit* seSumma = nullptr;
  TDatePicker* dtpDateEdit = nullptr;
  QComboBox* cbExclEnabled = nullptr;
  // The shown editor, until its write-back.
  QWidget* activeEditor_ = nullptr;
  // An editor opened on an empty cell writes back only what the operator
  // gave it (a key, a click, Enter, a changed value): passing through with
  // Tab or the focus leaves the cell empty instead of filling it with the
  // editor's default.
  bool editorOnEmptyCell_ = false;
  bool editorTouched_ = false;
  std::string editorStartText_;
};

}  // namespace selvo
