#include "host/shopdb/PgConnection.h"

#include "host/shopdb/SettingsHistory.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

// Type identifiers of the server's built-in types (pg_type.oid).
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;

// How long a save waits for another computer's save to end (SQLite's busy
// wait on one file is as long).
constexpr const char* kSaveLockWait = "5s";
constexpr const char* kSaveLockWaitText = "5 с";

constexpr TDatabaseErrorKind kUnreachable = TDatabaseErrorKind::Unreachable;

// How long any statement may take before the connection is given up: a
// server that stops answering (frozen, not gone) must not hold a till's
// sale or the editor's window. Saves wait for each other for less.
constexpr std::chrono::seconds kStatementWait{10};
constexpr const char* kStatementWaitText = "10 с";

struct TResultFree {
  void operator()(PGresult* result) const { PQclear(result); }
};
using TResult = std::unique_ptr<PGresult, TResultFree>;

// The first line of a libpq message, without its "ERROR:  " head.
std::string FirstLine(const char* message) {
  std::string text = message ? message : "";
  if (auto end = text.find('\n'); end != std::string::npos) text.resize(end);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text.empty() ? "нет ответа сервера" : text;
}

std::string FieldText(const PGresult* result, int field) {
  const char* text = PQresultErrorField(result, field);
  return text ? text : "";
}

std::string ParamText(const TVariant& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&value)) {
    if (std::isnan(*d)) return "NaN";
    if (std::isinf(*d)) return *d > 0 ? "Infinity" : "-Infinity";
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d);  // shortest text that reads back exactly
    return std::string(buffer, end);
  }
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  return std::string();
}

TVariant ResultValue(const PGresult* result, int row, int column) {
  if (PQgetisnull(result, row, column)) return TVariant();
  const char* text = PQgetvalue(result, row, column);
  const int length = PQgetlength(result, row, column);
  switch (PQftype(result, column)) {
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid: {
      std::int64_t value = 0;
      std::from_chars(text, text + length, value);
      return TVariant(value);
    }
    case kFloat4Oid:
    case kFloat8Oid:
    case kNumericOid: return TVariant(std::strtod(text, nullptr));  // also "Infinity" and "NaN"
    case kBoolOid: return TVariant(static_cast<std::int64_t>(text[0] == 't' ? 1 : 0));
    default: return TVariant(std::string(text, static_cast<std::size_t>(length)));
  }
}

const char* ServerType(TFieldKind kind) {
  switch (kind) {
    case TFieldKind::Integer: return "BIGINT";  // SQLite's integers are 64-bit
    case TFieldKind::Real: return "DOUBLE PRECISION";
    case TFieldKind::Text: break;
  }
  return "TEXT";
}

// The kind of a column from its type as format_type names it. Types the
// shop does not use keep the SQL type-name rule (INT, CHAR/TEXT, else a
// number), as SQLite reads a declared type.
TFieldKind ServerFieldKind(const std::string& type) {
  for (const char* whole : {"bigint", "integer", "smallint"})
    if (type == whole) return TFieldKind::Integer;
  for (const char* real : {"double precision", "real"})
    if (type == real) return TFieldKind::Real;
  if (type.rfind("numeric", 0) == 0) return TFieldKind::Real;
  if (type == "text" || type.rfind("character", 0) == 0) return TFieldKind::Text;
  const std::string t = UpperCase(type);
  if (t.find("INT") != std::string::npos) return TFieldKind::Integer;
  if (t.find("CHAR") != std::string::npos || t.find("TEXT") != std::string::npos) return TFieldKind::Text;
  return TFieldKind::Real;
}

// What a server's error code (SQLSTATE) says about the database.
TDatabaseErrorKind SqlStateKind(const std::string& state) {
  if (state.rfind("08", 0) == 0) return TDatabaseErrorKind::Unreachable;  // connection exceptions
  // The server shutting down, cancelled by an administrator, or not
  // taking connections yet.
  if (state == "57P01" || state == "57P02" || state == "57P03") return TDatabaseErrorKind::Unreachable;
  if (state == "40001" || state == "40P01" || state == "55P03") return TDatabaseErrorKind::Conflict;
  if (state.rfind("23", 0) == 0) return TDatabaseErrorKind::Constraint;
  if (state == "XX001" || state == "XX002") return TDatabaseErrorKind::Corrupt;
  return TDatabaseErrorKind::Other;
}

