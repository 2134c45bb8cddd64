// selvo-host replay on journals written as the till service writes them:
// against the same settings nothing changes; against a shop in which one
// card gives more, the totals move by exactly the amount worked out by
// hand; hostile lines are skipped and counted one by one, sales a sale ban
// refuses are kept apart from the discount, and a journal far larger than
// what the replay holds is read in bounded memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "host/insight/Replay.h"
#include "host/insight/ReplayLineReader.h"
#include "host/insight/ReplaySvg.h"
#include "host/program/HostCommands.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopConnection.h"
#include "tests/common/ServiceProcess.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif

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

  nlohmann::json Replay(const std::vector<std::string>& journals, std::vector<std::string> options = {}) {
    std::vector<std::string> args = {"replay", "--db", current, "--against", proposed, "--json"};
    args.insert(args.end(), options.begin(), options.end());
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

// A journal line of the sale `sale` (JSON text) at `moment` (JSON value).
std::string Entry(const std::string& sale, const std::string& moment) {
  return R"({"sale": )" + sale + R"(, "moment": )" + moment + R"(, "answer": {}, "settings_version": 1})";
}

// A journaled sale carries its line's identifier, when it has a
// well-formed one.
TEST(JournaledSaleTest, CarriesTheSaleIdentifierOfItsLine) {
  const struct {
    const char* rule;
    nlohmann::json id;  // null: no "sale_id" on the line
    std::string read;
  } cases[] = {
      {"a line written before sales had one", nullptr, ""},
      {"a sale's identifier", "7K3M9QZX0A2B", "7K3M9QZX0A2B"},
      {"lower case", "7k3m9qzx0a2b", ""},
      {"too long", "7K3M9QZX0A2BC", ""},
      {"a number", 12, ""},
  };
  test::TempDir dir;
  const std::string journal = dir.file("sales.jsonl");
  std::string text;
  for (const auto& c : cases) {
    nlohmann::json entry = nlohmann::json::parse(Line("12:30:00"));
    if (!c.id.is_null()) entry["sale_id"] = c.id;
    text += entry.dump() + "\n";
  }
  test::WriteFileBytes(journal, text);
  std::vector<std::string> read;
  ReadJournaledSales(
      {journal}, [&](TJournaledSale& sale) { read.push_back(sale.saleId); },
      [](TSkippedLine skipped) { ADD_FAILURE() << skipped.line << ": " << skipped.reason; });
  ASSERT_EQ(read.size(), std::size(cases));
  for (std::size_t i = 0; i < read.size(); ++i) EXPECT_EQ(read[i], cases[i].read) << cases[i].rule;
}

TEST_F(ReplayTest, EachHostileLineIsSkippedWithItsPlaceAndTheRestIsComputed) {
  const std::string good = Line("12:30:00");
  const std::string deep = std::string(100000, '[') + std::string(100000, ']') + "\n";
  const std::string huge =
      R"({"sale": {"payment": 1, "lines": [{"goods": 101, "category": 1, "zprice": 1, "price": 1e308, "quantity": 10}]},)"
      R"( "moment": "2026-12-08T12:30:00"})"
      "\n";
  const std::string sale = R"({"payment": "дисконтная карта", "lines": [{"goods": 201, "category": 2, "zprice": 40,)"
                           R"( "price": 150, "quantity": 1}, {"goods": 304, "category": 3, "zprice": 90, "price": 199,)"
                           R"( "quantity": 1}]})";
  const struct {
    const char* rule;
    std::string journal;
    int read;
    std::vector<int> skippedLines;
    bool torn;
  } cases[] = {
      {"a line nested 100,000 deep", good + deep + good, 3, {2}, false},
      {"a price of 1e308", huge + good, 2, {1}, false},
      {"a price of 1e309 is no JSON",
       good + Entry(R"({"payment": 1, "lines": [{"price": 1e309}]})", "\"x\"") + "\n",
       2,
       {2},
       false},
      {"a null moment is not now", Entry(sale, "null") + "\n" + good, 2, {1}, false},
      {"no moment at all",
       R"({"sale": {"payment": 1, "lines": []}})"
       "\n" +
           good,
       2,
       {1},
       false},
      {"a moment that is no moment", Entry(sale, "\"завтра\"") + "\n" + good, 2, {1}, false},
      {"a moment to the millisecond", Entry(sale, "\"2026-12-08T12:30:00.250\"") + "\n", 1, {}, false},
      {"wrong shapes",
       "[1, 2]\n\"text\"\n" + Entry("\"sale\"", "\"2026-12-08T12:30:00\"") + "\n" + good,
       4,
       {1, 2, 3},
       false},
      {"a valid last line without a line break", good + good.substr(0, good.size() - 1), 2, {}, false},
      {"a torn last line", good + good.substr(0, good.size() / 2), 2, {2}, true},
      {"blank lines are no lines", "\n" + good + "\n  \r\n\n" + good + "\n", 2, {}, false},
      {"a line longer than the bound",
       R"({"sale": {"payment": 1, "lines": []}, "moment": "2026-12-08T12:30:00", "pad": ")" +
           std::string(kMaxJournalLineBytes, 'x') + "\"}\n" + good,
       2,
       {1},
       false},
      {"a payment type switched off, named by identifier",
       Entry(R"({"payment": 9, "lines": [{"goods": 101, "category": 1, "zprice": 28, "price": 45, "quantity": 1}]})",
             "\"2026-12-08T12:30:00\"") +
           "\n" + good,
       2,
       {1},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    const std::string journal = dir.file("hostile.jsonl");
    test::WriteFileBytes(journal, c.journal);
    const nlohmann::json report = Replay({journal});
    ASSERT_TRUE(report.is_object());
    EXPECT_EQ(report["read"], c.read);
    EXPECT_EQ(report["skipped"], c.skippedLines.size());
    EXPECT_EQ(report["computed"], c.read - static_cast<int>(c.skippedLines.size()));
    std::vector<int> lines;
    bool torn = false;
    for (const nlohmann::json& s : report["skipped_lines"]) {
      EXPECT_EQ(s["file"], journal);
      EXPECT_FALSE(s["reason"].get<std::string>().empty());
      lines.push_back(s["line"].get<int>());
      torn = torn || s["torn"].get<bool>();
    }
    EXPECT_EQ(lines, c.skippedLines);
    EXPECT_EQ(torn, c.torn);
    // Whatever was skipped, every sale computed is the sample sale's 34.90 off.
    EXPECT_NEAR(report["current"]["discount"].get<double>(), 34.90 * report["computed"].get<int>(), 1e-9);
  }
}

TEST_F(ReplayTest, AMissingJournalIsAnErrorInRussian) {
  for (const std::string& journal : {dir.file("missing.jsonl")}) {
    std::istringstream in;
    std::ostringstream out, err;
    const int code = RunHostProgram({"replay", "--db", current, "--against", proposed, journal},
                                    TModuleLocation{"libselvopayments.so", "/nonexistent"}, in, out, err);
    EXPECT_EQ(code, 2) << out.str();
    EXPECT_NE(err.str().find("журнал продаж"), std::string::npos) << err.str();
  }
}

// Beer at 23:30 is refused by card 5's night ban under the current settings
// and sold without a discount under settings that drop the ban.
TEST_F(ReplayTest, SalesASaleBanRefusesAreCountedApartFromTheDiscount) {
  const std::string beer =
      Entry(R"({"payment": 1, "lines": [{"goods": 401, "category": 4, "zprice": 75, "price": 119, "quantity": 1}]})",
            "\"2026-12-08T23:30:00\"");
  const std::string journal = dir.file("night.jsonl");
  test::WriteFileBytes(journal, Line("12:30:00") + beer + "\n" + beer + "\n");
  OpenShopConnection(proposed)->Execute("UPDATE SelvoDiscountDS SET td_TimeDscList = '' WHERE td_ID IN (5, 6)");
  const std::string svg = dir.file("night.svg");
  const nlohmann::json report = Replay({journal}, {"--svg", svg});
  EXPECT_EQ(report["computed"], 3);
  EXPECT_DOUBLE_EQ(report["current"]["discount"].get<double>(), 34.90) << "a refused sale is no discount";
  EXPECT_EQ(report["current"]["refused_by_ban"]["sales"], 2);
  EXPECT_DOUBLE_EQ(report["current"]["refused_by_ban"]["sum"].get<double>(), 2 * 119.0);
  EXPECT_DOUBLE_EQ(report["current"]["discount_by_hour"][23].get<double>(), 0);
  EXPECT_EQ(report["proposed"]["refused_by_ban"]["sales"], 0);
  EXPECT_DOUBLE_EQ(report["proposed"]["to_pay"].get<double>() - report["current"]["to_pay"].get<double>(), 2 * 119.0);
  EXPECT_EQ(report["changed"], 2);
  ASSERT_EQ(report["largest_changes"].size(), 2u);
  EXPECT_TRUE(report["largest_changes"][0]["current"].is_null());
  EXPECT_DOUBLE_EQ(report["largest_changes"][0]["proposed"].get<double>(), 119.0);
  const std::string picture = test::ReadFileBytes(svg);
  EXPECT_NE(picture.find("за 1 продажу"), std::string::npos) << "the current side sold one sale";
  EXPECT_NE(picture.find("запрет продажи: 2 продажи на 238,00 руб."), std::string::npos) << picture;
}

// More bad lines than sales once made the picture say "за -980 продаж".
TEST_F(ReplayTest, ThePictureCountsInRussianAndNeverBelowNothing) {
  const std::string journal = dir.file("mostly-bad.jsonl");
  test::WriteFileBytes(journal, "x\ny\nz\n" + Line("12:30:00"));
  const std::string svg = dir.file("mostly-bad.svg");
  Replay({journal}, {"--svg", svg});
  const std::string picture = test::ReadFileBytes(svg);
  EXPECT_EQ(picture.find("за -"), std::string::npos);
  EXPECT_NE(picture.find("за 1 продажу"), std::string::npos) << picture;
  EXPECT_NE(picture.find("34,90"), std::string::npos) << "the Russian decimal comma";

  const struct {
    std::int64_t count;
    const char* text;
  } forms[] = {{0, "0 продаж"},      {1, "1 продажу"},
               {2, "2 продажи"},     {4, "4 продажи"},
               {5, "5 продаж"},      {11, "11 продаж"},
               {12, "12 продаж"},    {14, "14 продаж"},
               {21, "21 продажу"},   {22, "22 продажи"},
               {25, "25 продаж"},    {111, "111 продаж"},
               {101, "101 продажу"}, {1000002, "1\u00a0000\u00a0002 продажи"}};
  for (const auto& f : forms) EXPECT_EQ(SalesCountText(f.count), f.text);
}

// What the fast reader makes of a line, beside the general reader's; true
// when the fast reader read it itself.
bool ExpectReadAlike(const std::string& text, bool last) {
  SCOPED_TRACE(InputExcerpt(text, 200));
  std::string padded = text + std::string(kLineReadPadding, 'x');
  const TJournalLine line{std::string_view(padded).substr(0, text.size()), 1, false, last};
  TLineSaleReader reader;
  TLineSale fast;
  reader.Read(line, fast);
  const TLineSale general = ReadLineSaleGenerally(line);
  const bool itself = reader.GeneralReads() == 0;
  EXPECT_EQ(fast.reason, general.reason);
  EXPECT_EQ(fast.torn, general.torn);
  EXPECT_EQ(fast.saleId, general.saleId);
  EXPECT_EQ(fast.sale.has_value(), general.sale.has_value());
  if (!fast.sale || !general.sale) return itself;
  EXPECT_EQ(fast.sale->paymentID, general.sale->paymentID);
  EXPECT_EQ(fast.sale->paymentName, general.sale->paymentName);
  EXPECT_EQ(fast.sale->moment, general.sale->moment);
  EXPECT_EQ(fast.sale->lines.size(), general.sale->lines.size());
  for (std::size_t i = 0; i < std::min(fast.sale->lines.size(), general.sale->lines.size()); ++i) {
    const TSaleLine &a = fast.sale->lines[i], &b = general.sale->lines[i];
    EXPECT_EQ(a.goods, b.goods);
    EXPECT_EQ(a.category, b.category);
    // Bit for bit: the sums in kopecks are made of them.
    EXPECT_EQ(std::memcmp(&a.price, &b.price, sizeof a.price), 0) << a.price << " " << b.price;
    EXPECT_EQ(std::memcmp(&a.zprice, &b.zprice, sizeof a.zprice), 0);
    EXPECT_EQ(std::memcmp(&a.quantity, &b.quantity, sizeof a.quantity), 0);
  }
  return itself;
}

// The fast reader of the replay reads every line as the general one does:
// the same sale to the bit, the same reason word for word, on lines made
// to tell them apart and on random mutations of a journaled sale.
TEST(ReplayLineReaderTest, ReadsEveryLineAsTheGeneralReaderDoes) {
  const std::string good = Line("12:30:00");
  const std::string entry = good.substr(0, good.size() - 1);
  const std::string sale = R"({"payment": 1, "lines": [{"goods": 101, "category": 1, "zprice": 28, "price": )";
  const std::string at = R"(, "quantity": 1}]}, "moment": "2026-12-08T12:30:00", "sale_id": "7K3M9QZX0A2B"})";
  // The journaled sale with its line's price written as `price`.
  auto priced = [&](const std::string& price) { return R"({"sale": )" + sale + price + at; };
  const std::vector<std::string> lines = {
      entry,
      priced("45"),
      priced("45.10000000000000142"),
      priced("4.5e1"),
      priced("-0"),
      priced("-0.0"),
      priced("1e-320"),
      priced("10000000.0000000001"),
      priced("10000001"),
      priced("18446744073709551615"),
      priced("123456789012345678901234567890"),
      priced("1e309"),
      priced("\"45\""),
      R"({"sale": {"payment": 1.0, "lines": []}, "moment": "2026-12-08T12:30:00"})",
      R"({"sale": {"payment": 2147483648, "lines": []}, "moment": "2026-12-08T12:30:00"})",
      R"({"sale": {"payment": -2147483648, "lines": []}, "moment": "2026-12-08T12:30:00"})",
      R"({"sale": {"payment": "\u043d\u0430\u043b\u0438\u0447\u043d\u044b\u0435", "lines": []}, "moment": "2026-12-08T12:30"})",
      R"({"sale": {"payment": "a\u0000b", "lines": []}, "moment": "2026-12-08T12:30:00"})",
      R"({"sale": {"payment": "\ud800", "lines": []}, "moment": "2026-12-08T12:30:00"})",
      R"({"sale": {"payment": 1, "lines": []}, "moment": "2026-12-08T12:30:00", "moment": "2026-12-08T23:30:00"})",
      R"({"sale": {"payment": 1, "payment": 2, "lines": []}, "moment": "2026-12-08T12:30:00"})",
      R"({"sale": {"payment": 1, "lines": [], "moment": "завтра"}, "moment": "2026-12-08T12:30:00"})",
      R"({"sale": {"payment": 1, "lines": []}, "moment": "2026-02-30T12:30:00"})",
      R"({"sale": {"payment": 1, "lines": []}, "moment": "2026-12-08T12:30:00"} {})",
      R"({"sale": {"payment": 1, "lines": []}, "moment": "2026-12-08T12:30:00"},)",
      R"({"sale": {"payment": 1, "lines": []}, "moment": "2026-12-08T12:30:00", "sale_id": 7})",
      "\xEF\xBB\xBF" + entry,
      "{\"sale\": {\"payment\": \"\xC3\x28\", \"lines\": []}, \"moment\": \"2026-12-08T12:30:00\"}",
      "{\"sale\": {\"payment\": \"\xED\xA0\x80\", \"lines\": []}, \"moment\": \"2026-12-08T12:30:00\"}",
      R"({"a": [[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]], "sale": {"payment": 1, "lines": []}, "moment": "2026-12-08T12:30:00"})",
      std::string(33, '[') + std::string(33, ']'),
      "[1, 2]",
      "\"text\"",
  };
  EXPECT_TRUE(ExpectReadAlike(entry, false)) << "a journaled sale is read by the fast reader";
  for (const std::string& line : lines) {
    ExpectReadAlike(line, false);
    ExpectReadAlike(line, true);
  }
  // Random bytes of a journaled sale replaced by the characters that matter
  // to a JSON parser, a few at a time, and the line cut anywhere.
  std::mt19937 random(8122026);
  const std::string special = "{}[]\",:0123456789.eE-+\\ntu\x01\x7F\xC3\xBF";
  int readFast = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string mutated = entry;
    for (int k = 0, n = 1 + static_cast<int>(random() % 3); k < n; ++k)
      mutated[random() % mutated.size()] = special[random() % special.size()];
    readFast += ExpectReadAlike(mutated, false);
    ExpectReadAlike(entry.substr(0, random() % entry.size()), true);
    if (HasFailure()) break;
  }
  EXPECT_GT(readFast, 100) << "mutations the fast reader read itself (inside texts, digits for digits)";
}

