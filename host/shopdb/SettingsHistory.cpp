#include "host/shopdb/SettingsHistory.h"

#include <unistd.h>

#include <pwd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <map>
#include <set>

#include "host/shopdb/PgConnection.h"
#include "host/shopdb/SettingsAtVersion.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/ShopValueConversion.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

constexpr const char* kVersionTable = "SettingsVersion";
constexpr const char* kChangeTable = "SettingsChange";
constexpr const char* kCopyTable = "SettingsCopy";

// The mark of the version this program writes, on a file: the program
// clears it before its commit, so a committed row never holds it.
constexpr const char* kProgramMark = "program";

std::vector<TTableDef> HistoryTables() {
  const TFieldKind integer = TFieldKind::Integer;
  const TFieldKind text = TFieldKind::Text;
  return {
      {kVersionTable,
       {{"version", integer, true, true, ""},
        {"moment", text, true, false, ""},
        {"author", text, true, false, ""},
        {"role", text, true, false, "''"},
        {"origin", text, true, false, ""},
        {"restored", integer, false, false, ""},
        {"txn", text, false, false, ""}},
       {"txn"}},
      {kChangeTable,
       {{"version", integer, true, false, ""},
        {"table_name", text, true, false, ""},
        {"row_key", integer, true, false, ""},
        {"row_ident", text, false, false, ""},
        {"card", integer, false, false, ""},
        {"column_name", text, true, false, ""},
        {"old_value", text, false, false, ""},
        {"new_value", text, false, false, ""}},
       {"version", "card"}},
      {kCopyTable, {{"version", integer, true, true, ""}, {"body", text, true, false, ""}}, {}},
  };
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// The moment as both databases write it, in local time.
std::string MomentSql(TShopConnection& c) {
  return c.IsServer() ? "to_char(statement_timestamp(), 'YYYY-MM-DD\"T\"HH24:MI:SS.MS')"
                      : "strftime('%Y-%m-%dT%H:%M:%f', 'now', 'localtime')";
}

bool Named(const std::vector<std::string>& present, const std::string& name) {
  return std::any_of(present.begin(), present.end(), [&](const std::string& t) { return SameText(t, name); });
}

// What a trigger needs of one shop table.
struct TTriggerTable {
  std::string name;  // the shop's spelling
  std::vector<std::string> columns;
  std::string ident;  // the identifier column; empty for none
  bool hasCard = false;
};

std::vector<TTriggerTable> TriggerTables(TShopConnection& c) {
  std::vector<TTriggerTable> tables;
  const std::vector<std::string> present = c.TableNames();
  for (const std::string& name : ShopTableNames()) {
    if (!Named(present, name)) continue;
    TTriggerTable table{name, {}, "", false};
    const TTableDef* def = FindShopTable(name);
    for (const TColumnInfo& column : c.Columns(name)) {
      const std::string spelt = ShopColumnSpelling(name, column.name);
      table.columns.push_back(spelt);
      if (SameText(spelt, "td_ID")) table.hasCard = true;
    }
    for (const TColumnDef& column : def->columns)
      if (column.unique && table.ident.empty()) table.ident = column.name;
    tables.push_back(std::move(table));
  }
  return tables;
}

// --- SQLite: a trigger a statement, the version found by its mark.
//
// Every connection to the file reads the triggers' text when it opens, so
// they are kept short: values are stored as they are (the value columns
// have no type on a file), and the version is found by a mark.

// A change outside the program marks its version with the statement's
// moment, which SQLite keeps the same for the whole statement.
const std::string kSqliteMark = "IN('program',julianday('now'))";

std::string SqliteOpenVersion() {
  return std::string("INSERT INTO \"") + kVersionTable +
         "\" SELECT v,strftime('%Y-%m-%dT%H:%M:%f','now','localtime')," + Quoted(kOutsideAuthor) + ",''," +
         Quoted(kOriginOutside) + ",NULL,julianday('now') FROM (SELECT " + "COALESCE(MAX(version),0)+1 v FROM \"" +
         kVersionTable + "\")WHERE NOT EXISTS(SELECT 1 FROM \"" + kVersionTable + "\" WHERE txn " + kSqliteMark + ");";
}

void InstallSqliteTriggers(TShopConnection& c, const TTriggerTable& t) {
  const std::string table = QuoteIdentifier(t.name);
  // The change rows of one row: its key, identifier and card, then each
  // column with its value before and after.
  auto insertChanges = [&](const char* row, bool withOld, bool withNew, const std::string& where) {
    std::string values = std::string("SELECT '*' c,") + (withOld && !withNew ? "1" : "NULL") + " b," +
                         (withNew && !withOld ? "1" : "NULL") + " a";
    for (const std::string& column : t.columns) {
      const std::string q = QuoteIdentifier(column);
      values += " UNION ALL SELECT " + Quoted(column) + "," + (withOld ? "OLD." + q : "NULL") + "," +
                (withNew ? "NEW." + q : "NULL");
    }
    const std::string at = std::string(row) + ".";
    return std::string("INSERT INTO \"") + kChangeTable + "\" SELECT (SELECT MAX(version) FROM \"" + kVersionTable +
           "\" WHERE txn " + kSqliteMark + ")," + Quoted(t.name) + "," + at + "rowid," +
           (t.ident.empty() ? std::string("NULL") : at + QuoteIdentifier(t.ident)) + "," +
           (t.hasCard ? at + "\"td_ID\"" : std::string("NULL")) + ",c,b,a FROM(" + values + ")WHERE " + where + ";";
  };
  std::string changed;
  for (const std::string& column : t.columns)
    changed +=
        (changed.empty() ? "" : " OR ") + ("OLD." + QuoteIdentifier(column) + " IS NOT NEW." + QuoteIdentifier(column));
  if (changed.empty()) changed = "0";
  const std::string prefix = "\"SettingsHistory_" + t.name;
  for (const char* what : {"insert", "update", "delete"})
    c.Execute("DROP TRIGGER IF EXISTS " + prefix + "_" + what + "\"");
  c.Execute("CREATE TRIGGER " + prefix + "_insert\" AFTER INSERT ON " + table + " BEGIN " + SqliteOpenVersion() +
            insertChanges("NEW", false, true, "a IS NOT NULL") + "END");
  c.Execute("CREATE TRIGGER " + prefix + "_update\" AFTER UPDATE ON " + table + " WHEN " + changed + " BEGIN " +
            SqliteOpenVersion() + insertChanges("NEW", true, true, "c<>'*' AND b IS NOT a") + "END");
  c.Execute("CREATE TRIGGER " + prefix + "_delete\" AFTER DELETE ON " + table + " BEGIN " + SqliteOpenVersion() +
            insertChanges("OLD", true, false, "b IS NOT NULL") + "END");
}

// On a file the values, identifiers and marks are kept as they are, in
// columns without a type: SQLite would turn a real into a text of 15 digits.
const std::set<std::string> kUntypedOnFile = {"row_ident", "old_value", "new_value", "txn"};

void CreateHistoryTable(TShopConnection& c, const TTableDef& table) {
  if (c.IsServer()) return c.CreateTable(table);
  std::string sql = "CREATE TABLE " + QuoteIdentifier(table.name) + " (";
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const TColumnDef& column = table.columns[i];
    sql += (i ? ", " : "") + QuoteIdentifier(column.name);
    if (!kUntypedOnFile.count(column.name))
      sql += column.kind == TFieldKind::Integer ? " INTEGER" : column.kind == TFieldKind::Real ? " REAL" : " TEXT";
    const std::string constraints = ColumnConstraintSql(column);
    if (!constraints.empty()) sql += " " + constraints;
  }
  c.Execute(sql + ")");
  for (const std::string& column : table.indexed)
    c.Execute("CREATE INDEX " + QuoteIdentifier(table.name + "_" + column) + " ON " + QuoteIdentifier(table.name) +
              " (" + QuoteIdentifier(column) + ")");
}

