// The check of a shop's settings: a crafted change of the sample shop for
// each kind of finding, the sample shop as it is with none, and a property
// test over random shops and sales that no card reported as never applying
// or never winning is ever the card the calculation chooses, while planted
// dead and beaten cards are found.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>

#include "discounts/SelvoDiscountItemsU.h"
#include "host/insight/Replay.h"
#include "host/insight/SettingsCheck.h"
#include "host/program/HostCommands.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopConnection.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

struct TLintRun {
  int code = -1;
  nlohmann::json findings;
};

class SettingsCheckTest : public ::testing::Test {
 protected:
  SettingsCheckTest() { setenv("WINDIR", windows.path().c_str(), 1); }
  ~SettingsCheckTest() override { unsetenv("WINDIR"); }

  TLintRun Lint(const std::string& database) {
    std::istringstream in;
    std::ostringstream out, err;
    TLintRun run;
    run.code = RunHostProgram({"lint", "--db", database, "--json", "--at", "2026-12-09T12:00"},
                              TModuleLocation{"libselvopayments.so", "/nonexistent"}, in, out, err);
    EXPECT_TRUE(err.str().empty()) << err.str();
    run.findings = nlohmann::json::parse(out.str(), nullptr, false)["findings"];
    return run;
  }

  test::TempDir dir, windows;
};

TEST_F(SettingsCheckTest, EachKindIsFoundInACraftedShopAndTheSampleShopHasNone) {
  const struct {
    const char* what;
    const char* sql;
    const char* kind;
    int card;
    const char* names;  // a piece of the reason
  } cases[] = {
      {"every period over", "UPDATE ExclusionsDS SET ex_EDateTime = 46000 WHERE td_ID = 9", "never_applies", 9,
       "закончились"},
      {"no day ticked", "UPDATE SelvoDiscountDS SET td_AllWeek = 0, td_WeekDays = 0 WHERE td_ID = 1", "never_applies",
       1, "ни один не отмечен"},
      {"a goods card without goods", "DELETE FROM DiscountGoodsDS WHERE td_ID = 4", "never_applies", 4, "не выбраны"},
      {"goods the shop no longer has",
       "DELETE FROM Goods WHERE ID_Goods IN (SELECT ID_Target FROM DiscountGoodsDS "
       "WHERE td_ID = 4 AND td_IsCategory = 0); DELETE FROM KeyTovar WHERE "
       "ID_Category IN (SELECT ID_Target FROM DiscountGoodsDS WHERE td_ID = 4 AND "
       "td_IsCategory = 1)",
       "never_applies", 4, "больше нет"},
      {"its payment type switched off", "UPDATE Payment SET Enabled = 0 WHERE ID = 5", "never_applies", 4, "выключен"},
      {"a time discount outside the window",
       "UPDATE SelvoDiscountDS SET td_TimeDscList = '9:0:0-10:0:0=5%;' "
       "WHERE td_ID = 8",
       "partly_dead", 8, "вне времени"},
      {"a threshold twice", "UPDATE SelvoDiscountDS SET td_Threshold = '300=10%;300=12%;' WHERE td_ID = 4",
       "partly_dead", 4, "дважды"},
      {"a receipt card after one that gives more",
       "INSERT INTO SelvoDiscountDS SELECT 20, 'Копия', PayID, td_BTime, td_ETime, td_AllDay, td_Enabled, "
       "td_WeekDays, td_AllWeek, '1000=2%;5000=4%;', td_DiscountTarget, td_Rules, td_TimeDscList "
       "FROM SelvoDiscountDS WHERE td_ID = 1",
       "never_wins", 20, "карта 1"},
      {"a ban all day", "UPDATE SelvoDiscountDS SET td_TimeDscList = '0:0:0-23:59:59=10000000р;' WHERE td_ID = 5",
       "cannot_be_sold", 5, "весь день"},
  };
  const std::string sample = dir.file("sample.db");
  CreateSampleShop(sample, false);
  const TLintRun clean = Lint(sample);
  EXPECT_EQ(clean.code, 0) << clean.findings.dump();

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string shop = dir.file(std::string(c.kind) + std::to_string(c.card) + ".db");
    CreateSampleShop(shop, true);
    OpenShopConnection(shop)->Execute(c.sql);
    const TLintRun run = Lint(shop);
    EXPECT_EQ(run.code, 1);
    bool found = false;
    for (const nlohmann::json& f : run.findings)
      found = found || (f["kind"] == c.kind && f["card"]["id"] == c.card &&
                        f["reason"].get<std::string>().find(c.names) != std::string::npos);
    EXPECT_TRUE(found) << run.findings.dump();
  }
}

