#include "editor/TimeThresholdListsU.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "tests/common/ScopedOverrides.h"

namespace selvo {
namespace {

using Row = std::vector<std::string>;

double T(int h, int m, int s = 0, int ms = 0) { return EncodeTime(h, m, s, ms); }
double D(int y, int mo, int d) { return EncodeDate(y, mo, d); }

class CellsTest : public ::testing::Test {
 protected:
  test::ScopedFormatSettings format_{TFormatSettings::Russian()};

  // A table of the mode with these data rows.
  static TTimeThresholdCells Table(std::uint8_t mode, const std::vector<Row>& rows) {
    TTimeThresholdCells cells;
    cells.SetMode(mode);
    cells.SetRowCount(static_cast<int>(rows.size()) + 1);
    for (std::size_t r = 0; r < rows.size(); ++r)
      for (std::size_t c = 0; c < rows[r].size(); ++c)
        cells.SetCell(static_cast<int>(c), static_cast<int>(r) + 1, rows[r][c]);
    return cells;
  }
  static std::vector<Row> Rows(const TTimeThresholdCells& cells) {
    std::vector<Row> rows;
    for (int r = 1; r < cells.RowCount(); ++r) {
      Row row;
      for (int c = 0; c < cells.ColCount(); ++c) row.push_back(cells.Cell(c, r));
      rows.push_back(row);
    }
    return rows;
  }

