// selvo-host receipt on sales a real till service journaled, on a shop kept
// in a file or on a server: each sale explained under the settings version
// it was sold under, across a restart of the service and a later change of
// the settings, with the text calc --explain gives; and the lookups that
// must fail: an answer changed in the journal, an identifier on no line or
// on two, a line that does not say its settings, an identifier that is none.
#include "host/program/ReceiptCommand.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

#include "host/journal/JournalReader.h"
#include "host/program/HostCommands.h"
#include "host/session/SaleCalculation.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ServiceProcess.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

using nlohmann::json;
using test::kSampleGroupSale;
using test::TempDir;

struct TRun {
  int code;
  std::string out, err;
};

TRun RunHost(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = RunHostProgram(args, TModuleLocation{"libselvopayments.so", "/nonexistent"}, out, err);
  return {code, out.str(), err.str()};
}

// The sample sale without a moment: the service computes it at its own
// clock's, to the sub-millisecond, and journals that moment to the
// millisecond.
constexpr const char* kSaleAtServiceClock =
    R"({"payment": "дисконтная карта", "lines": [
    {"goods": 201, "category": 2, "zprice": 40, "price": 150, "quantity": 1},
    {"goods": 304, "category": 3, "zprice": 90, "price": 199, "quantity": 3}]})";

// Paid in cash at the service's clock: coffee, which the morning card takes
// 15 % off from 6 to 10, and beer, which may not be sold from 23 to 8.
constexpr const char* kTimeOfDaySale =
    R"({"payment": "наличные", "lines": [
    {"goods": 201, "category": 2, "zprice": 40, "price": 150, "quantity": 2},
    {"goods": 401, "category": 4, "zprice": 50, "price": 95, "quantity": 1}]})";

json Sell(const test::TServiceProcess& service, const std::string& sale) {
  const httplib::Result result = service.Client()->Post("/calc", sale, "application/json");
  if (!result || result->status != 200) throw std::runtime_error("the service did not compute the sale");
  return json::parse(result->body);
}

// Card 4's thresholds, changed as the editor saves them: one transaction of
// the data module's pending changes.
void SaveCardThreshold(const std::string& shop, const std::string& threshold) {
  TShopDataModule module(shop);
  TShopDataSet& cards = module.DataSet("SelvoDiscountDS");
  cards.SetMaster(nullptr, "");
  ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{4})}, 0));
  cards.Edit();
  cards.FieldByName("td_Threshold").SetAsString(threshold);
  cards.Post();
  ASSERT_TRUE(module.Transaction("START"));
  for (TShopDataSet* dataSet : module.DataSets()) ASSERT_EQ(dataSet->ApplyUpdates(0), 0) << dataSet->Name();
  ASSERT_TRUE(module.Transaction("COMMIT"));
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class ReceiptTest : public ::testing::TestWithParam<test::TShopDbKind> {
 protected:
  ReceiptTest() : db_(GetParam()), shop_(db_.Address()), journal_(dir_.file("sales.jsonl")) {
    setenv("WINDIR", windir_.path().c_str(), 1);
    setenv("SELVO_MODULE", SELVO_MODULE_PATH, 1);
    CreateSampleShop(shop_, false);
  }
  ~ReceiptTest() override {
    unsetenv("SELVO_MODULE");
    unsetenv("WINDIR");
  }
  // A service journaling into journal_, the sales sold on it, stopped.
  std::vector<json> SellOnAService(const std::vector<std::string>& sales) {
    test::TServiceProcess service(shop_, windir_.path(), {"--journal", journal_});
    std::vector<json> answers;
    for (const std::string& sale : sales) answers.push_back(Sell(service, sale));
    EXPECT_EQ(service.Stop(), 0) << service.Log();
    return answers;
  }
  TRun Receipt(const std::string& saleId, std::vector<std::string> journals, bool asJson) {
    std::vector<std::string> args = {"receipt", "--db", shop_};
    if (asJson) args.push_back("--json");
    args.push_back(saleId);
    args.insert(args.end(), journals.begin(), journals.end());
    return RunHost(args);
  }

  TempDir dir_;
  TempDir windir_;
  test::TTestShopDatabase db_;
  std::string shop_;
  std::string journal_;
};

