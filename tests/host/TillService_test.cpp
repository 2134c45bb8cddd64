// The till service as real processes asked over HTTP: four services while
// the editor's own save commits twenty changes, a server that crashes and
// comes back in the middle of a run, bad input and idle connections, and
// the journal after SIGKILL and SIGHUP.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "host/journal/JournalReader.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/ShopConnection.h"
#include "support/SafeIniFiles.h"
#include "tests/common/BackOffice.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/ServiceProcess.h"
#include "tests/common/ShopDatabases.h"

namespace selvo::test {
namespace {

using Clock = std::chrono::steady_clock;

// Card 4's thresholds: the sample sale reaches 10 % under the one, 20 %
// under the other.
constexpr const char* kSettingA = "300=10%;";
constexpr const char* kSettingB = "200=20%;";

// Waits until the health's `field` (the version held, the loads) is above
// `above`; false after 20 s.
bool AwaitHealthAbove(const TServiceProcess& service, const char* field, std::uint64_t above) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    if (service.Get("/health")[field].get<std::uint64_t>() > above) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}
bool AwaitVersionAbove(const TServiceProcess& service, std::uint64_t above) {
  return AwaitHealthAbove(service, "settings_version", above);
}

// The sample sale asked of a service; its answer's body.
std::string Calc(httplib::Client& client, int* status = nullptr) {
  const httplib::Result result = client.Post("/calc", kSampleGroupSale, "application/json");
  if (status) *status = result ? result->status : -1;
  return result ? result->body : std::string("(no answer)");
}

class TillServiceTest : public ::testing::TestWithParam<TShopDbKind> {
 protected:
  TillServiceTest() : db(GetParam()), address(db.Address()) { host::CreateSampleShop(address, false); }