// --- The server: one function finds or opens the transaction's version,
// one function a table writes its changes.

// The transaction's version is kept in a setting of the transaction, so a
// row's change finds it without a query; the program's save sets it when it
// opens its version, a change outside the program when it opens one.
constexpr const char* kVersionSetting = "selvo.settings_version";

void InstallServerVersionFunction(TShopConnection& c) {
  const std::string versions = c.Identifier(kVersionTable);
  c.Execute(std::string("CREATE OR REPLACE FUNCTION selvo_settings_version() RETURNS bigint LANGUAGE plpgsql\n") +
            // The shop's schema, whatever the writing session's search path.
            "SET search_path FROM CURRENT AS $f$\n"
            "DECLARE v bigint := NULLIF(current_setting(" +
            Quoted(kVersionSetting) +
            ", true), '')::bigint;\n"
            "BEGIN\n"
            "  IF v IS NULL THEN\n"
            "    PERFORM pg_advisory_xact_lock(" +
            kSaveLockKey +
            ");\n"
            "    SELECT COALESCE(MAX(version), 0) + 1 INTO v FROM " +
            versions +
            ";\n"
            "    INSERT INTO " +
            versions + " (version, moment, author, role, origin) VALUES (v, " + MomentSql(c) + ", " +
            Quoted(kOutsideAuthor) + ", current_user, " + Quoted(kOriginOutside) +
            ");\n"
            "    PERFORM set_config(" +
            Quoted(kVersionSetting) +
            ", v::text, true);\n"
            "    PERFORM pg_notify(" +
            Quoted(kSaveChannel) +
            ", v::text);\n"
            "  END IF;\n"
            "  RETURN v;\n"
            "END $f$");
}

