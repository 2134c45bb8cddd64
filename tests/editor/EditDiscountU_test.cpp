// The discount card dialog's logic without widgets: the checks of a
// confirmation, the writing of a card into the sample shop's datasets, the
// goods choice through the host's callback, the holidays.
#include "editor/EditDiscountU.h"

#include <gmock/gmock.h>

#include <functional>

#include "platform/DateUtils.h"
#include "tests/editor/DiscountShop.h"

namespace selvo {
namespace {

using test::DiscountShop;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

double T(int h, int m, int s = 0) { return EncodeTime(h, m, s, 0); }

// The three grids of the dialog, filled from a card.
struct Grids {
  explicit Grids(const TDiscountItem& card) {
    thresholds.SetMode(lmThresholds);
    periods.SetMode(lmPeriods);
    times.LoadTimeList(card.TimeBegin, card.TimeEnd, card.TimeUnit, card.TimeValue);
    thresholds.LoadThresholdList(card.ThresholdSum, card.ThresholdValue, card.ThresholdUnit);
    periods.LoadPeriodList(card.PeriodBegin, card.PeriodEnd, card.PeriodEnabled);
  }
  TCardLists Lists() const { return {times, thresholds, periods}; }
  static void SetRow(TTimeThresholdCells& cells, int row, const std::vector<std::string>& texts) {
    if (cells.RowCount() <= row) cells.SetRowCount(row + 1);
    for (std::size_t c = 0; c < texts.size(); ++c) cells.SetCell(static_cast<int>(c), row, texts[c]);
  }
  TTimeThresholdCells times, thresholds, periods;
};

// The goods window of a test: what it does to the marks, and its answer.
std::function<std::int32_t()> gGoodsWindow;
std::int32_t GoodsWindow() { return gGoodsWindow(); }

class EditDiscountTest : public ::testing::Test {
 protected:
  ~EditDiscountTest() override { gGoodsWindow = nullptr; }

  std::vector<std::string> Check(TDiscountItem& card, const TCardControls& controls, const Grids& grids) {
    return CheckCard(controls, grids.Lists(), card, DiscountList());
  }
  // Checks the card as the dialog shows it and saves it.
  void CheckAndSave(TDiscountItem& card, bool changing) {
    Grids grids(card);
    ASSERT_THAT(Check(card, CardControls(card), grids), IsEmpty());
    SaveCard(card, changing, DiscountList(), DataSets());
  }
  TCardDataSets DataSets() {
    return {shop.DataSet("SelvoDiscountDS"), shop.DataSet("DiscountGoodsDS"), shop.DataSet("ExclusionsDS")};
  }
  double Mark(const char* dataSet, const char* key, std::int32_t id, const char* field) {
    host::TShopDataSet& ds = shop.DataSet(dataSet);
    EXPECT_TRUE(ds.Locate(key, {TVariant(std::int64_t{id})}, loNone));
    return ds.FieldByName(field).AsFloat();
  }