TEST_P(ReceiptTest, EachSaleIsExplainedUnderItsOwnVersionAcrossARestartAndAChangeOfTheSettings) {
  const std::vector<json> before = SellOnAService({kSampleGroupSale, kSaleAtServiceClock});
  SaveCardThreshold(shop_, "200=20%;");
  const std::vector<json> after = SellOnAService({kSampleGroupSale});
  ASSERT_GT(after[0]["settings_version"].get<std::int64_t>(), before[0]["settings_version"].get<std::int64_t>());
  ASSERT_NE(after[0]["sum"], before[0]["sum"]) << "the change must change the sale's answer";

  const struct {
    const char* what;
    json answer;
    std::string sale;
  } cases[] = {
      {"sold before the change, under the old version", before[0], kSampleGroupSale},
      {"sold at the service's clock, to the sub-millisecond", before[1], kSaleAtServiceClock},
      {"sold after the restart, under the new version", after[0], kSampleGroupSale},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string saleId = c.answer["sale_id"].get<std::string>();
    const TRun asJson = Receipt(saleId, {journal_}, true);
    ASSERT_EQ(asJson.code, 0) << asJson.err << asJson.out;
    const json doc = json::parse(asJson.out);
    EXPECT_EQ(doc["sale_id"], saleId);
    EXPECT_EQ(doc["settings_version"], c.answer["settings_version"]);
    EXPECT_TRUE(doc["equal"].get<bool>());
    // The very numbers the till answered, not merely close ones.
    for (const char* field : {"sum", "discount_percent", "sale_bans"}) {
      EXPECT_EQ(doc["recomputed"][field], c.answer[field]) << field;
      EXPECT_EQ(doc["journaled"][field], c.answer[field]) << field;
    }

    // The text is calc --explain's for the same sale, version and moment.
    const std::string sale = dir_.file("sale.json");
    json withMoment = json::parse(c.sale);
    withMoment["moment"] = doc["moment"];
    test::WriteFileBytes(sale, withMoment.dump());
    const TRun calc = RunHost({"calc", "--db", shop_, "--version",
                               std::to_string(c.answer["settings_version"].get<std::int64_t>()), "--explain", sale});
    ASSERT_EQ(calc.code, 0) << calc.err;
    const TRun asText = Receipt(saleId, {journal_}, false);
    ASSERT_EQ(asText.code, 0) << asText.err;
    EXPECT_NE(asText.out.find("\n\n" + calc.out + "\nСовпадает с ответом кассы.\n"), std::string::npos)
        << asText.out << "\n--- calc --explain:\n"
        << calc.out;
    EXPECT_EQ(asText.err, "");
  }
  EXPECT_NE(json::parse(Receipt(before[0]["sale_id"].get<std::string>(), {journal_}, true).out)["explanation"],
            json::parse(Receipt(after[0]["sale_id"].get<std::string>(), {journal_}, true).out)["explanation"])
      << "the old sale is not explained under the new settings";
}