// The row is read as JSON, so a column dropped from the table since reads as
// null instead of failing every write of the table.
void InstallServerTriggers(TShopConnection& c, const TTriggerTable& t) {
  const std::string function = "selvo_settings_history_" + LowerCase(t.name);
  std::string columns;
  for (const std::string& column : t.columns)
    columns += (columns.empty() ? "(" : ", (") + Quoted(column) + ", " + Quoted(LowerCase(column)) + ")";
  if (columns.empty()) columns = "(NULL, NULL)";
  auto field = [&](const std::string& column) { return "COALESCE(n, o) ->> " + Quoted(LowerCase(column)); };
  // The columns are the row's own keys, so one added to the table by hand
  // is recorded too (under the shop's spelling where the shop knows it).
  const std::string head = "  INSERT INTO " + c.Identifier(kChangeTable) +
                           " (version, table_name, row_key, row_ident, card, column_name, old_value, new_value)\n"
                           "  SELECT v, " +
                           Quoted(t.name) + ", (" + field("rowid") + ")::bigint, " +
                           (t.ident.empty() ? std::string("NULL") : field(t.ident)) + ", " +
                           (t.hasCard ? "(" + field("td_ID") + ")::bigint" : std::string("NULL")) + ", ";
  c.Execute("CREATE OR REPLACE FUNCTION " + function +
            "() RETURNS trigger LANGUAGE plpgsql SET extra_float_digits = 1 SET search_path FROM CURRENT AS $f$\n"
            "DECLARE\n"
            "  v bigint := selvo_settings_version();\n"
            "  o jsonb := CASE WHEN TG_OP <> 'INSERT' THEN to_jsonb(OLD) END;\n"
            "  n jsonb := CASE WHEN TG_OP <> 'DELETE' THEN to_jsonb(NEW) END;\n"
            "BEGIN\n"
            "  IF o IS NULL OR n IS NULL THEN\n" +
            head +
            "'*', CASE WHEN n IS NULL THEN '1' END, CASE WHEN o IS NULL THEN '1' END;\n"
            "  END IF;\n" +
            head +
            "COALESCE(c.name, k.key), o ->> k.key, n ->> k.key\n"
            "  FROM jsonb_object_keys(COALESCE(n, o)) AS k(key) LEFT JOIN (VALUES " +
            columns +
            ") AS c(name, field) ON c.field = k.key\n"
            "  WHERE k.key <> 'rowid' AND (o ->> k.key) IS DISTINCT FROM (n ->> k.key);\n"
            "  RETURN NULL;\n"
            "END $f$");
  // TRUNCATE removes rows without a row's trigger: refused, so that nothing
  // leaves the tables unrecorded.
  c.Execute(
      "CREATE OR REPLACE FUNCTION selvo_settings_no_truncate() RETURNS trigger LANGUAGE plpgsql AS $f$\n"
      "BEGIN RAISE EXCEPTION 'таблицы настроек магазина не очищаются TRUNCATE: удалите строки DELETE, чтобы "
      "история настроек их записала'; END $f$");
  const std::string table = c.Identifier(t.name);
  const std::string trigger = c.Identifier("SettingsHistory_" + t.name);
  const std::string updateTrigger = c.Identifier("SettingsHistory_" + t.name + "_update");
  const std::string truncateTrigger = c.Identifier("SettingsHistory_" + t.name + "_truncate");
  c.Execute("DROP TRIGGER IF EXISTS " + trigger + " ON " + table);
  c.Execute("DROP TRIGGER IF EXISTS " + updateTrigger + " ON " + table);
  c.Execute("DROP TRIGGER IF EXISTS " + truncateTrigger + " ON " + table);
  c.Execute("CREATE TRIGGER " + truncateTrigger + " BEFORE TRUNCATE ON " + table +
            " FOR EACH STATEMENT EXECUTE FUNCTION selvo_settings_no_truncate()");
  c.Execute("CREATE TRIGGER " + trigger + " AFTER INSERT OR DELETE ON " + table + " FOR EACH ROW EXECUTE FUNCTION " +
            function + "()");
  // An UPDATE that changes nothing makes no version.
  c.Execute("CREATE TRIGGER " + updateTrigger + " AFTER UPDATE ON " + table +
            " FOR EACH ROW WHEN (OLD.* IS DISTINCT FROM NEW.*) EXECUTE FUNCTION " + function + "()");
}

