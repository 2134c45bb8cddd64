#include "host/shopdb/ShopChain.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "host/shopdb/PgConnection.h"
#include "host/shopdb/ServerAddress.h"
#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/ShopValueConversion.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

constexpr const char* kHeadTable = "chainhead";
constexpr const char* kStationTable = "chainstation";
constexpr const char* kServiceTable = "chainservice";
// The head office's publication of the settings, a station's subscription
// to it, and a station's publication of where it stands.
constexpr const char* kSettingsPublication = "selvo_settings";
constexpr const char* kSettingsSubscription = "selvo_settings";
constexpr const char* kStationPublication = "selvo_station";
// How long a join waits for the head office's settings to be copied whole.
constexpr std::chrono::seconds kCopyWait{120};

// The settings as the head office publishes them: the six tables and
// their history.
std::vector<std::string> PublishedTables() {
  std::vector<std::string> tables = ShopTableNames();
  for (const std::string& table : SettingsHistoryTables()) tables.push_back(table);
  return tables;
}

std::unique_ptr<TShopConnection> OpenServer(const std::string& address, const char* whose) {
  if (!IsServerAddress(address))
    throw EDatabaseError(std::string(whose) +
                         " должна храниться на сервере PostgreSQL: у файла SQLite нет логической репликации");
  return OpenShopConnection(address);
}

// A text as an SQL literal (the session takes backslashes as they stand).
std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// The catalogue's rows of this database (pg_subscription is the server's).
constexpr const char* kThisDatabase = "(SELECT oid FROM pg_database WHERE datname = current_database())";

// Whether the query answers a row.
bool Exists(TShopConnection& c, const std::string& sql, const std::vector<TVariant>& params) {
  return !std::holds_alternative<std::monostate>(c.QueryValue(sql, params));
}

bool HasTable(TShopConnection& c, const std::string& name) {
  const std::vector<std::string> present = c.TableNames();
  return std::any_of(present.begin(), present.end(), [&](const std::string& t) { return SameText(t, name); });
}

// Whether the database is a station's, asked of the server each time (a
// connection's list of tables is kept, and a station may join meanwhile).
bool IsStation(TShopConnection& c) {
  return Exists(c, "SELECT to_regclass($1)::text", {TVariant(std::string(kHeadTable))});
}

// The replication's names of a station: a digest of its name, since the
// server takes only lower-case letters, digits and "_" there.
std::string StationDigest(const std::string& name) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  std::array<char, 17> text{};
  std::snprintf(text.data(), text.size(), "%016llx", static_cast<unsigned long long>(hash));
  return text.data();
}
// The slot at the head office that feeds the station its settings.
std::string SettingsSlot(const std::string& name) { return "selvo_settings_" + StationDigest(name); }
// The head office's subscription to the station (and its slot there).
std::string StationSubscription(const std::string& name) { return "selvo_station_" + StationDigest(name); }

void CheckStationName(const std::string& name) {
  if (name.empty() || name.size() > kMaxStationName)
    throw EDatabaseError("имя станции должно быть от 1 до " + std::to_string(kMaxStationName) + " байт");
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) throw EDatabaseError("в имени станции не должно быть управляющих символов");
}

std::int64_t IntegerSetting(TShopConnection& c, const std::string& name) {
  return LinkKey(c.QueryValue("SELECT current_setting($1)::int", {TVariant(name)})).value_or(0);
}

// What logical replication needs of a server: EDatabaseError naming the
// setting to change when it lacks it.
void RequireReplication(TShopConnection& c, const std::string& whose) {
  const std::string level = ValueText(c.QueryValue("SELECT current_setting('wal_level')"));
  if (level != "logical")
    throw EDatabaseError("на сервере " + whose + " wal_level = " + level +
                         ", а логической репликации нужно wal_level = logical: задайте его в postgresql.conf (или "
                         "ALTER SYSTEM SET wal_level = logical) и перезапустите сервер");
  for (const char* setting : {"max_replication_slots", "max_wal_senders"})
    if (IntegerSetting(c, setting) < 1)
      throw EDatabaseError("на сервере " + whose + " " + setting +
                           " = 0: задайте его в postgresql.conf не меньше числа станций и перезапустите сервер");
}

