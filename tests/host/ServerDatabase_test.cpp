// Several tills and the back office on one shop database, an SQLite file or a
// PostgreSQL server: a till sees a save whole or not at all, a save that
// loses its connection leaves the server as it was, a server that cannot be
// reached is reported in one line, and both databases give the same
// calculation.
#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <new>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/program/HostCommands.h"
#include "host/shopdb/PgConnection.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "tests/common/BackOffice.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

extern char** environ;

namespace selvo::host {
namespace {

using selvo::test::PgCreateScratchDatabase;
using selvo::test::PgExec;
using selvo::test::PgTestConnInfo;
using selvo::test::PgTestPasswordConnInfo;
using selvo::test::PgWithConnOption;
using selvo::test::ReadFileBytes;
using selvo::test::TempDir;
using selvo::test::WriteFileBytes;
using Clock = std::chrono::steady_clock;

struct TRun {
  int code = -1;  // -1: ended by a signal
  std::string out, err;
};

using TDatabaseKind = selvo::test::TShopDbKind;

std::string KindName(TDatabaseKind kind) { return kind == TDatabaseKind::File ? "SQLite file" : "PostgreSQL"; }

TVariant Int(std::int64_t value) { return TVariant(value); }

// selvo-host calc in this process, on a sale file.
TRun Calc(const std::string& database, const std::string& saleFile, const std::vector<std::string>& flags) {
  std::vector<std::string> args = {"calc", "--db", database};
  args.insert(args.end(), flags.begin(), flags.end());
  args.push_back(saleFile);
  std::ostringstream out, err;
  const int code = RunHostProgram(args, TModuleLocation{"libselvopayments.so", "/nonexistent"}, out, err);
  return {code, out.str(), err.str()};
}

class ServerDatabaseTest : public ::testing::Test {
 protected:
  ServerDatabaseTest() {
    setenv("WINDIR", windir_.path().c_str(), 1);
    setenv("SELVO_MODULE", SELVO_MODULE_PATH, 1);
  }
  ~ServerDatabaseTest() override {
    unsetenv("SELVO_MODULE");
    unsetenv("WINDIR");
  }

  // A fresh sample shop: a file in the test's folder, or a scratch database
  // of that name on the test server.
  std::string SampleShop(TDatabaseKind kind, const std::string& name) {
    const std::string database = kind == TDatabaseKind::File ? dir_.file(name + ".db") : PgCreateScratchDatabase(name);
    CreateSampleShop(database, false);
    return database;
  }