  test::ModuleScope scope;
  DiscountShop shop;
};

TEST_F(EditDiscountTest, EveryFaultIsReportedInStepOrder) {
  TDiscountItem card;
  Grids grids(card);
  Grids::SetRow(grids.times, 1, {"08:00:00", "10:00:00", "5", ""});
  Grids::SetRow(grids.thresholds, 1, {"1000", "5", "%"});
  Grids::SetRow(grids.thresholds, 2, {"1000", "5", "%"});
  Grids::SetRow(grids.periods, 1, {"01.01.2026", "0:00:00", "10.01.2026", "0:00:00", "Да"});
  Grids::SetRow(grids.periods, 2, {"05.01.2026", "0:00:00", "20.01.2026", "0:00:00", "Нет"});
  TCardControls controls;
  controls.payID = 1;
  controls.name = "   ";
  controls.beginTime = controls.endTime = T(10, 0);
  const std::vector<std::string> faults = Check(card, controls, grids);
  EXPECT_THAT(faults, ElementsAre(kNoCardNameFault, kDailyWindowFault, kTimeListFaults[1], kThresholdFaults[2],
                                  kPeriodFaults[2]));
  EXPECT_EQ(JoinFaults({"a", "b"}), "a\r\nb");
  // Lists whose check failed are empty in the card; the rest was copied.
  EXPECT_TRUE(card.TimeBegin.empty() && card.ThresholdSum.empty() && card.PeriodBegin.empty());
  EXPECT_EQ(card.PayID, 1);
}

TEST_F(EditDiscountTest, ANameMustBeGivenAndUnusedByAnotherCard) {
  struct Case {
    const char* rule;
    std::int32_t cardID;  // 0: a new card
    std::string name;
    std::vector<std::string> faults;
    std::string stored;
  };
  const Case cases[] = {
      {"empty", 0, "  ", {kNoCardNameFault}, ""},
      {"another card's, other letter case",
       0,
       "СКИДКА ОТ СУММЫ ЧЕКА",
       {kDuplicateCardNameFault},
       "СКИДКА ОТ СУММЫ ЧЕКА"},
      {"another card's, blanks around",
       0,
       "  Скидка от суммы чека ",
       {kDuplicateCardNameFault},
       "Скидка от суммы чека"},
      {"the card's own", 1, "скидка от суммы чека", {}, "скидка от суммы чека"},
      {"another card's, when changing", 2, "Утренний кофе", {kDuplicateCardNameFault}, "Утренний кофе"},
      {"too long", 0, std::string(120, 'x'), {}, std::string(100, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    TDiscountItem fresh;
    TDiscountItem& card = c.cardID ? DiscountShop::Card(c.cardID) : fresh;
    Grids grids(card);
    TCardControls controls = CardControls(card);
    controls.name = c.name;
    EXPECT_THAT(Check(card, controls, grids), ElementsAreArray(c.faults));
    EXPECT_EQ(card.DiscountName, c.stored);
  }
}

TEST_F(EditDiscountTest, TheDailyWindowBoundsTheTimeDiscountsAndIsCheckedEvenWhenUnused) {
  struct Case {
    const char* rule;
    bool allDay;
    double begin, end;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> faults;
  };
  const std::vector<std::string> morning = {"8:00:00", "10:00:00", "5", "%"};
  const Case cases[] = {
      {"empty window, all day", true, T(10, 0), T(10, 0), {}, {kDailyWindowFault}},
      {"reversed window", false, T(18, 0), T(9, 0), {}, {kDailyWindowFault}},
      {"row outside the window", false, T(9, 0), T(18, 0), {morning}, {kTimeListFaults[2]}},
      {"row in a whole day", true, T(9, 0), T(18, 0), {morning}, {}},
      {"sale ban rows outside the window",
       false,
       T(9, 0),
       T(18, 0),
       {{"0:00:00", "8:00:00", "10000000", "р"}, {"23:00:00", "23:59:59", "10000000", "р"}},
       {kTimeListFaults[2]}},
      {"sale ban rows all day",
       true,
       T(9, 0),
       T(18, 0),
       {{"0:00:00", "8:00:00", "10000000", "р"}, {"23:00:00", "23:59:59", "10000000", "р"}},
       {}},
      {"negative amount", true, 0, kLastSecondOfDay, {{"8:00:00", "9:00:00", "-5", "%"}}, {kTimeListFaults[4]}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    TDiscountItem card;
    Grids grids(card);
    for (std::size_t r = 0; r < c.rows.size(); ++r) Grids::SetRow(grids.times, static_cast<int>(r) + 1, c.rows[r]);
    TCardControls controls;
    controls.payID = 1;
    controls.name = "Новая карта";
    controls.allDay = c.allDay;
    controls.beginTime = c.begin;
    controls.endTime = c.end;
    EXPECT_THAT(Check(card, controls, grids), ElementsAreArray(c.faults));
  }
}

TEST_F(EditDiscountTest, OtherErrorsOfACheckPassOn) {
  TDiscountItem card;
  Grids grids(card);
  TCardControls controls;
  controls.name = "Новая карта";
  EXPECT_THROW(Check(card, controls, grids), EListError);  // no payment type
  controls.payID = 1;
  Grids::SetRow(grids.times, 1, {"8:00", "25:00:00", "5", "%"});
  EXPECT_THROW(Check(card, controls, grids), EConvertError);
}

TEST_F(EditDiscountTest, SavingAnUnchangedCardTouchesNoTargetOrPeriodRow) {
  const std::vector<std::string> targets = shop.Rows("DiscountGoodsDS", 9);
  const std::vector<std::string> periods = shop.Rows("ExclusionsDS", 9);
  ASSERT_EQ(targets.size(), 2u);
  ASSERT_EQ(periods.size(), 2u);
  const std::int32_t lastGoods = Module().LastDscGoodsID, lastExclusions = Module().LastExclusionsID;

  CheckAndSave(DiscountShop::Card(9), true);

  EXPECT_EQ(shop.Rows("DiscountGoodsDS", 9), targets);
  EXPECT_EQ(shop.Rows("ExclusionsDS", 9), periods);
  EXPECT_EQ(shop.DataSet("DiscountGoodsDS").ChangeCount(), 0);
  EXPECT_EQ(shop.DataSet("ExclusionsDS").ChangeCount(), 0);
  EXPECT_EQ(Module().LastDscGoodsID, lastGoods);
  EXPECT_EQ(Module().LastExclusionsID, lastExclusions);
  EXPECT_EQ(shop.DataSet("SelvoDiscountDS").State(), TDataSetState::dsBrowse);
}

TEST_F(EditDiscountTest, ChangedTargetsAndPeriodsDeleteAndAppendExactlyTheirRows) {
  TDiscountItem& card = DiscountShop::Card(9);  // categories 1 (dg 7) and 3 (dg 8), periods 1 and 2
  const std::int32_t lastGoods = Module().LastDscGoodsID, lastExclusions = Module().LastExclusionsID;
  THashedTextList categories;
  categories.Add("1");
  categories.Add("5");
  card.Categories = categories;
  card.PeriodEnabled[1] = false;  // period 2 switched off: its row goes, a new one comes
  CheckAndSave(card, true);

  const std::vector<std::string> targets = shop.Rows("DiscountGoodsDS", 9);
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0], "7:1:1");  // category 1 kept its row
  EXPECT_EQ(targets[1], std::to_string(lastGoods + 1) + ":1:5");
  const std::vector<std::string> periods = shop.Rows("ExclusionsDS", 9);
  ASSERT_EQ(periods.size(), 2u);
  EXPECT_EQ(periods[0].substr(0, 2), "1:");
  EXPECT_EQ(periods[1].substr(0, periods[1].find(':')), std::to_string(lastExclusions + 1));
  EXPECT_EQ(periods[1].substr(periods[1].rfind(':')), ":0");
  EXPECT_EQ(Module().LastDscGoodsID, lastGoods + 1);
  EXPECT_EQ(Module().LastExclusionsID, lastExclusions + 1);
  // Other cards' rows are untouched.
  EXPECT_EQ(shop.Rows("DiscountGoodsDS", 4).size(), 2u);
}

TEST_F(EditDiscountTest, ANewCardGetsItsRowAndItsTargetAndPeriodRows) {
  const std::int32_t lastGoods = Module().LastDscGoodsID;
  TDiscountItem card;
  card.PayID = 2;
  card.SetDiscountName("Праздничная");
  card.DiscountTarget = kTargetGoods;
  card.Goods.Add("101");
  AddHolidayPeriods(card, 2026);
  CheckAndSave(card, false);

  EXPECT_EQ(card.ID, 11);
  host::TShopDataSet& cards = shop.DataSet("SelvoDiscountDS");
  ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{11})}, loNone));
  EXPECT_EQ(cards.FieldByName("td_DiscountName").AsString(), "Праздничная");
  EXPECT_EQ(cards.FieldByName("td_DiscountTarget").AsInteger(), 1);
  EXPECT_EQ(cards.FieldByName("PayID").AsInteger(), 2);
  EXPECT_THAT(shop.Rows("DiscountGoodsDS", 11), ElementsAre(std::to_string(lastGoods + 1) + ":0:101"));
  EXPECT_EQ(shop.Rows("ExclusionsDS", 11).size(), 8u);
}

