#include "editor/TimeThresholdListsU.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"

namespace selvo {
namespace {

constexpr const char* kTimeHeaders[] = {"Начало", "Окончание", "Скидка", "Ед."};
constexpr const char* kThresholdHeaders[] = {"Сумма", "Скидка", "Ед."};
constexpr const char* kPeriodHeaders[] = {"Дата нач.", "Время нач.", "Дата кон.", "Время кон.", "Действует"};
constexpr int kTimeWidths[] = {72, 68, 66, 39};

const std::string kEmpty;

bool IsBlankText(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

bool AnyEmpty(const std::vector<std::string>& row) {
  return std::any_of(row.begin(), row.end(), [](const std::string& cell) { return cell.empty(); });
}

// Begin and end of a period row: date and time cells, each read leniently.
void PeriodBounds(const std::vector<std::string>& row, double& begin, double& end) {
  begin = ComposeDateTime(CellDateOrZero(row[0]), CellTimeOrZero(row[1]));
  end = ComposeDateTime(CellDateOrZero(row[2]), CellTimeOrZero(row[3]));
}

}  // namespace

bool IntervalsOverlap(double b1, double e1, double b2, double e2) {
  return (b2 < b1 && b1 < e2) || (b2 < e1 && e1 < e2) || (b1 < b2 && b2 < e1) || (b1 < e2 && e2 < e1);
}

int EditorTag(int column, int row) { return column * 65536 + (row & 0xFFFF); }

void DecodeEditorTag(int tag, int& column, int& row) {
  column = tag / 65536;
  row = static_cast<std::int16_t>(tag & 0xFFFF);
}

std::string TimeCellText(double time) { return TimeToStr(time, ModuleFormatSettings()); }
std::string DateCellText(double date) { return DateToStr(date, ModuleFormatSettings()); }
std::string NumberCellText(double value) { return ListNumberText(value); }
std::string UnitCellText(char unit) { return UnitText(unit); }

char CellUnit(const std::string& cell) {
  const std::string first = Utf8ToCp1251(Utf8Left(cell, 1));
  return first.empty() ? '\0' : first[0];
}

double StrictCellTime(const std::string& cell) {
  if (auto time = TryStrToTime(cell, ModuleFormatSettings())) return *time;
  throw EConvertError("'" + cell + "' не является допустимым временем");
}

double CellNumberOrZero(const std::string& cell) { return TryStrToFloat(cell, ModuleFormatSettings()).value_or(0); }
double CellTimeOrZero(const std::string& cell) { return TryStrToTime(cell, ModuleFormatSettings()).value_or(0); }
double CellDateOrZero(const std::string& cell) { return TryStrToDate(cell, ModuleFormatSettings()).value_or(0); }

double CellDateOrToday(const std::string& cell) {
  if (auto date = TryStrToDate(cell, ModuleFormatSettings())) return *date;
  return DateOf(Now());
}

bool IsSaleBanCell(const std::string& amount, const std::string& unit) {
  const auto value = TryStrToFloat(amount, ModuleFormatSettings());
  return value && unit == kRoubleText && IsSaleBan(*value, kUnitRouble);
}

// ---------------------------------------------------------------------------

TTimeThresholdCells::TTimeThresholdCells() {
  widths_.assign(std::begin(kTimeWidths), std::end(kTimeWidths));
  rows_.assign(2, std::vector<std::string>(widths_.size()));
  std::copy(std::begin(kTimeHeaders), std::end(kTimeHeaders), rows_[0].begin());
}

void TTimeThresholdCells::SetMode(std::uint8_t mode) {
  mode_ = mode;
  auto setColumns = [this](std::size_t count) {
    widths_.resize(count, kDefaultColumnWidth);
    for (auto& row : rows_) row.resize(count);
  };
  // Every mode starts from the columns of a new table: a second call finds
  // the four columns that the rules below read, whatever came before.
  widths_.assign(std::begin(kTimeWidths), std::end(kTimeWidths));
  setColumns(widths_.size());
  std::copy(std::begin(kTimeHeaders), std::end(kTimeHeaders), rows_[0].begin());
  if (mode == lmThresholds) {
    const int sum = widths_[0], amount = widths_[2], unit = widths_[3];
    setColumns(3);
    widths_ = {sum, amount, unit};
    std::copy(std::begin(kThresholdHeaders), std::end(kThresholdHeaders), rows_[0].begin());
  } else if (mode == lmPeriods) {
    widths_[3] = widths_[1];
    widths_[0] += 10;
    widths_[2] = widths_[0];
    setColumns(5);
    widths_[4] += 10;
    std::copy(std::begin(kPeriodHeaders), std::end(kPeriodHeaders), rows_[0].begin());
  }
}

const std::string& TTimeThresholdCells::Cell(int column, int row) const {
  if (row < 0 || row >= RowCount() || column < 0 || column >= ColCount()) return kEmpty;
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void TTimeThresholdCells::SetCell(int column, int row, std::string text) {
  if (row < 0 || row >= RowCount() || column < 0 || column >= ColCount()) return;
  rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = std::move(text);
}

void TTimeThresholdCells::SetRowCount(int rows) {
  rows_.resize(static_cast<std::size_t>(std::max(rows, 2)), std::vector<std::string>(widths_.size()));
}

bool TTimeThresholdCells::RowIsBlank(int row) const {
  if (row < 0 || row >= RowCount()) return true;
  const auto& cells = rows_[static_cast<std::size_t>(row)];
  return std::all_of(cells.begin(), cells.end(), IsBlankText);
}

void TTimeThresholdCells::ClearRow(int row) {
  if (row < 1 || row >= RowCount()) return;
  for (auto& cell : rows_[static_cast<std::size_t>(row)]) cell.clear();
}

void TTimeThresholdCells::ClearList() {
  for (int row = 1; row < RowCount(); ++row) ClearRow(row);
  SetRowCount(2);
}

void TTimeThresholdCells::LoadTimeList(const TDynTimeArray& begins, const TDynTimeArray& ends,
                                       const TDynCharArray& units, const TDynDoubleArray& amounts) {
  ClearList();
  const std::size_t count = std::min({begins.size(), ends.size(), units.size(), amounts.size()});
  SetRowCount(static_cast<int>(std::max<std::size_t>(count, 1)) + 1);
  for (std::size_t i = 0; i < count; ++i) {
    auto& row = rows_[i + 1];
    row[0] = TimeCellText(begins[i]);
    row[1] = TimeCellText(ends[i]);
    row[2] = NumberCellText(amounts[i]);
    row[3] = UnitCellText(units[i]);
  }
}

void TTimeThresholdCells::LoadThresholdList(const TDynDoubleArray& sums, const TDynDoubleArray& amounts,
                                            const TDynCharArray& units) {
  ClearList();
  const std::size_t count = std::min({sums.size(), amounts.size(), units.size()});
  SetRowCount(static_cast<int>(std::max<std::size_t>(count, 1)) + 1);
  for (std::size_t i = 0; i < count; ++i) {
    auto& row = rows_[i + 1];
    row[0] = NumberCellText(sums[i]);
    row[1] = NumberCellText(amounts[i]);
    row[2] = UnitCellText(units[i]);
  }
}

void TTimeThresholdCells::LoadPeriodList(const TDynDateTimeArray& begins, const TDynDateTimeArray& ends,
                                         const TDynBooleanArray& enabled) {
  ClearList();
  const std::size_t count = std::min({begins.size(), ends.size(), enabled.size()});
  SetRowCount(static_cast<int>(std::max<std::size_t>(count, 1)) + 1);
  for (std::size_t i = 0; i < count; ++i) {
    auto& row = rows_[i + 1];
    row[0] = DateCellText(begins[i]);
    row[1] = TimeCellText(begins[i]);
    row[2] = DateCellText(ends[i]);
    row[3] = TimeCellText(ends[i]);
    row[4] = enabled[i] ? kYesText : kNoText;
  }
}

int TTimeThresholdCells::CheckTimeList(double lowerBound, double upperBound) const {
  struct TInterval {
    double begin, end;
  };
  std::vector<TInterval> intervals;
  for (int r = 1; r < RowCount(); ++r) {
    if (RowIsBlank(r)) continue;
    const auto& row = rows_[static_cast<std::size_t>(r)];
    if (AnyEmpty(row)) return 1;
    if (CellNumberOrZero(row[2]) < 0) return 4;
    const double begin = StrictCellTime(row[0]);
    const double end = StrictCellTime(row[1]);
    if (begin < lowerBound || end > upperBound || begin >= end) return 2;
    intervals.push_back({begin, end});
  }
  for (std::size_t i = 0; i < intervals.size(); ++i)
    for (std::size_t j = i + 1; j < intervals.size(); ++j)
      if (IntervalsOverlap(intervals[i].begin, intervals[i].end, intervals[j].begin, intervals[j].end)) return 3;
  return 0;
}

int TTimeThresholdCells::CheckThresholdList() const {
  struct TThreshold {
    double sum, amount;
    char unit;
  };
  std::vector<TThreshold> thresholds;
  for (int r = 1; r < RowCount(); ++r) {
    if (RowIsBlank(r)) continue;
    const auto& row = rows_[static_cast<std::size_t>(r)];
    if (AnyEmpty(row)) return 1;
    const double sum = CellNumberOrZero(row[0]);
    const double amount = CellNumberOrZero(row[1]);
    if (sum < 0 || amount < 0) return 3;
    thresholds.push_back({sum, amount, CellUnit(row[2])});
  }
  for (std::size_t i = 0; i < thresholds.size(); ++i)
    for (std::size_t j = i + 1; j < thresholds.size(); ++j)
      if (SameDiscountValue(thresholds[i].sum, thresholds[j].sum) &&
          SameDiscountValue(thresholds[i].amount, thresholds[j].amount) && thresholds[i].unit == thresholds[j].unit)
        return 2;
  return 0;
}

int TTimeThresholdCells::CheckPeriodList() const {
  struct TPeriod {
    double begin, end;
  };
  std::vector<TPeriod> periods;
  for (int r = 1; r < RowCount(); ++r) {
    if (RowIsBlank(r)) continue;
    const auto& row = rows_[static_cast<std::size_t>(r)];
    if (AnyEmpty(row)) return 1;
    TPeriod period{};
    PeriodBounds(row, period.begin, period.end);
    if (!(period.end > period.begin)) return 3;
    periods.push_back(period);
  }
  for (std::size_t i = 0; i < periods.size(); ++i)
    for (std::size_t j = i + 1; j < periods.size(); ++j)
      if (IntervalsOverlap(periods[i].begin, periods[i].end, periods[j].begin, periods[j].end)) return 2;
  return 0;
}

int TTimeThresholdCells::StoreTimeList(TDynTimeArray& begins, TDynTimeArray& ends, TDynCharArray& units,
                                       TDynDoubleArray& amounts) const {
  begins.clear();
  ends.clear();
  units.clear();
  amounts.clear();
  // The whole day, from 00:00 up to and including 24:00.
  if (const int code = CheckTimeList(0.0, 1.0); code != 0) return code;
  for (int r = 1; r < RowCount(); ++r) {
    const auto& row = rows_[static_cast<std::size_t>(r)];
    if (RowIsBlank(r) || AnyEmpty(row)) continue;
    begins.push_back(StrictCellTime(row[0]));
    ends.push_back(StrictCellTime(row[1]));
    amounts.push_back(CellNumberOrZero(row[2]));
    units.push_back(CellUnit(row[3]));
  }
  return 0;
}

int TTimeThresholdCells::StoreThresholdList(TDynDoubleArray& sums, TDynDoubleArray& amounts,
                                            TDynCharArray& units) const {
  sums.clear();
  amounts.clear();
  units.clear();
  if (const int code = CheckThresholdList(); code != 0) return code;
  for (int r = 1; r < RowCount(); ++r) {
    const auto& row = rows_[static_cast<std::size_t>(r)];
    if (RowIsBlank(r) || AnyEmpty(row)) continue;
    sums.push_back(CellNumberOrZero(row[0]));
    amounts.push_back(CellNumberOrZero(row[1]));
    units.push_back(CellUnit(row[2]));
  }
  return 0;
}

int TTimeThresholdCells::StorePeriodList(TDynDateTimeArray& begins, TDynDateTimeArray& ends,
                                         TDynBooleanArray& enabled) const {
  begins.clear();
  ends.clear();
  enabled.clear();
  if (const int code = CheckPeriodList(); code != 0) return code;
  for (int r = 1; r < RowCount(); ++r) {
    const auto& row = rows_[static_cast<std::size_t>(r)];
    if (RowIsBlank(r) || AnyEmpty(row)) continue;
    double begin = 0, end = 0;
    PeriodBounds(row, begin, end);
    begins.push_back(begin);
    ends.push_back(end);
    enabled.push_back(row[4] == kYesText);
  }
  return 0;
}

void TTimeThresholdCells::AddSaleDenyRows() {
  const std::string ban = NumberCellText(SaleBanAmount);
  auto fillLast = [&](double begin, double end) {
    auto& row = rows_.back();
    row[0] = TimeCellText(begin);
    row[1] = TimeCellText(end);
    row[2] = ban;
    row[3] = kRoubleText;
  };
  if (!RowIsBlank(RowCount() - 1)) AddRow();
  fillLast(0.0, EncodeTime(8, 0, 0, 0));
  AddRow();
  fillLast(EncodeTime(23, 0, 0, 0), EncodeTime(23, 59, 59, 999));
}

bool TTimeThresholdCells::ToggleLastColumn(int column, int row) {
  if (row <= 0 || row >= RowCount() || column != ColCount() - 1) return false;
  std::string& cell = rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
  if (mode_ == lmPeriods)
    cell = cell == kYesText ? kNoText : kYesText;
  else
    cell = cell == kPercentText ? kRoubleText : kPercentText;
  return true;
}

bool TTimeThresholdCells::AddRowAfterLast(int currentRow) {
  if (currentRow != RowCount() - 1 || RowIsBlank(currentRow)) return false;
  AddRow();
  return true;
}

bool TTimeThresholdCells::RemoveBlankLastRow(int currentRow) {
  if (currentRow <= 1 || currentRow != RowCount() - 1 || !RowIsBlank(currentRow)) return false;
  ClearRow(currentRow);
  SetRowCount(RowCount() - 1);
  return true;
}

void TTimeThresholdCells::DeleteRow(int row) {
  if (row < 1 || row >= RowCount()) return;
  ClearRow(row);
  for (int r = row; r + 1 < RowCount(); ++r)
    rows_[static_cast<std::size_t>(r)].swap(rows_[static_cast<std::size_t>(r) + 1]);
  if (RowCount() > 2) SetRowCount(RowCount() - 1);
}

TCellEditor TTimeThresholdCells::EditorFor(int column) const {
  switch (mode_) {
    case lmThresholds:
      return column == 0 ? TCellEditor::Summa : column == 1 ? TCellEditor::Discount : TCellEditor::Metric;
    case lmPeriods:
      return column == 0 || column == 2 ? TCellEditor::DateEdit
             : column == 4              ? TCellEditor::ExclEnabled
                                        : TCellEditor::TimeEdit;
    default: return column <= 1 ? TCellEditor::TimeEdit : column == 2 ? TCellEditor::Discount : TCellEditor::Metric;
  }
}

bool TTimeThresholdCells::RowGreyed(int row) const { return mode_ == lmPeriods && row > 0 && Cell(4, row) == kNoText; }

bool TTimeThresholdCells::ShowsSaleBan(int column, int row) const {
  return mode_ == lmTimeDiscounts && column == 2 && row > 0 && IsSaleBanCell(Cell(2, row), Cell(3, row));
}

}  // namespace selvo