TEST(ReplaySvgTest, LargeAndSmallSumsAreWrittenInFullWithADecimalComma) {
  for (std::int64_t kopecks : {std::int64_t{3}, std::int64_t{123456789012}}) {
    TReplayReport report;
    report.read = 1;
    report.current.discountByHour[9] = kopecks;
    report.current.discount = kopecks;
    const std::string svg = DiscountByHourSvg(report);
    EXPECT_EQ(svg.find("e+"), std::string::npos) << svg;
    EXPECT_EQ(svg.find("e-0"), std::string::npos) << svg;
    if (kopecks > 100) {
      EXPECT_NE(svg.find("1\u00a0234\u00a0567\u00a0890,12"), std::string::npos) << svg;
    }
  }
}

// 200,000 journaled sales in a file (about 70 MB; read whole, they once took
// gigabytes), and 400,000 streamed through a pipe (about 140 MB, more than
// the bound itself), are replayed in memory that does not grow with them,
// in one thread and in several.
TEST_F(ReplayTest, AJournalLargerThanWhatTheReplayHoldsIsReadInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: the bound holds in the plain build";
#endif
  const std::string line = Line("12:30:00");
  const std::string journal = dir.file("large.jsonl");
  {
    std::ofstream out(journal, std::ios::binary);
    for (int i = 0; i < 200000; ++i) out << line;
  }
  const std::string pipe = dir.file("streamed.jsonl");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::signal(SIGPIPE, SIG_IGN);
  const struct {
    std::string journal;
    int sales;
    const char* threads;
  } cases[] = {{journal, 200000, "1"}, {journal, 200000, "4"}, {pipe, 400000, "2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.journal + ", threads " + c.threads);
    std::thread writer;
    if (c.journal == pipe) {
      writer = std::thread([&] {
        const int fd = open(pipe.c_str(), O_WRONLY);
        if (fd < 0) return;
        std::string block;
        for (int i = 0; i < 1000; ++i) block += line;
        for (int i = 0; i < c.sales / 1000; ++i) {
          if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) break;
        }
        close(fd);
      });
    }
    const std::string report = dir.file("report.json");
    const test::TMeasuredRun run = test::RunHostMeasured(
        {"replay", "--db", current, "--against", proposed, "--json", "--threads", c.threads, c.journal}, windows.path(),
        report);
    if (writer.joinable()) {
      // A replay that never opened the pipe leaves the writer waiting for a reader.
      const int unblock = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
      if (unblock >= 0) close(unblock);
      writer.join();
    }
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(nlohmann::json::parse(test::ReadFileBytes(report), nullptr, false).value("computed", -1), c.sales);
    EXPECT_GT(run.peakKilobytes, 0);
    // A sanitizer's shadow memory and quarantine are not the replay's: the
    // bound holds for the program as it is built to run.
    if (!kSanitizedBuild) {
      EXPECT_LT(run.peakKilobytes, 100 * 1024) << "peak resident memory, KB";
    }
  }
}

}  // namespace
}  // namespace selvo::host