TEST_F(EditDiscountTest, AFailedSaveLeavesNoHalfEditedCardRow) {
  TDiscountItem card = DiscountShop::Card(1);
  card.ID = 999;
  try {
    SaveCard(card, true, DiscountList(), DataSets());
    FAIL() << "saved";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), kCardNotFound);
  }
  card = DiscountShop::Card(4);
  card.Goods.Add("12x");  // not an identifier: the save stops half-way
  EXPECT_THROW(SaveCard(card, true, DiscountList(), DataSets()), EConvertError);
  EXPECT_EQ(shop.DataSet("SelvoDiscountDS").State(), TDataSetState::dsBrowse);
  EXPECT_EQ(shop.DataSet("SelvoDiscountDS").ChangeCount(), 0);
}

TEST_F(EditDiscountTest, HolidaysAreTheEightPeriodsOfTheYearAddedOnce) {
  const auto holidays = HolidayPeriods(2026);
  ASSERT_EQ(holidays.size(), 8u);
  EXPECT_EQ(holidays[0].first, EncodeDate(2026, 1, 1));
  EXPECT_EQ(holidays[0].second, EncodeDate(2026, 1, 5) + T(23, 59, 59));
  EXPECT_EQ(holidays[7].first, EncodeDate(2026, 11, 4));
  EXPECT_EQ(holidays[7].second, EncodeDate(2026, 11, 4) + T(23, 59, 59));

  TDiscountItem card;
  // 7 January is there already, switched off and a hair apart.
  card.PeriodBegin.push_back(holidays[1].first + 1e-13);
  card.PeriodEnd.push_back(holidays[1].second);
  card.PeriodEnabled.push_back(false);
  EXPECT_EQ(AddHolidayPeriods(card, 2026), 7);
  EXPECT_EQ(AddHolidayPeriods(card, 2026), 0);
  ASSERT_EQ(card.PeriodBegin.size(), 8u);
  EXPECT_FALSE(card.PeriodEnabled[0]);
  EXPECT_TRUE(card.PeriodEnabled[7]);
}

