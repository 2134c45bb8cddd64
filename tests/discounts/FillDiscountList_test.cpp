// Loading the discount list from the host's three discount datasets, over a
// real shop database: a file and a server.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "discounts/SelvoDiscountItemsU.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopDataSet.h"
#include "host/shopdb/ShopSchema.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"
#include "state/SelvoModuleU.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using host::TShopDataModule;

class FillDiscountListTest : public ::testing::TestWithParam<test::TShopDbKind> {
 protected:
  FillDiscountListTest() : db_(GetParam()), path_(db_.Address()) { host::CreateShopDatabase(path_, false); }
  ~FillDiscountListTest() override { Module().DataModule = nullptr; }
  // Runs SQL before the data module opens the database.
  void Sql(const std::string& sql) {
    TShopDataModule setup(path_);
    setup.Connection().Execute(sql);
  }
  TShopDataModule& Open() {
    dataModule_ = std::make_unique<TShopDataModule>(path_);
    Module().DataModule = dataModule_.get();
    return *dataModule_;
  }
  // Runs the load and answers the message of its failure ("" for none).
  template <class E = Exception>
  std::string FailureOfFill() {
    try {
      FillDiscountList();
    } catch (const E& e) {
      return e.Message();
    }
    return "";
  }
  TDiscountList& List() { return DiscountList(); }

  test::ModuleScope scope_;
  test::TTestShopDatabase db_;
  std::string path_;
  test::ScopedFormatSettings format_{TFormatSettings::Russian()};
  std::unique_ptr<TShopDataModule> dataModule_;
};

TEST_P(FillDiscountListTest, EveryColumnReachesItsCardField) {
  std::string name;
  for (int i = 0; i < 120; ++i) name += i % 2 ? "я" : "Z";
  Sql("INSERT INTO SelvoDiscountDS VALUES (7, '" + name +
      "', 3, 0.25, 0.75, 0, 1, 287, 0, '1000=5%;3000=150р;', 65537, 70000, '08:0:0-10:0:0=7%;')");
  Sql("INSERT INTO DiscountGoodsDS VALUES (1, 7, 1, 15), (2, 7, 0, 16), (3, 7, 2, 17), (NULL, 7, 1, 18)");
  Sql("INSERT INTO ExclusionsDS VALUES (1, 7, 45000.5, 45001.5, 1), (2, 7, 45010, 45011, 2), "
      "(NULL, 7, 1, 2, 1)");
  Open();
  FillDiscountList();

  ASSERT_EQ(List().Count(), 1);
  const TDiscountItem& card = *List().GetItem(0);
  EXPECT_EQ(card.ID, 7);
  EXPECT_EQ(card.DiscountName, Utf8Left(name, 100));
  EXPECT_EQ(card.PayID, 3);
  EXPECT_EQ(card.BTime, 0.25);
  EXPECT_EQ(card.ETime, 0.75);
  EXPECT_FALSE(card.AllDay);
  EXPECT_TRUE(card.Enabled);
  EXPECT_EQ(card.WeekDays, 31);  // 287 = 256 + 31: Monday to Friday
  EXPECT_FALSE(card.AllWeek);
  EXPECT_EQ(card.DiscountTarget, 1);  // low 16 bits of 65537
  EXPECT_EQ(card.Rules, 70000 - 65536);
  EXPECT_EQ(card.ThresholdSum, (TDynDoubleArray{1000, 3000}));
  EXPECT_EQ(card.ThresholdUnit, (TDynCharArray{kUnitPercent, kUnitRouble}));
  EXPECT_EQ(card.TimeBegin, (TDynTimeArray{EncodeTime(8, 0, 0, 0)}));
  EXPECT_EQ(card.TimeValue, (TDynDoubleArray{7}));

  EXPECT_TRUE(card.IsTarget(15, true));
  EXPECT_TRUE(card.IsTarget(16, false));
  EXPECT_TRUE(card.IsTarget(17, false));  // td_IsCategory 2 is an article
  EXPECT_FALSE(card.IsTarget(17, true));
  EXPECT_FALSE(card.IsTarget(18, true));  // dg_ID null: skipped
  EXPECT_EQ(card.Categories.Count() + card.Goods.Count(), 3u);

  EXPECT_EQ(card.PeriodBegin, (TDynDateTimeArray{45000.5, 45010}));
  EXPECT_EQ(card.PeriodEnd, (TDynDateTimeArray{45001.5, 45011}));
  EXPECT_EQ(card.PeriodEnabled, (TDynBooleanArray{true, false}));  // ex_Enabled 2 is off
}