// A shop the check cannot read whole is an error naming what is missing,
// never "nothing found" nor a finding that only the missing table makes.
TEST_F(SettingsCheckTest, AShopWithATableOrColumnMissingOrNoShopAtAllIsAnErrorInRussian) {
  const struct {
    const char* what;
    const char* sql;  // on a fresh sample shop; empty: the file is no database
    const char* names;
  } cases[] = {
      {"the categories dropped", "DROP TABLE KeyTovar", "KeyTovar"},
      {"the goods dropped", "DROP TABLE Goods", "Goods"},
      {"the payment types dropped", "DROP TABLE Payment", "Payment"},
      {"the cards dropped", "DROP TABLE SelvoDiscountDS", "SelvoDiscountDS"},
      {"the goods' identifiers gone", "ALTER TABLE Goods RENAME COLUMN ID_Goods TO Code", "ID_Goods"},
      {"a file that is no database", "", "не является базой данных магазина"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string shop = dir.file("broken-" + std::to_string(&c - cases) + ".db");
    if (*c.sql) {
      CreateSampleShop(shop, true);
      OpenShopConnection(shop)->Execute(c.sql);
    } else {
      test::WriteFileBytes(shop, std::string(4096, 'x'));
    }
    std::istringstream in;
    std::ostringstream out, err;
    const int code =
        RunHostProgram({"lint", "--db", shop}, TModuleLocation{"libselvopayments.so", "/nonexistent"}, in, out, err);
    EXPECT_EQ(code, 2) << out.str();
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find(c.names), std::string::npos) << err.str();
    // No English text of a driver reaches the operator.
    EXPECT_EQ(err.str().find("database"), std::string::npos) << err.str();
  }
}

// ---------------------------------------------------------------------------
// Random shops

constexpr int kPayments = 2;
const std::int32_t kCategories[] = {1, 2, 3};
const std::int32_t kGoods[] = {11, 12, 21, 22, 31};

std::unique_ptr<TDiscountItem> RandomCard(std::mt19937& random, std::int32_t id) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto card = std::make_unique<TDiscountItem>();
  card->ID = id;
  card->SetDiscountName("Карта " + std::to_string(id));
  card->PayID = 1 + pick(kPayments);
  card->DiscountTarget = static_cast<std::int16_t>(pick(2));
  card->AllWeek = pick(3) != 0;
  card->WeekDays = static_cast<std::uint8_t>(pick(128));
  card->AllDay = pick(3) != 0;
  card->BTime = pick(12) / 24.0;
  card->ETime = (12 + pick(12)) / 24.0;
  const int thresholds = pick(3);
  for (int i = 0; i < thresholds; ++i) {
    card->ThresholdSum.push_back(pick(4) * 100.0);
    card->ThresholdValue.push_back(pick(4) * 5.0);
    card->ThresholdUnit.push_back(pick(5) == 0 ? 'r' : kUnitPercent);
  }
  if (pick(4) == 0) {
    card->TimeBegin.push_back(pick(24) / 24.0);
    card->TimeEnd.push_back(card->TimeBegin.back() + pick(6) / 24.0);
    card->TimeValue.push_back(pick(3) == 0 ? SaleBanAmount : 10.0);
    card->TimeUnit.push_back(card->TimeValue.back() == SaleBanAmount ? 'r' : kUnitPercent);
  }
  if (pick(3) == 0) {
    const double begin = EncodeDate(2026, 1 + pick(12), 1);
    card->PeriodBegin.push_back(begin);
    card->PeriodEnd.push_back(begin + pick(200));
    card->PeriodEnabled.push_back(pick(5) != 0);
  }
  for (std::int32_t c : kCategories)
    if (pick(4) == 0) card->Categories.Add(std::to_string(c));
  for (std::int32_t g : kGoods)
    if (pick(3) == 0) card->Goods.Add(std::to_string(g));
  return card;
}

