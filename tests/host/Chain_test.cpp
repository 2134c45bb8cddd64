// A chain of three servers of its own: a head office and two stations, fed by
// logical replication, driven through selvo-host's chain commands, the
// editor's save at the head office and the stations' till services.
#include <httplib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopChain.h"
#include "selvo/Errors.h"
#include "tests/common/BackOffice.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/ServiceProcess.h"
#include "tests/common/ShopDatabases.h"

namespace selvo::test {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

// A generous bound for a change to travel: the figure itself is measured in
// bench/, this only tells a change that arrives from one that never does.
constexpr auto kArrival = std::chrono::seconds(20);

std::int64_t Number(const std::string& address, const std::string& sql) {
  const auto rows = PgExec(address, sql);
  return rows.empty() || rows[0][0].empty() ? 0 : std::stoll(rows[0][0]);
}

std::int64_t HeldVersion(const std::string& address) {
  return Number(address, "SELECT COALESCE(MAX(version), 0) FROM settingsversion");
}

// The settings as a station or the head office holds them, to compare: the
// cards' thresholds, the payment types, and every version with its changes.
std::string Settings(const std::string& address) {
  std::string text;
  for (const char* sql :
       {"SELECT td_id, td_threshold FROM selvodiscountds ORDER BY td_id", "SELECT id, name FROM payment ORDER BY id",
        "SELECT version, origin, author FROM settingsversion ORDER BY version",
        "SELECT version, table_name, row_key, column_name, old_value, new_value FROM settingschange "
        "ORDER BY version, table_name, row_key, column_name"})
    for (const auto& row : PgExec(address, sql)) {
      for (const std::string& value : row) text += value + "|";
      text += "\n";
    }
  return text;
}

template <typename Condition>
bool Await(Condition condition) {
  const auto deadline = Clock::now() + kArrival;
  while (Clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

std::int64_t ServiceVersion(const TServiceProcess& service) {
  return service.Get("/health")["settings_version"].get<std::int64_t>();
}

class ChainTest : public ::testing::Test {
 protected:
  ChainTest()
      : head(TPrivatePgServer::TReplication::Logical),
        north(TPrivatePgServer::TReplication::Logical),
        south(TPrivatePgServer::TReplication::Logical) {
    host::CreateSampleShop(head.ConnInfo(), false);
  }

  int Chain(const std::vector<std::string>& args) {
    std::vector<std::string> command = {"chain"};
    command.insert(command.end(), args.begin(), args.end());
    return RunHost(command, scope.windowsDir().path());
  }
  // What `selvo-host chain status --json` says at the head office.
  json Status() {
    const std::string out = output.file("status.json");
    if (RunHostMeasured({"chain", "status", "--db", head.ConnInfo(), "--json"}, scope.windowsDir().path(), out).code !=
        0)
      throw std::runtime_error("chain status failed");
    std::ifstream in(out);
    return json::parse(in);
  }
  static json StationIn(const json& status, const std::string& name) {
    for (const json& station : status["stations"])
      if (station["name"] == name) return station;
    return json();
  }

  ModuleScope scope;  // the head office's editor saves in this process
  TempDir output;
  TPrivatePgServer head, north, south;
};

TEST_F(ChainTest, StationsFollowTheHeadOfficeThroughOutagesAndRefuseChangesOfTheirOwn) {
  ASSERT_EQ(Chain({"publish", "--db", head.ConnInfo()}), 0);
  // A station's settings before it joins make way for the head office's,
  // and a service that already runs there takes them up.
  host::CreateSampleShop(south.ConnInfo(), false);
  PgExec(south.ConnInfo(), "UPDATE payment SET name = 'своя оплата' WHERE id = 1");
  host::CreateSampleShop(north.ConnInfo(), false);
  PgExec(north.ConnInfo(), "UPDATE payment SET name = 'своя оплата' WHERE id = 1");
  TServiceProcess northTill(north.ConnInfo(), scope.windowsDir().path());
  EXPECT_EQ(ServiceVersion(northTill), 2);
  // A join the station's server cannot carry out changes nothing there, nor
  // leaves anything at the head office: here the head office's address is
  // a service name only this program's environment knows.
  const std::string before = Settings(north.ConnInfo());
  std::string entry = head.ConnInfo();
  std::replace(entry.begin(), entry.end(), ' ', '\n');
  std::ofstream(output.file("services.conf")) << "[chain_head]\n" << entry << "\n";
  setenv("PGSERVICEFILE", output.file("services.conf").c_str(), 1);
  EXPECT_EQ(Chain({"join", "--db", north.ConnInfo(), "--head", "service=chain_head", "--name", "Север"}), 1);
  unsetenv("PGSERVICEFILE");
  EXPECT_EQ(Settings(north.ConnInfo()), before);
  EXPECT_EQ(Number(head.ConnInfo(), "SELECT COUNT(*) FROM pg_replication_slots"), 0);
  EXPECT_EQ(Number(head.ConnInfo(), "SELECT COUNT(*) FROM pg_subscription"), 0);
  EXPECT_EQ(Number(north.ConnInfo(), "SELECT COUNT(*) FROM pg_replication_slots"), 0);
  EXPECT_EQ(Chain({"join", "--db", north.ConnInfo(), "--head", head.ConnInfo(), "--name", "Север"}), 0);
  ASSERT_EQ(Chain({"join", "--db", south.ConnInfo(), "--head", head.ConnInfo(), "--name", "Юг"}), 0);
  EXPECT_EQ(Chain({"join", "--db", south.ConnInfo(), "--head", head.ConnInfo(), "--name", "Юг"}), 1)
      << "a station joins once";
  EXPECT_EQ(Settings(north.ConnInfo()), Settings(head.ConnInfo()));
  EXPECT_EQ(Settings(south.ConnInfo()), Settings(head.ConnInfo()));

  // What join refuses, before it changes anything: here at a second shop on
  // the north station's server.
  PgExec(north.ConnInfo(), "CREATE DATABASE spare");
  const std::string spare = PgWithConnOption(north.ConnInfo(), "dbname", "spare");
  host::CreateSampleShop(spare, false);
  const std::string spareBefore = Settings(spare);
  const struct {
    std::string station, headOffice, name;
    const char* why;
  } refusedJoins[] = {
      {spare, head.ConnInfo(), "Север", "a name the chain has"},
      {spare, head.ConnInfo(), "АЗС\t7", "a control character in the name"},
      {spare, head.ConnInfo(), std::string(65, 'x'), "a name too long"},
      {spare, south.ConnInfo(), "Восток", "a head office that publishes nothing"},
      {head.ConnInfo(), head.ConnInfo(), "Сам", "the head office as its own station"},
  };
  for (const auto& join : refusedJoins) {
    EXPECT_EQ(Chain({"join", "--db", join.station, "--head", join.headOffice, "--name", join.name}), 1) << join.why;
    EXPECT_EQ(Settings(spare), spareBefore) << join.why;
    EXPECT_EQ(Number(head.ConnInfo(), "SELECT COUNT(*) FROM pg_replication_slots"), 2) << join.why;
  }

  const std::int64_t first = HeldVersion(head.ConnInfo());
  EXPECT_TRUE(Await([&] { return ServiceVersion(northTill) == first; }))
      << "the station's service answers with the head office's number";

  // Twenty saves while the south station's server is stopped: the north
  // station's service follows each, with the same settings.
  south.Crash();
  TBackOffice office(head.ConnInfo());
  for (int i = 1; i <= 20; ++i) {
    office.SetThreshold(4, std::to_string(100 + i) + "=" + std::to_string(i) + "%;");
    ASSERT_STREQ(SaveResultName(office.Save()), "saved");
    const std::int64_t saved = HeldVersion(head.ConnInfo());
    ASSERT_EQ(saved, first + i);
    ASSERT_TRUE(Await([&] { return ServiceVersion(northTill) == saved; }))
        << "save " << i << ": the service answers with " << ServiceVersion(northTill);
    ASSERT_EQ(Settings(north.ConnInfo()), Settings(head.ConnInfo())) << "save " << i;
  }
  const std::int64_t last = first + 20;

  // Nothing of the settings changes at a station, by the program or by hand.
  EXPECT_EQ(
      RunHost({"history", "--db", north.ConnInfo(), "--restore", std::to_string(first)}, scope.windowsDir().path()), 1);
  EXPECT_EQ(RunHost({"init", "--force", "--db", north.ConnInfo()}, scope.windowsDir().path()), 1);
  try {
    PgExec(north.ConnInfo(), "UPDATE payment SET name = 'x' WHERE id = 1");
    ADD_FAILURE() << "a change by hand at a station went through";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("приходят из головного офиса"), std::string::npos) << e.what();
  }
  // The editor's own save, by another computer's module on the station.
  TOtherComputer stationOffice(north.ConnInfo(), {[](TBackOffice& other) {
                                 other.SetThreshold(4, "1=1%;");
                                 return std::string(SaveResultName(other.Save()));
                               }});
  EXPECT_EQ(stationOffice.Next(), "refused");
  EXPECT_EQ(HeldVersion(north.ConnInfo()), last);
  // A new shop in place of the head office's would stop every station's line.
  EXPECT_EQ(RunHost({"init", "--force", "--db", head.ConnInfo()}, scope.windowsDir().path()), 1);
  EXPECT_EQ(HeldVersion(head.ConnInfo()), last);

  // The head office sees both: the north one up to date with its service,
  // the south one twenty versions behind and out of reach.
  ASSERT_TRUE(Await([&] {
    const json station = StationIn(Status(), "Север");
    return !station["services"].empty() && station["services"][0]["version"] == last;
  })) << Status().dump();
  json status = Status();
  EXPECT_EQ(status["head_version"], last);
  const json northStanding = StationIn(status, "Север");
  EXPECT_EQ(northStanding["held_version"], last);
  EXPECT_EQ(northStanding["behind"], 0);
  EXPECT_TRUE(northStanding["last_heard"].is_string());
  EXPECT_TRUE(Await([&] { return StationIn(Status(), "Север")["receiving"] == true; }));
  const json southStanding = StationIn(status, "Юг");
  EXPECT_EQ(southStanding["held_version"], first);
  EXPECT_EQ(southStanding["behind"], 20);
  // The head office's line to it is retried, and fails each time.
  EXPECT_TRUE(Await([&] { return StationIn(Status(), "Юг")["receiving"] == false; }));
  // The same as the operator reads it.
  const std::string text = output.file("status.txt");
  ASSERT_EQ(RunHostMeasured({"chain", "status", "--db", head.ConnInfo()}, scope.windowsDir().path(), text).code, 0);
  std::stringstream read;
  read << std::ifstream(text).rdbuf();
  for (const std::string& line : {"Головной офис: версия " + std::to_string(last) + ", станций 2",
                                  "«Север»: в базе версия " + std::to_string(last) + ", не отстаёт",
                                  "«Юг»: в базе версия " + std::to_string(first) + ", отстаёт на 20 верс.",
                                  std::string("линия к ней не работает"), std::string("служба ")})
    EXPECT_NE(read.str().find(line), std::string::npos) << line << " in:\n" << read.str();

  // The south station back: it catches up whole, every version in its place.
  south.Restart();
  TServiceProcess southTill(south.ConnInfo(), scope.windowsDir().path());
  ASSERT_TRUE(Await([&] { return ServiceVersion(southTill) == last; })) << ServiceVersion(southTill);
  EXPECT_EQ(Settings(south.ConnInfo()), Settings(head.ConnInfo()));
  EXPECT_EQ(Number(south.ConnInfo(), "SELECT COUNT(*) FROM settingsversion"), last);
  ASSERT_TRUE(Await([&] { return StationIn(Status(), "Юг")["behind"] == 0; })) << Status().dump();

  // The head office stopped: both stations go on selling with what they hold.
  PgExec(head.ConnInfo(), "CHECKPOINT");
  head.Crash();
  for (const TServiceProcess* till : {&northTill, &southTill}) {
    const httplib::Result sale = till->Client()->Post("/calc", kSampleGroupSale, "application/json");
    ASSERT_TRUE(sale);
    EXPECT_EQ(sale->status, 200) << sale->body;
    EXPECT_EQ(json::parse(sale->body)["settings_version"], last);
  }
  head.Restart();
  office.SetThreshold(4, "90=9%;");
  ASSERT_STREQ(SaveResultName(office.Save()), "saved");
  EXPECT_TRUE(Await([&] { return ServiceVersion(northTill) == last + 1 && ServiceVersion(southTill) == last + 1; }));

  // The south station leaves: its settings are its own again, its numbers
  // going on from the head office's, and the head office forgets it.
  ASSERT_EQ(Chain({"leave", "--db", south.ConnInfo()}), 0);
  EXPECT_EQ(
      RunHost({"history", "--db", south.ConnInfo(), "--restore", std::to_string(first)}, scope.windowsDir().path()), 0);
  EXPECT_EQ(HeldVersion(south.ConnInfo()), last + 2);
  // A row added at the station takes a key after those the replication wrote.
  PgExec(south.ConnInfo(),
         "CREATE TEMP TABLE added AS SELECT * FROM payment WHERE id = 1; ALTER TABLE added DROP COLUMN rowid; "
         "UPDATE added SET id = 99; INSERT INTO payment SELECT added.*, "
         "nextval(pg_get_serial_sequence('payment', 'rowid')) FROM added");
  status = Status();
  EXPECT_TRUE(StationIn(status, "Юг").is_null()) << status.dump();
  EXPECT_EQ(Number(head.ConnInfo(), "SELECT COUNT(*) FROM pg_replication_slots"), 1) << "the north station's only";
  office.SetThreshold(4, "80=8%;");
  ASSERT_STREQ(SaveResultName(office.Save()), "saved");
  EXPECT_TRUE(Await([&] { return ServiceVersion(northTill) == last + 2; }));
  EXPECT_EQ(HeldVersion(south.ConnInfo()), last + 3) << "the station's own insert, and nothing of the head office's";
  EXPECT_EQ(Settings(south.ConnInfo()).find("4|80=8%;|"), std::string::npos)
      << "the head office's last save stays away";

  // Nothing of its time in the chain stands in the way of joining again.
  ASSERT_EQ(Chain({"join", "--db", south.ConnInfo(), "--head", head.ConnInfo(), "--name", "Юг"}), 0);
  EXPECT_EQ(Settings(south.ConnInfo()), Settings(head.ConnInfo()));
  EXPECT_TRUE(Await([&] { return ServiceVersion(southTill) == last + 2; }));
  EXPECT_EQ(StationIn(Status(), "Юг")["behind"], 0);
}

// A station leaves while its head office is down: its subscription ends
// without the head office, its settings are its own at once, and what is
// left over there is what the command says.
TEST(ChainLeaveTest, AStationLeavesWhileItsHeadOfficeIsDown) {
  ModuleScope scope;
  TempDir output;
  TPrivatePgServer head(TPrivatePgServer::TReplication::Logical), station(TPrivatePgServer::TReplication::Logical);
  host::CreateSampleShop(head.ConnInfo(), false);
  host::PublishSettings(head.ConnInfo());
  host::JoinChain({station.ConnInfo(), head.ConnInfo(), "Запад", ""});
  PgExec(head.ConnInfo(), "CHECKPOINT");
  head.Crash();

  const std::string out = output.file("leave.txt");
  ASSERT_EQ(RunHostMeasured({"chain", "leave", "--db", station.ConnInfo()}, scope.windowsDir().path(), out).code, 0);
  std::stringstream told;
  told << std::ifstream(out).rdbuf();
  EXPECT_EQ(Number(station.ConnInfo(), "SELECT COUNT(*) FROM pg_subscription"), 0);
  EXPECT_EQ(Number(station.ConnInfo(), "SELECT COUNT(*) FROM pg_replication_slots"), 0);
  EXPECT_EQ(RunHost({"history", "--db", station.ConnInfo(), "--restore", "1"}, scope.windowsDir().path()), 0)
      << "the station's settings are its own";

  head.Restart();
  const auto slots = PgExec(head.ConnInfo(), "SELECT slot_name FROM pg_replication_slots");
  ASSERT_EQ(slots.size(), 1u);
  EXPECT_NE(told.str().find(slots[0][0]), std::string::npos) << "the slot left is named:\n" << told.str();
  const std::size_t subscription = told.str().find("DROP SUBSCRIPTION ");
  ASSERT_NE(subscription, std::string::npos) << told.str();
  const std::string name = told.str().substr(subscription + 18, told.str().find(';', subscription) - subscription - 18);
  EXPECT_EQ(Number(head.ConnInfo(), "SELECT COUNT(*) FROM pg_subscription WHERE subname = '" + name + "'"), 1)
      << "the subscription named is the one left: " << name;
}

// What the command refuses before it opens anything, and a shop on a file,
// which cannot replicate, opened never.
TEST(ChainCommandLineTest, WhatTheCommandRefusesBeforeItReachesADatabase) {
  ModuleScope scope;
  TempDir files;
  const std::string file = files.file("shop.db");
  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"chain"}, 2},
      {{"chain", "frob", "--db", "host=nowhere"}, 2},
      {{"chain", "status"}, 2},
      {{"chain", "join", "--db", "host=nowhere"}, 2},
      {{"chain", "status", "--db", "host=nowhere", "--name", "Север"}, 2},
      {{"chain", "publish", "--db", "host=nowhere", "extra"}, 2},
      {{"chain", "publish", "--db", file}, 1},
      {{"chain", "join", "--db", file, "--head", "host=nowhere"}, 1},
      {{"chain", "leave", "--db", file}, 1},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& arg : c.args) line += arg + " ";
    EXPECT_EQ(RunHost(c.args, scope.windowsDir().path()), c.code) << line;
    EXPECT_FALSE(std::filesystem::exists(file)) << line;
  }
}

// What the head office's server lacks is said plainly, with what to change.
TEST(ChainRefusalTest, APublisherWithoutLogicalReplicationIsToldWhatToChange) {
  ModuleScope scope;
  TempDir output;
  TPrivatePgServer plain;
  host::CreateSampleShop(plain.ConnInfo(), false);
  const std::string out = output.file("err.txt");
  std::string message;
  try {
    host::PublishSettings(plain.ConnInfo());
  } catch (const Exception& e) {
    message = e.Message();
  }
  EXPECT_NE(message.find("wal_level = logical"), std::string::npos) << message;
  EXPECT_NE(message.find("перезапустите сервер"), std::string::npos) << message;
  EXPECT_EQ(RunHost({"chain", "publish", "--db", plain.ConnInfo()}, scope.windowsDir().path()), 1);
}

}  // namespace
}  // namespace selvo::test