TEST_F(EditDiscountTest, TheGoodsChoiceIsMarkedAndReadBackOnlyWhenConfirmed) {
  TDiscountItem& card = DiscountShop::Card(4);  // category 2, article 304
  int progress = 0;
  auto open = [&] { ++progress; };
  auto close = [&] { --progress; };
  try {
    ChooseCardTargets(card, shop.DataSet("KeyTovar"), shop.DataSet("Goods"), nullptr, open, close);
    FAIL() << "chose without a window";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), std::string(kChooseTargetOperation) + " -> " + kNoGoodsSelectCallback);
  }

  // Cancelled: the marks were made, the card keeps its lists.
  gGoodsWindow = [&] {
    EXPECT_EQ(progress, 0);  // closed before the window
    EXPECT_EQ(Mark("KeyTovar", "ID_Category", 2, "CheckField"), 1);
    EXPECT_EQ(Mark("KeyTovar", "ID_Category", 1, "CheckField"), 0);
    EXPECT_EQ(Mark("Goods", "ID_Goods", 304, "Kolvo"), 1);
    EXPECT_EQ(Mark("Goods", "ID_Goods", 101, "Kolvo"), 0);
    host::TShopDataSet& keyTovar = shop.DataSet("KeyTovar");
    keyTovar.Locate("ID_Category", {TVariant(std::int64_t{5})}, loNone);
    keyTovar.Edit();
    keyTovar.FieldByName("CheckField").SetAsInteger(1);
    keyTovar.Post();
    return 2;
  };
  EXPECT_FALSE(ChooseCardTargets(card, shop.DataSet("KeyTovar"), shop.DataSet("Goods"), &GoodsWindow, open, close));
  EXPECT_THAT(std::vector<std::string>(card.Categories.begin(), card.Categories.end()), ElementsAre("2"));
  EXPECT_THAT(std::vector<std::string>(card.Goods.begin(), card.Goods.end()), ElementsAre("304"));

  // Confirmed: category 2 off, 5 on, article 101 chosen.
  gGoodsWindow = [&] {
    host::TShopDataSet& keyTovar = shop.DataSet("KeyTovar");
    EXPECT_EQ(Mark("KeyTovar", "ID_Category", 5, "CheckField"), 0);  // reopened: the old mark is gone
    keyTovar.Locate("ID_Category", {TVariant(std::int64_t{2})}, loNone);
    keyTovar.Edit();
    keyTovar.FieldByName("CheckField").SetAsInteger(0);
    keyTovar.Post();
    keyTovar.Locate("ID_Category", {TVariant(std::int64_t{5})}, loNone);
    keyTovar.Edit();
    keyTovar.FieldByName("CheckField").SetAsInteger(1);
    keyTovar.Post();
    host::TShopDataSet& goods = shop.DataSet("Goods");
    goods.Locate("ID_Goods", {TVariant(std::int64_t{101})}, loNone);
    goods.Edit();
    goods.FieldByName("Kolvo").SetAsFloat(1);
    goods.Post();
    return 1;
  };
  EXPECT_TRUE(ChooseCardTargets(card, shop.DataSet("KeyTovar"), shop.DataSet("Goods"), &GoodsWindow, open, close));
  EXPECT_THAT(std::vector<std::string>(card.Categories.begin(), card.Categories.end()), ElementsAre("5"));
  EXPECT_THAT(std::vector<std::string>(card.Goods.begin(), card.Goods.end()), ElementsAre("101", "304"));
  EXPECT_EQ(progress, 0);
}

}  // namespace
}  // namespace selvo
