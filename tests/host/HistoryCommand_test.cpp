// selvo-host history on the sample shop, kept in a file or on a server:
// saves of two computers and changes made outside the program listed in
// order, the filters, one version's changes, and restores that bring a past
// version back whole or are refused with nothing written.
#include "host/program/HistoryCommand.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/program/HostCommands.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/SettingsAtVersion.h"
#include "host/shopdb/SettingsRestore.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopValueConversion.h"
#include "tests/common/ShopDatabases.h"

namespace selvo::host {
namespace {

using nlohmann::json;

struct TRun {
  int code;
  std::string out, err;
};

TRun RunHost(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int code = RunHostProgram(args, TModuleLocation{"libselvopayments.so", "/nonexistent"}, out, err);
  return {code, out.str(), err.str()};
}

// One computer's save, as the editor makes it.
bool Save(TShopDataModule& module) {
  if (!module.Transaction("START")) return false;
  for (TShopDataSet* dataSet : module.DataSets()) {
    if (dataSet->ApplyUpdates(0) != 0) {
      module.Transaction("ROLLBACK");
      return false;
    }
  }
  return module.Transaction("COMMIT");
}

void Locate(TShopDataSet& dataSet, const std::string& field, std::int64_t value) {
  ASSERT_TRUE(dataSet.Locate(field, {TVariant(value)}, 0)) << dataSet.Name() << " " << field << " = " << value;
}

void SetField(TShopDataModule& module, const std::string& table, const std::string& key, std::int64_t id,
              const std::string& field, const std::string& value) {
  TShopDataSet& dataSet = module.DataSet(table);
  dataSet.SetMaster(nullptr, "");
  Locate(dataSet, key, id);
  dataSet.Edit();
  dataSet.FieldByName(field).SetAsString(value);
  dataSet.Post();
}

// Every table's rows as sorted lists of column = value, the row keys left
// out: what two shops must share to hold the same settings.
using TTables = std::map<std::string, std::vector<std::map<std::string, std::string>>>;
TTables RowsOf(TShopDataModule& module) {
  TTables tables;
  for (TShopDataSet* dataSet : module.DataSets()) {
    dataSet->SetMaster(nullptr, "");
    auto& rows = tables[dataSet->Name()];
    for (dataSet->First(); !dataSet->Eof(); dataSet->Next()) {
      std::map<std::string, std::string> row;
      for (int i = 0; i < dataSet->FieldCount(); ++i) {
        const TVariant& value = dataSet->Field(i).Value();
        row[dataSet->Field(i).FieldName()] =
            std::holds_alternative<std::monostate>(value) ? "<null>" : VariantText(value);
      }
      rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end());
  }
  return tables;
}

class HistoryCommandTest : public ::testing::TestWithParam<test::TShopDbKind> {
 protected:
  HistoryCommandTest() : db_(GetParam()), shop_(db_.Address()) { CreateSampleShop(shop_, false); }

  json History(std::vector<std::string> flags = {}) {
    std::vector<std::string> args = {"history", "--db", shop_, "--json"};
    args.insert(args.end(), flags.begin(), flags.end());
    const TRun run = RunHost(args);
    EXPECT_EQ(run.code, 0) << run.err;
    return json::parse(run.out);
  }
  std::vector<std::int64_t> Numbers(const json& history) {
    std::vector<std::int64_t> numbers;
    for (const json& v : history) numbers.push_back(v.at("version").get<std::int64_t>());
    return numbers;
  }
  void Outside(const std::string& sql) { OpenShopConnection(shop_)->Execute(sql); }
  std::int64_t Newest() { return NewestSettingsVersion(*OpenShopConnection(shop_)).number; }
  void ExpectShopIsVersion(std::int64_t number) {
    TShopDataModule now(shop_);
    auto then = LoadSettingsVersion(shop_, number);
    EXPECT_EQ(RowsOf(now), RowsOf(*then)) << "the shop differs from version " << number;
  }