// One journaled sale, and the journal changed in the ways a receipt must
// refuse, each with its exit code and what the operator is told.
TEST_P(ReceiptTest, ChangedAnswersMissingAndDoubledLinesAndBadIdentifiersAreRefused) {
  const json sold = SellOnAService({kSampleGroupSale})[0];
  const std::string saleId = sold["sale_id"].get<std::string>();
  const std::string line = ReadText(journal_);
  ASSERT_EQ(json::parse(line)["sale_id"], saleId);
  auto edited = [&](const std::function<void(json&)>& edit) {
    json entry = json::parse(line);
    edit(entry);
    return entry.dump() + "\n";
  };
  std::string otherId = saleId;
  otherId[0] = otherId[0] == '0' ? '1' : '0';
  std::string lowerCase = saleId;
  for (char& ch : lowerCase) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));

  const struct {
    const char* what;
    std::string journal;  // the journal's text
    std::string saleId;   // as typed
    int code;
    std::string shown;  // on the output and the error together
  } cases[] = {
      {"the journal as written", line, saleId, 0, "Совпадает с ответом кассы."},
      {"the identifier typed in lower case", line, lowerCase, 0, "Совпадает с ответом кассы."},
      {"other lines and a torn one around it", "{\"sale_id\": \"" + otherId + "\"}\n\nnot json\n" + line + "{\"sale",
       saleId, 0, "Совпадает с ответом кассы."},
      {"the sum raised by a kopeck",
       edited([](json& e) { e["answer"]["sum"] = e["answer"]["sum"].get<double>() + 0.01; }), saleId, 1,
       "к оплате: касса 404.11, пересчёт 404.10"},
      {"the sum changed below a kopeck",
       edited([](json& e) { e["answer"]["sum"] = e["answer"]["sum"].get<double>() + 1e-9; }), saleId, 1,
       "пересчёт 404.1\n"},
      {"the discount changed", edited([](json& e) { e["answer"]["discount_percent"] = 20; }), saleId, 1,
       "скидка: касса 20.00 %, пересчёт 7.95 %"},
      {"a sale ban added", edited([](json& e) { e["answer"]["sale_bans"] = json::array({"пиво"}); }), saleId, 1,
       "запреты продажи: касса — «пиво»; пересчёт — нет"},
      {"an identifier on no line", line, otherId, 1, "не найдена в журналах (файлов: 1, строк: 1)"},
      {"the same line twice", line + line, saleId, 1, "записана в журналах дважды"},
      {"a line written before versions were journaled", edited([](json& e) { e.erase("settings_version"); }), saleId, 1,
       "нет версии настроек"},
      {"a line of settings without a version", edited([](json& e) { e["settings_version"] = 0; }), saleId, 1,
       "настройкам без версии"},
      {"a line without the till's answer", edited([](json& e) { e.erase("answer"); }), saleId, 1, "нет ответа кассы"},
      {"a sale that named its moment, on a line without the time it was computed",
       edited([](json& e) { e.erase("at"); }), saleId, 1, "когда касса её рассчитала"},
      {"a version the shop does not have", edited([](json& e) { e["settings_version"] = 999; }), saleId, 1, "999"},
      {"an identifier too short", line, saleId.substr(1), 2, "номер продажи"},
      {"an identifier with a letter left out of the alphabet", line, "O" + saleId.substr(1), 2, "номер продажи"},
      {"a path where the identifier goes", line, dir_.file("case.jsonl"), 2, "номер продажи"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string journal = dir_.file("case.jsonl");
    test::WriteFileBytes(journal, c.journal);
    const TRun run = Receipt(c.saleId, {journal}, false);
    EXPECT_EQ(run.code, c.code) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.shown), std::string::npos) << run.out << run.err;
    if (c.code == 1 && run.out.find("пересчёт") != std::string::npos) {
      EXPECT_NE(run.err.find("не совпадает с ответом кассы"), std::string::npos) << run.err;
    }
  }

  // The sale named its own moment, so the till's clock is the line's "at",
  // in UTC, read in the local time of the shop.
  const std::string at = json::parse(line)["at"].get<std::string>();
  setenv("TZ", "Europe/Moscow", 1);
  tzset();
  const TRun moscow = Receipt(saleId, {journal_}, true);
  unsetenv("TZ");
  tzset();
  std::tm utc{};
  ASSERT_NE(strptime(at.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc), nullptr) << at;
  const std::time_t later = timegm(&utc) + 3 * 3600;
  char expected[32];
  std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%S.000", gmtime_r(&later, &utc));
  EXPECT_EQ(json::parse(moscow.out)["till_clock"], expected) << moscow.out << moscow.err;
}