// The head office's server runs a worker for each station's line back and
// keeps a slot and a sender for each station fed: one more must fit, with
// a worker spare for the copy of a join.
void RequireRoomAtHead(TShopConnection& head) {
  auto count = [&](const std::string& sql) { return LinkKey(head.QueryValue(sql)).value_or(0); };
  const std::int64_t subscriptions = count("SELECT COUNT(*) FROM pg_subscription");
  const std::int64_t slots = count("SELECT COUNT(*) FROM pg_replication_slots");
  const struct {
    const char* setting;
    std::int64_t have;
    std::int64_t more;  // what one more station takes
    const char* what;
  } limits[] = {{"max_logical_replication_workers", subscriptions, 2, "подписок"},
                {"max_replication_slots", slots, 1, "слотов репликации"},
                {"max_wal_senders", slots, 1, "слотов репликации"}};
  for (const auto& limit : limits) {
    const std::int64_t value = IntegerSetting(head, limit.setting);
    if (value < limit.have + limit.more)
      throw EDatabaseError("на сервере головного офиса нет места для ещё одной станции: " + std::string(limit.setting) +
                           " = " + std::to_string(value) + ", а " + limit.what + " уже " + std::to_string(limit.have) +
                           "; увеличьте " + limit.setting +
                           " (и max_worker_processes) в postgresql.conf и перезапустите сервер");
  }
}

// The tables where a station's standing is kept, on both sides.
void CreateStandingTables(TShopConnection& c) {
  c.Execute(std::string("CREATE TABLE IF NOT EXISTS ") + kStationTable +
            " (name text PRIMARY KEY, held_version bigint NOT NULL DEFAULT 0, held_at timestamptz)");
  c.Execute(std::string("CREATE TABLE IF NOT EXISTS ") + kServiceTable +
            " (station text NOT NULL, service text NOT NULL, version bigint NOT NULL, heard_at timestamptz NOT "
            "NULL, PRIMARY KEY (station, service))");
}

// At the head office, a station's rows are stamped with the moment they
// arrive, by the head office's clock: the station's clock may be another.
void InstallArrivalStamps(TShopConnection& c) {
  const struct {
    const char* table;
    const char* column;
  } stamped[] = {{kStationTable, "held_at"}, {kServiceTable, "heard_at"}};
  for (const auto& [table, column] : stamped) {
    const std::string function = std::string("selvo_chain_stamp_") + table;
    c.Execute("CREATE OR REPLACE FUNCTION " + function + "() RETURNS trigger LANGUAGE plpgsql AS $f$ BEGIN NEW." +
              column + " := now(); RETURN NEW; END $f$");
    c.Execute("DROP TRIGGER IF EXISTS selvo_chain_stamp ON " + std::string(table));
    c.Execute("CREATE TRIGGER selvo_chain_stamp BEFORE INSERT OR UPDATE ON " + std::string(table) +
              " FOR EACH ROW EXECUTE FUNCTION " + function + "()");
    // The rows arrive by the replication, which fires only such triggers.
    c.Execute("ALTER TABLE " + std::string(table) + " ENABLE ALWAYS TRIGGER selvo_chain_stamp");
  }
}

bool HasPublication(TShopConnection& c, const std::string& name) {
  return Exists(c, "SELECT 1 FROM pg_publication WHERE pubname = $1", {TVariant(name)});
}

bool HasSubscription(TShopConnection& c, const std::string& name) {
  return Exists(c, std::string("SELECT 1 FROM pg_subscription WHERE subname = $1 AND subdbid = ") + kThisDatabase,
                {TVariant(name)});
}

std::string TableList(TShopConnection& c, const std::vector<std::string>& tables) {
  std::string list;
  for (const std::string& table : tables) list += (list.empty() ? "" : ", ") + c.Identifier(table);
  return list;
}

