// selvo-host calc on the sample shop, kept in a file or on a server: the
// module's result, its explanation and the refusal of bad sales.
#include "host/program/CalcCommand.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "host/program/HostCommands.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "platform/FormatSettings.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

using selvo::test::TempDir;
using selvo::test::WriteFileBytes;

struct TRun {
  int code;
  std::string out, err;
};

class CalcCommandTest : public ::testing::TestWithParam<test::TShopDbKind> {
 protected:
  CalcCommandTest() : db_(GetParam()), shop_(db_.Address()) {
    setenv("WINDIR", windir_.path().c_str(), 1);
    setenv("SELVO_MODULE", SELVO_MODULE_PATH, 1);
    CreateSampleShop(shop_, false);
  }
  ~CalcCommandTest() override {
    unsetenv("SELVO_MODULE");
    unsetenv("WINDIR");
  }
  TRun Calc(const std::string& saleJson, std::vector<std::string> flags = {"--json"}) {
    WriteFileBytes(dir_.file("sale.json"), saleJson);
    std::vector<std::string> args = {"calc", "--db", shop_};
    args.insert(args.end(), flags.begin(), flags.end());
    args.push_back(dir_.file("sale.json"));
    std::ostringstream out, err;
    const int code = RunHostProgram(args, TModuleLocation{"libselvopayments.so", "/nonexistent"}, out, err);
    return {code, out.str(), err.str()};
  }

  TempDir dir_;
  TempDir windir_;
  test::TTestShopDatabase db_;
  std::string shop_;
};

using test::kSampleGroupSale;

TEST_P(CalcCommandTest, SumAndPercentAsJson) {
  TRun run = Calc(kSampleGroupSale);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const auto doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["sum"].get<double>(), 404.1);
  EXPECT_NEAR(doc["discount_percent"].get<double>(), 34.9 / 439 * 100, 1e-9);
  EXPECT_TRUE(doc["sale_bans"].empty());
}

// A card changed after version 1: calc, lint and replay compute with the
// settings of the version asked for, not with those of now.
TEST_P(CalcCommandTest, ToolsComputeWithTheSettingsOfTheVersionAskedFor) {
  {
    TShopDataModule dm(shop_);
    TShopDataSet& cards = dm.DataSet("SelvoDiscountDS");
    ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{4})}, 0));
    cards.Edit();
    cards.FieldByName("td_Threshold").SetAsString("200=20%;");
    cards.Post();
    ASSERT_TRUE(dm.Transaction("START"));
    ASSERT_EQ(cards.ApplyUpdates(0), 0);
    ASSERT_TRUE(dm.Transaction("COMMIT"));
    ASSERT_EQ(dm.Version().number, 2);
  }
  const double then = nlohmann::json::parse(Calc(kSampleGroupSale, {"--json", "--version", "1"}).out)["sum"];
  const double now = nlohmann::json::parse(Calc(kSampleGroupSale, {"--json"}).out)["sum"];
  EXPECT_EQ(then, 404.1);
  EXPECT_EQ(nlohmann::json::parse(Calc(kSampleGroupSale, {"--json", "--version", "2"}).out)["sum"], now);
  EXPECT_LT(now, then) << "20 % from 200 gives more than 10 % from 300";

  // A journal of the sale replayed under version 1 against version 2.
  const std::string sale = nlohmann::json::parse(kSampleGroupSale).dump();
  WriteFileBytes(dir_.file("sales.jsonl"), "{\"sale\":" + sale + ",\"moment\":\"2026-12-08T12:30:00\"}\n");
  std::ostringstream out, err;
  const TModuleLocation module{"libselvopayments.so", "/nonexistent"};
  ASSERT_EQ(RunHostProgram({"replay", "--db", shop_, "--version", "1", "--against-version", "2", "--json",
                            dir_.file("sales.jsonl")},
                           module, out, err),
            0)
      << err.str();
  const auto report = nlohmann::json::parse(out.str());
  EXPECT_DOUBLE_EQ(report["current"]["to_pay"].get<double>(), then);
  EXPECT_DOUBLE_EQ(report["proposed"]["to_pay"].get<double>(), now);

  const struct {
    std::vector<std::string> args;
    int code;
    const char* message;
  } kRefused[] = {
      {{"calc", "--db", shop_, "--version", "3", dir_.file("sale.json")}, 1, "нет версии настроек 3"},
      {{"lint", "--db", shop_, "--version", "0"}, 2, "номер версии"},
      {{"calc", "--db", shop_, "--version", "1x", dir_.file("sale.json")}, 2, "номер версии"},
      {{"replay", "--db", shop_, "--against", shop_, "--against-version", "1", dir_.file("sales.jsonl")},
       1,
       "одним способом"},
  };
  for (const auto& refused : kRefused) {
    std::ostringstream o, e;
    EXPECT_EQ(RunHostProgram(refused.args, module, o, e), refused.code) << refused.args[3];
    EXPECT_NE(e.str().find(refused.message), std::string::npos) << e.str();
  }
}

