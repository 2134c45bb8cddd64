#include "support/ProgressViewer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace selvo {
namespace {

TEST(ProgressGeometry, SizeLimits) {
  const TProgressGeometry current{10, 20, 450, 130};
  struct Row {
    const char* rule;
    int width, height, wantWidth, wantHeight;
  } rows[] = {
      {"too narrow becomes 225", 200, -1, 225, 130},
      {"224 is still too narrow", 224, -1, 225, 130},
      {"225 stays", 225, -1, 225, 130},
      {"too low becomes 70", -1, 10, 450, 70},
      {"69 becomes 70", -1, 69, 450, 70},
      {"-1 keeps both", -1, -1, 450, 130},
  };
  for (const Row& r : rows) {
    const TProgressGeometry g = LimitProgressSize(current, r.width, r.height);
    EXPECT_EQ(g.width, r.wantWidth) << r.rule;
    EXPECT_EQ(g.height, r.wantHeight) << r.rule;
  }
}

TEST(ProgressGeometry, CentredAbovePanel) {
  // Odd remainder and a negative left both truncate toward zero.
  EXPECT_EQ(PlaceProgressWindow({0, 0, 1025, 768}, 450, 70), (TProgressGeometry{287, 598, 450, 70}));
  EXPECT_EQ(PlaceProgressWindow({0, 0, 300, 600}, 451, 100), (TProgressGeometry{-75, 400, 451, 100}));
  EXPECT_EQ(PlaceProgressWindow({100, 30, 1124, 740}, 450, 70), (TProgressGeometry{287, 570, 450, 70}));
}

TEST(ProgressBar, MarqueeWrapsAroundPastTheRightEdge) {
  const int bar = ProgressBarWidth(450);
  ASSERT_EQ(bar, 410);
  EXPECT_EQ(NextMarqueePosition(-40, bar), -30);
  EXPECT_EQ(NextMarqueePosition(400, bar), 410);  // at the edge: still inside
  EXPECT_EQ(NextMarqueePosition(401, bar), -40);  // past it: re-enters from the left
  double p = -40;
  int ticks = 0;
  do {
    p = NextMarqueePosition(p, bar);
    ++ticks;
  } while (p != -40);
  EXPECT_EQ(ticks, 46);  // -30 .. 410 in steps of 10, then back
}

TEST(ProgressBar, PercentClampsAndTruncates) {
  EXPECT_EQ(PercentBarRight(410, 40), 2 + 162);  // trunc(406 * 0.4) = 162
  EXPECT_EQ(PercentBarRight(410, 250), 2 + 406);
  EXPECT_EQ(PercentBarRight(410, -5), 2);
  EXPECT_EQ(ClampPercent(std::nan("")), 0);
}

TEST(ProgressText, ElapsedTimeOverMidnight) {
  const TFormatSettings fs = TFormatSettings::Russian();
  EXPECT_EQ(ElapsedTimeText("Общее время: %s", 0.5, 0.5 + 65.0 / 86400, fs), "Общее время: 00:01:05");
  EXPECT_EQ(ElapsedTimeText("Общее время: %s", 1 - 5.0 / 86400, 5.0 / 86400, fs), "Общее время: 00:00:10");
}

class ProgressLinesTest : public ::testing::Test {
 protected:
  TProgressViewerSettings module_;
  TProgressLineDefaults own_;
  TProgressLines lines_;
};

TEST_F(ProgressLinesTest, SameNumberChangesTheLineAndOrderFollowsNumbers) {
  lines_.AddLine(5, "five", paLeft, false, kDefaultLineColor, kDefaultFontStyle, kDefaultFontSize, "", own_, module_);
  lines_.AddLine(-3, "minus three", paLeft, false, 0, 0, 9, "Arial", own_, module_);
  lines_.AddLine(5, "five again", paRight, true, 0x0000FF, fsItalic, 11, "Arial", own_, module_);
  ASSERT_EQ(lines_.Items().size(), 2u);
  EXPECT_EQ(lines_.Items()[0].Number, -3);
  const TProgressLine& five = lines_.Items()[1];
  EXPECT_EQ(five.Text, "five again");
  EXPECT_EQ(five.Alignment, paRight);
  EXPECT_TRUE(five.WordWrap);
  EXPECT_EQ(five.Color, 0x0000FFu);
  EXPECT_EQ(five.FontSize, 11);
}

TEST_F(ProgressLinesTest, SentinelsTakeViewerDefaultThenModuleDefault) {
  module_.DefFontSize = 9;
  module_.DefFontName = "Module Font";
  module_.DefLineColor = 0x112233;
  own_.FontSize = 13;  // the viewer's own default wins where it is set
  own_.FontStyle = fsUnderline;
  lines_.AddLine(1, "x", paLeft, false, kDefaultLineColor, kDefaultFontStyle, kDefaultFontSize, "", own_, module_);
  const TProgressLine& line = lines_.Items()[0];
  EXPECT_EQ(line.FontSize, 13);
  EXPECT_EQ(line.FontStyle, fsUnderline);
  EXPECT_EQ(line.FontName, "Module Font");
  EXPECT_EQ(line.Color, 0x112233u);
}

TEST_F(ProgressLinesTest, StartingLinesAndMainText) {
  module_.Title = "Настройка скидок для товаров";
  AddStartingLines(lines_, "", own_, module_);
  std::vector<std::int32_t> numbers;
  for (const TProgressLine& l : lines_.Items()) numbers.push_back(l.Number);
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{-1, 0, 1000, 1001, 1002}));
  EXPECT_EQ(lines_.Find(-1)->Text, "Настройка скидок для товаров");
  EXPECT_EQ(lines_.Find(0)->Text, " ");
  EXPECT_EQ(lines_.Find(0)->FontSize, 14);
  EXPECT_EQ(lines_.Find(1001)->Text, "Выполняется длительная операция. Она может");
  SetMainTextLine(lines_, "Загрузка данных", own_, module_);
  EXPECT_EQ(lines_.Find(0)->Text, "Загрузка данных");
  EXPECT_EQ(lines_.Items().size(), 5u);
}