// --- A station's triggers: every local write of the settings refused (the
// replication's own writes pass, as they fire only triggers enabled for
// it), and each arrival noted and told to the station's services.

constexpr const char* kRefuseFunction = "selvo_chain_refuse";
constexpr const char* kArrivalFunction = "selvo_chain_arrived";
constexpr const char* kRefuseTrigger = "selvo_chain_refuse";
constexpr const char* kArrivalTrigger = "selvo_chain_arrived";

void InstallStationTriggers(TShopConnection& c, const TChainMembership& membership) {
  // The text is a literal inside the function's body: a body quoted so
  // that no name or address can end it.
  const std::string refusal = Literal(StationRefusal(membership));
  std::string quote = "$selvo$";
  while (refusal.find(quote) != std::string::npos) quote.insert(quote.size() - 1, "_");
  c.Execute(std::string("CREATE OR REPLACE FUNCTION ") + kRefuseFunction + "() RETURNS trigger LANGUAGE plpgsql AS " +
            quote + " BEGIN RAISE EXCEPTION '%', " + refusal + "; END " + quote);
  for (const std::string& table : PublishedTables()) {
    const std::string name = c.Identifier(table);
    c.Execute(std::string("DROP TRIGGER IF EXISTS ") + kRefuseTrigger + " ON " + name);
    c.Execute(std::string("CREATE TRIGGER ") + kRefuseTrigger + " BEFORE INSERT OR UPDATE OR DELETE OR TRUNCATE ON " +
              name + " FOR EACH STATEMENT EXECUTE FUNCTION " + kRefuseFunction + "()");
  }
  // The replication applies with an empty search path: the function keeps
  // the station's.
  c.Execute(std::string("CREATE OR REPLACE FUNCTION ") + kArrivalFunction +
            "() RETURNS trigger LANGUAGE plpgsql SET search_path FROM CURRENT AS $f$\n"
            "DECLARE v bigint := (SELECT COALESCE(MAX(version), 0) FROM " +
            c.Identifier("SettingsVersion") +
            ");\n"
            "BEGIN\n"
            // During the join's copy the tables are not whole yet.
            "  IF NOT COALESCE((SELECT ready FROM " +
            kHeadTable +
            "), false) THEN RETURN NULL; END IF;\n"
            "  UPDATE " +
            kStationTable +
            // A save inserts its version and then closes it: noted once.
            " SET held_version = v, held_at = now() WHERE held_version <> v;\n"
            "  PERFORM pg_notify(" +
            Literal(kSaveChannel) +
            ", v::text);\n"
            "  RETURN NULL;\n"
            "END $f$");
  const std::string versions = c.Identifier("SettingsVersion");
  c.Execute(std::string("DROP TRIGGER IF EXISTS ") + kArrivalTrigger + " ON " + versions);
  c.Execute(std::string("CREATE TRIGGER ") + kArrivalTrigger + " AFTER INSERT OR UPDATE OR DELETE ON " + versions +
            " FOR EACH ROW EXECUTE FUNCTION " + kArrivalFunction + "()");
  c.Execute(std::string("ALTER TABLE ") + versions + " ENABLE ALWAYS TRIGGER " + kArrivalTrigger);
}

void DropStationTriggers(TShopConnection& c) {
  for (const std::string& table : PublishedTables())
    if (HasTable(c, table))
      c.Execute(std::string("DROP TRIGGER IF EXISTS ") + kRefuseTrigger + " ON " + c.Identifier(table));
  if (HasTable(c, "SettingsVersion"))
    c.Execute(std::string("DROP TRIGGER IF EXISTS ") + kArrivalTrigger + " ON " + c.Identifier("SettingsVersion"));
  c.Execute(std::string("DROP FUNCTION IF EXISTS ") + kRefuseFunction + "()");
  c.Execute(std::string("DROP FUNCTION IF EXISTS ") + kArrivalFunction + "()");
}

