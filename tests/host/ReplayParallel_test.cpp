// selvo-host replay in several threads gives, byte for byte, the report of
// one thread, on shops in a file and on the server, over random journals of
// several tills; the tills' figures add up to the totals, and a bad line is
// still named by its journal and its number.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "host/program/HostCommands.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopConnection.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

struct TRun {
  int code = -1;
  std::string out, err;
};

TRun RunHost(const std::vector<std::string>& args) {
  std::istringstream in;
  std::ostringstream out, err;
  const int code = RunHostProgram(args, TModuleLocation{"libselvopayments.so", "/nonexistent"}, in, out, err);
  return {code, out.str(), err.str()};
}

// A sale of the sample shop's goods at a random moment of a week (the night
// ban's hours included), paid by name or by identifier, now and then by a
// payment type switched off or missing, which the replay skips.
std::string RandomLine(std::mt19937& random) {
  static const struct {
    int goods, category;
    double zprice, price;
  } kGoods[] = {{201, 2, 40, 150}, {304, 3, 90, 199}, {101, 1, 28, 45}, {401, 4, 75, 119}, {102, 1, 30, 60}};
  static const nlohmann::json kPayments[] = {"дисконтная карта", "наличные", 1, 2, 9, "нет такой"};
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  nlohmann::json lines = nlohmann::json::array();
  for (std::size_t i = 0, n = 1 + pick(4); i < n; ++i) {
    const auto& g = kGoods[pick(std::size(kGoods))];
    lines.push_back({{"goods", g.goods},
                     {"category", g.category},
                     {"zprice", g.zprice},
                     {"price", g.price},
                     {"quantity", pick(3) == 0 ? 0.5 : static_cast<double>(1 + pick(3))}});
  }
  char moment[32];
  std::snprintf(moment, sizeof moment, "2026-12-%02zuT%02zu:%02zu:00", 7 + pick(7), pick(24), pick(60));
  return nlohmann::json{{"sale", {{"payment", kPayments[pick(std::size(kPayments))]}, {"lines", lines}}},
                        {"moment", moment},
                        {"answer", nlohmann::json::object()},
                        {"settings_version", 1}}
      .dump();
}

std::int64_t Kopecks(const nlohmann::json& rubles) { return std::llround(rubles.get<double>() * 100); }

class ReplayParallelTest : public ::testing::TestWithParam<test::TShopDbKind> {
 protected:
  ReplayParallelTest() : db_(GetParam()) {
    setenv("WINDIR", windows_.path().c_str(), 1);
    CreateSampleShop(db_.Address(), false);
    // Versions 2 and 3: card 4 gives more, and the night ban is lifted.
    OpenShopConnection(db_.Address())->Execute("UPDATE SelvoDiscountDS SET td_Threshold = '300=15%;' WHERE td_ID = 4");
    OpenShopConnection(db_.Address())->Execute("UPDATE SelvoDiscountDS SET td_TimeDscList = '' WHERE td_ID IN (5, 6)");
  }
  ~ReplayParallelTest() override { unsetenv("WINDIR"); }

  TRun Replay(const std::vector<std::string>& journals, std::vector<std::string> options) {
    std::vector<std::string> args = {"replay", "--db", db_.Address(), "--version", "1", "--against-version", "3"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), journals.begin(), journals.end());
    return RunHost(args);
  }

  test::TempDir dir_, windows_;
  test::TTestShopDatabase db_;
};