void IgnoreNotice(void*, const char*) {}

std::string Description(const std::string& db, const std::string& host, const std::string& port) {
  return "\"" + db + "\" на сервере " + (host.empty() ? "localhost" : host) + (port.empty() ? "" : ":" + port);
}

}  // namespace

std::string DescribeServerAddress(const std::string& address) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(LibpqAddress(address).c_str(), &error);
  PQfreemem(error);
  if (!options) return "сервер PostgreSQL";
  std::map<std::string, std::string> given;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    if (o->val && *o->val) given[o->keyword] = o->val;
  PQconninfoFree(options);
  // What the address leaves out libpq takes from the service file's entry
  // it names (read only when connecting), else from its environment
  // variables (PGHOST, PGDATABASE, ...), as PQconndefaults gives them.
  if (given.count("service") && !given.count("dbname")) return "служба PostgreSQL \"" + given["service"] + "\"";
  if (!given.count("service")) {
    PQconninfoOption* defaults = PQconndefaults();
    for (PQconninfoOption* o = defaults; o && o->keyword; ++o)
      if (o->val && *o->val) given.emplace(o->keyword, o->val);
    PQconninfoFree(defaults);
  }
  const std::string db = given.count("dbname") ? given["dbname"] : given["user"];
  return Description(db, given["host"], given["port"]);
}

TPgConnection::TPgConnection(const std::string& address) {
  // The address's own settings come last and win over these defaults.
  const char* keys[] = {"connect_timeout", "client_encoding", "application_name", "dbname", nullptr};
  const std::string libpqAddress = LibpqAddress(address);
  const char* values[] = {"10", "UTF8", "selvo-host", libpqAddress.c_str(), nullptr};
  conn_ = PQconnectdbParams(keys, values, 1);
  if (!conn_) throw EDatabaseError("Не удалось подключиться к серверу базы данных магазина: нет памяти", kUnreachable);
  const char* host = PQhost(conn_);
  const char* port = PQport(conn_);
  const char* db = PQdb(conn_);
  describe_ = Description(db ? db : "", host ? host : "", port ? port : "");
  if (PQstatus(conn_) != CONNECTION_OK) {
    // It may quote the address: OpenShopConnection masks its passwords.
    const std::string message = FirstLine(PQerrorMessage(conn_));
    PQfinish(conn_);
    conn_ = nullptr;
    throw EDatabaseError("Не удалось подключиться к серверу базы данных магазина: " + message, kUnreachable);
  }
  PQsetNoticeProcessor(conn_, &IgnoreNotice, nullptr);
  // A save writes a change only where the row still holds the values it
  // read: older servers must give doubles back exactly for that.
  if (PQserverVersion(conn_) < 120000) Execute("SET extra_float_digits = 3");
}

TPgConnection::~TPgConnection() { PQfinish(conn_); }  // an open transaction is rolled back

std::string TPgConnection::Identifier(const std::string& name) const { return QuoteIdentifier(LowerCase(name)); }

std::string TPgConnection::TableList(std::vector<std::string> tables) const {
  for (std::string& table : tables) table = LowerCase(table);
  std::sort(tables.begin(), tables.end());
  std::string list;
  for (const std::string& table : tables) list += (list.empty() ? "" : ", ") + QuoteIdentifier(table);
  return list;
}

int TPgConnection::BackendPid() const { return PQbackendPID(conn_); }

void TPgConnection::Check(pg_result* result) const {
  const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
  std::string message = result ? FirstLine(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)) : std::string();
  if (!result || message == "нет ответа сервера") message = FirstLine(PQerrorMessage(conn_));
  TDatabaseErrorKind kind = SqlStateKind(result ? FieldText(result, PG_DIAG_SQLSTATE) : std::string());
  if (PQstatus(conn_) != CONNECTION_OK) {
    message = "соединение с сервером потеряно: " + message;
    kind = kUnreachable;
  }
  throw EDatabaseError(message, kind);
}

