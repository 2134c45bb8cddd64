// selvo-host replay on journals written as the till service writes them:
// against the same settings nothing changes; against a shop in which one
// card gives more, the totals move by exactly the amount worked out by
// hand; torn and bad lines are counted as skipped.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "host/program/HostCommands.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopConnection.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

using test::kSampleGroupSale;

// A journal line for the sample sale at a moment of 2026-12-08.
std::string Line(const std::string& time) {
  const nlohmann::json entry = {{"sale", nlohmann::json::parse(kSampleGroupSale)},
                                {"moment", "2026-12-08T" + time},
                                {"answer", nlohmann::json::object()},
                                {"settings_version", 1}};
  return entry.dump() + "\n";
}

class ReplayTest : public ::testing::Test {
 protected:
  ReplayTest() {
    setenv("WINDIR", windows.path().c_str(), 1);
    CreateSampleShop(current, false);
    CreateSampleShop(proposed, false);
  }
  ~ReplayTest() override { unsetenv("WINDIR"); }

  nlohmann::json Replay(const std::vector<std::string>& journals) {
    std::vector<std::string> args = {"replay", "--db", current, "--against", proposed, "--json"};
    args.insert(args.end(), journals.begin(), journals.end());
    std::istringstream in;
    std::ostringstream out, err;
    const int code = RunHostProgram(args, TModuleLocation{"libselvopayments.so", "/nonexistent"}, in, out, err);
    EXPECT_EQ(code, 0) << err.str();
    return nlohmann::json::parse(out.str(), nullptr, false);
  }

  test::TempDir dir, windows;
  std::string current = dir.file("current.db"), proposed = dir.file("proposed.db");
};

TEST_F(ReplayTest, SameSettingsChangeNothingAndARaisedCardMovesTheTotalsByHand) {
  const std::string journal = dir.file("sales.jsonl");
  test::WriteFileBytes(journal, Line("08:15:00") + Line("12:30:00") + Line("21:45:00"));
  const nlohmann::json same = Replay({journal});
  EXPECT_EQ(same["changed"], 0);
  EXPECT_EQ(same["current"]["to_pay"], same["proposed"]["to_pay"]);
  // Card 4 gives 10 % of coffee and the hot dog (150 + 199): 34.90 a sale.
  EXPECT_DOUBLE_EQ(same["current"]["discount"].get<double>(), 3 * 34.90);
  EXPECT_DOUBLE_EQ(same["current"]["discount_by_hour"][12].get<double>(), 34.90);

  OpenShopConnection(proposed)->Execute("UPDATE SelvoDiscountDS SET td_Threshold = '300=15%;' WHERE td_ID = 4");
  const nlohmann::json raised = Replay({journal});
  EXPECT_EQ(raised["changed"], 3);
  // 15 % of 349 is 52.35: 17.45 more a sale.
  EXPECT_NEAR(raised["current"]["to_pay"].get<double>() - raised["proposed"]["to_pay"].get<double>(), 3 * 17.45, 1e-9);
  EXPECT_EQ(raised["proposed"]["cards"][0]["id"], 4);
  EXPECT_EQ(raised["proposed"]["cards"][0]["wins"], 3);
  EXPECT_DOUBLE_EQ(raised["proposed"]["cards"][0]["discount"].get<double>(), 3 * 52.35);
}

TEST_F(ReplayTest, TornAndBadLinesAreSkippedAndCounted) {
  const std::string first = dir.file("one.jsonl"), second = dir.file("two.jsonl");
  test::WriteFileBytes(first, Line("10:00:00") + "not json\n" +
                                  R"({"sale": {"payment": 1}, "moment": "x"})"
                                  "\n" +
                                  Line("11:00:00"));
  test::WriteFileBytes(second, Line("12:00:00") + R"({"sale": {"payme)");
  const nlohmann::json report = Replay({first, second});
  EXPECT_EQ(report["read"], 4) << "three whole sales and one that is no sale";
  EXPECT_EQ(report["skipped"], 3) << "a bad line, an entry that is no sale, a torn last line";
  EXPECT_DOUBLE_EQ(report["current"]["discount"].get<double>(), 3 * 34.90);
}

}  // namespace
}  // namespace selvo::host