// Columns are looked up once per load and sequences grow past what a card
// keeps in place: every card must still get the values of its own rows, in
// order, whatever their number.
TEST_P(FillDiscountListTest, EachCardGetsItsOwnRowsWhateverTheirNumber) {
  struct CardRows {
    int id;
    int thresholds;
    int periods;
    int targets;  // articles; past eight a card's list is hashed
  };
  const CardRows cards[] = {{1, 0, 0, 0}, {2, 1, 1, 1}, {3, 3, 2, 2}, {4, 5, 3, 9}, {5, 2, 6, 12}, {6, 4, 0, 3}};
  std::string sql;
  int detailID = 0;
  for (const CardRows& c : cards) {
    std::string thresholds;
    for (int k = 1; k <= c.thresholds; ++k)
      thresholds += std::to_string(c.id * 1000 + k) + "=" + std::to_string(k) + (k % 2 ? "%;" : "р;");
    sql += "INSERT INTO SelvoDiscountDS (td_ID, td_DiscountName, PayID, td_Threshold, td_DiscountTarget) VALUES (" +
           std::to_string(c.id) + ", 'Карта " + std::to_string(c.id) + "', " + std::to_string(c.id % 3) + ", '" +
           thresholds + "', 1);";
    for (int k = 1; k <= c.periods; ++k) {
      sql += "INSERT INTO ExclusionsDS VALUES (" + std::to_string(++detailID) + ", " + std::to_string(c.id) + ", " +
             std::to_string(c.id * 100 + k) + ", " + std::to_string(c.id * 100 + k) + ".5, " + std::to_string(k % 2) +
             ");";
    }
    for (int k = 1; k <= c.targets; ++k) {
      sql += "INSERT INTO DiscountGoodsDS VALUES (" + std::to_string(++detailID) + ", " + std::to_string(c.id) +
             ", 0, " + std::to_string(c.id * 100 + k) + ");";
    }
  }
  Sql(sql);
  Open();
  FillDiscountList();

  ASSERT_EQ(List().Count(), static_cast<int>(std::size(cards)));
  for (std::size_t i = 0; i < std::size(cards); ++i) {
    const CardRows& c = cards[i];
    const TDiscountItem& card = *List().GetItem(static_cast<int>(i));
    SCOPED_TRACE(c.id);
    EXPECT_EQ(card.ID, c.id);
    EXPECT_EQ(card.DiscountName, "Карта " + std::to_string(c.id));
    EXPECT_EQ(card.PayID, c.id % 3);
    TDynDoubleArray sums, values, begins, ends;
    TDynCharArray units;
    TDynBooleanArray enabled;
    for (int k = 1; k <= c.thresholds; ++k) {
      sums.push_back(c.id * 1000 + k);
      values.push_back(k);
      units.push_back(k % 2 ? kUnitPercent : kUnitRouble);
    }
    for (int k = 1; k <= c.periods; ++k) {
      begins.push_back(c.id * 100 + k);
      ends.push_back(c.id * 100 + k + 0.5);
      enabled.push_back(k % 2 == 1);
    }
    EXPECT_EQ(card.ThresholdSum, sums);
    EXPECT_EQ(card.ThresholdValue, values);
    EXPECT_EQ(card.ThresholdUnit, units);
    EXPECT_EQ(card.PeriodBegin, begins);
    EXPECT_EQ(card.PeriodEnd, ends);
    EXPECT_EQ(card.PeriodEnabled, enabled);
    ASSERT_EQ(card.Goods.Count(), static_cast<std::size_t>(c.targets));
    for (int k = 1; k <= c.targets; ++k) {
      EXPECT_EQ(card.Goods[static_cast<std::size_t>(k - 1)], std::to_string(c.id * 100 + k));
      EXPECT_TRUE(card.IsTarget(c.id * 100 + k, false));
    }
    EXPECT_FALSE(card.IsTarget(c.id * 100 + c.targets + 1, false));
    // The selection finds the card by each of its articles, inside its
    // first period (switched on) when it has periods.
    const double moment = c.periods ? c.id * 100 + 1.25 : 0;
    for (int k = 1; k <= c.targets; ++k) {
      EXPECT_EQ(List().FindGoodsCard(0, c.id * 100 + k, 0, 1e6, c.id % 3, moment, 1), c.thresholds ? &card : nullptr)
          << "article " << c.id * 100 + k;
    }
  }
}