TEST_P(ReceiptTest, JournalsAreReadFromSeveralFilesAndFolders) {
  const json first = SellOnAService({kSampleGroupSale})[0];
  std::filesystem::create_directory(dir_.file("old"));
  std::filesystem::rename(journal_, dir_.file("old") + "/sales.jsonl.1");
  const json second = SellOnAService({kSampleGroupSale})[0];
  for (const json* sold : {&first, &second}) {
    const std::string id = sold->at("sale_id").get<std::string>();
    const TRun inFolderAndFile = Receipt(id, {dir_.file("old"), journal_}, true);
    ASSERT_EQ(inFolderAndFile.code, 0) << inFolderAndFile.err;
    EXPECT_TRUE(json::parse(inFolderAndFile.out)["equal"].get<bool>());
    // The journals after --journal, the number last.
    const TRun named = RunHost({"receipt", "--db", shop_, "--json", "--journal", dir_.file("old"), journal_, id});
    ASSERT_EQ(named.code, 0) << named.err;
    EXPECT_EQ(json::parse(named.out)["sale_id"], id);
  }
  const TRun missing = Receipt(first["sale_id"].get<std::string>(), {journal_, dir_.file("nowhere")}, false);
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("не найден"), std::string::npos) << missing.err;
  const TRun noJournal = RunHost({"receipt", "--db", shop_, first["sale_id"].get<std::string>()});
  EXPECT_EQ(noJournal.code, 2);
  EXPECT_NE(noJournal.err.find("не указан ни один журнал"), std::string::npos) << noJournal.err;
}

TEST_P(ReceiptTest, ASaleAskedForAtAnotherHourIsComputedAtTheHourItWasSold) {
  const json sold = SellOnAService({kTimeOfDaySale})[0];
  const std::string saleId = sold["sale_id"].get<std::string>();
  const double today = DateOf(Now());
  const struct {
    const char* what;
    double clock;  // this process's clock when the receipt is asked for
  } hours[] = {
      {"at night, when beer may not be sold", today + EncodeTime(3, 0, 0, 0)},
      {"in the morning, when coffee is 15 % off", today + EncodeTime(9, 0, 0, 0)},
      {"at noon, with no time discount", today + EncodeTime(12, 0, 0, 0)},
      {"in the happy hours", today + EncodeTime(15, 0, 0, 0)},
  };
  // The sale's answer depends on the hour: a receipt computed at its own
  // clock would differ from the till's at some of them.
  TShopDataModule shop(shop_);
  const TCalcSettings settings = LoadCalcSettings(shop);
  TSale sale = ParseSale(kTimeOfDaySale);
  std::set<double> sums;
  for (const auto& h : hours) {
    sale.moment = h.clock;
    sums.insert(CalculateSaleAt(settings, sale, h.clock).sum);
  }
  ASSERT_GT(sums.size(), 2u) << "the sale must be one whose answer changes with the hour";

  for (const auto& h : hours) {
    SCOPED_TRACE(h.what);
    test::ScopedClock clock;
    clock.SetFixed(h.clock);
    const TRun run = Receipt(saleId, {journal_}, true);
    ASSERT_EQ(run.code, 0) << run.err << run.out;
    const json doc = json::parse(run.out);
    EXPECT_TRUE(doc["equal"].get<bool>());
    EXPECT_EQ(doc["recomputed"]["sum"], sold["sum"]);
    EXPECT_EQ(doc["recomputed"]["sale_bans"], sold["sale_bans"]);
    EXPECT_EQ(doc["till_clock"], doc["moment"]) << "a sale sent without a moment is computed at the one it was given";
  }
}

SELVO_ON_BOTH_DATABASES(ReceiptTest);

}  // namespace
}  // namespace selvo::host