TEST_P(CalcCommandTest, ExplanationNamesTheWinningVariant) {
  TRun run = Calc(kSampleGroupSale, {"--explain"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("К оплате: 404.10"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("4. Группа товаров: карта \"Кофе и хот-дог по дисконтной карте\" (ID 4) даёт 34.9: 404.10"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Выбрано: вариант 4 (группа товаров) — к оплате 404.10"), std::string::npos) << run.out;
}

TEST_P(CalcCommandTest, ExplainedSumIsTheModulesOnRandomSales) {
  std::mt19937 rng(20261208);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const int goods[] = {101, 102, 201, 202, 301, 304, 401, 501, 503};
  for (int round = 0; round < 25; ++round) {
    std::string lines;
    for (int i = pick(1, 5); i > 0; --i) {
      const int g = goods[pick(0, 8)];
      if (!lines.empty()) lines += ",";
      lines += R"({"goods": )" + std::to_string(g) + R"(, "category": )" + std::to_string(g / 100) + R"(, "zprice": )" +
               std::to_string(pick(10, 90)) + R"(, "price": )" + std::to_string(pick(90, 600)) + R"(, "quantity": )" +
               std::to_string(pick(1, 4)) + "}";
    }
    // Type 9 is switched off: its sales are refused (see below).
    const std::string sale = R"({"payment": )" + std::to_string(pick(1, 8)) + R"(, "moment": "2026-12-)" +
                             std::to_string(pick(10, 31)) + "T" + std::to_string(pick(10, 23)) +
                             R"(:15:00", "lines": [)" + lines + "]}";
    TRun run = Calc(sale, {"--json", "--explain"});
    ASSERT_EQ(run.code, 0) << sale << "\n" << run.err;
    EXPECT_EQ(run.err.find("предупреждение"), std::string::npos) << sale << "\n" << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    const std::string explain = doc["explain"].get<std::string>();
    char sum[32];
    std::snprintf(sum, sizeof sum, "к оплате %.2f", doc["sum"].get<double>());
    EXPECT_NE(explain.find(sum), std::string::npos) << sale << "\n" << explain;
  }
}

TEST_P(CalcCommandTest, BadSalesAreRefusedWithThePlace) {
  TRun notJson = Calc("{\"payment\": 1,");
  EXPECT_EQ(notJson.code, 1);
  EXPECT_NE(notJson.err.find("не в формате JSON"), std::string::npos) << notJson.err;

  TRun badType =
      Calc(R"({"payment": 1, "lines": [{"goods": 1, "category": 1, "zprice": 1, "price": [], "quantity": 1}]})");
  EXPECT_EQ(badType.code, 1);
  EXPECT_NE(badType.err.find("lines[0].price: ожидается число, а не массив"), std::string::npos) << badType.err;

  TRun unknown = Calc(R"({"payment": "рубли", "lines": []})");
  EXPECT_EQ(unknown.code, 1);
  EXPECT_NE(unknown.err.find("вид оплаты \"рубли\" не найден"), std::string::npos) << unknown.err;

  std::ostringstream out, err;
  const int code = RunHostProgram({"calc", "--db", dir_.file("missing.db"), dir_.file("none.json")},
                                  TModuleLocation{"libselvopayments.so", "/nonexistent"}, out, err);
  EXPECT_EQ(code, 1);
  EXPECT_NE(err.str().find("none.json"), std::string::npos) << err.str();
}

// A card of a payment type that is switched off or gone never applies: a
// sale naming such a type is refused alike by identifier and by name, and
// the type switched on again sells.
TEST_P(CalcCommandTest, ASwitchedOffOrMissingPaymentTypeIsRefusedByIdentifierAsByName) {
  const auto sale = [](const std::string& payment) {
    return R"({"payment": )" + payment + R"(, "moment": "2026-12-08T12:30:00",
      "lines": [{"goods": 101, "category": 1, "zprice": 28, "price": 45, "quantity": 2}]})";
  };
  const struct {
    const char* rule;
    const char* payment;
    int code;
  } cases[] = {
      {"switched off, by identifier", "9", 1}, {"switched off, by name", "\"Сертификат\"", 1},
      {"missing, by identifier", "99", 1},     {"missing, by name", "\"Подарочная карта\"", 1},
      {"switched on, by identifier", "1", 0},
  };
  for (const auto& c : cases) {
    const TRun run = Calc(sale(c.payment));
    EXPECT_EQ(run.code, c.code) << c.rule << ": " << run.out << run.err;
    if (c.code != 0) {
      EXPECT_NE(run.err.find("payment"), std::string::npos) << c.rule << ": " << run.err;
    }
  }
  // Switched on again, the type sells.
  TShopDataModule(shop_).Connection().Execute("UPDATE Payment SET Enabled = 1 WHERE ID = 9");
  EXPECT_EQ(Calc(sale("9")).code, 0);
}