TEST_P(FillDiscountListTest, NullsKeepDefaultsAndRowsWithoutIdentifierAreSkipped) {
  Sql("INSERT INTO SelvoDiscountDS (td_ID, td_DiscountName) VALUES (NULL, 'без номера'), (5, NULL), (6, 'Шесть')");
  Sql("INSERT INTO DiscountGoodsDS VALUES (1, NULL, 1, 99), (2, 6, 0, 100)");
  Open();
  FillDiscountList();

  ASSERT_EQ(List().Count(), 2);
  const TDiscountItem& defaults = *List().GetItem(0);
  const TDiscountItem fresh;
  EXPECT_EQ(defaults.ID, 5);
  EXPECT_EQ(defaults.DiscountName, "");
  EXPECT_EQ(defaults.ETime, fresh.ETime);
  EXPECT_TRUE(defaults.AllDay && defaults.Enabled && defaults.AllWeek);
  EXPECT_TRUE(defaults.ThresholdSum.empty() && defaults.TimeBegin.empty() && defaults.PeriodBegin.empty());
  EXPECT_EQ(defaults.Categories.Count() + defaults.Goods.Count(), 0u);
  EXPECT_EQ(List().GetItem(1)->DiscountName, "Шесть");
  EXPECT_TRUE(List().GetItem(1)->IsTarget(100, false));
}

TEST_P(FillDiscountListTest, EmptyMasterOpensTheDetailsAndLeavesTheListEmpty) {
  Sql("INSERT INTO DiscountGoodsDS VALUES (1, 3, 1, 99)");
  TShopDataModule& dm = Open();
  for (const char* name : {"SelvoDiscountDS", "DiscountGoodsDS", "ExclusionsDS"}) dm.DataSet(name).Close();
  List().Add(std::make_unique<TDiscountItem>());  // from an earlier load
  FillDiscountList();
  EXPECT_EQ(List().Count(), 0);
  for (const char* name : {"SelvoDiscountDS", "DiscountGoodsDS", "ExclusionsDS"})
    EXPECT_TRUE(dm.DataSet(name).Active()) << name;
}

TEST_P(FillDiscountListTest, EachLoadReplacesTheWholeList) {
  Sql("INSERT INTO SelvoDiscountDS (td_ID) VALUES (1), (2)");
  Open();
  FillDiscountList();
  FillDiscountList();
  EXPECT_EQ(List().Count(), 2);
}