pg_result* TPgConnection::AwaitResult(int sent) {
  if (!sent) return nullptr;  // Check reports the connection's message
  const auto deadline = std::chrono::steady_clock::now() + kStatementWait;
  PGresult* last = nullptr;
  for (;;) {
    while (PQisBusy(conn_)) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        PQclear(last);
        AbandonConnection();
      }
      pollfd wait{PQsocket(conn_), POLLIN, 0};
      const int ready = poll(&wait, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno != EINTR) break;
      if (ready > 0 && !PQconsumeInput(conn_)) break;  // the connection is gone: the result says so
    }
    PGresult* next = PQgetResult(conn_);
    if (!next) break;
    // As PQexec answers: the last result, which is the error when there is
    // one (the server runs nothing after a failed statement).
    PQclear(last);
    last = next;
    if (PQstatus(conn_) != CONNECTION_OK) break;
  }
  return last;
}

void TPgConnection::AbandonConnection() {
  // No cancel request: a server that does not answer would not answer it
  // either. Closing the socket makes the connection bad; the next save
  // opens it anew.
  shutdown(PQsocket(conn_), SHUT_RDWR);
  PQconsumeInput(conn_);
  while (PGresult* rest = PQgetResult(conn_)) {
    PQclear(rest);
    if (PQstatus(conn_) != CONNECTION_OK) break;
  }
  throw EDatabaseError(
      std::string("сервер базы данных магазина не ответил за ") + kStatementWaitText + ": соединение закрыто",
      kUnreachable);
}

void TPgConnection::Execute(const std::string& sql) {
  catalogRead_ = false;  // the statement may have changed the tables
  const TResult result(AwaitResult(PQsendQuery(conn_, sql.c_str())));
  Check(result.get());
}

std::int64_t TPgConnection::Query(const std::string& sql, const std::vector<TVariant>& params, const TRowSink& row) {
  std::vector<std::string> texts;
  std::vector<const char*> pointers;
  texts.reserve(params.size());
  for (const TVariant& value : params) texts.push_back(ParamText(value));
  for (std::size_t i = 0; i < params.size(); ++i)
    pointers.push_back(std::holds_alternative<std::monostate>(params[i]) ? nullptr : texts[i].c_str());
  PGresult* raw = AwaitResult(PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                                pointers.data(), nullptr, nullptr, 0));
  const TResult result(raw);
  Check(raw);
  const int rows = PQntuples(raw);
  const int columns = PQnfields(raw);
  std::vector<TVariant> values;
  for (int r = 0; r < rows && row; ++r) {
    values.clear();
    values.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) values.push_back(ResultValue(raw, r, c));
    row(values);
  }
  const char* changed = PQcmdTuples(raw);
  return changed && *changed ? std::atoll(changed) : 0;
}

void TPgConnection::ReadCatalog() {
  if (catalogRead_) return;
  // One round trip for all tables: a till opens the shop on every sale.
  std::map<std::string, std::vector<TColumnInfo>> catalog;
  Query(
      "SELECT c.relname, a.attname, format_type(a.atttypid, a.atttypmod) FROM pg_catalog.pg_class c "
      "JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
      "WHERE c.relnamespace = to_regnamespace(current_schema())::oid AND c.relkind IN ('r', 'p') "
      "ORDER BY c.relname, a.attnum",
      {}, [&](std::vector<TVariant>& row) {
        std::vector<TColumnInfo>& columns = catalog[std::get<std::string>(row[0])];
        std::string& column = std::get<std::string>(row[1]);
        if (column == "rowid") return;
        columns.push_back({std::move(column), ServerFieldKind(std::get<std::string>(row[2]))});
      });
  catalog_ = std::move(catalog);
  catalogRead_ = true;
}

std::vector<std::string> TPgConnection::TableNames() {
  ReadCatalog();
  std::vector<std::string> names;
  for (const auto& [table, columns] : catalog_) names.push_back(table);
  return names;
}

std::vector<TColumnInfo> TPgConnection::Columns(const std::string& table) {
  ReadCatalog();
  for (const auto& [name, columns] : catalog_)
    if (SameText(name, table)) return columns;
  return {};
}

void TPgConnection::CreateTable(const TTableDef& table) {
  std::string sql = "CREATE TABLE " + Identifier(table.name) + " (";
  for (const TColumnDef& c : table.columns) {
    sql += Identifier(c.name) + " " + ServerType(c.kind);
    if (const std::string constraints = ColumnConstraintSql(c); !constraints.empty()) sql += " " + constraints;
    sql += ", ";
  }
  // The row key comes last, so that an INSERT without column names fills
  // the shop's columns in their order, as on SQLite.
  Execute(sql + "rowid BIGSERIAL PRIMARY KEY)");
  for (const std::string& column : table.indexed)
    Execute("CREATE INDEX " + Identifier(table.name + "_" + column) + " ON " + Identifier(table.name) + " (" +
            Identifier(column) + ")");
}