// Faults found by running the till against bad data: each must fail with a
// message naming the place, never pass as a sale.
TEST_P(CalcCommandTest, NumbersThatWouldMakeAWrongSaleAreRefusedByPlace) {
  const std::string shop = shop_;
  struct Case {
    const char* rule;
    const char* sql;  // run on a fresh sample shop first
    const char* sale;
    const char* message;
  } cases[] = {
      {"a price beyond any sale", "",
       R"({"payment": 1, "lines": [{"goods": 101, "category": 1, "zprice": 1, "price": 1e308, "quantity": 1}]})",
       "lines[0].price: число вне допустимых пределов"},
      {"a quantity past a double's range", "",
       R"({"payment": 1, "lines": [{"goods": 101, "category": 1, "zprice": 1, "price": 1, "quantity": 1},
                                   {"goods": 101, "category": 1, "zprice": 1, "price": 1, "quantity": 1e309}]})",
       "lines[1].quantity: число вне допустимых пределов"},
      {"a negative price", "",
       R"({"payment": 1, "lines": [{"goods": 101, "category": 1, "zprice": 1, "price": -1, "quantity": 1}]})",
       "lines[0].price: число вне допустимых пределов (от 0 до 10000000)"},
      {"an infinite payment discount", "UPDATE Payment SET Discount = 9e999 WHERE ID = 1", kSampleGroupSale,
       "Payment: запись ID=1, поле Discount: скидка"},
      {"a payment discount above 100 %", "UPDATE Payment SET Discount = 150 WHERE ID = 1", kSampleGroupSale,
       "Payment: запись ID=1, поле Discount: скидка 150 % вне пределов от 0 до 100"},
      {"a negative payment discount", "UPDATE Payment SET Discount = -5 WHERE ID = 1", kSampleGroupSale,
       "Payment: запись ID=1, поле Discount: скидка -5 %"},
      {"a card percentage above 100", "UPDATE SelvoDiscountDS SET td_Threshold = '300=150%;' WHERE td_ID = 4",
       kSampleGroupSale, "SelvoDiscountDS: запись td_ID=4, поле td_Threshold: скидка 150 % вне пределов от 0 до 100"},
      // The sale-ban amount is exempt only in roubles: in percent it would
      // make the morning coffee free.
      {"the sale-ban amount in percent",
       "UPDATE SelvoDiscountDS SET td_TimeDscList = '06:0:0-10:0:0=10000000%;' WHERE td_ID = 3", kSampleGroupSale,
       "SelvoDiscountDS: запись td_ID=3, поле td_TimeDscList: скидка 10000000 % вне пределов от 0 до 100"},
      {"a time percentage above 100",
       "UPDATE SelvoDiscountDS SET td_TimeDscList = '06:0:0-10:0:0=101%;' WHERE td_ID = 3", kSampleGroupSale,
       "SelvoDiscountDS: запись td_ID=3, поле td_TimeDscList: скидка 101 %"},
      {"an infinite card time", "UPDATE SelvoDiscountDS SET td_BTime = -9e999 WHERE td_ID = 3", kSampleGroupSale,
       "SelvoDiscountDS: запись td_ID=3, поле td_BTime"},
      {"an infinite period", "UPDATE ExclusionsDS SET ex_EDateTime = 9e999 WHERE ex_ID = 2", kSampleGroupSale,
       "ExclusionsDS: запись ex_ID=2, поле ex_EDateTime"},
  };
  for (const Case& c : cases) {
    CreateSampleShop(shop, true);
    if (*c.sql) {
      // The server spells an infinite number in words; SQLite reads the
      // overflowing literal as one.
      std::string sql = c.sql;
      if (auto at = sql.find("9e999"); at != std::string::npos && GetParam() == test::TShopDbKind::Server)
        sql.replace(at, 5, "CAST('Infinity' AS DOUBLE PRECISION)");
      TShopDataModule dm(shop);
      dm.Connection().Execute(sql);
    }
    TRun run = Calc(c.sale);
    EXPECT_EQ(run.code, 1) << c.rule << "\n" << run.out;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.rule << ": " << run.err;
  }
}