// With the link undone, a detail dataset presents every card's rows.
TEST_P(FillDiscountListTest, BrokenLinkInTheGoodsRowsDropsTheFailingCard) {
  Sql("INSERT INTO SelvoDiscountDS (td_ID) VALUES (1), (2)");
  Sql("INSERT INTO DiscountGoodsDS VALUES (10, 2, 0, 100), (11, 1, 0, 101)");
  Open().DataSet("DiscountGoodsDS").SetMaster(nullptr, "");
  EXPECT_EQ(FailureOfFill<EDatabaseError>(), "procedure FillDiscountList -> Нарушилась связь таблиц Master -> Detail");
  EXPECT_EQ(List().Count(), 0);
}

TEST_P(FillDiscountListTest, BrokenLinkInThePeriodsKeepsTheCardsReadSoFar) {
  Sql("INSERT INTO SelvoDiscountDS (td_ID) VALUES (1), (2)");
  Sql("INSERT INTO ExclusionsDS VALUES (10, 1, 100, 200, 1), (11, 2, 300, 400, 1), (12, 1, 500, 600, 0)");
  Open().DataSet("ExclusionsDS").SetMaster(nullptr, "");
  // Card 1 stands on its own first row and takes all three; card 2 then
  // finds the periods standing on a row of card 1.
  EXPECT_EQ(FailureOfFill<EDatabaseError>(), "procedure FillDiscountList -> Нарушилась связь таблиц Master -> Detail");
  ASSERT_EQ(List().Count(), 2);
  EXPECT_EQ(List().GetItem(0)->PeriodBegin.size(), 3u);
  EXPECT_EQ(List().GetItem(1)->ID, 2);
  EXPECT_TRUE(List().GetItem(1)->PeriodBegin.empty());
}

TEST_P(FillDiscountListTest, AValueThatDoesNotConvertEndsTheLoadWithTheWrappedError) {
  if (GetParam() == test::TShopDbKind::Server) GTEST_SKIP() << "the server refuses a text in a number column";
  Sql("INSERT INTO SelvoDiscountDS (td_ID, td_WeekDays) VALUES (1, 3), (2, 'пн-пт'), (3, 1)");
  Open();
  const std::string message = FailureOfFill<EConvertError>();
  EXPECT_EQ(message.rfind("procedure FillDiscountList -> ", 0), 0u) << message;
  EXPECT_NE(message.find("пн-пт"), std::string::npos) << message;
  ASSERT_EQ(List().Count(), 1);
  EXPECT_EQ(List().GetItem(0)->ID, 1);
}

TEST_P(FillDiscountListTest, MissingDatasetAndMissingColumnAreWrapped) {
  Sql("DROP TABLE ExclusionsDS");
  Open();
  EXPECT_EQ(FailureOfFill<EDatabaseError>(),
            "procedure FillDiscountList -> Виды оплаты: не удалось найти набор данных ExclusionsDS в Ferin10.dll!");

  dataModule_.reset();
  Module().DataModule = nullptr;
  host::CreateShopDatabase(path_, true);
  if (GetParam() == test::TShopDbKind::File) Sql(test::DropFileHistoryTriggers("SelvoDiscountDS"));
  Sql("ALTER TABLE SelvoDiscountDS DROP COLUMN td_Rules; INSERT INTO SelvoDiscountDS (td_ID) VALUES (1)");
  Open();
  const std::string message = FailureOfFill<EDatabaseError>();
  EXPECT_EQ(message.rfind("procedure FillDiscountList -> ", 0), 0u) << message;
  EXPECT_NE(message.find("td_Rules"), std::string::npos) << message;
  EXPECT_EQ(List().Count(), 0);
}