  test::TTestShopDatabase db_;
  std::string shop_;
};

TEST_P(HistoryCommandTest, SavesOfTwoComputersAreListedNewestFirstWithTheirChanges) {
  TShopDataModule first(shop_), second(shop_);
  SetField(first, "SelvoDiscountDS", "td_ID", 1, "td_Threshold", "1000=4%;5000=5%;");
  ASSERT_TRUE(Save(first));
  SetField(second, "Payment", "ID", 2, "Name", "банковская карта");
  ASSERT_TRUE(Save(second));

  const json history = History();
  ASSERT_EQ(Numbers(history), (std::vector<std::int64_t>{3, 2, 1}));
  struct TExpected {
    std::string origin, summary, table, column;
    json before, after;
  };
  const TExpected expected[] = {
      {"editor", "Тип оплаты «банковская карта»: наименование «безналичные» → «банковская карта»", "Payment", "Name",
       "безналичные", "банковская карта"},
      {"editor", "Карта «Скидка от суммы чека»: пороги 1000=3%;5000=5%; → 1000=4%;5000=5%;", "SelvoDiscountDS",
       "td_Threshold", "1000=3%;5000=5%;", "1000=4%;5000=5%;"},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const json& v = history[i];
    EXPECT_EQ(v.at("origin"), expected[i].origin);
    EXPECT_EQ(v.at("author"), ProgramAuthor());
    EXPECT_TRUE(v.at("role").is_string());
    EXPECT_TRUE(v.at("restored").is_null());
    EXPECT_EQ(v.at("summary"), expected[i].summary);
    ASSERT_EQ(v.at("changes").size(), 1u);
    const json& change = v.at("changes")[0];
    EXPECT_EQ(change.at("table"), expected[i].table);
    EXPECT_EQ(change.at("column"), expected[i].column);
    EXPECT_EQ(change.at("before"), expected[i].before);
    EXPECT_EQ(change.at("after"), expected[i].after);
  }
  EXPECT_EQ(history[2].at("origin"), "init");
  EXPECT_EQ(history[2].at("summary"),
            "новый магазин: 9 типов оплаты, 10 карт, 10 целей карт, 3 периода карт, 20 категорий, 271 товар");

  const TRun text = RunHost({"history", "--db", shop_});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_LT(text.out.find("Версия 3,"), text.out.find("Версия 2,"));
  EXPECT_NE(text.out.find(ProgramAuthor() + (GetParam() == test::TShopDbKind::Server ? " (" : ", editor")),
            std::string::npos)
      << text.out;
}

TEST_P(HistoryCommandTest, ChangesMadeOutsideTheProgramAreListedAsOutside) {
  const struct {
    std::string sql, summary;
  } cases[] = {
      {"UPDATE Goods SET Price = 55.5 WHERE ID_Goods = 101", "Товар «Вода питьевая 0,5 л»: цена 45 → 55.5"},
      {"UPDATE SelvoDiscountDS SET td_BTime = 0.375, td_AllDay = 0 WHERE td_ID = 3",
       "Карта «Утренний кофе»: действует с 00:00 → 09:00, круглосуточно да → нет"},
      {"UPDATE ExclusionsDS SET ex_Enabled = 0 WHERE ex_ID = 1",
       "Карта «Новогодние праздники»: период №1: промежуток включен да → нет"},
      {"DELETE FROM DiscountGoodsDS WHERE dg_ID = 3",
       "Карта «Кофе и хот-дог по дисконтной карте»: цель товар "
       "«Хот-дог» удалена"},
      {"DELETE FROM Goods WHERE ID_Goods = 201", "Товар «Кофе американо 0,3 л» удалён"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    Outside(c.sql);
    const json newest = History().at(0);
    EXPECT_EQ(newest.at("origin"), "outside");
    EXPECT_EQ(newest.at("author"), kOutsideAuthor);
    EXPECT_EQ(newest.at("summary"), c.summary);
  }
}

TEST_P(HistoryCommandTest, FiltersBySinceAndByCard) {
  TShopDataModule module(shop_);
  SetField(module, "SelvoDiscountDS", "td_ID", 4, "td_Threshold", "300=12%;");
  ASSERT_TRUE(Save(module));  // 2: card 4 itself
  SetField(module, "Goods", "ID_Goods", 101, "Price", "50");
  ASSERT_TRUE(Save(module));  // 3: no card
  SetField(module, "DiscountGoodsDS", "dg_ID", 3, "ID_Target", "201");
  ASSERT_TRUE(Save(module));                                          // 4: a target of card 4
  Outside("UPDATE ExclusionsDS SET ex_Enabled = 1 WHERE ex_ID = 3");  // 5: a period of card 10

  const std::string second = History().at(3).at("moment").get<std::string>();
  const struct {
    std::vector<std::string> flags;
    std::vector<std::int64_t> versions;
  } cases[] = {
      {{}, {5, 4, 3, 2, 1}},
      {{"--card", "4"}, {4, 2, 1}},  // the new shop added card 4
      {{"--card", "10"}, {5, 1}},
      {{"--card", "777"}, {}},
      {{"--since", "2000-01-01"}, {5, 4, 3, 2, 1}},
      {{"--since", "2999-01-01 00:00"}, {}},
      {{"--since", second.substr(0, 10)}, {5, 4, 3, 2, 1}},
      {{"--since", "2999-01-01", "--card", "4"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.flags));
    EXPECT_EQ(Numbers(History(c.flags)), c.versions);
  }
  const TRun none = RunHost({"history", "--db", shop_, "--card", "777"});
  EXPECT_EQ(none.out, "Версий нет\n");
}

TEST_P(HistoryCommandTest, ShowGivesEveryChangeOfOneVersionALine) {
  TShopDataModule module(shop_);
  SetField(module, "SelvoDiscountDS", "td_ID", 1, "td_TimeDscList", "08:0:0-12:30:0=5%;");
  SetField(module, "SelvoDiscountDS", "td_ID", 1, "td_WeekDays", "65");
  TShopDataSet& goods = module.DataSet("Goods");
  goods.Append();
  goods.FieldByName("ID_Goods").SetAsInteger(9001);
  goods.FieldByName("Name").SetAsString("Новый товар");
  goods.Post();
  ASSERT_TRUE(Save(module));

  const TRun run = RunHost({"history", "--db", shop_, "--show", "2"});
  ASSERT_EQ(run.code, 0) << run.err;
  const json shown = json::parse(RunHost({"history", "--db", shop_, "--show", "2", "--json"}).out);
  const std::size_t lines = static_cast<std::size_t>(std::count(run.out.begin(), run.out.end(), '\n'));
  EXPECT_EQ(lines, shown.at("changes").size() + 1) << run.out;  // the header, then a line a change
  for (const char* line : {"Карта «Скидка от суммы чека»: временные скидки пусто → 08:00-12:30=5%;",
                           "Карта «Скидка от суммы чека»: дни недели ни одного → пн, вс",
                           "Товар «Новый товар» добавлен", "Товар «Новый товар»: наименование пусто → «Новый товар»"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;

  const TRun missing = RunHost({"history", "--db", shop_, "--show", "99"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("нет версии настроек 99"), std::string::npos) << missing.err;
}

TEST_P(HistoryCommandTest, RestoreBringsBackEachVersionWholeWithItsIdentifiers) {
  // 2: card 5 goes with its targets; 3: a new card takes its identifier;
  // 4: another card and a payment type change, one outside the program.
  {
    TShopDataModule module(shop_);
    TShopDataSet& cards = module.DataSet("SelvoDiscountDS");
    Locate(cards, "td_ID", 5);
    TShopDataSet& targets = module.DataSet("DiscountGoodsDS");
    while (!targets.IsEmpty()) targets.Delete();
    cards.Delete();
    ASSERT_TRUE(Save(module));
    cards.Append();
    cards.FieldByName("td_ID").SetAsInteger(5);
    cards.FieldByName("td_DiscountName").SetAsString("Другая карта");
    cards.FieldByName("td_Threshold").SetAsString("100=1%;");
    cards.Post();
    ASSERT_TRUE(Save(module));
    SetField(module, "SelvoDiscountDS", "td_ID", 1, "td_Threshold", "1000=4%;");
    ASSERT_TRUE(Save(module));
  }
  Outside("UPDATE Payment SET Discount = 2.5 WHERE ID = 1");
  ASSERT_EQ(Newest(), 5);

  std::int64_t written = Newest();
  for (std::int64_t number : {1, 2, 3, 5, 1}) {
    SCOPED_TRACE(number);
    const TRun run = RunHost({"history", "--db", shop_, "--restore", std::to_string(number)});
    ASSERT_EQ(run.code, 0) << run.err;
    ++written;
    EXPECT_EQ(run.out,
              "Восстановлена версия " + std::to_string(number) + ": записана версия " + std::to_string(written) + "\n");
    ExpectShopIsVersion(number);
    const json newest = History().at(0);
    EXPECT_EQ(newest.at("version"), written);
    EXPECT_EQ(newest.at("origin"), "restore");
    EXPECT_EQ(newest.at("restored"), number);
  }
  const TRun again = RunHost({"history", "--db", shop_, "--restore", "1"});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(again.out, "Настройки уже такие, как в версии 1: новая версия не записана\n");
  EXPECT_EQ(Newest(), written);

  const TRun missing = RunHost({"history", "--db", shop_, "--restore", "99"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("нет версии настроек 99"), std::string::npos) << missing.err;
  EXPECT_EQ(Newest(), written);
}

TEST_P(HistoryCommandTest, RestoreIsRefusedWhenTheShopChangedAfterItsRead) {
  TShopDataModule editor(shop_);
  SetField(editor, "SelvoDiscountDS", "td_ID", 1, "td_Threshold", "1000=4%;");
  ASSERT_TRUE(Save(editor));  // 2
  const struct {
    const char* what;
    std::function<void()> meanwhile;
  } cases[] = {
      {"another computer saves a row the restore changes",
       [&] {
         SetField(editor, "SelvoDiscountDS", "td_ID", 1, "td_Threshold", "1000=6%;");
         ASSERT_TRUE(Save(editor));
       }},
      {"another computer saves a row the restore leaves",
       [&] {
         SetField(editor, "Goods", "ID_Goods", 101, "Price", "47");
         ASSERT_TRUE(Save(editor));
       }},
      {"a change outside the program", [&] { Outside("DELETE FROM Goods WHERE ID_Goods = 201"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TSettingsRestore restore(shop_, 1);
    ASSERT_TRUE(restore.Differs());
    c.meanwhile();
    const std::int64_t before = Newest();
    try {
      restore.Save();
      ADD_FAILURE() << "the restore was written";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Kind(), TDatabaseErrorKind::Conflict) << e.Message();
      EXPECT_NE(e.Message().find("Восстановление версии 1 не записано"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(Newest(), before);
    ExpectShopIsVersion(before);
  }
}

TEST(HistoryCommand, BadUsageIsRefusedWithExitTwo) {
  test::TempDir dir;
  const std::string shop = dir.file("shop.db");
  CreateSampleShop(shop, false);
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--since", "вчера"}, "не в виде ГГГГ-ММ-ДД"},
      {{"--since", "2026-02-30"}, "нет таких даты и времени"},
      {{"--since", "2026-12-09T25:00"}, "нет таких даты и времени"},
      {{"--since", "2026-12-09T14"}, "не в виде ГГГГ-ММ-ДД"},
      {{"--since", std::string(100, '1')}, "не в виде"},
      {{"--card", "0"}, "--card: \"0\" — ожидается целое число от 1"},
      {{"--card", "x"}, "ожидается целое число"},
      {{"--card", "4294967296"}, "ожидается целое число"},
      {{"--show", "-1"}, "--show"},
      {{"--restore", "1", "--card", "2"}, "--restore не сочетается с --card"},
      {{"--show", "1", "--since", "2026-01-01"}, "--show не сочетается с --since"},
      {{"--version"}, "--version"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"history", "--db", shop};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::PrintToString(args));
    const TRun run = RunHost(args);
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  const TRun noShop = RunHost({"history", "--db", dir.file("none.db")});
  EXPECT_EQ(noShop.code, 1);
}

TEST(HistoryCommand, SinceTakesADayOrAMinuteInEitherForm) {
  const struct {
    const char* given;
    const char* compared;
  } cases[] = {
      {"2026-12-09", "2026-12-09"},
      {"2026-12-09T14:00", "2026-12-09T14:00"},
      {"2026-12-09 14:00", "2026-12-09T14:00"},
      {"2024-02-29 23:59", "2024-02-29T23:59"},
  };
  for (const auto& c : cases) EXPECT_EQ(HistorySince(c.given), c.compared) << c.given;
}

SELVO_ON_BOTH_DATABASES(HistoryCommandTest);

}  // namespace
}  // namespace selvo::host