TEST_P(CalcCommandTest, ListWrittenWithTheOtherDecimalSeparatorIsRead) {
  {
    TShopDataModule dm(shop_);
    dm.Connection().Execute("UPDATE SelvoDiscountDS SET td_Threshold = '300=10,5%;' WHERE td_ID = 4");
  }
  TRun run = Calc(kSampleGroupSale);
  ASSERT_EQ(run.code, 0) << run.err;
  // 10.5 % of the coffee and the hot dog (349) off the total of 439.
  EXPECT_EQ(nlohmann::json::parse(run.out)["sum"].get<double>(), 402.36) << run.out;
}

// Records keep 20 characters of a name; the two names below share those.
TEST_P(CalcCommandTest, PaymentTypeNamedInFullIsFoundAndAnAmbiguousBeginningIsRefused) {
  {
    TShopDataModule dm(shop_);
    dm.Connection().Execute(
        "INSERT INTO Payment (ID, Name, Type, \"check\", Discount, Enabled) VALUES "
        "(50, 'Подарочный сертификат 500', 1, 0, 10, 1), (51, 'Подарочный сертификат 1000', 1, 0, 20, 1)");
  }
  auto sale = [](const std::string& payment) {
    return R"({"payment": ")" + payment + R"(", "moment": "2026-12-08T12:30:00",
        "lines": [{"goods": 701, "category": 7, "zprice": 1, "price": 100, "quantity": 1}]})";
  };
  const struct {
    const char* name;
    double sum;  // 0: refused
  } cases[] = {
      {"Подарочный сертификат 1000", 80}, {"подарочный СЕРТИФИКАТ 500", 90},
      {"Подарочный сертификат 10", 80},  // the one name that begins so
      {"Подарочный сертификат", 0},       {"Подарочный сертифика", 0},
  };
  for (const auto& c : cases) {
    TRun run = Calc(sale(c.name));
    if (c.sum == 0) {
      EXPECT_EQ(run.code, 1) << c.name;
      EXPECT_NE(run.err.find("подходит к нескольким видам оплаты"), std::string::npos) << c.name << ": " << run.err;
    } else {
      ASSERT_EQ(run.code, 0) << c.name << ": " << run.err;
      EXPECT_EQ(nlohmann::json::parse(run.out)["sum"].get<double>(), c.sum) << c.name;
    }
  }
}

TEST_P(CalcCommandTest, SaleBanLineShowsMoneyGroupedAndTheQuantityRoundedHalfUp) {
  {
    // Time discounts go by the clock: a ban all day long.
    TShopDataModule dm(shop_);
    dm.Connection().Execute("UPDATE SelvoDiscountDS SET td_TimeDscList = '0:0:0-23:59:59=10000000р;' WHERE td_ID = 5");
  }
  test::ScopedFormatSettings format(TFormatSettings::Russian());
  TRun run = Calc(R"({"payment": 1, "moment": "2026-12-08T23:30:00",
      "lines": [{"goods": 401, "category": 4, "zprice": 75, "price": 1500, "quantity": 0.125}]})");
  ASSERT_EQ(run.code, 0) << run.err;
  const auto bans = nlohmann::json::parse(run.out)["sale_bans"];
  ASSERT_EQ(bans.size(), 1u) << run.out;
  EXPECT_EQ(bans[0].get<std::string>().rfind("0,13 x 1 500,00р.. Запрещено с 00:00:00 до 23:59:59.", 0), 0u) << bans[0];
}

SELVO_ON_BOTH_DATABASES(CalcCommandTest);

}  // namespace
}  // namespace selvo::host