bool ShopHoldsRows(TShopConnection& c) {
  for (const TTriggerTable& table : TriggerTables(c))
    if (!std::holds_alternative<std::monostate>(c.QueryValue("SELECT 1 FROM " + c.Identifier(table.name) + " LIMIT 1")))
      return true;
  return false;
}

// --- Reading.

std::string VersionColumns() { return "version, moment, author, role, origin, restored"; }

TSettingsVersion VersionOf(const std::vector<TVariant>& v) {
  TSettingsVersion version;
  version.number = LinkKey(v[0]).value_or(0);
  version.moment = ValueText(v[1]);
  version.author = ValueText(v[2]);
  version.role = ValueText(v[3]);
  version.origin = ValueText(v[4]);
  version.restored = LinkKey(v[5]).value_or(0);
  return version;
}

// A stored value as text with every digit: a file keeps values as they are,
// the server as its own exact text.
std::optional<std::string> OptionalText(const TVariant& value) {
  if (std::holds_alternative<std::monostate>(value)) return std::nullopt;
  if (const double* real = std::get_if<double>(&value)) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), *real).ptr;
    return std::string(text.data(), end);
  }
  return ValueText(value);
}

std::string ChangeColumns() {
  return "version, table_name, row_key, row_ident, card, column_name, old_value, new_value";
}

TSettingsChange ChangeOf(const std::vector<TVariant>& v) {
  TSettingsChange change;
  change.version = LinkKey(v[0]).value_or(0);
  change.table = ValueText(v[1]);
  change.rowKey = LinkKey(v[2]).value_or(0);
  change.key = OptionalText(v[3]).value_or("");
  change.card = LinkKey(v[4]);
  change.column = ValueText(v[5]);
  change.before = OptionalText(v[6]);
  change.after = OptionalText(v[7]);
  return change;
}

std::string Table(TShopConnection& c, const char* name) { return c.Identifier(name); }

}  // namespace

const std::vector<std::string>& SettingsHistoryTables() {
  static const std::vector<std::string> names = {kVersionTable, kChangeTable, kCopyTable};
  return names;
}

bool HasSettingsHistory(TShopConnection& connection) {
  const std::vector<std::string> present = connection.TableNames();
  for (const std::string& name : SettingsHistoryTables())
    if (!Named(present, name)) return false;
  return true;
}

void InstallSettingsHistory(TShopConnection& connection) {
  const std::vector<std::string> present = connection.TableNames();
  bool created = false;
  for (const TTableDef& table : HistoryTables())
    if (!Named(present, table.name)) {
      CreateHistoryTable(connection, table);
      created = true;
    }
  // A shop that held settings before its history began: what it held is
  // where every version starts from.
  if (created && ShopHoldsRows(connection)) WriteSettingsCopy(connection, 0);
  if (connection.IsServer()) InstallServerVersionFunction(connection);
  for (const TTriggerTable& table : TriggerTables(connection)) {
    if (connection.IsServer())
      InstallServerTriggers(connection, table);
    else
      InstallSqliteTriggers(connection, table);
  }
}