 private:
};

TEST(IntervalsOverlap, OnlyAnEndpointStrictlyInsideTheOtherOverlaps) {
  struct Case {
    const char* rule;
    double b1, e1, b2, e2;
    bool overlap;
  };
  const Case cases[] = {
      {"touching at the end", 8, 10, 10, 12, false},
      {"touching at the begin", 10, 12, 8, 10, false},
      {"equal intervals", 8, 10, 8, 10, false},
      {"disjoint", 8, 9, 11, 12, false},
      {"second begins inside the first", 8, 10, 9, 11, true},
      {"first begins inside the second", 9, 11, 8, 10, true},
      {"second inside the first", 8, 12, 9, 10, true},
      {"first inside the second", 9, 10, 8, 12, true},
      {"same begin, longer end", 8, 10, 8, 12, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    EXPECT_EQ(IntervalsOverlap(c.b1, c.e1, c.b2, c.e2), c.overlap);
  }
}

TEST(EditorTag, KeepsColumnAndRowAndReadsTheRowAsSigned16Bits) {
  for (auto [column, row] : std::initializer_list<std::pair<int, int>>{{0, 1}, {4, 1}, {3, 32767}, {2, 255}}) {
    int c = -1, r = -1;
    DecodeEditorTag(EditorTag(column, row), c, r);
    EXPECT_EQ(c, column);
    EXPECT_EQ(r, row);
  }
  EXPECT_EQ(EditorTag(2, 3), 2 * 65536 + 3);
}

TEST_F(CellsTest, EachModeHasItsHeadersAndWidthsAndOneEmptyDataRow) {
  struct Case {
    std::uint8_t mode;
    Row headers;
    std::vector<int> widths;
  };
  const Case cases[] = {
      {lmTimeDiscounts, {"Начало", "Окончание", "Скидка", "Ед."}, {72, 68, 66, 39}},
      {lmThresholds, {"Сумма", "Скидка", "Ед."}, {72, 66, 39}},
      {lmPeriods, {"Дата нач.", "Время нач.", "Дата кон.", "Время кон.", "Действует"}, {82, 68, 82, 68, 74}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.mode));
    TTimeThresholdCells cells;
    cells.SetMode(c.mode);
    ASSERT_EQ(cells.ColCount(), static_cast<int>(c.headers.size()));
    EXPECT_EQ(cells.RowCount(), 2);
    EXPECT_TRUE(cells.RowIsBlank(1));
    for (int col = 0; col < cells.ColCount(); ++col) {
      EXPECT_EQ(cells.Cell(col, 0), c.headers[col]);
      EXPECT_EQ(cells.ColWidth(col), c.widths[col]);
    }
  }
}

TEST_F(CellsTest, TimeListCodesComeInTheirOrder) {
  struct Case {
    const char* rule;
    std::vector<Row> rows;
    int code;
    double upper = 1.0;
  };
  const Case cases[] = {
      {"new list", {{"", "", "", ""}}, 0},
      {"blank rows are skipped", {{" ", "", "\t", ""}, {"08:00:00", "10:00:00", "5", "%"}}, 0},
      {"empty cell", {{"08:00:00", "", "5", "%"}}, 1},
      {"empty cell before a negative amount", {{"08:00:00", "10:00:00", "-5", ""}}, 1},
      {"negative amount", {{"08:00:00", "10:00:00", "-5", "%"}}, 4},
      {"negative amount before a reversed interval", {{"10:00:00", "08:00:00", "-1", "р"}}, 4},
      {"amount that is no number counts as 0", {{"08:00:00", "10:00:00", "abc", "%"}}, 0},
      {"reversed interval", {{"22:00:00", "21:00:00", "5", "%"}}, 2},
      {"empty interval", {{"10:00:00", "10:00:00", "5", "%"}}, 2},
      {"end past the upper bound", {{"22:00:00", "23:59:59", "5", "%"}}, 2, T(23, 59, 58)},
      {"end at the upper bound", {{"22:00:00", "23:59:59", "5", "%"}}, 0, T(23, 59, 59)},
      {"touching rows", {{"08:00:00", "10:00:00", "5", "%"}, {"10:00:00", "12:00:00", "5", "%"}}, 0},
      {"overlapping rows", {{"08:00:00", "10:00:00", "5", "%"}, {"09:00:00", "11:00:00", "5", "%"}}, 3},
      {"identical rows", {{"08:00:00", "10:00:00", "5", "%"}, {"08:00:00", "10:00:00", "5", "%"}}, 0},
      {"a fault of a later row wins over an overlap",
       {{"08:00:00", "10:00:00", "5", "%"}, {"09:00:00", "11:00:00", "5", "%"}, {"", "1", "1", "%"}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    EXPECT_EQ(Table(lmTimeDiscounts, c.rows).CheckTimeList(0, c.upper), c.code);
  }
}

TEST_F(CellsTest, ThresholdAndPeriodCodes) {
  struct Case {
    const char* rule;
    std::uint8_t mode;
    std::vector<Row> rows;
    int code;
  };
  const Case cases[] = {
      {"threshold cell empty", lmThresholds, {{"1000", "", "%"}}, 1},
      {"negative sum", lmThresholds, {{"-1", "5", "%"}}, 3},
      {"negative amount", lmThresholds, {{"1000", "-5", "р"}}, 3},
      {"equal rows", lmThresholds, {{"1000", "5", "%"}, {"1000", "5", "%"}}, 2},
      {"equal but for the unit", lmThresholds, {{"1000", "5", "%"}, {"1000", "5", "р"}}, 0},
      {"equal within 1e-12", lmThresholds, {{"1000", "5", "%"}, {"1000,0000000000001", "5", "%"}}, 2},
      {"same sum, other amount", lmThresholds, {{"1000", "5", "%"}, {"1000", "6", "%"}}, 0},
      {"period cell empty", lmPeriods, {{"01.01.2026", "00:00:00", "31.01.2026", "", "Да"}}, 1},
      {"period ends at its begin", lmPeriods, {{"01.01.2026", "08:00:00", "01.01.2026", "08:00:00", "Да"}}, 3},
      {"period ends before its begin", lmPeriods, {{"02.01.2026", "00:00:00", "01.01.2026", "23:00:00", "Да"}}, 3},
      {"time of day counts", lmPeriods, {{"01.01.2026", "08:00:00", "01.01.2026", "09:00:00", "Нет"}}, 0},
      {"overlap counts periods switched off",
       lmPeriods,
       {{"01.01.2026", "00:00:00", "31.01.2026", "00:00:00", "Да"},
        {"15.01.2026", "00:00:00", "15.02.2026", "00:00:00", "Нет"}},
       2},
      {"touching periods",
       lmPeriods,
       {{"01.01.2026", "00:00:00", "31.01.2026", "00:00:00", "Да"},
        {"31.01.2026", "00:00:00", "15.02.2026", "00:00:00", "Да"}},
       0},
      {"unparsable date reads as day 0", lmPeriods, {{"x", "00:00:00", "01.01.1900", "00:00:00", "Да"}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    const TTimeThresholdCells cells = Table(c.mode, c.rows);
    EXPECT_EQ(c.mode == lmThresholds ? cells.CheckThresholdList() : cells.CheckPeriodList(), c.code);
  }
}

TEST_F(CellsTest, ATimeCellThatIsNoTimeRaisesAndTheStoreLeavesTheListEmpty) {
  const TTimeThresholdCells cells = Table(lmTimeDiscounts, {{"8 часов", "10:00:00", "5", "%"}});
  EXPECT_THROW(cells.CheckTimeList(0, 1), EConvertError);
  TDynTimeArray begins{1}, ends{1};
  TDynCharArray units{'%'};
  TDynDoubleArray amounts{1};
  EXPECT_THROW(cells.StoreTimeList(begins, ends, units, amounts), EConvertError);
  EXPECT_TRUE(begins.empty() && ends.empty() && units.empty() && amounts.empty());
}

TEST_F(CellsTest, AStoreWhoseCheckFailsLeavesTheSequencesEmpty) {
  TDynTimeArray begins{0.1}, ends{0.2};
  TDynCharArray units{'%'};
  TDynDoubleArray amounts{3};
  EXPECT_EQ(Table(lmTimeDiscounts, {{"08:00:00", "10:00:00", "5", "%"}, {"09:00:00", "11:00:00", "5", "%"}})
                .StoreTimeList(begins, ends, units, amounts),
            3);
  EXPECT_TRUE(begins.empty() && ends.empty() && units.empty() && amounts.empty());

  TDynDoubleArray sums{1}, values{1};
  TDynCharArray thresholdUnits{'%'};
  EXPECT_EQ(Table(lmThresholds, {{"-1", "5", "%"}}).StoreThresholdList(sums, values, thresholdUnits), 3);
  EXPECT_TRUE(sums.empty() && values.empty() && thresholdUnits.empty());

  TDynDateTimeArray periodBegins{1}, periodEnds{2};
  TDynBooleanArray enabled{true};
  EXPECT_EQ(Table(lmPeriods, {{"01.01.2026", "", "02.01.2026", "00:00:00", "Да"}})
                .StorePeriodList(periodBegins, periodEnds, enabled),
            1);
  EXPECT_TRUE(periodBegins.empty() && periodEnds.empty() && enabled.empty());
}

// What a card holds survives a load and a store at the precision the cells
// show: whole seconds, 15 significant digits.
TEST_F(CellsTest, LoadAndStoreRoundTripAllThreeListsUnderBothFormats) {
  for (const TFormatSettings& fs : {TFormatSettings::Russian(), TFormatSettings::English()}) {
    SCOPED_TRACE(fs.ShortDateFormat);
    format_.Set(fs);

    TTimeThresholdCells time;
    const TDynTimeArray begins{0, T(8, 0), T(23, 0)}, ends{T(8, 0), T(9, 30, 15), T(23, 59, 59, 999)};
    time.LoadTimeList(begins, ends, {kUnitRouble, kUnitPercent, kUnitRouble}, {SaleBanAmount, 2.5, 1.0 / 3});
    EXPECT_EQ(time.DataRowCount(), 3);
    TDynTimeArray b, e;
    TDynCharArray u;
    TDynDoubleArray a;
    ASSERT_EQ(time.StoreTimeList(b, e, u, a), 0);
    EXPECT_EQ(b, begins);
    EXPECT_EQ(e, (TDynTimeArray{T(8, 0), T(9, 30, 15), T(23, 59, 59)}));  // the cell shows no milliseconds
    EXPECT_EQ(u, (TDynCharArray{kUnitRouble, kUnitPercent, kUnitRouble}));
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0], SaleBanAmount);
    EXPECT_EQ(a[1], 2.5);
    EXPECT_NEAR(a[2], 1.0 / 3, 1e-15);

    TTimeThresholdCells thresholds;
    thresholds.SetMode(lmThresholds);
    const TDynDoubleArray sums{1000, 2999.99, 123456789012.5}, amounts{5, 0.1, 150};
    thresholds.LoadThresholdList(sums, amounts, {kUnitPercent, kUnitPercent, kUnitRouble});
    TDynDoubleArray s, v;
    TDynCharArray tu;
    ASSERT_EQ(thresholds.StoreThresholdList(s, v, tu), 0);
    EXPECT_EQ(s, sums);
    EXPECT_EQ(v, amounts);
    EXPECT_EQ(tu, (TDynCharArray{kUnitPercent, kUnitPercent, kUnitRouble}));

    TTimeThresholdCells periods;
    periods.SetMode(lmPeriods);
    const TDynDateTimeArray pb{D(2026, 1, 1), D(2026, 6, 1) + T(8, 0)};
    const TDynDateTimeArray pe{D(2026, 3, 31) + T(23, 59, 59), D(2026, 8, 31) + T(20, 15)};
    periods.LoadPeriodList(pb, pe, {false, true});
    EXPECT_EQ(periods.Cell(4, 1), "Нет");
    TDynDateTimeArray ob, oe;
    TDynBooleanArray on;
    ASSERT_EQ(periods.StorePeriodList(ob, oe, on), 0);
    ASSERT_EQ(ob.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_NEAR(ob[i], pb[i], 1e-9);
      EXPECT_NEAR(oe[i], pe[i], 1e-9);
    }
    EXPECT_EQ(on, (TDynBooleanArray{false, true}));
  }
}

TEST_F(CellsTest, LoadingShowsTheFormatsTextsAndNothingLeavesOneEmptyRow) {
  TTimeThresholdCells cells;
  cells.LoadTimeList({T(8, 0)}, {T(10, 0)}, {kUnitRouble}, {7.5});
  EXPECT_EQ(Rows(cells), (std::vector<Row>{{"08:00:00", "10:00:00", "7,5", "р"}}));
  cells.SetRowCount(6);
  cells.LoadTimeList({}, {}, {}, {});
  EXPECT_EQ(Rows(cells), (std::vector<Row>{{"", "", "", ""}}));

  cells.SetMode(lmThresholds);
  cells.LoadThresholdList({1000, 3000, 5000}, {5, 150, 7}, {kUnitPercent, kUnitRouble, kUnitPercent});
  EXPECT_EQ(Rows(cells), (std::vector<Row>{{"1000", "5", "%"}, {"3000", "150", "р"}, {"5000", "7", "%"}}));
}

TEST_F(CellsTest, SaleDenyRowsFollowTheLastRowWithDataAndMayRepeat) {
  TTimeThresholdCells cells;
  cells.AddSaleDenyRows();
  const Row morning{"00:00:00", "08:00:00", "10000000", "р"}, night{"23:00:00", "23:59:59", "10000000", "р"};
  EXPECT_EQ(Rows(cells), (std::vector<Row>{morning, night}));

  cells.AddSaleDenyRows();
  EXPECT_EQ(Rows(cells), (std::vector<Row>{morning, night, morning, night}));
  EXPECT_EQ(cells.CheckTimeList(0, 1), 0);  // equal intervals do not overlap

  TTimeThresholdCells withData = Table(lmTimeDiscounts, {{"08:00:00", "10:00:00", "5", "%"}});
  withData.AddSaleDenyRows();
  EXPECT_EQ(withData.DataRowCount(), 3);
  EXPECT_EQ(withData.Cell(0, 2), "00:00:00");
}

// The time list shows "запрет" over the sale-ban amounts only; every other
// amount stays visible.
TEST_F(CellsTest, OnlySaleBanAmountsReadAsABan) {
  const TTimeThresholdCells cells = Table(lmTimeDiscounts, {{"00:00:00", "08:00:00", "10000000", "р"},
                                                            {"08:00:00", "10:00:00", "5", "%"},
                                                            {"10:00:00", "11:00:00", "10000000", "%"},
                                                            {"11:00:00", "12:00:00", "9999999,99", "р"},
                                                            {"", "", "", ""}});
  const bool expected[] = {true, false, false, false, false};
  for (int row = 1; row <= 5; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(cells.ShowsSaleBan(2, row), expected[row - 1]);
    EXPECT_FALSE(cells.ShowsSaleBan(1, row));
  }
  TTimeThresholdCells thresholds = Table(lmThresholds, {{"1000", "10000000", "р"}});
  EXPECT_FALSE(thresholds.ShowsSaleBan(1, 1));
}

TEST_F(CellsTest, RowOperationsOfTheGridKeys) {
  const Row a{"08:00:00", "10:00:00", "5", "%"}, b{"10:00:00", "12:00:00", "7", "р"}, e{"", "", "", ""};
  // Down: only on the last row, and only when it holds data.
  TTimeThresholdCells cells = Table(lmTimeDiscounts, {a, b});
  EXPECT_FALSE(cells.AddRowAfterLast(1));
  EXPECT_TRUE(cells.AddRowAfterLast(2));
  EXPECT_FALSE(cells.AddRowAfterLast(3));  // blank now
  EXPECT_EQ(cells.DataRowCount(), 3);
  // Up: a blank last row goes; a row with data, or the only row, stays.
  EXPECT_FALSE(cells.RemoveBlankLastRow(2));
  EXPECT_TRUE(cells.RemoveBlankLastRow(3));
  EXPECT_FALSE(cells.RemoveBlankLastRow(2));
  TTimeThresholdCells single;
  EXPECT_FALSE(single.RemoveBlankLastRow(1));
  EXPECT_EQ(single.RowCount(), 2);
  // Delete: the following rows move up; the only row is emptied, not removed.
  TTimeThresholdCells three = Table(lmTimeDiscounts, {a, b, a});
  three.DeleteRow(1);
  EXPECT_EQ(Rows(three), (std::vector<Row>{b, a}));
  three.DeleteRow(2);
  EXPECT_EQ(Rows(three), (std::vector<Row>{b}));
  three.DeleteRow(1);
  EXPECT_EQ(Rows(three), (std::vector<Row>{e}));
  EXPECT_EQ(three.RowCount(), 2);
}

TEST_F(CellsTest, TheLastColumnFlipsBetweenItsTwoValues) {
  TTimeThresholdCells units = Table(lmThresholds, {{"1", "1", "%"}, {"1", "1", ""}, {"1", "1", "x"}});
  for (int row = 1; row <= 3; ++row) EXPECT_TRUE(units.ToggleLastColumn(2, row));
  EXPECT_EQ(units.Cell(2, 1), "р");
  EXPECT_EQ(units.Cell(2, 2), "%");
  EXPECT_EQ(units.Cell(2, 3), "%");
  EXPECT_TRUE(units.ToggleLastColumn(2, 1));
  EXPECT_EQ(units.Cell(2, 1), "%");
  EXPECT_FALSE(units.ToggleLastColumn(1, 1));  // not the last column
  EXPECT_FALSE(units.ToggleLastColumn(2, 0));  // the header
  EXPECT_EQ(units.Cell(2, 0), "Ед.");

  TTimeThresholdCells periods = Table(lmPeriods, {{"", "", "", "", "Да"}, {"", "", "", "", ""}});
  periods.ToggleLastColumn(4, 1);
  periods.ToggleLastColumn(4, 2);
  EXPECT_EQ(periods.Cell(4, 1), "Нет");
  EXPECT_TRUE(periods.RowGreyed(1));
  EXPECT_EQ(periods.Cell(4, 2), "Да");
  EXPECT_FALSE(periods.RowGreyed(2));
}

// A stored list opened in the grid and saved unchanged is written as it was
// read (or, when another till wrote it under the other decimal separator,
// as this till writes the same entries): the grid's cells and the stored
// texts speak of units and numbers the same way.
TEST_F(CellsTest, AStoredListOpenedAndSavedIsWrittenTheSame) {
  struct TCase {
    const char* what;
    TFormatSettings format;
    std::uint8_t mode;
    const char* stored;
    const char* written;
  };
  const TCase cases[] = {
      {"thresholds", TFormatSettings::Russian(), lmThresholds, "1000=3%;5000=5,5%;7000=150р;",
       "1000=3%;5000=5,5%;7000=150р;"},
      {"thresholds, point", TFormatSettings::English(), lmThresholds, "1000=3%;5000=5.5%;", "1000=3%;5000=5.5%;"},
      {"thresholds of another till", TFormatSettings::Russian(), lmThresholds, "5000=5.5%;\r\n7000=0.25р",
       "5000=5,5%;7000=0,25р;"},
      {"times with a ban", TFormatSettings::Russian(), lmTimeDiscounts, "08:0:0-12:0:0=5%;12:0:01-23:59:59=10000000р;",
       "08:0:0-12:0:0=5%;12:0:01-23:59:59=10000000р;"},
      {"times, point", TFormatSettings::English(), lmTimeDiscounts, "8:0:0 AM-12:0:0 PM=2.5р;",
       "8:0:0 AM-12:0:0 PM=2.5р;"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    format_.Set(c.format);
    TTimeThresholdCells grid;
    grid.SetMode(c.mode);
    std::string written;
    if (c.mode == lmThresholds) {
      TDynDoubleArray sums, amounts;
      TDynCharArray units;
      ReadThresholdList(c.stored, sums, amounts, units);
      grid.LoadThresholdList(sums, amounts, units);
      ASSERT_EQ(grid.StoreThresholdList(sums, amounts, units), 0);
      written = ThresholdListText(sums, amounts, units);
    } else {
      TDynTimeArray begins, ends;
      TDynDoubleArray amounts;
      TDynCharArray units;
      ReadTimeList(c.stored, begins, ends, amounts, units);
      grid.LoadTimeList(begins, ends, units, amounts);
      ASSERT_EQ(grid.StoreTimeList(begins, ends, units, amounts), 0);
      written = TimeListText(begins, ends, amounts, units);
    }
    EXPECT_EQ(written, c.written);
  }
}

}  // namespace
}  // namespace selvo