// Rows the replication wrote leave the tables' own counters behind: a row
// the station adds once its settings are its own takes the next free key.
void CatchUpRowKeys(TShopConnection& c) {
  for (const std::string& table : PublishedTables()) {
    const std::string name = c.Identifier(table);
    c.QueryValue("SELECT setval(pg_get_serial_sequence($1, 'rowid'), COALESCE((SELECT MAX(rowid) FROM " + name +
                     "), 0) + 1, false)",
                 {TVariant(LowerCase(table))});
  }
}

// Waits until `condition` holds, or raises `failure` after kCopyWait.
template <typename Condition>
void AwaitOrFail(const Condition& condition, const std::string& failure) {
  const auto deadline = std::chrono::steady_clock::now() + kCopyWait;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline)
      throw EDatabaseError(failure + " за " + std::to_string(kCopyWait.count()) + " с");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// Waits until the subscription has copied every table whole.
void AwaitCopy(TShopConnection& c) {
  const std::string sql =
      std::string(
          "SELECT COUNT(*) FILTER (WHERE r.srsubstate <> 'r'), COUNT(*) FROM pg_subscription_rel r JOIN "
          "pg_subscription s ON s.oid = r.srsubid WHERE s.subname = $1 AND s.subdbid = ") +
      kThisDatabase;
  AwaitOrFail(
      [&] {
        std::int64_t pending = 1, tables = 0;
        c.Query(sql, {TVariant(std::string(kSettingsSubscription))}, [&](std::vector<TVariant>& v) {
          pending = LinkKey(v[0]).value_or(1);
          tables = LinkKey(v[1]).value_or(0);
        });
        return tables > 0 && pending == 0;
      },
      "настройки головного офиса не скопировались на станцию");
}

// Drops a subscription, with its slot at the other side when that side can
// be reached; otherwise without it. Answers false when the slot is left.
bool DropSubscription(TShopConnection& c, const std::string& name) {
  if (!HasSubscription(c, name)) return true;
  try {
    c.Execute("DROP SUBSCRIPTION " + name);
    return true;
  } catch (const EDatabaseError&) {
    c.Execute("ALTER SUBSCRIPTION " + name + " DISABLE");
    c.Execute("ALTER SUBSCRIPTION " + name + " SET (slot_name = NONE)");
    c.Execute("DROP SUBSCRIPTION " + name);
    return false;
  }
}

// Drops a replication slot of this server, ending the line that uses it.
void DropSlot(TShopConnection& c, const std::string& slot) {
  c.QueryValue(
      "SELECT pg_terminate_backend(active_pid) FROM pg_replication_slots WHERE slot_name = $1 AND active_pid "
      "IS NOT NULL",
      {TVariant(slot)});
  for (int attempt = 0; attempt < 50; ++attempt) {
    try {
      c.QueryValue("SELECT pg_drop_replication_slot(slot_name) FROM pg_replication_slots WHERE slot_name = $1",
                   {TVariant(slot)});
      return;
    } catch (const EDatabaseError&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // its line is still ending
    }
  }
}

// What the station holds of the chain, taken away in one transaction, and
// its settings made its own.
void UndoStation(TShopConnection& station) {
  station.Begin();
  try {
    if (HasPublication(station, kStationPublication))
      station.Execute(std::string("DROP PUBLICATION ") + kStationPublication);
    DropStationTriggers(station);
    for (const char* table : {kHeadTable, kServiceTable, kStationTable})
      station.Execute(std::string("DROP TABLE IF EXISTS ") + table);
    if (HasSettingsHistory(station)) CatchUpRowKeys(station);
    station.Commit();
  } catch (...) {
    station.RollbackIfOpen();
    throw;
  }
}

// At the head office: its subscription to the station (with its slot at the
// station, when the station answers) and the station's rows.
void ForgetStationAtHead(TShopConnection& head, const std::string& name) {
  DropSubscription(head, StationSubscription(name));
  if (HasTable(head, kStationTable)) {
    head.QueryValue(std::string("DELETE FROM ") + kServiceTable + " WHERE station = $1", {TVariant(name)});
    head.QueryValue(std::string("DELETE FROM ") + kStationTable + " WHERE name = $1", {TVariant(name)});
  }
}

}  // namespace