TCalcSettings SettingsOf(std::shared_ptr<TDiscountList> cards, bool purchaseFloor) {
  std::vector<TPaymentDiscount> payments;
  for (int p = 1; p <= kPayments; ++p) payments.push_back({p, 0});
  TCalcOptions options;
  options.purchaseFloor = purchaseFloor;
  return {{}, TCalcSnapshot(std::move(payments), std::move(cards), options, ModuleFormatSettings()), {}};
}

TSale RandomSale(std::mt19937& random) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  TSale sale;
  sale.paymentID = 1 + pick(kPayments);
  sale.moment = EncodeDate(2026, 1 + pick(12), 1 + pick(28)) + pick(96) / 96.0;
  const int lines = 1 + pick(4);
  for (int i = 0; i < lines; ++i) {
    const std::int32_t goods = kGoods[pick(5)];
    // Prices in kopecks, so that discounts fall between ten-thousandths.
    const double price = 20.0 + pick(4000) * 0.1 + pick(10) * 0.01;
    sale.lines.push_back({goods, goods / 10, price * 0.6, price, 1.0 + pick(3)});
  }
  return sale;
}

TEST(SettingsCheckPropertyTest, ACardFoundDeadOrBeatenIsNeverChosenAndPlantedOnesAreFound) {
  test::ModuleScope scope;
  std::mt19937 random(20261209);
  const TShopFacts facts{
      {{1, true}, {2, true}}, {std::begin(kGoods), std::end(kGoods)}, {std::begin(kCategories), std::end(kCategories)}};
  const double checkedAt = EncodeDate(2026, 1, 1);
  int reported = 0;
  for (int shop = 0; shop < 150; ++shop) {
    auto cards = std::make_shared<TDiscountList>();
    for (std::int32_t id = 1; id <= 8; ++id) cards->Add(RandomCard(random, id));
    // Planted: a copy of card 1 after it (ties go to the first card) with
    // its time discounts taken away, and a card whose only period ended long
    // before the check.
    TDiscountItem& first = *cards->GetItem(0);
    first.DiscountTarget = 0;
    first.TimeBegin.clear(), first.TimeEnd.clear(), first.TimeValue.clear(), first.TimeUnit.clear();
    first.ThresholdSum = {0, 300}, first.ThresholdValue = {5, 10}, first.ThresholdUnit = {'%', '%'};
    first.Enabled = true;
    auto beaten = std::make_unique<TDiscountItem>(first);
    beaten->ID = 50;
    cards->Add(std::move(beaten));
    auto ended = std::make_unique<TDiscountItem>(*cards->GetItem(1));
    ended->Enabled = true;
    ended->ID = 51;
    ended->PeriodBegin = {EncodeDate(2020, 1, 1)}, ended->PeriodEnd = {EncodeDate(2020, 2, 1)};
    ended->PeriodEnabled = {true};
    cards->Add(std::move(ended));

    const bool floor = shop % 3 == 0;
    const TCalcSettings settings = SettingsOf(cards, floor);
    const std::vector<TFinding> findings = CheckSettings(settings, facts, checkedAt);
    std::set<std::int32_t> neverChosen;
    bool foundBeaten = false, foundEnded = false;
    for (const TFinding& f : findings) {
      if (f.kind != TFindingKind::NeverWins && f.kind != TFindingKind::NeverApplies) continue;
      neverChosen.insert(f.cardID);
      foundBeaten = foundBeaten || f.cardID == 50;
      foundEnded = foundEnded || (f.cardID == 51 && f.kind == TFindingKind::NeverApplies);
      reported += f.cardID < 50;
    }
    EXPECT_TRUE(foundEnded) << "shop " << shop;
    EXPECT_TRUE(foundBeaten) << "shop " << shop;

    for (int s = 0; s < 60; ++s) {
      const TSale sale = RandomSale(random);
      TSaleRecord record(sale, *sale.paymentID, *sale.moment);
      const TCalcTrace trace = TraceCalculationAt(settings, record.data(), *sale.moment);
      for (const auto& [card, taken] : ChosenCards(trace))
        ASSERT_EQ(neverChosen.count(card.id), 0u) << "shop " << shop << ": card " << card.id << " was chosen (" << taken
                                                  << ") though the check says it never is";
    }
  }
  EXPECT_GT(reported, 50) << "the check finds more than the planted cards";
}

}  // namespace
}  // namespace selvo::host