void EnsureSettingsHistory(TShopConnection& c) {
  if (HasSettingsHistory(c)) {
    const std::vector<TTriggerTable> tables = TriggerTables(c);
    if (c.IsServer()) {
      // The server's triggers read the row whole: they need only be there.
      const TVariant count = c.QueryValue(
          "SELECT COUNT(*) FROM pg_trigger WHERE NOT tgisinternal AND tgname LIKE 'settingshistory\\_%' "
          "AND tgrelid IN (SELECT oid FROM pg_class WHERE relnamespace = current_schema()::regnamespace)");
      if (LinkKey(count).value_or(0) == static_cast<std::int64_t>(3 * tables.size())) return;
    } else {
      // A file's name every column: a column added by hand needs them anew.
      std::map<std::string, std::string> triggers;
      c.Query(
          "SELECT name, sql FROM sqlite_master WHERE type = 'trigger' AND name LIKE 'SettingsHistory\\_%' "
          "ESCAPE '\\'",
          {}, [&](std::vector<TVariant>& v) { triggers[ValueText(v[0])] = ValueText(v[1]); });
      bool whole = triggers.size() == 3 * tables.size();
      for (const TTriggerTable& table : tables) {
        const std::string& update = triggers["SettingsHistory_" + table.name + "_update"];
        for (const std::string& column : table.columns)
          whole = whole && update.find("NEW." + QuoteIdentifier(column)) != std::string::npos;
      }
      if (whole) return;
    }
  }
  InstallSettingsHistory(c);
}

void CarrySettingsHistory(TShopConnection& from, TShopConnection& to) {
  if (!HasSettingsHistory(from)) return;
  for (const TTableDef& table : HistoryTables()) {
    std::string list;
    std::string marks;
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      list += (i ? ", " : "") + table.columns[i].name;
      marks += (i ? ", $" : "$") + std::to_string(i + 1);
    }
    const std::string insert = "INSERT INTO " + to.Identifier(table.name) + " (" + list + ") VALUES (" + marks + ")";
    from.Query("SELECT " + list + " FROM " + from.Identifier(table.name) + " ORDER BY rowid", {},
               [&](std::vector<TVariant>& v) { to.Query(insert, v, [](std::vector<TVariant>&) {}); });
  }
}

std::string ComputerName() {
  std::array<char, 256> host{};
  if (gethostname(host.data(), host.size() - 1) != 0) return {};
  return host.data();
}

std::string ProgramAuthor() {
  std::string user;
  if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) user = pw->pw_name;
  if (user.empty()) user = std::to_string(geteuid());
  const std::string computer = ComputerName();
  return user + "@" + (computer.empty() ? std::string("?") : computer);
}

TSettingsVersion BeginSettingsVersion(TShopConnection& c, const std::string& origin, std::int64_t restored) {
  const std::string versions = Table(c, kVersionTable);
  const std::string insert = "INSERT INTO " + versions +
                             " (version, moment, author, role, origin, restored, txn) SELECT COALESCE(MAX(version), 0) "
                             "+ 1, " +
                             MomentSql(c) + ", $1, " + (c.IsServer() ? "current_user" : "''") + ", $2, $3, " +
                             (c.IsServer() ? "NULL" : Quoted(kProgramMark)) + " FROM " + versions + " RETURNING " +
                             VersionColumns();
  const std::string sql = c.IsServer() ? "WITH opened AS (" + insert + ") SELECT opened.*, set_config(" +
                                             Quoted(kVersionSetting) + ", opened.version::text, true) FROM opened"
                                       : insert;
  // On a file an outside version stays open to the statements of its
  // millisecond; a save of the program closes it for good.
  if (!c.IsServer()) c.Execute("UPDATE " + versions + " SET txn = NULL WHERE txn IS NOT NULL");
  std::optional<TSettingsVersion> opened;
  c.Query(sql, {ProgramAuthor(), origin, restored > 0 ? TVariant(restored) : TVariant()},
          [&](std::vector<TVariant>& v) { opened = VersionOf(v); });
  if (!opened || opened->number <= 0) throw EDatabaseError("версия настроек не записана");
  return *opened;
}