std::optional<TChainMembership> ChainMembershipOf(TShopConnection& connection) {
  if (!connection.IsServer() || !IsStation(connection)) return std::nullopt;
  std::optional<TChainMembership> membership;
  connection.Query(std::string("SELECT head, name FROM ") + kHeadTable + " LIMIT 1", {}, [&](std::vector<TVariant>& v) {
    membership = TChainMembership{ValueText(v[0]), ValueText(v[1])};
  });
  return membership;
}

std::string StationRefusal(const TChainMembership& membership) {
  return "настройки станции «" + membership.name + "» приходят из головного офиса (" + membership.head +
         "): изменяйте их там; selvo-host chain leave сделает их собственными настройками станции";
}

void RefuseAtStation(TShopConnection& connection) {
  if (const auto membership = ChainMembershipOf(connection)) throw EDatabaseError(StationRefusal(*membership));
}

void RefuseNewShopInChain(TShopConnection& connection) {
  if (!connection.IsServer()) return;
  RefuseAtStation(connection);
  if (HasPublication(connection, kSettingsPublication))
    throw EDatabaseError("база " + connection.Describe() +
                         " — головной офис: станции получают её настройки, и новая база магазина на её месте "
                         "остановила бы их репликацию; меняйте настройки редактором");
}

TPublishResult PublishSettings(const std::string& headDatabase) {
  auto head = OpenServer(headDatabase, "база головного офиса");
  RequireReplication(*head, "головного офиса");
  for (const std::string& table : ShopTableNames())
    if (!HasTable(*head, table))
      throw EDatabaseError("в базе " + head->Describe() + " нет таблицы " + table +
                           ": сначала создайте базу магазина (selvo-host init)");
  if (const auto membership = ChainMembershipOf(*head))
    throw EDatabaseError("база " + head->Describe() + " сама станция головного офиса " + membership->head +
                         ": головной офис не может подписываться на другой");
  head->Begin();
  try {
    EnsureSettingsHistory(*head);
    CreateStandingTables(*head);
    InstallArrivalStamps(*head);
    const std::string tables = TableList(*head, PublishedTables());
    if (HasPublication(*head, kSettingsPublication))
      head->Execute(std::string("ALTER PUBLICATION ") + kSettingsPublication + " SET TABLE " + tables);
    else
      head->Execute(std::string("CREATE PUBLICATION ") + kSettingsPublication + " FOR TABLE " + tables);
    head->Commit();
  } catch (...) {
    head->RollbackIfOpen();
    throw;
  }
  return {NewestSettingsVersion(*head).number};
}