// The module's export runs the same load (reached as a host reaches it).
TEST_P(FillDiscountListTest, TheExportLoadsTheList) {
  Sql("DROP TABLE ExclusionsDS");
  TShopDataModule& dm = Open();
  // Kept mapped after dlclose, as a host keeps it: unloading would also unload
  // the window toolkit's libraries, which do not free everything they hold.
  void* module = dlopen(SELVO_MODULE_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_NE(module, nullptr) << dlerror();
  auto* setDataModule = reinterpret_cast<void (*)(TDataModule*)>(dlsym(module, "SetDataModule"));
  auto* fill = reinterpret_cast<void (*)()>(dlsym(module, "FillDiscountList"));
  ASSERT_TRUE(setDataModule && fill);
  setDataModule(&dm);
  std::string message;
  try {
    fill();
  } catch (const std::exception& e) {
    message = e.what();
  }
  setDataModule(nullptr);
  dlclose(module);
  EXPECT_EQ(message,
            "procedure FillDiscountList -> Виды оплаты: не удалось найти набор данных ExclusionsDS в Ferin10.dll!");
}

// A reload replaces what the card selections see: a card removed from the
// database no longer applies, a new one does, and a card whose target
// changed is found by its new target only.
TEST_P(FillDiscountListTest, ReloadRebuildsTheSelection) {
  const double moment = EncodeDate(2026, 12, 8) + 0.5;
  auto card = [](int id, int target, const std::string& thresholds) {
    return "INSERT INTO SelvoDiscountDS VALUES (" + std::to_string(id) + ", 'Карта " + std::to_string(id) +
           "', 1, 0, 0.99, 1, 1, 0, 1, '" + thresholds + "', " + std::to_string(target) + ", 0, '');";
  };
  Sql(card(1, 1, "0=10%;") + card(2, 1, "0=5%;") + card(3, 0, "0=3%;") +
      "INSERT INTO DiscountGoodsDS VALUES (1, 1, 0, 500), (2, 2, 1, 7);");
  auto goodsCard = [&](std::int32_t category, std::int32_t goods) {
    const TDiscountItem* found = List().FindGoodsCard(category, goods, 0, 100, 1, moment, 1);
    return found ? found->ID : 0;
  };
  auto checkCard = [&] {
    const TDiscountItem* found = List().FindCheckCard(1, 100, moment);
    return found ? found->ID : 0;
  };
  Module().RSumCanNotBeLowThenZSum = false;

  Open();
  FillDiscountList();
  EXPECT_EQ(goodsCard(7, 500), 1);
  EXPECT_EQ(goodsCard(9, 500), 1);
  EXPECT_EQ(goodsCard(7, 1), 2);
  EXPECT_EQ(goodsCard(8, 600), 0);
  EXPECT_EQ(checkCard(), 3);

  dataModule_.reset();
  Module().DataModule = nullptr;
  Sql("DELETE FROM DiscountGoodsDS WHERE td_ID = 1; DELETE FROM SelvoDiscountDS WHERE td_ID = 1;" +
      card(4, 1, "0=15%;") +
      "INSERT INTO DiscountGoodsDS VALUES (3, 4, 1, 8), (4, 3, 0, 600);"
      "UPDATE SelvoDiscountDS SET td_DiscountTarget = 1 WHERE td_ID = 3;");
  Open();
  FillDiscountList();
  EXPECT_EQ(goodsCard(7, 500), 2) << "the removed card must not apply";
  EXPECT_EQ(goodsCard(9, 500), 0);
  EXPECT_EQ(goodsCard(8, 1), 4) << "the new card must apply";
  EXPECT_EQ(goodsCard(9, 600), 3) << "the receipt card became a goods card";
  EXPECT_EQ(checkCard(), 0);

  host::TSale lines;
  lines.lines = {{500, 8, 0, 100, 1}, {600, 9, 0, 50, 2}};
  host::TSaleRecord sale(lines, 1, moment);
  const TDiscountItem* winner = nullptr;
  EXPECT_DOUBLE_EQ(List().GoodsGroupDiscount(sale.data(), moment, &winner), 15);
  ASSERT_NE(winner, nullptr);
  EXPECT_EQ(winner->ID, 4);
}

SELVO_ON_BOTH_DATABASES(FillDiscountListTest);

}  // namespace
}  // namespace selvo