std::int64_t FinishSettingsVersion(TShopConnection& c, const TSettingsVersion& version) {
  const std::string versions = Table(c, kVersionTable);
  const TVariant number(version.number);
  // A new shop is a version even when empty: the tables it replaced are gone.
  const std::string closeIfChanged =
      version.origin == kOriginInit ? ""
                                    : " AND EXISTS (SELECT 1 FROM " + Table(c, kChangeTable) + " WHERE version = $1)";
  if (c.IsServer()) {
    // One round trip: the version closed, or dropped when it changed nothing.
    std::int64_t closed = 0;
    c.Query("WITH closed AS (UPDATE " + versions + " SET txn = NULL WHERE version = $1" + closeIfChanged +
                " RETURNING version), dropped AS (DELETE FROM " + versions +
                " WHERE version = $1 AND NOT EXISTS (SELECT 1 FROM closed)) SELECT COUNT(*) FROM closed",
            {number}, [&](std::vector<TVariant>& v) { closed = LinkKey(v[0]).value_or(0); });
    if (closed == 0) return 0;
  } else if (c.Query("UPDATE " + versions + " SET txn = NULL WHERE version = $1" + closeIfChanged, {number},
                     [](std::vector<TVariant>&) {}) == 0) {
    c.Query("DELETE FROM " + versions + " WHERE version = $1", {number}, [](std::vector<TVariant>&) {});
    return 0;
  }
  if (SettingsCopyDue(c, version.number, version.origin)) WriteSettingsCopy(c, version.number);
  return version.number;
}

TSettingsVersion NewestSettingsVersion(TShopConnection& c) {
  if (!HasSettingsHistory(c)) return {};
  TSettingsVersion newest;
  c.Query("SELECT " + VersionColumns() + " FROM " + Table(c, kVersionTable) + " ORDER BY version DESC LIMIT 1", {},
          [&](std::vector<TVariant>& v) { newest = VersionOf(v); });
  return newest;
}

std::optional<TSettingsVersion> FindSettingsVersion(TShopConnection& c, std::int64_t number) {
  std::optional<TSettingsVersion> found;
  if (!HasSettingsHistory(c)) return found;
  c.Query("SELECT " + VersionColumns() + " FROM " + Table(c, kVersionTable) + " WHERE version = $1", {TVariant(number)},
          [&](std::vector<TVariant>& v) { found = VersionOf(v); });
  return found;
}

std::vector<TSettingsChange> ReadSettingsChanges(TShopConnection& c, std::int64_t first, std::int64_t last) {
  std::vector<TSettingsChange> changes;
  c.Query("SELECT " + ChangeColumns() + " FROM " + Table(c, kChangeTable) +
              " WHERE version >= $1 AND version <= $2 ORDER BY rowid",
          {TVariant(first), TVariant(last)}, [&](std::vector<TVariant>& v) { changes.push_back(ChangeOf(v)); });
  return changes;
}

std::vector<TVersionWithChanges> ReadSettingsHistory(TShopConnection& c, const THistoryFilter& filter) {
  std::vector<TVersionWithChanges> history;
  if (!HasSettingsHistory(c)) return history;
  // Another connection's open version is not seen; only committed ones are.
  std::string where = " WHERE 1 = 1";
  std::vector<TVariant> params;
  if (!filter.since.empty()) {
    params.emplace_back(filter.since);
    where += " AND moment >= $" + std::to_string(params.size());
  }
  if (filter.card) {
    params.emplace_back(*filter.card);
    where += " AND version IN (SELECT version FROM " + Table(c, kChangeTable) + " WHERE card = $" +
             std::to_string(params.size()) + ")";
  }
  const std::string listed = "SELECT version FROM " + Table(c, kVersionTable) + where;
  const std::string sql =
      "SELECT " + VersionColumns() + " FROM " + Table(c, kVersionTable) + where + " ORDER BY version DESC";
  std::map<std::int64_t, std::size_t> place;
  c.Query(sql, params, [&](std::vector<TVariant>& v) {
    place[LinkKey(v[0]).value_or(0)] = history.size();
    history.push_back({VersionOf(v), {}});
  });
  if (history.empty()) return history;
  // Only the changes of the versions listed.
  c.Query("SELECT " + ChangeColumns() + " FROM " + Table(c, kChangeTable) + " WHERE version IN (" + listed +
              ") ORDER BY rowid",
          params, [&](std::vector<TVariant>& v) {
            TSettingsChange change = ChangeOf(v);
            const auto at = place.find(change.version);
            if (at != place.end()) history[at->second].changes.push_back(std::move(change));
          });
  return history;
}

TVariant StoredValue(const std::optional<std::string>& text, TFieldKind kind) {
  if (!text) return {};
  switch (kind) {
    case TFieldKind::Integer:
      if (const auto number = ParseInteger(*text)) return *number;
      break;
    case TFieldKind::Real: {
      char* end = nullptr;
      const double number = std::strtod(text->c_str(), &end);
      if (end && *end == '\0' && !text->empty()) return number;
      break;
    }
    case TFieldKind::Text: break;
  }
  return *text;
}

}  // namespace selvo::host