void TPgConnection::Reconnect() {
  if (PQstatus(conn_) == CONNECTION_OK) return;
  PQreset(conn_);
  if (PQstatus(conn_) != CONNECTION_OK)
    throw EDatabaseError("соединение с сервером потеряно: " + FirstLine(PQerrorMessage(conn_)), kUnreachable);
}

void TPgConnection::Begin() {
  // A connection that the server dropped after an earlier save (or a
  // refused commit) is opened anew here, where no transaction of it can be
  // lost: the changes that save kept pending can then be saved again.
  Reconnect();
  try {
    Execute("BEGIN");
  } catch (const EDatabaseError&) {
    // A server that restarted since the last statement is found out only
    // now; nothing of a transaction was lost with it, so once more anew.
    if (PQstatus(conn_) == CONNECTION_OK) throw;
    Reconnect();
    Execute("BEGIN");
  }
  try {
    // Saves from several computers wait for each other here, as SQLite's
    // BEGIN IMMEDIATE makes them do on one file, and as long as its busy
    // wait: one computer's open save must not freeze another's window.
    Execute(std::string("SET LOCAL lock_timeout = '") + kSaveLockWait + "'");
    Execute(std::string("SELECT pg_advisory_xact_lock(") + kSaveLockKey + ")");
    Execute("SET LOCAL lock_timeout = DEFAULT");
  } catch (const EDatabaseError& e) {
    RollbackIfOpen();
    if (e.Kind() == TDatabaseErrorKind::Conflict)
      throw EDatabaseError(std::string("другой компьютер сохраняет данные магазина дольше ") + kSaveLockWaitText +
                               ": сохранение не начато, повторите его позже",
                           TDatabaseErrorKind::Conflict);
    throw;
  }
}

void TPgConnection::Commit() {
  const TResult result(AwaitResult(PQsendQuery(conn_, "COMMIT")));
  Check(result.get());
  const std::string status = PQcmdStatus(result.get());
  // A transaction that a failed statement spoilt is "committed" as a
  // rollback: nothing of it reached the database.
  if (status != "COMMIT") throw EDatabaseError("сервер отменил транзакцию: изменения не сохранены");
}

void TPgConnection::Rollback() { Execute("ROLLBACK"); }

void TPgConnection::AnnounceSave(std::int64_t version) {
  Query("SELECT pg_notify($1, $2)", {std::string(kSaveChannel), version > 0 ? std::to_string(version) : std::string()},
        [](std::vector<TVariant>&) {});
}

bool TPgConnection::InTransaction() {
  switch (PQtransactionStatus(conn_)) {
    case PQTRANS_INTRANS:
    case PQTRANS_INERROR:
    case PQTRANS_ACTIVE: return true;
    default: return false;
  }
}

void TPgConnection::BeginSnapshot(const std::vector<std::string>& tables) {
  std::string sql = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY";
  if (!tables.empty()) sql += "; LOCK TABLE " + TableList(tables) + " IN ACCESS SHARE MODE";
  Execute(sql);
}
void TPgConnection::EndSnapshot() { Execute("COMMIT"); }

void BuildPgDatabase(const std::string& address, bool overwrite, const std::vector<std::string>& tables,
                     const TDatabaseFill& fill) {
  TPgConnection connection(address);
  try {
    connection.Begin();
    std::vector<std::string> dropped;
    for (const std::string& table : connection.TableNames()) {
      for (const std::string& name : tables) {
        if (!SameText(table, name)) continue;
        if (!overwrite) throw EDatabaseError("таблицы магазина уже есть (" + name + ")");
        dropped.push_back(table);
      }
    }
    if (!dropped.empty()) connection.Execute("DROP TABLE " + connection.TableList(dropped));
    fill(connection);
    connection.AnnounceSave(NewestSettingsVersion(connection).number);  // running tills load the new shop
    connection.Commit();
  } catch (EDatabaseError& e) {
    e.SetMessage("Не удалось создать базу данных магазина (" + connection.Describe() + "): " + e.Message());
    throw;
  }
}

}  // namespace selvo::host