TEST_P(ReplayParallelTest, SeveralThreadsGiveTheReportOfOneAndTheTillsAddUpToTheTotal) {
  // Three tills' journals in a folder and a fourth named beside it, each
  // several of the reader's batches long; a line that is no JSON in the
  // first, and a torn last line in the fourth.
  std::mt19937 random(20261208);
  const std::string folder = dir_.file("tills");
  std::filesystem::create_directory(folder);
  const std::vector<std::string> files = {folder + "/a.jsonl", folder + "/b.jsonl", folder + "/c.jsonl",
                                          dir_.file("d.jsonl")};
  for (std::size_t f = 0; f < files.size(); ++f) {
    std::string text;
    for (int line = 1; line <= (f == 3 ? 700 : 2600); ++line)
      text += (f == 0 && line == 3 ? std::string("не JSON") : RandomLine(random)) + "\n";
    if (f == 3) text += RandomLine(random).substr(0, 40);
    test::WriteFileBytes(files[f], text);
  }
  const std::vector<std::string> named = {folder, files[3]};

  for (const std::vector<std::string>& format : {std::vector<std::string>{}, std::vector<std::string>{"--json"}}) {
    std::vector<std::string> one = format;
    one.insert(one.end(), {"--threads", "1"});
    const TRun reference = Replay(named, one);
    ASSERT_EQ(reference.code, 0) << reference.err;
    for (const char* threads : {"2", "3", "8"}) {
      std::vector<std::string> options = format;
      options.insert(options.end(), {"--threads", threads});
      const TRun run = Replay(named, options);
      EXPECT_EQ(run.code, 0) << run.err;
      EXPECT_EQ(run.out, reference.out) << threads << " threads";
    }
    if (format.empty()) {
      EXPECT_NE(reference.out.find("По кассам (касса — файл журнала"), std::string::npos) << reference.out;
      EXPECT_NE(reference.out.find("пропущена строка " + files[0] + ":3: строка не является записью JSON"),
                std::string::npos)
          << reference.out;
      continue;
    }

    const nlohmann::json report = nlohmann::json::parse(reference.out);
    ASSERT_EQ(report["tills"].size(), files.size());
    EXPECT_EQ(report["till_is"], "journal_file");
    std::int64_t read = 0, skipped = 0, changed = 0, current = 0, proposed = 0, discount = 0, refused = 0;
    for (std::size_t f = 0; f < files.size(); ++f) {
      const nlohmann::json& till = report["tills"][f];
      EXPECT_EQ(till["till"], files[f]);
      EXPECT_GT(till["computed"].get<std::int64_t>(), 0);
      read += till["read"].get<std::int64_t>();
      skipped += till["skipped"].get<std::int64_t>();
      changed += till["changed"].get<std::int64_t>();
      current += Kopecks(till["current"]["to_pay"]);
      proposed += Kopecks(till["proposed"]["to_pay"]);
      discount += Kopecks(till["proposed"]["discount"]);
      refused += till["current"]["refused_by_ban"]["sales"].get<std::int64_t>();
    }
    EXPECT_EQ(read, 3 * 2600 + 701);
    EXPECT_EQ(read, report["read"]);
    EXPECT_EQ(skipped, report["skipped"]);
    EXPECT_EQ(changed, report["changed"]);
    EXPECT_EQ(current, Kopecks(report["current"]["to_pay"]));
    EXPECT_EQ(proposed, Kopecks(report["proposed"]["to_pay"]));
    EXPECT_EQ(discount, Kopecks(report["proposed"]["discount"]));
    EXPECT_EQ(refused, report["current"]["refused_by_ban"]["sales"]);
    EXPECT_GT(refused, 0) << "the night ban refused sales under version 1";
    EXPECT_EQ(report["proposed"]["refused_by_ban"]["sales"], 0);
    EXPECT_GT(changed, 0);
    ASSERT_FALSE(report["skipped_lines"].empty());
    EXPECT_EQ(report["skipped_lines"][0]["file"], files[0]);
    EXPECT_EQ(report["skipped_lines"][0]["line"], 3);
  }

  // One journal keeps the report it always had: no section of tills.
  const TRun single = Replay({files[3]}, {"--json", "--threads", "2"});
  ASSERT_EQ(single.code, 0) << single.err;
  EXPECT_FALSE(nlohmann::json::parse(single.out).contains("tills"));
  EXPECT_EQ(Replay({files[3]}, {}).out.find("По кассам"), std::string::npos);
}

TEST_P(ReplayParallelTest, AThreadCountOutsideItsBoundsIsRefused) {
  const std::string journal = dir_.file("one.jsonl");
  std::mt19937 random(1);
  test::WriteFileBytes(journal, RandomLine(random) + "\n");
  for (const char* threads : {"0", "257", "-1", "два", "2x"}) {
    const TRun run = Replay({journal}, {"--threads", threads});
    EXPECT_NE(run.code, 0) << threads;
    EXPECT_NE(run.err.find("--threads"), std::string::npos) << run.err;
  }
}

SELVO_ON_BOTH_DATABASES(ReplayParallelTest);

}  // namespace
}  // namespace selvo::host