TEST_F(ProgressLinesTest, ChangeStringParamsAppliesCodesAndReportsBothErrors) {
  lines_.AddLine(7, "old", paLeft, false, 0, 0, 8, "A", own_, module_);
  lines_.ChangeStringParams(
      7, {ppText, ppAlignment, ppWordWrap, ppFontName, ppFontSize, ppFontStyle, ppColor, 99},
      {TVariant("new"), TVariant(std::int64_t{2}), TVariant(std::int64_t{1}), TVariant("B"), TVariant("12"),
       TVariant(std::int64_t{fsBold}), TVariant(std::int64_t{255}), TVariant("ignored")});
  const TProgressLine& l = *lines_.Find(7);
  EXPECT_EQ(l.Text, "new");
  EXPECT_EQ(l.Alignment, paCenter);
  EXPECT_TRUE(l.WordWrap);
  EXPECT_EQ(l.FontName, "B");
  EXPECT_EQ(l.FontSize, 12);
  EXPECT_EQ(l.FontStyle, fsBold);
  EXPECT_EQ(l.Color, 255u);

  struct Row {
    const char* rule;
    std::int32_t number;
    std::vector<int> codes;
    std::vector<TVariant> values;
    std::string message;
  } rows[] = {
      {"more codes than values",
       7,
       {ppText, ppFontSize},
       {TVariant("x")},
       "TProgressViewer.ChangeStringParams -> Количество параметров и соответствующих им значений не совпадают!"},
      {"no such line",
       42,
       {ppText},
       {TVariant("x")},
       "TProgressViewer.ChangeStringParams -> Строка с номером 42 не найдена!"},
  };
  for (const Row& r : rows) {
    try {
      lines_.ChangeStringParams(r.number, r.codes, r.values);
      ADD_FAILURE() << r.rule;
    } catch (const EProgressException& e) {
      EXPECT_EQ(e.Message(), r.message) << r.rule;
    }
  }
  // A value of the wrong kind changes nothing and keeps its own class.
  EXPECT_THROW(lines_.ChangeStringParams(7, {ppText, ppFontSize}, {TVariant("half"), TVariant("big")}), EConvertError);
  EXPECT_EQ(lines_.Find(7)->Text, "new");
}

TEST(ProgressModule, ClassUsableOnlyBetweenStartAndEnd) {
  ProgressViewerModuleStart();
  EXPECT_TRUE(ProgressViewerClassUsable());
  EXPECT_EQ(ProgressViewerTitle(), "Ваше приложение");
  ProgressViewerModuleEnd();
  EXPECT_FALSE(ProgressViewerClassUsable());
  EXPECT_EQ(FindProgressViewer(1), nullptr);
}

}  // namespace
}  // namespace selvo