  ModuleScope scope;  // the editor's save runs in this process
  TempDir windows;    // the services' settings folder
  TTestShopDatabase db;
  std::string address;
};

TEST_P(TillServiceTest, FourServicesFollowTwentySavesWholeAndSoon) {
  TBackOffice office(address);
  office.SetThreshold(4, kSettingA);
  ASSERT_EQ(office.Save(), TSaveResult::Saved);
  std::vector<std::unique_ptr<TServiceProcess>> services;
  for (int i = 0; i < 4; ++i) services.push_back(std::make_unique<TServiceProcess>(address, windows.path()));

  // What each setting answers, and that the service answers as calc does.
  auto first = services[0]->Client();
  const std::string answerA = AnswerWithoutVersion(Calc(*first));
  FILE* calc = popen(
      ("WINDIR='" + windows.path() + "' SELVO_MODULE='" SELVO_MODULE_PATH "' '" SELVO_HOST_PATH "' calc --json --db '" +
       address + "' - <<'EOF'\n" + kSampleGroupSale + "\nEOF")
          .c_str(),
      "r");
  char line[4096] = {};
  ASSERT_NE(fgets(line, sizeof line, calc), nullptr);
  pclose(calc);
  EXPECT_EQ(answerA, AnswerWithoutVersion(line)) << "the service answers as calc --json does";

  std::atomic<bool> stop{false};
  struct TSeen {
    std::map<std::uint64_t, std::set<std::string>> answersByVersion;
    int failures = 0;
    std::string firstFailure;
  };
  std::vector<TSeen> seen(services.size());
  std::vector<std::thread> tills;
  for (std::size_t i = 0; i < services.size(); ++i) {
    tills.emplace_back([&, i] {
      auto client = services[i]->Client();
      while (!stop) {
        int status = 0;
        const std::string body = Calc(*client, &status);
        const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
        if (status != 200 || answer.is_discarded()) {
          if (seen[i].failures++ == 0) seen[i].firstFailure = std::to_string(status) + " " + body;
          continue;
        }
        seen[i].answersByVersion[answer["settings_version"].get<std::uint64_t>()].insert(AnswerWithoutVersion(body));
      }
    });
  }

  std::string answerB;
  double slowest = 0;
  std::map<std::uint64_t, std::string> stored;  // each save's version and what it answers
  stored[static_cast<std::uint64_t>(office.dm.Version().number)] = answerA;
  for (int save = 1; save <= 20; ++save) {
    std::vector<std::uint64_t> before;
    for (const auto& service : services) before.push_back(service->Get("/health")["settings_version"]);
    office.SetThreshold(4, save % 2 ? kSettingB : kSettingA);
    ASSERT_EQ(office.Save(), TSaveResult::Saved);
    const auto committed = Clock::now();
    const auto number = static_cast<std::uint64_t>(office.dm.Version().number);
    ASSERT_GT(number, before[0]) << "every save is a version of its own";
    for (std::size_t i = 0; i < services.size(); ++i) {
      ASSERT_TRUE(AwaitVersionAbove(*services[i], before[i])) << "service " << i << " missed save " << save;
      EXPECT_EQ(services[i]->Get("/health")["settings_version"].get<std::uint64_t>(), number)
          << "service " << i << " names the save by its stored number";
    }
    slowest = std::max(slowest, std::chrono::duration<double>(Clock::now() - committed).count());
    if (save == 1) answerB = AnswerWithoutVersion(Calc(*first));
    stored[number] = save % 2 ? answerB : answerA;
  }
  stop = true;
  for (std::thread& till : tills) till.join();

  // Every number answers the same on every service, as that save stored it.
  for (std::size_t i = 0; i < services.size(); ++i) {
    for (const auto& [version, answers] : seen[i].answersByVersion) {
      if (stored.count(version) && !stored[version].empty()) {
        EXPECT_EQ(*answers.begin(), stored[version]) << "service " << i << ", version " << version;
      }
    }
  }

  ASSERT_NE(answerA, answerB);
  std::set<std::string> both;  // what the tills saw, all together
  for (std::size_t i = 0; i < services.size(); ++i) {
    SCOPED_TRACE("service " + std::to_string(i));
    EXPECT_EQ(seen[i].failures, 0) << seen[i].firstFailure;
    for (const auto& [version, answers] : seen[i].answersByVersion) {
      both.insert(answers.begin(), answers.end());
      ASSERT_EQ(answers.size(), 1u) << "version " << version << " answered in two ways";
      EXPECT_TRUE(*answers.begin() == answerA || *answers.begin() == answerB) << *answers.begin();
    }
    EXPECT_EQ(AnswerWithoutVersion(Calc(*services[i]->Client())), answerA) << "twenty saves end on the first";
    EXPECT_EQ(services[i]->Stop(), 0) << services[i]->Log();
  }
  EXPECT_EQ(both.size(), 2u) << "the tills saw both settings";

  // Started again, each names the last save by the same number.
  const std::uint64_t last = stored.rbegin()->first;
  for (auto& service : services) {
    service = std::make_unique<TServiceProcess>(address, windows.path());
    const nlohmann::json answer = nlohmann::json::parse(Calc(*service->Client()));
    EXPECT_EQ(answer["settings_version"].get<std::uint64_t>(), last);
    EXPECT_EQ(service->Get("/health")["settings_saved_by"], office.dm.Version().author);
  }
  RecordProperty("slowest_new_version_seconds", std::to_string(slowest));
}

TEST_P(TillServiceTest, BadInputIsRefusedClearlyAndIdleConnectionsHoldNothing) {
  TServiceProcess service(address, windows.path());
  auto client = service.Client();
  const struct {
    const char* what;
    std::string body;
    int status;
    const char* names;
  } cases[] = {
      {"not JSON", "{\"payment\": 1, \"lines\": [", 400, "не в формате JSON"},
      {"a line without its price", R"({"payment": 1, "lines": [{"goods": 1, "category": 1}]})", 400, "lines[0]"},
      {"an unknown payment type", R"({"payment": "нет такого", "lines": []})", 422, "не найден"},
      {"a body over the limit", std::string(300 * 1024, ' '), 413, "256"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const httplib::Result result = client->Post("/calc", c.body, "application/json");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status);
    const nlohmann::json answer = nlohmann::json::parse(result->body, nullptr, false);
    ASSERT_FALSE(answer.is_discarded()) << result->body;
    EXPECT_NE(answer.value("error", "").find(c.names), std::string::npos) << result->body;
  }
  EXPECT_EQ(client->Get("/nowhere")->status, 404);

  auto rss = [&] {
    std::ifstream status("/proc/" + std::to_string(service.Pid()) + "/status");
    std::string key;
    long kb = 0;
    while (status >> key)
      if (key == "VmRSS:" && status >> kb) break;
    return kb;
  };
  const long before = rss();
  auto connect = [&] {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(service.Port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    return fd;
  };
  // A client that starts a request and stops sending is cut.
  const int slow = connect();
  const std::string start = "POST /calc HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"pay";
  ASSERT_EQ(write(slow, start.data(), start.size()), static_cast<ssize_t>(start.size()));
  // A thousand connections that send nothing.
  std::vector<int> idle;
  for (int i = 0; i < 1000; ++i) idle.push_back(connect());
  int status = 0;
  for (int i = 0; i < 50; ++i) ASSERT_EQ(AnswerWithoutVersion(Calc(*client, &status)).empty(), false);
  EXPECT_EQ(status, 200) << "the service answers the others";
  pollfd cut{slow, POLLIN, 0};
  ASSERT_EQ(poll(&cut, 1, 30000), 1) << "the slow client is still connected after 30 s";
  char rest[512] = {};
  const ssize_t got = read(slow, rest, sizeof rest - 1);
  if (got > 0) {
    EXPECT_EQ(std::string(rest).rfind("HTTP/1.1 4", 0), 0u) << "cut, or answered with a 4xx: " << rest;
  }
  close(slow);
  const long during = rss();
  for (int fd : idle) close(fd);
  EXPECT_LT(during - before, 64 * 1024) << "kB more with a thousand connections open";
  EXPECT_EQ(service.Stop(SIGTERM), 0) << service.Log();
}

// A change made with the database's own tools, never through the program,
// is a version of its own and reaches a running service: an UPDATE of card
// 4's thresholds, then a DELETE of the card.
TEST_P(TillServiceTest, AnOutsideUpdateAndDeleteAreVersionsARunningServiceLoads) {
  TServiceProcess service(address, windows.path());
  auto client = service.Client();
  std::string before = AnswerWithoutVersion(Calc(*client));
  std::unique_ptr<host::TShopConnection> outside = host::OpenShopConnection(address);
  const char* kChanges[] = {"UPDATE SelvoDiscountDS SET td_Threshold = '200=20%;' WHERE td_ID = 4",
                            "DELETE FROM SelvoDiscountDS WHERE td_ID = 4"};
  std::uint64_t held = service.Get("/health")["settings_version"];
  for (const char* change : kChanges) {
    SCOPED_TRACE(change);
    outside->Execute(change);
    const host::TSettingsVersion stored = host::NewestSettingsVersion(*outside);
    EXPECT_EQ(stored.origin, host::kOriginOutside);
    EXPECT_EQ(stored.author, host::kOutsideAuthor);
    ASSERT_GT(static_cast<std::uint64_t>(stored.number), held);
    ASSERT_TRUE(AwaitVersionAbove(service, held)) << service.Log();
    held = service.Get("/health")["settings_version"];
    EXPECT_EQ(held, static_cast<std::uint64_t>(stored.number));
    const nlohmann::json answer = nlohmann::json::parse(Calc(*client));
    EXPECT_EQ(answer["settings_version"].get<std::uint64_t>(), held);
    const std::string now = AnswerWithoutVersion(answer.dump());
    EXPECT_NE(now, before) << "the service sells with the change";
    before = now;
  }
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

TEST_P(TillServiceTest, ANewShopMadeUnderARunningServiceIsLoaded) {
  TServiceProcess service(address, windows.path());
  const std::uint64_t before = service.Get("/health")["settings_version"];
  ASSERT_EQ(RunHost({"init", "--db", address, "--force"}, windows.path()), 0);
  EXPECT_TRUE(AwaitVersionAbove(service, before)) << service.Log();
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

// Waits until the service's log holds `text`; false after 20 s.
bool AwaitLog(const TServiceProcess& service, const std::string& text) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    if (service.Log().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// A save notice that names the version saved has it in the load's line;
// any other payload still has the settings loaded.
TEST(TillServiceAnnouncementTest, TheVersionASaveAnnouncesIsLoggedWithTheLoad) {
  ModuleScope scope;
  TempDir windows;
  TTestShopDatabase db(TShopDbKind::Server);
  host::CreateSampleShop(db.Address(), false);
  TServiceProcess service(db.Address(), windows.path());
  struct TCase {
    const char* payload;
    const char* logged;  // after the version the service gives it
  };
  const TCase cases[] = {{"42", ", объявлена версия 42)"},
                         {"", ")"},
                         {"не число", ")"},
                         {"123456789012345678901234567890123", ")"},
                         {"43", ", объявлена версия 43)"}};
  // Nothing was saved: the settings loaded are still those of version 1.
  for (const TCase& c : cases) {
    const std::uint64_t before = service.Get("/health")["reloads"];
    PgExec(db.Address(), std::string("NOTIFY selvo_shop_saved, '") + c.payload + "'");
    const std::string line = std::string("настройки загружены заново (версия 1") + c.logged;
    EXPECT_TRUE(AwaitLog(service, line)) << c.payload << "\n" << service.Log();
    ASSERT_TRUE(AwaitHealthAbove(service, "reloads", before));
  }
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

// The operator's option in the settings file reaches a running service's
// next sale however soon after the last change it comes, and a file that
// has settled is read again once it changes. The sale's 3 % of the payment
// type would take it 2 below its purchase value.
TEST(TillServiceOptionsTest, TheNextSaleFollowsTheSettingsFile) {
  ModuleScope scope;
  TempDir windows;
  TTestShopDatabase db(TShopDbKind::File);
  host::CreateSampleShop(db.Address(), false);
  TServiceProcess service(db.Address(), windows.path());
  const auto client = service.Client();
  const auto sum = [&] {
    const httplib::Result result = client->Post(
        "/calc",
        R"({"payment": "дисконтная карта", "lines": [{"goods": 399, "category": 3, "zprice": 390, "price": 400, "quantity": 1}]})",
        "application/json");
    return result && result->status == 200 ? nlohmann::json::parse(result->body)["sum"].get<double>() : -1.0;
  };
  const auto save = [&](bool floor) {
    TSafeIniFile ini(windows.file("Selvo.ini"));
    ini.WriteBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", floor);
  };
  constexpr double kFloored = 390, kFree = 388;
  EXPECT_EQ(sum(), kFree) << "no settings file";
  const bool steps[] = {true, false, true};  // within one tick of the file system's clock
  for (const bool floor : steps) {
    save(floor);
    EXPECT_EQ(sum(), floor ? kFloored : kFree);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // settles
  EXPECT_EQ(sum(), kFloored);
  save(false);
  EXPECT_EQ(sum(), kFree) << "changed after it settled";
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

// A journal's entries, and whether its last line was torn.
struct TJournalContents {
  std::vector<nlohmann::json> entries;
  bool tornLastLine = false;
};
TJournalContents ReadWholeJournal(const std::string& path) {
  TJournalContents contents;
  host::ReadJournal(
      path, [&](const host::TJournalLineRef&, nlohmann::json& entry) { contents.entries.push_back(entry); },
      [&](host::TSkippedLine skipped) { contents.tornLastLine = contents.tornLastLine || skipped.torn; });
  return contents;
}

TEST_P(TillServiceTest, TheJournalKeepsWholeLinesAfterSigkillAndStartsAnewOnSighup) {
  const std::string journal = windows.file("sales.jsonl");
  std::string answer;
  {
    TServiceProcess service(address, windows.path(), {"--journal", journal});
    auto client = service.Client();
    for (int i = 0; i < 20; ++i) answer = Calc(*client);
    std::filesystem::rename(journal, journal + ".1");
    kill(service.Pid(), SIGHUP);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(journal) && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (int i = 0; i < 5; ++i) Calc(*client);
    EXPECT_EQ(service.Stop(SIGKILL), -SIGKILL);
  }
  const TJournalContents old = ReadWholeJournal(journal + ".1");
  EXPECT_FALSE(old.tornLastLine);
  ASSERT_EQ(old.entries.size(), 20u);
  const TJournalContents read5 = ReadWholeJournal(journal);
  EXPECT_EQ(read5.entries.size(), 5u);
  const nlohmann::json& entry = old.entries.back();
  EXPECT_EQ(entry["moment"], "2026-12-08T12:30:00.000");
  EXPECT_EQ(entry["settings_version"], 1);
  EXPECT_EQ(entry["sale"], nlohmann::json::parse(kSampleGroupSale));
  EXPECT_EQ(entry["answer"], nlohmann::json::parse(answer));
  // Each sale has its identifier, on its answer and on its line.
  EXPECT_EQ(host::EntrySaleId(entry), nlohmann::json::parse(answer).value("sale_id", "(none)"));
  std::set<std::string> ids;
  for (const auto* journalRead : {&old, &read5})
    for (const nlohmann::json& e : journalRead->entries) ids.insert(host::EntrySaleId(e));
  EXPECT_EQ(ids.size(), 25u) << "an identifier missing or given twice";
  EXPECT_EQ(ids.count(""), 0u);

  // A line cut short by a kill is skipped and reported.
  {
    std::ofstream torn(journal, std::ios::app | std::ios::binary);
    torn << R"({"sale": {"payment": 1, "li)";
  }
  const TJournalContents read = ReadWholeJournal(journal);
  EXPECT_TRUE(read.tornLastLine);
  EXPECT_EQ(read.entries.size(), 5u);
}

SELVO_ON_BOTH_DATABASES(TillServiceTest);

// The server stopped at once (as a power cut would) in the middle of a run,
// on a server of this test's own: answers go on from the settings held, the
// health says degraded, and after the server is back the service loads
// anew and says it is fine again.
TEST(TillServiceOutageTest, SalesGoOnThroughAServerCrash) {
  ModuleScope scope;
  TempDir windows;
  TPrivatePgServer server;
  const std::string address = server.ConnInfo();
  host::CreateSampleShop(address, false);

  {
    TServiceProcess service(address, windows.path());
    auto client = service.Client();
    const std::string before = AnswerWithoutVersion(Calc(*client));
    ASSERT_EQ(service.Get("/health")["status"], "ok");

    // The test server does not wait for its disk; what it has committed is
    // made safe before the power cut.
    PgExec(address, "CHECKPOINT");
    server.Crash();
    int failed = 0;
    bool degraded = false;
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (Calc(*client, &status), status != 200) ++failed;
      if (!degraded) degraded = service.Get("/health")["status"] == "degraded";
    }
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!degraded && Clock::now() < deadline) degraded = service.Get("/health")["status"] == "degraded";
    EXPECT_TRUE(degraded) << service.Get("/health").dump();
    EXPECT_EQ(failed, 0) << "no sale fails because of the outage";
    EXPECT_EQ(AnswerWithoutVersion(Calc(*client)), before);
    const std::uint64_t heldVersion = service.Get("/health")["settings_version"];
    const std::uint64_t loads = service.Get("/health")["reloads"];

    server.Restart();
    EXPECT_TRUE(AwaitHealthAbove(service, "reloads", loads)) << service.Log();
    EXPECT_EQ(service.Get("/health")["settings_version"], heldVersion) << "the same settings, loaded anew";
    const nlohmann::json health = service.Get("/health");
    EXPECT_EQ(health["status"], "ok") << health.dump();
    EXPECT_EQ(AnswerWithoutVersion(Calc(*client)), before);
    EXPECT_NE(service.Log().find("база данных снова доступна"), std::string::npos) << service.Log();
    EXPECT_EQ(service.Stop(), 0) << service.Log();
  }
}

}  // namespace
}  // namespace selvo::test