TJoinResult JoinChain(const TJoinRequest& request) {
  std::string name = request.name.empty() ? ComputerName() : request.name;
  if (name.empty()) name = "станция";
  CheckStationName(name);
  auto station = OpenServer(request.station, "база станции");
  auto head = OpenServer(request.head, "база головного офиса");
  station->Execute("SET standard_conforming_strings = on");
  head->Execute("SET standard_conforming_strings = on");
  RequireReplication(*head, "головного офиса");
  // The station publishes where it stands.
  RequireReplication(*station, "станции");
  if (!HasPublication(*head, kSettingsPublication))
    throw EDatabaseError("головной офис " + head->Describe() +
                         " не публикует настроек: выполните там selvo-host chain publish");
  if (const auto membership = ChainMembershipOf(*station))
    throw EDatabaseError("станция «" + membership->name + "» уже получает настройки из головного офиса " +
                         membership->head);
  if (HasPublication(*station, kSettingsPublication))
    throw EDatabaseError("база " + station->Describe() + " сама головной офис: станцией она быть не может");
  const std::string slot = SettingsSlot(name);
  const bool nameTaken = Exists(*head,
                                "SELECT 1 FROM pg_replication_slots WHERE slot_name = $1 UNION ALL SELECT 1 FROM " +
                                    std::string(kStationTable) + " WHERE name = $2",
                                {TVariant(slot), TVariant(name)}) ||
                         HasSubscription(*head, StationSubscription(name));
  if (nameTaken) throw EDatabaseError("в сети головного офиса уже есть станция «" + name + "»: выберите другое имя");

  RequireRoomAtHead(*head);

  const TChainMembership membership{WithoutPasswords(request.head, request.head), name};
  const std::string stationAddress =
      LibpqAddress(request.stationFromHead.empty() ? request.station : request.stationFromHead);
  // First what changes nothing of the station's settings, each way of the
  // line tried by the servers themselves: the station's standing published
  // and the head office subscribed to it, the slot that will feed the
  // station.
  bool subscribedAtHead = false;
  bool slotMade = false;
  auto undo = [&] {
    // Each step on its own: the failure that stopped the join is the one told.
    try {
      if (subscribedAtHead) ForgetStationAtHead(*head, name);
    } catch (const EDatabaseError&) {
    }
    try {
      if (DropSubscription(*station, kSettingsSubscription) && slotMade) DropSlot(*head, slot);
    } catch (const EDatabaseError&) {
    }
    try {
      UndoStation(*station);
    } catch (const EDatabaseError&) {
    }
  };
  try {
    station->Begin();
    CreateStandingTables(*station);
    station->QueryValue(std::string("INSERT INTO ") + kStationTable + " (name, held_at) VALUES ($1, now())",
                        {TVariant(name)});
    station->Execute(std::string("CREATE PUBLICATION ") + kStationPublication + " FOR TABLE " + kStationTable + ", " +
                     kServiceTable);
    station->Commit();
    try {
      head->Execute("CREATE SUBSCRIPTION " + StationSubscription(name) + " CONNECTION " + Literal(stationAddress) +
                    " PUBLICATION " + kStationPublication);
    } catch (EDatabaseError& e) {
      e.SetMessage("сервер головного офиса не подключился к станции (" + e.Message() +
                   "); укажите адрес станции, как его видит сервер головного офиса (--station-address)");
      throw;
    }
    subscribedAtHead = true;
    head->QueryValue("SELECT pg_create_logical_replication_slot($1, 'pgoutput')", {TVariant(slot)});
    slotMade = true;

    // Then, in one transaction, the station's settings and history make way
    // for the head office's (its own triggers and refusals silent while
    // they are cleared), and the subscription is made; making it connects
    // the station's server to the head office, so a line that does not work
    // leaves the station as it was.
    station->Begin();
    if (!HasTable(*station, ShopTableNames().front())) CreateShopSchema(*station);
    EnsureSettingsHistory(*station);
    station->Execute("SET LOCAL session_replication_role = replica");
    for (const std::string& table : PublishedTables()) station->Execute("DELETE FROM " + station->Identifier(table));
    station->Execute("SET LOCAL session_replication_role = origin");
    station->Execute(std::string("CREATE TABLE ") + kHeadTable +
                     " (head text NOT NULL, name text NOT NULL, joined_at timestamptz NOT NULL DEFAULT now(), "
                     "ready boolean NOT NULL DEFAULT false)");
    station->QueryValue(std::string("INSERT INTO ") + kHeadTable + " (head, name) VALUES ($1, $2)",
                        {TVariant(membership.head), TVariant(name)});
    InstallStationTriggers(*station, membership);
    try {
      station->Execute(std::string("CREATE SUBSCRIPTION ") + kSettingsSubscription + " CONNECTION " +
                       Literal(LibpqAddress(request.head)) + " PUBLICATION " + kSettingsPublication +
                       " WITH (create_slot = false, enabled = false, slot_name = " + Literal(slot) + ")");
    } catch (EDatabaseError& e) {
      e.SetMessage("сервер станции не подключился к головному офису (" + e.Message() +
                   "); --head — адрес головного офиса, как его видит сервер станции");
      throw;
    }
    station->Commit();
  } catch (...) {
    station->RollbackIfOpen();
    undo();
    throw;
  }
  // The station is in the chain from here on; what fails now is told, and
  // the copy goes on by itself.
  const std::string unfinished = "станция «" + name + "» в сети, но ";
  std::int64_t version = 0;
  try {
    station->Execute(std::string("ALTER SUBSCRIPTION ") + kSettingsSubscription + " ENABLE");
    AwaitCopy(*station);
    // What arrived is noted and told to the station's services now: during
    // the copy they were told nothing, as the tables were not whole.
    station->Execute(std::string("UPDATE ") + kHeadTable + " SET ready = true");
    station->Execute(std::string("UPDATE ") + kStationTable +
                     " SET held_version = (SELECT COALESCE(MAX(version), 0) FROM " +
                     station->Identifier("SettingsVersion") + "), held_at = now()");
    version = NewestSettingsVersion(*station).number;
    station->QueryValue("SELECT pg_notify($1, $2)",
                        {TVariant(std::string(kSaveChannel)), TVariant(std::to_string(version))});
  } catch (EDatabaseError& e) {
    e.SetMessage(unfinished + e.Message() + "; посмотрите selvo-host chain status на головном офисе");
    throw;
  }
  // The join is done when the head office sees the station where it stands.
  try {
    AwaitOrFail(
        [&] {
          return LinkKey(head->QueryValue(std::string("SELECT held_version FROM ") + kStationTable + " WHERE name = $1",
                                          {TVariant(name)}))
                     .value_or(-1) >= version;
        },
        "головной офис не услышал станцию");
  } catch (EDatabaseError& e) {
    e.SetMessage(unfinished + e.Message());
    throw;
  }
  return {name, version};
}

