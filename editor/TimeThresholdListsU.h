// The cell table behind the time, threshold and period grid of the discount
// card editor: its three layouts, the conversions between cell texts and a
// card's sequences, the checks the card editor reports, and the row
// operations of the grid's keys. No widgets here: the grid frame
// (TimeThresholdFrameUnit) shows this table and forwards its operator's
// gestures to it.
//
// Row 0 holds the column headers; rows 1 and up are data rows. Cell texts are
// UTF-8 and use the module's format settings (long time, short date, shortest
// number text), so that checks and stores read back exactly what a cell shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "discounts/DiscountListTexts.h"
#include "discounts/SelvoDiscountItemsU.h"

namespace selvo {

// Which list a grid edits.
enum TListMode : std::uint8_t { lmTimeDiscounts = 0, lmThresholds = 1, lmPeriods = 2 };

// The editor control that edits a cell, chosen by mode and column.
enum class TCellEditor { TimeEdit, Discount, Metric, Summa, DateEdit, ExclEnabled };

inline constexpr int kDefaultColumnWidth = 64;
inline constexpr int kGridRowHeight = 20;

// Texts of the in-effect cells; the unit cells show the units as the stored
// lists write them (kPercentText, kRoubleText).
inline constexpr const char* kYesText = "Да";
inline constexpr const char* kNoText = "Нет";

// True when an endpoint of one interval lies strictly inside the other.
// Intervals that only touch, and two equal intervals, do not overlap.
bool IntervalsOverlap(double b1, double e1, double b2, double e2);

// An editor remembers its cell as column * 65536 + row; the row reads back as
// a signed 16-bit number, so data rows stay below 32768.
int EditorTag(int column, int row);
void DecodeEditorTag(int tag, int& column, int& row);

// Cell texts of values, in the module's format settings.
std::string TimeCellText(double time);
std::string DateCellText(double date);
std::string NumberCellText(double value);
std::string UnitCellText(char unit);  // a Windows-1251 unit byte as text
// The unit byte of a cell's first character ('?' for one without a byte).
char CellUnit(const std::string& cell);
// A time cell parsed strictly: EConvertError names the text that is no time.
double StrictCellTime(const std::string& cell);
// Lenient readings: 0 (a number, a time, a date) for text that does not parse.
double CellNumberOrZero(const std::string& cell);
double CellTimeOrZero(const std::string& cell);
double CellDateOrZero(const std::string& cell);
// The value an editor starts with: the date picker takes today (the module
// clock) for a cell that holds no date.
double CellDateOrToday(const std::string& cell);
// Whether a time-discount amount cell and its unit make a sale ban: exactly
// SaleBanAmount roubles.
bool IsSaleBanCell(const std::string& amount, const std::string& unit);

// The grid's texts, layout and the operations on them.
class TTimeThresholdCells {
 public:
  // Mode 0: four columns (72, 68, 66, 39 pixels) with their headers, the
  // header row and one empty data row.
  TTimeThresholdCells();

  // Rebuilds the columns for the mode from those of a new table (mode 0 is
  // that layout), so that any later call gives the same columns as a first
  // one. Meant to be called once, before anything is loaded; the cells of the
  // columns that stay keep their texts.
  void SetMode(std::uint8_t mode);
  std::uint8_t Mode() const { return mode_; }

  int ColCount() const { return static_cast<int>(widths_.size()); }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Rows 1 .. RowCount() - 1; never fewer than one.
  int DataRowCount() const { return RowCount() - 1; }
  int ColWidth(int column) const { return widths_.at(static_cast<std::size_t>(column)); }
  // The text of a cell; a cell outside the table reads as empty.
  const std::string& Cell(int column, int row) const;
  // Writes a cell; a cell outside the table is left alone.
  void SetCell(int column, int row, std::string text);
  // Adds empty rows at the end or drops rows from the end (never the header
  // or the last data row).
  void SetRowCount(int rows);
  void AddRow() { SetRowCount(RowCount() + 1); }

  // Every cell empty or only blanks and control characters.
  bool RowIsBlank(int row) const;
  void ClearRow(int row);
  // Empties every data row and leaves one.
  void ClearList();

  // Fill the table from a card's sequences: N entries give N data rows, none
  // gives one empty row. Sequences of unequal length give the shortest's
  // number of rows.
  void LoadTimeList(const TDynTimeArray& begins, const TDynTimeArray& ends, const TDynCharArray& units,
                    const TDynDoubleArray& amounts);
  void LoadThresholdList(const TDynDoubleArray& sums, const TDynDoubleArray& amounts, const TDynCharArray& units);
  void LoadPeriodList(const TDynDateTimeArray& begins, const TDynDateTimeArray& ends, const TDynBooleanArray& enabled);

  // Checks of the rows that are not blank. Time list: 1 a cell empty, 4 an
  // amount below 0, 2 an interval outside the bounds or not ascending, 3 two
  // intervals overlap; a time cell that is no time raises EConvertError.
  // Thresholds: 1 a cell empty, 3 a sum or amount below 0, 2 two rows alike
  // (sum, amount and unit). Periods: 1 a cell empty, 3 an end not after its
  // begin, 2 two periods overlap. 0 when the list is sound.
  int CheckTimeList(double lowerBound, double upperBound) const;
  int CheckThresholdList() const;
  int CheckPeriodList() const;

  // Empty the card's sequences, check the list (times within the whole day)
  // and, when it is sound, append one entry per row that is not blank. A
  // failed check leaves the sequences empty and answers its code; a time cell
  // that is no time raises EConvertError, the sequences empty too.
  int StoreTimeList(TDynTimeArray& begins, TDynTimeArray& ends, TDynCharArray& units, TDynDoubleArray& amounts) const;
  int StoreThresholdList(TDynDoubleArray& sums, TDynDoubleArray& amounts, TDynCharArray& units) const;
  int StorePeriodList(TDynDateTimeArray& begins, TDynDateTimeArray& ends, TDynBooleanArray& enabled) const;

  // Appends the two sale-ban rows 00:00:00-08:00:00 and 23:00:00-23:59:59,
  // SaleBanAmount roubles, after the last row that holds data.
  void AddSaleDenyRows();

  // Flips the last column of a data row: "%" <-> "р" (any other text becomes
  // "%"), or in mode 2 "Да" <-> "Нет" (any other text becomes "Да"). Answers
  // whether the cell was one to flip.
  bool ToggleLastColumn(int column, int row);

  // Down arrow on a row: adds a row when it is the last one and holds data.
  bool AddRowAfterLast(int currentRow);
  // Up arrow on a row: removes it when it is the last one, blank, and not
  // the only data row.
  bool RemoveBlankLastRow(int currentRow);
  // Deletes a data row: the rows after it move up; the table keeps at least
  // one (then empty) data row.
  void DeleteRow(int row);

  TCellEditor EditorFor(int column) const;
  // Mode 2: the period of the row is switched off ("Нет").
  bool RowGreyed(int row) const;
  // Mode 0: the amount cell shows "запрет" instead of its amount.
  bool ShowsSaleBan(int column, int row) const;

 private:
  std::uint8_t mode_ = lmTimeDiscounts;
  std::vector<int> widths_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace selvo