  // The real program with these arguments, no shell in between.
  TRun RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv = {const_cast<char*>(SELVO_HOST_PATH)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string out = dir_.file("program.out"), err = dir_.file("program.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, SELVO_HOST_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error(std::string("cannot start selvo-host: ") + std::strerror(spawned));
    int status = 0;
    waitpid(pid, &status, 0);
    TRun run;
    if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
    run.out = ReadFileBytes(out);
    run.err = ReadFileBytes(err);
    return run;
  }

  TempDir dir_;
  TempDir windir_;
};

// ---------------------------------------------------------------------------
// Several tills while the back office saves.

// Card 4 of the sample shop ("Кофе и хот-дог по дисконтной карте", paid by
// the discount card) in settings that span two tables: its threshold list in
// SelvoDiscountDS and the article of its goods target in DiscountGoodsDS.
struct TCardSetting {
  const char* threshold;
  std::int64_t article;
};
const TCardSetting kSettingA{"300=10%;", 304};  // coffee and the hot dog
const TCardSetting kSettingB{"200=20%;", 101};  // coffee and water

// Edits card 4 to the setting through its datasets, as the editor does; the
// changes wait in the datasets' logs.
void EditCard(TShopDataModule& dm, const TCardSetting& setting) {
  TShopDataSet& cards = dm.DataSet("SelvoDiscountDS");
  TShopDataSet& targets = dm.DataSet("DiscountGoodsDS");
  if (!cards.Locate("td_ID", {Int(4)}, 0)) throw std::runtime_error("card 4 is missing");
  cards.Edit();
  cards.FieldByName("td_Threshold").SetAsString(setting.threshold);
  cards.Post();
  // The detail follows the card: its only goods target is card 4's.
  if (!targets.Locate("td_IsCategory", {Int(0)}, 0)) throw std::runtime_error("card 4 has no goods target");
  targets.Edit();
  targets.FieldByName("ID_Target").SetAsInteger(static_cast<std::int32_t>(setting.article));
  targets.Post();
}

// Edits card 4 and saves it with the editor's own save. False when the
// database refused the save (the changes then stay pending).
bool SaveCard(selvo::test::TBackOffice& office, const TCardSetting& setting) {
  EditCard(office.dm, setting);
  const TSaveResult result = office.Save();
  if (result != TSaveResult::Saved) std::cerr << "save: " << selvo::test::SaveResultName(result) << "\n";
  return result == TSaveResult::Saved;
}

// What the processes share: written by the tills and the saver, read by the
// test when they are done.
struct TTillCounts {
  std::atomic<long long> sales{0};  // results that were one of the two settings'
  std::atomic<long long> sawA{0}, sawB{0};
  std::atomic<long long> busy{0};   // refused as busy (SQLite, after its timeout)
  std::atomic<long long> wrong{0};  // anything else: a mix, an error
  char firstWrong[1024] = {};
};
constexpr int kTills = 4;
constexpr int kSaves = 20;
// Sales the tills finish between two saves, so that they see every setting.
constexpr int kSalesBetweenSaves = 8;
struct TShared {
  std::atomic<int> stop{0};
  std::atomic<int> saves{0};
  std::atomic<int> refusedSaves{0};
  char saverError[1024] = {};
  TTillCounts tills[kTills];
};

void CopyText(char* to, std::size_t size, const std::string& text) { std::snprintf(to, size, "%s", text.c_str()); }

// SQLite's message for a file another connection holds beyond the busy
// timeout.
bool IsBusyMessage(const std::string& err) { return err.find("database is locked") != std::string::npos; }

// A till: computes the sale until told to stop, and tells the saver of each
// sale through `ticks`.
[[noreturn]] void RunTill(const std::string& database, const std::string& saleFile, const std::string& resultA,
                          const std::string& resultB, bool busyAllowed, TShared& shared, TTillCounts& mine, int ticks) {
  signal(SIGPIPE, SIG_IGN);  // the saver may be gone
  try {
    while (!shared.stop.load()) {
      const TRun run = Calc(database, saleFile, {"--json"});
      if (run.code == 0 && run.err.empty() && (run.out == resultA || run.out == resultB)) {
        ++(run.out == resultA ? mine.sawA : mine.sawB);
        ++mine.sales;
      } else if (run.code == 1 && busyAllowed && IsBusyMessage(run.err)) {
        ++mine.busy;
      } else {
        if (mine.wrong++ == 0)
          CopyText(mine.firstWrong, sizeof mine.firstWrong,
                   "exit " + std::to_string(run.code) + ", out: " + run.out + ", err: " + run.err);
      }
      const char tick = 1;
      if (write(ticks, &tick, 1) < 0) {
        // The saver has done its work, or is gone: the test stops the tills.
      }
    }
  } catch (const std::exception& e) {
    CopyText(mine.firstWrong, sizeof mine.firstWrong, std::string("the till failed: ") + e.what());
    _exit(3);
  }
  _exit(0);
}

// Waits until the tills finished `count` more sales; false after `limit`.
bool AwaitSales(int ticks, int count, Clock::duration limit) {
  const auto deadline = Clock::now() + limit;
  while (count > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{ticks, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[64];
    const ssize_t got = read(ticks, buffer, sizeof buffer);
    if (got <= 0) return false;  // every till is gone
    count -= static_cast<int>(got);
  }
  return true;
}

// The back office: flips card 4 between the two settings kSaves times, each
// save after the tills finished some sales under the previous one.
[[noreturn]] void RunSaver(const std::string& database, bool refusalAllowed, TShared& shared, int ticks) {
  try {
    selvo::test::TBackOffice office(database);
    for (int save = 1; save <= kSaves; ++save) {
      if (!AwaitSales(ticks, kSalesBetweenSaves, std::chrono::seconds(30)))
        throw std::runtime_error("the tills stopped computing sales");
      const TCardSetting& setting = save % 2 ? kSettingB : kSettingA;
      int tries = 0;
      while (!SaveCard(office, setting)) {
        ++shared.refusedSaves;
        if (!refusalAllowed || ++tries == 3) throw std::runtime_error("save " + std::to_string(save) + " was refused");
      }
      ++shared.saves;
    }
    // The tills see the last setting, too.
    if (!AwaitSales(ticks, kSalesBetweenSaves, std::chrono::seconds(30)))
      throw std::runtime_error("the tills stopped computing sales");
  } catch (const std::exception& e) {
    CopyText(shared.saverError, sizeof shared.saverError, e.what());
    _exit(3);
  }
  _exit(0);
}

// Waits for the child until the deadline; false when it is still running.
bool WaitUntil(pid_t pid, Clock::time_point deadline, int* status) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  pollfd p{pidfd, POLLIN, 0};
  const bool ended = poll(&p, 1, static_cast<int>(std::max<long long>(left, 0))) > 0;
  close(pidfd);
  return ended && waitpid(pid, status, 0) == pid;
}

class SeveralTillsTest : public ServerDatabaseTest, public ::testing::WithParamInterface<TDatabaseKind> {};

TEST_P(SeveralTillsTest, TillsSeeEverySaveWholeWhileTheBackOfficeSaves) {
  const TDatabaseKind kind = GetParam();
  const std::string database = SampleShop(kind, kind == TDatabaseKind::File ? "tills" : "several_tills");
  const std::string saleFile = dir_.file("sale.json");
  WriteFileBytes(saleFile, test::kSampleGroupSale);

  // The two settings and both mixes of them give four different results:
  // a till that read half of a save would be seen.
  const TCardSetting states[] = {
      kSettingA, kSettingB, {kSettingA.threshold, kSettingB.article}, {kSettingB.threshold, kSettingA.article}};
  std::vector<std::string> results;
  selvo::test::ModuleScope scope;  // the saving module, in this process and the saver's
  {
    selvo::test::TBackOffice office(database);
    for (const TCardSetting& state : states) {
      ASSERT_TRUE(SaveCard(office, state));
      const TRun run = Calc(database, saleFile, {"--json"});
      ASSERT_EQ(run.code, 0) << run.err;
      for (const std::string& earlier : results) ASSERT_NE(run.out, earlier) << "a mix could not be told apart";
      results.push_back(run.out);
    }
    ASSERT_TRUE(SaveCard(office, kSettingA));
  }
  ASSERT_EQ(Calc(database, saleFile, {"--json"}).out, results[0]);

  void* memory = mmap(nullptr, sizeof(TShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  TShared& shared = *new (memory) TShared;
  int ticks[2];
  ASSERT_EQ(pipe2(ticks, O_CLOEXEC), 0);
  ASSERT_EQ(fcntl(ticks[1], F_SETFL, O_NONBLOCK), 0);  // a till never waits for the saver

  std::cout.flush();
  std::cerr.flush();
  const auto started = Clock::now();
  std::vector<pid_t> tills;
  for (int i = 0; i < kTills; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ticks[0]);
      RunTill(database, saleFile, results[0], results[1], kind == TDatabaseKind::File, shared, shared.tills[i],
              ticks[1]);
    }
    tills.push_back(pid);
  }
  const pid_t saver = fork();
  ASSERT_GE(saver, 0);
  if (saver == 0) {
    close(ticks[1]);
    RunSaver(database, kind == TDatabaseKind::File, shared, ticks[0]);
  }
  close(ticks[0]);
  close(ticks[1]);

  // A bounded wait on the five processes: the saver first, then the tills
  // it lets stop. A process still running at the deadline is hung.
  const auto deadline = started + std::chrono::seconds(120);
  std::map<pid_t, int> status;
  bool hung = false;
  auto await = [&](pid_t pid) {
    if (WaitUntil(pid, deadline, &status[pid])) return;
    ADD_FAILURE() << (pid == saver ? "the saver" : "a till") << " hung; killed";
    hung = true;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  };
  await(saver);
  shared.stop = 1;  // the saver is done (or failed): stop the tills
  const Clock::time_point tillsDone = Clock::now();
  for (pid_t pid : tills) await(pid);
  if (hung) {
    munmap(memory, sizeof(TShared));
    return;
  }

  EXPECT_TRUE(WIFEXITED(status[saver]) && WEXITSTATUS(status[saver]) == 0) << "saver: " << shared.saverError;
  EXPECT_EQ(shared.saves.load(), kSaves) << shared.saverError;
  long long sales = 0, sawA = 0, sawB = 0, busy = 0;
  for (int i = 0; i < kTills; ++i) {
    const TTillCounts& till = shared.tills[i];
    EXPECT_TRUE(WIFEXITED(status[tills[i]]) && WEXITSTATUS(status[tills[i]]) == 0) << "till " << i;
    EXPECT_EQ(till.wrong.load(), 0) << "till " << i << ": " << till.firstWrong;
    sales += till.sales;
    sawA += till.sawA;
    sawB += till.sawB;
    busy += till.busy;
  }
  // Every save was followed by sales that loaded after it.
  EXPECT_GT(sawA, 0);
  EXPECT_GT(sawB, 0);
  EXPECT_EQ(Calc(database, saleFile, {"--json"}).out, results[0]) << "twenty saves end on the first setting";

  const double seconds = std::chrono::duration<double>(tillsDone - started).count();
  const double perSecond = seconds > 0 ? static_cast<double>(sales) / seconds : 0;
  std::cout << KindName(kind) << ": " << kTills << " tills computed " << sales << " sales in " << seconds << " s ("
            << perSecond << " sales per second; settings A " << sawA << ", B " << sawB << ", busy " << busy
            << ", refused saves " << shared.refusedSaves.load() << ")\n";
  RecordProperty("sales_per_second", std::to_string(perSecond));
  shared.~TShared();
  munmap(memory, sizeof(TShared));
}

SELVO_ON_BOTH_DATABASES(SeveralTillsTest);

// Tills computing while the shop is made anew (init --force): each sale sees
// the whole old shop or the whole new one, or fails with a clear error;
// never a shop with its tables found empty.
class NewShopWhileTillsComputeTest : public ServerDatabaseTest, public ::testing::WithParamInterface<TDatabaseKind> {};

TEST_P(NewShopWhileTillsComputeTest, EverySaleSeesAWholeShopOrFails) {
  const TDatabaseKind kind = GetParam();
  const std::string database = SampleShop(kind, "new_shop_while_tills");
  const std::string saleFile = dir_.file("sale.json");
  WriteFileBytes(saleFile, test::kSampleGroupSale);
  const TRun expected = Calc(database, saleFile, {"--json"});
  ASSERT_EQ(expected.code, 0) << expected.err;

  void* memory = mmap(nullptr, sizeof(TShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  TShared& shared = *new (memory) TShared;
  int ticks[2];
  ASSERT_EQ(pipe2(ticks, O_CLOEXEC | O_NONBLOCK), 0);
  std::cout.flush();
  std::cerr.flush();
  std::vector<pid_t> tills;
  for (int i = 0; i < 2; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) RunTill(database, saleFile, expected.out, expected.out, true, shared, shared.tills[i], ticks[1]);
    tills.push_back(pid);
  }
  constexpr int kNewShops = 40;
  int made = 0;
  for (int i = 0; i < kNewShops; ++i) {
    std::ostringstream out, err;
    const int code = RunHostProgram({"init", "--db", database, "--force"},
                                    TModuleLocation{"libselvopayments.so", "/nonexistent"}, out, err);
    EXPECT_EQ(code, 0) << err.str();
    made += code == 0;
  }
  shared.stop = 1;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  for (pid_t pid : tills) {
    int status = 0;
    if (!WaitUntil(pid, deadline, &status)) {
      ADD_FAILURE() << "a till hung; killed";
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  close(ticks[0]);
  close(ticks[1]);
  long long sales = 0;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(shared.tills[i].wrong.load(), 0) << shared.tills[i].firstWrong;
    sales += shared.tills[i].sales;
  }
  EXPECT_GT(sales, 0);
  std::cout << KindName(kind) << ": " << made << " new shops while the tills computed " << sales << " sales\n";
  shared.~TShared();
  munmap(memory, sizeof(TShared));
}

SELVO_ON_BOTH_DATABASES(NewShopWhileTillsComputeTest);

// ---------------------------------------------------------------------------
// A save whose connection to the server is lost.

std::vector<std::vector<std::string>> CardRows(const std::string& conninfo) {
  auto rows = PgExec(conninfo, "SELECT td_id, td_threshold, td_enabled FROM selvodiscountds ORDER BY td_id");
  const auto targets =
      PgExec(conninfo, "SELECT dg_id, td_id, td_iscategory, id_target FROM discountgoodsds ORDER BY dg_id");
  rows.insert(rows.end(), targets.begin(), targets.end());
  return rows;
}

TEST_F(ServerDatabaseTest, SaveThatLosesItsConnectionLeavesTheServerAsItWas) {
  const std::string database = SampleShop(TDatabaseKind::Server, "dropped_save");
  const auto before = CardRows(database);
  const struct {
    const char* when;
    int appliedBeforeDrop;  // -1: the connection stays
  } cases[] = {{"right after START", 0}, {"between the two applies", 1}, {"before COMMIT", 2}, {"never", -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("connection dropped ") + c.when);
    TShopDataModule dm(database);
    TShopDataSet& cards = dm.DataSet("SelvoDiscountDS");
    TShopDataSet& targets = dm.DataSet("DiscountGoodsDS");
    EditCard(dm, kSettingB);
    cards.Edit();
    cards.FieldByName("td_Enabled").SetAsInteger(0);
    cards.Post();
    targets.Append();
    targets.FieldByName("dg_ID").SetAsInteger(100);
    targets.FieldByName("td_ID").SetAsInteger(4);
    targets.FieldByName("td_IsCategory").SetAsInteger(1);
    targets.FieldByName("ID_Target").SetAsInteger(5);
    targets.Post();
    ASSERT_EQ(cards.ChangeCount(), 1);
    ASSERT_EQ(targets.ChangeCount(), 2);

    ASSERT_TRUE(dm.Transaction("START"));
    TShopDataSet* order[] = {&cards, &targets};
    int applied = 0;
    for (; applied < c.appliedBeforeDrop; ++applied) ASSERT_EQ(order[applied]->ApplyUpdates(-1), 0);
    if (c.appliedBeforeDrop >= 0) {
      const int pid = dynamic_cast<TPgConnection&>(dm.Connection()).BackendPid();
      ASSERT_GT(pid, 0);
      // Waits until the server process is gone.
      ASSERT_EQ(PgExec(PgTestConnInfo(), "SELECT pg_terminate_backend(" + std::to_string(pid) + ", 10000)")[0][0], "t");
    }
    bool applyFailed = false;
    for (; applied < 2; ++applied) {
      try {
        if (order[applied]->ApplyUpdates(-1) != 0) applyFailed = true;
      } catch (const EDatabaseError& e) {
        applyFailed = true;
        EXPECT_NE(e.Message().find("соединение с сервером потеряно"), std::string::npos) << e.Message();
      }
    }
    const bool committed = dm.Transaction("COMMIT");

    if (c.appliedBeforeDrop < 0) {
      // The same save on a live connection reaches the server.
      EXPECT_FALSE(applyFailed);
      EXPECT_TRUE(committed);
      auto after = before;
      after[3][1] = kSettingB.threshold;
      after[3][2] = "0";
      ASSERT_EQ(after[10 + 2], (std::vector<std::string>{"3", "4", "0", "304"}));
      after[10 + 2][3] = std::to_string(kSettingB.article);
      after.push_back({"100", "4", "1", "5"});
      EXPECT_EQ(CardRows(database), after);
      EXPECT_EQ(cards.ChangeCount() + targets.ChangeCount(), 0);
      continue;
    }
    EXPECT_EQ(applyFailed, c.appliedBeforeDrop < 2) << "an apply on a lost connection must fail";
    EXPECT_FALSE(committed) << "a save that did not reach the server was reported as done";
    EXPECT_EQ(CardRows(database), before);
    // The operator's changes are still there to be saved again.
    EXPECT_EQ(cards.ChangeCount(), 1);
    EXPECT_EQ(targets.ChangeCount(), 2);
  }
}

// ---------------------------------------------------------------------------
// A server that cannot be reached, from the command line.

std::string ConnOption(const std::string& conninfo, const std::string& keyword) {
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), nullptr);
  std::string value;
  for (PQconninfoOption* o = options; o && o->keyword; ++o)
    if (keyword == o->keyword && o->val) value = o->val;
  PQconninfoFree(options);
  return value;
}

TEST_F(ServerDatabaseTest, ServerThatCannotBeReachedGivesOneLineAndExitCodeOne) {
  const std::string secret = "Wr0ng-s3cret-pw";
  const std::string pw = PgTestPasswordConnInfo();
  std::string uriWithPassword = "postgresql://" + ConnOption(pw, "user") + ":" + secret + "@/" +
                                ConnOption(pw, "dbname") + "?host=" + ConnOption(pw, "host");
  if (const std::string port = ConnOption(pw, "port"); !port.empty()) uriWithPassword += "&port=" + port;
  const struct {
    const char* what;
    std::string address;
    std::string names;  // what the line must name
  } cases[] = {
      {"a URI that does not parse", "postgresql://%zz", "%zz"},
      {"a key word that does not parse", "host=/tmp dbname='unterminated", "unterminated"},
      {"no server at the socket folder", "host=/nonexistent port=1 dbname=x", "/nonexistent"},
      {"no server at the port", "host=127.0.0.1 port=1 dbname=x connect_timeout=5", "127.0.0.1"},
      {"no such database", PgWithConnOption(PgTestConnInfo(), "dbname", "no_such_shop"), "no_such_shop"},
      {"a wrong password", PgWithConnOption(pw, "password", secret), ConnOption(pw, "user")},
      {"a wrong password in the URI", uriWithPassword, ConnOption(pw, "user")},
      {"a password in the URI that is not valid percent-encoding",
       "postgresql://" + ConnOption(pw, "user") + ":" + secret + "%zz@/x", "percent-encoded"},
      {"the same in a key word", "host=/tmp dbname=x password='" + secret + "%zz", "unterminated"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ": " + c.address);
    const TRun run = RunProgram({"payments", "--db", c.address});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("selvo-host: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.names), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line:\n" << run.err;
    EXPECT_EQ(run.err.find(secret), std::string::npos) << run.err;
  }
}

// A server that stops answering: the process serving the connection frozen,
// or a table held by another session. Neither a read of the data module nor
// a till's sale waits longer than the statement bound.
TEST_F(ServerDatabaseTest, AServerThatStopsAnsweringIsGivenUpAfterTheStatementBound) {
  const std::string database = SampleShop(TDatabaseKind::Server, "stops_answering");
  const std::string bound = "сервер базы данных магазина не ответил за 10 с";
  {
    TShopDataModule dm(database);
    const int backend = dynamic_cast<TPgConnection&>(dm.Connection()).BackendPid();
    ASSERT_EQ(kill(backend, SIGSTOP), 0) << std::strerror(errno);
    std::string error;
    try {
      dm.Connection().QueryValue("SELECT count(*) FROM payment");
    } catch (const EDatabaseError& e) {
      error = e.Message();
      EXPECT_EQ(e.Kind(), TDatabaseErrorKind::Unreachable);
    }
    kill(backend, SIGCONT);
    EXPECT_EQ(error.rfind(bound, 0), 0u) << error;
  }

  const std::string saleFile = dir_.file("sale.json");
  WriteFileBytes(saleFile, test::kSampleGroupSale);
  PGconn* holder = PQconnectdb(database.c_str());
  ASSERT_EQ(PQstatus(holder), CONNECTION_OK);
  PQclear(PQexec(holder, "BEGIN; LOCK TABLE selvodiscountds IN ACCESS EXCLUSIVE MODE"));
  const TRun run = RunProgram({"calc", "--db", database, saleFile});
  PQfinish(holder);
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find(bound), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line:\n" << run.err;
}

TEST_F(ServerDatabaseTest, AKeyColumnOfAnotherTypeIsNamedWithItsTable) {
  const std::string server = SampleShop(TDatabaseKind::Server, "numeric_key");
  PgExec(server,
         "ALTER TABLE payment ALTER COLUMN rowid DROP DEFAULT; "
         "ALTER TABLE payment ALTER COLUMN rowid TYPE numeric");
  const TRun run = RunProgram({"payments", "--db", server});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("таблица Payment: столбец rowid должен быть целым числом"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("std::get"), std::string::npos) << run.err;
}

// ---------------------------------------------------------------------------
// The same calculation on both databases.

struct TCatalogueItem {
  std::int64_t goods, category;
  double price;
};

TEST_F(ServerDatabaseTest, CalcGivesTheSameOutputOnBothDatabases) {
  const std::string file = SampleShop(TDatabaseKind::File, "shop");
  const std::string server = SampleShop(TDatabaseKind::Server, "same_output");

  std::vector<TCatalogueItem> catalogue;
  std::vector<std::int64_t> categories;
  std::vector<std::string> payments;  // by identifier or by name
  {
    TShopDataModule dm(file);
    TShopDataSet& goods = dm.DataSet("Goods");
    for (goods.First(); !goods.Eof(); goods.Next())
      catalogue.push_back({goods.FieldByName("ID_Goods").AsInteger(), goods.FieldByName("ID_Category").AsInteger(),
                           goods.FieldByName("Price").AsFloat()});
    TShopDataSet& payment = dm.DataSet("Payment");
    for (payment.First(); !payment.Eof(); payment.Next()) {
      // A switched-off type sells nothing, by identifier or by name.
      if (payment.FieldByName("Enabled").AsInteger() != 1) continue;
      payments.push_back(std::to_string(payment.FieldByName("ID").AsInteger()));
      payments.push_back("\"" + payment.FieldByName("Name").AsString() + "\"");
    }
  }
  for (const TCatalogueItem& item : catalogue)
    if (std::find(categories.begin(), categories.end(), item.category) == categories.end())
      categories.push_back(item.category);
  ASSERT_GT(catalogue.size(), 100u);
  ASSERT_EQ(payments.size(), 16u);

  std::mt19937 rng(20261219);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto money = [](int cents) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d", cents / 100, cents % 100);
    return std::string(text);
  };
  std::vector<std::string> sales = {test::kSampleGroupSale};
  for (int round = 0; round < 300; ++round) {
    std::string lines;
    for (int i = pick(1, 6); i > 0; --i) {
      const TCatalogueItem& item = catalogue[static_cast<std::size_t>(pick(0, static_cast<int>(catalogue.size()) - 1))];
      // Mostly the catalogue's category and price; now and then another.
      const std::int64_t category =
          pick(0, 9) ? item.category
                     : categories[static_cast<std::size_t>(pick(0, static_cast<int>(categories.size()) - 1))];
      const int price = pick(0, 3) ? static_cast<int>(item.price * 100 + 0.5) : pick(1, 500000);
      char quantity[16];
      std::snprintf(quantity, sizeof quantity, "%g", pick(1, 48) / 8.0);
      if (!lines.empty()) lines += ", ";
      lines += R"({"goods": )" + std::to_string(item.goods) + R"(, "category": )" + std::to_string(category) +
               R"(, "zprice": )" + money(price * pick(30, 90) / 100) + R"(, "price": )" + money(price) +
               R"(, "quantity": )" + quantity + "}";
    }
    // A week of December, the holidays' first days and the nights included.
    char moment[32];
    std::snprintf(moment, sizeof moment, "2026-12-%02dT%02d:%02d:%02d", pick(21, 27), pick(0, 23), pick(0, 59),
                  pick(0, 59));
    sales.push_back(R"({"payment": )" + payments[static_cast<std::size_t>(pick(0, 15))] + R"(, "moment": ")" + moment +
                    R"(", "lines": [)" + lines + "]}");
  }

  const std::string saleFile = dir_.file("sale.json");
  int differing = 0;
  std::set<double> distinctSums;
  for (const std::string& sale : sales) {
    WriteFileBytes(saleFile, sale);
    const TRun onFile = Calc(file, saleFile, {"--json", "--explain"});
    const TRun onServer = Calc(server, saleFile, {"--json", "--explain"});
    ASSERT_EQ(onFile.code, 0) << sale << "\n" << onFile.err;
    EXPECT_EQ(onFile.err, "") << sale;
    if (onFile.code != onServer.code || onFile.out != onServer.out || onFile.err != onServer.err) {
      ++differing;
      ADD_FAILURE() << sale << "\nfile:   " << onFile.out << onFile.err << "\nserver: " << onServer.out << onServer.err;
    }
    distinctSums.insert(nlohmann::json::parse(onFile.out)["sum"].get<double>());
    if (differing >= 3) break;
  }
  // The sales are varied enough to mean something.
  EXPECT_GT(distinctSums.size(), 200u);
}

}  // namespace
}  // namespace selvo::host