TLeaveResult LeaveChain(const std::string& stationDatabase, const std::string& headAddress) {
  auto station = OpenServer(stationDatabase, "база станции");
  const auto membership = ChainMembershipOf(*station);
  if (!membership)
    throw EDatabaseError("база " + station->Describe() +
                         " не получает настроек из головного офиса: её настройки и так её собственные");
  TLeaveResult result{membership->name, 0, {}};
  const std::string slot = SettingsSlot(membership->name);
  // The head office as the subscription reaches it (with what it needs to
  // log in), unless told otherwise; the address kept names it without
  // passwords.
  std::string address = headAddress;
  if (address.empty())
    address = ValueText(station->QueryValue(
        std::string("SELECT subconninfo FROM pg_subscription WHERE subname = $1 AND subdbid = ") + kThisDatabase,
        {TVariant(std::string(kSettingsSubscription))}));
  if (address.empty()) address = membership->head;
  std::unique_ptr<TShopConnection> head;
  try {
    head = OpenServer(address, "база головного офиса");
  } catch (const EDatabaseError& e) {
    result.leftAtHead.push_back("головной офис недоступен (" + e.Message() + ")");
  }
  const std::string subscription = StationSubscription(membership->name);
  if (head) ForgetStationAtHead(*head, membership->name);
  // The head office's line to the station ends here, whether or not the
  // head office could drop it.
  DropSlot(*station, subscription);
  if (!head) {
    const std::string name = Literal(membership->name);
    result.leftAtHead.push_back("удалите на головном офисе подписку на станцию и её строки: ALTER SUBSCRIPTION " +
                                subscription + " DISABLE; ALTER SUBSCRIPTION " + subscription +
                                " SET (slot_name = NONE); DROP SUBSCRIPTION " + subscription + "; DELETE FROM " +
                                kServiceTable + " WHERE station = " + name + "; DELETE FROM " + kStationTable +
                                " WHERE name = " + name + ";");
  }
  if (!DropSubscription(*station, kSettingsSubscription)) {
    if (head)
      DropSlot(*head, slot);
    else
      result.leftAtHead.push_back("удалите на головном офисе слот репликации " + slot +
                                  " (SELECT pg_drop_replication_slot('" + slot +
                                  "')): пока он есть, сервер хранит для него журнал");
  }
  UndoStation(*station);
  result.version = NewestSettingsVersion(*station).number;
  return result;
}

