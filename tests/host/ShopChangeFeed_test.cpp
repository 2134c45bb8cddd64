// How the watch hears of saves: a connection listening on the server for
// the notices of other connections, and a file's data version moved by
// other connections' commits or by another file taking its name.
#include "host/shopdb/ShopChangeFeed.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/PgTestServer.h"
#include "tests/common/TestSupport.h"

namespace selvo::test {
namespace {

using host::TFileSaveFeed;
using host::TServerSaveFeed;

TEST(AnnouncedVersionTest, OnlyADecimalNumberThatFitsIsAVersion) {
  struct TCase {
    const char* rule;
    std::string payload;
    std::optional<std::int64_t> version;
  };
  const TCase cases[] = {
      {"a number", "17", 17},
      {"zero", "0", 0},
      {"leading zeros", "0042", 42},
      {"the largest 64-bit number", "9223372036854775807", INT64_MAX},
      {"one more does not fit", "9223372036854775808", std::nullopt},
      {"32 digits are read, and do not fit", std::string(32, '9'), std::nullopt},
      {"32 bytes that fit", std::string(31, '0') + "7", 7},
      {"33 bytes are not read", std::string(32, '0') + "7", std::nullopt},
      {"empty: an older program's save", "", std::nullopt},
      {"a sign", "-5", std::nullopt},
      {"a plus sign", "+5", std::nullopt},
      {"spaces around", " 5", std::nullopt},
      {"a trailing space", "5 ", std::nullopt},
      {"a fraction", "5.0", std::nullopt},
      {"hex", "0x10", std::nullopt},
      {"a word", "version 5", std::nullopt},
      {"a zero byte inside",
       std::string("5\0"
                   "6",
                   3),
       std::nullopt},
  };
  for (const TCase& c : cases) EXPECT_EQ(host::AnnouncedVersion(c.payload), c.version) << c.rule;
}

// The payloads heard until `count` came or 30 s passed.
std::vector<std::string> HearSaves(TServerSaveFeed& feed, std::size_t count) {
  std::vector<std::string> heard;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string why;
  while (heard.size() < count && std::chrono::steady_clock::now() < deadline) {
    if (!feed.Wait(
            100, [&](std::string_view payload) { heard.emplace_back(payload); }, why)) {
      ADD_FAILURE() << "the connection was lost: " << why;
      break;
    }
  }
  return heard;
}

TEST(ServerSaveFeedTest, HearsEverySaveNoticeWithItsPayloadInTheOrderSent) {
  const std::string address = PgCreateScratchDatabase("shop_change_feed");
  TServerSaveFeed feed(address);
  std::string why;
  ASSERT_TRUE(feed.Connect(why)) << why;
  ASSERT_TRUE(feed.Connected());

  // A notice on another channel is not a save; one transaction delivers
  // its distinct notices in order when it commits.
  PgExec(address, "NOTIFY other_channel, '5'");
  PgExec(address,
         "BEGIN; NOTIFY selvo_shop_saved; NOTIFY selvo_shop_saved, '17'; "
         "NOTIFY selvo_shop_saved, 'не число'; COMMIT");
  PgExec(address, "NOTIFY selvo_shop_saved, '18'");
  EXPECT_EQ(HearSaves(feed, 4), (std::vector<std::string>{"", "17", "не число", "18"}));

  // A new connection listens again.
  ASSERT_TRUE(feed.Connect(why)) << why;
  PgExec(address, "NOTIFY selvo_shop_saved, '19'");
  EXPECT_EQ(HearSaves(feed, 1), (std::vector<std::string>{"19"}));
}

TEST(ServerSaveFeedTest, AServerThatCannotBeReachedIsToldAndLeavesNothingToWaitOn) {
  TempDir nowhere;
  TServerSaveFeed feed("host=" + nowhere.path() + " port=1 dbname=shop password=s3cret-word");
  std::string why;
  EXPECT_FALSE(feed.Connect(why));
  EXPECT_FALSE(feed.Connected());
  EXPECT_NE(why.find(nowhere.path()), std::string::npos) << why;
  EXPECT_EQ(why.find('\n'), std::string::npos) << why;
  EXPECT_EQ(why.find("s3cret-word"), std::string::npos) << why;
  bool heard = false;
  EXPECT_TRUE(feed.Wait(
      10, [&](std::string_view) { heard = true; }, why));
  EXPECT_FALSE(heard);
}

void Exec(const std::string& file, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(FileSaveFeedTest, SeesEachCommitOfAnotherConnectionOnce) {
  TempDir dir;
  const std::string file = dir.file("shop.db");
  Exec(file, "CREATE TABLE t (x INTEGER)");
  TFileSaveFeed feed(file);
  ASSERT_TRUE(feed.IsOpen());
  EXPECT_FALSE(feed.CommittedSinceSeen()) << "nothing committed since it opened";
  Exec(file, "INSERT INTO t VALUES (1)");
  EXPECT_TRUE(feed.CommittedSinceSeen());
  EXPECT_FALSE(feed.CommittedSinceSeen()) << "the same commit seen twice";
  Exec(file, "BEGIN; INSERT INTO t VALUES (2); ROLLBACK");
  EXPECT_FALSE(feed.CommittedSinceSeen()) << "a rolled-back write is no change";
  EXPECT_FALSE(feed.Replaced());
}

TEST(FileSaveFeedTest, AFileTakingTheNameIsToldUntilOpenedAndAMissingOneOnceItComes) {
  TempDir dir;
  const std::string file = dir.file("shop.db");
  TFileSaveFeed feed(file);
  EXPECT_FALSE(feed.IsOpen()) << "no file yet";
  EXPECT_FALSE(feed.Replaced());
  EXPECT_FALSE(feed.Reopen());

  Exec(file, "CREATE TABLE t (x INTEGER)");
  ASSERT_TRUE(feed.Reopen());
  const std::string fresh = dir.file("fresh.db");
  Exec(fresh, "CREATE TABLE t (x INTEGER)");
  ASSERT_EQ(std::rename(fresh.c_str(), file.c_str()), 0);
  EXPECT_TRUE(feed.Replaced());
  Exec(file, "INSERT INTO t VALUES (1)");
  EXPECT_FALSE(feed.CommittedSinceSeen()) << "the old file, still open, did not change";
  ASSERT_TRUE(feed.Reopen());
  EXPECT_FALSE(feed.Replaced());
  Exec(file, "INSERT INTO t VALUES (2)");
  EXPECT_TRUE(feed.CommittedSinceSeen()) << "the new file is the one watched";
}

}  // namespace
}  // namespace selvo::test