bool ReportServiceVersion(TShopConnection& connection, const std::string& service, std::int64_t version) {
  if (!connection.IsServer() || !IsStation(connection)) return false;
  connection.QueryValue(
      std::string("INSERT INTO ") + kServiceTable + " (station, service, version, heard_at) SELECT name, " +
          "$1, $2, now() FROM " + kHeadTable +
          " ON CONFLICT (station, service) DO UPDATE SET version = EXCLUDED.version, heard_at = now()",
      {TVariant(service), TVariant(version)});
  return true;
}

TChainStatus ReadChainStatus(const std::string& headDatabase) {
  auto head = OpenServer(headDatabase, "база головного офиса");
  if (!HasPublication(*head, kSettingsPublication) || !HasTable(*head, kStationTable))
    throw EDatabaseError("база " + head->Describe() + " не публикует настроек: выполните selvo-host chain publish");
  TChainStatus status;
  status.headVersion = NewestSettingsVersion(*head).number;
  auto at = [](const std::string& column) { return "to_char(" + column + ", 'YYYY-MM-DD\"T\"HH24:MI:SS')"; };
  std::map<std::string, std::size_t> place;
  head->Query("SELECT name, held_version, " + at("held_at") + ", EXTRACT(EPOCH FROM now() - held_at) FROM " +
                  kStationTable + " ORDER BY name",
              {}, [&](std::vector<TVariant>& v) {
                TStationStanding standing;
                standing.name = ValueText(v[0]);
                standing.heldVersion = LinkKey(v[1]).value_or(0);
                standing.lastHeard = ValueText(v[2]);
                if (!standing.lastHeard.empty()) standing.secondsSinceHeard = ValueAsFloat(v[3], "seconds");
                standing.behind = std::max<std::int64_t>(0, status.headVersion - standing.heldVersion);
                place[standing.name] = status.stations.size();
                status.stations.push_back(std::move(standing));
              });
  auto hear = [](TStationStanding& s, const std::string& when, double ago) {
    if (when.empty()) return;
    if (s.secondsSinceHeard < 0 || ago < s.secondsSinceHeard) {
      s.lastHeard = when;
      s.secondsSinceHeard = ago;
    }
  };
  head->Query("SELECT station, service, version, " + at("heard_at") + ", EXTRACT(EPOCH FROM now() - heard_at) FROM " +
                  kServiceTable + " ORDER BY station, service",
              {}, [&](std::vector<TVariant>& v) {
                const auto found = place.find(ValueText(v[0]));
                if (found == place.end()) return;
                TStationStanding& s = status.stations[found->second];
                TServiceStanding service{ValueText(v[1]), LinkKey(v[2]).value_or(0), ValueText(v[3]),
                                         ValueAsFloat(v[4], "seconds")};
                hear(s, service.heardAt, service.secondsAgo);
                s.services.push_back(std::move(service));
              });
  // The head office's line to each station: the last message it received.
  std::map<std::string, std::size_t> bySubscription;
  for (std::size_t i = 0; i < status.stations.size(); ++i)
    bySubscription[StationSubscription(status.stations[i].name)] = i;
  head->Query(
      "SELECT subname, (pid IS NOT NULL AND last_msg_receipt_time > now() - "
      "GREATEST(current_setting('wal_receiver_timeout')::interval, interval '1 minute'))::int, " +
          at("last_msg_receipt_time") +
          ", EXTRACT(EPOCH FROM now() - last_msg_receipt_time) FROM pg_stat_subscription WHERE relid IS NULL",
      {}, [&](std::vector<TVariant>& v) {
        const auto found = bySubscription.find(ValueText(v[0]));
        if (found == bySubscription.end()) return;
        TStationStanding& s = status.stations[found->second];
        s.receiving = LinkKey(v[1]).value_or(0) == 1;
        if (!std::holds_alternative<std::monostate>(v[3])) hear(s, ValueText(v[2]), ValueAsFloat(v[3], "seconds"));
      });
  return status;
}

}  // namespace selvo::host
