#include "host/shopdb/SqliteConnection.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/shopdb/SqliteStatement.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

constexpr TDatabaseErrorKind kUnreachable = TDatabaseErrorKind::Unreachable;

// SQLite's rule for a declared type: the column's affinity.
TFieldKind SqliteFieldKind(const std::string& declared) {
  const std::string t = UpperCase(declared);
  if (t.find("INT") != std::string::npos) return TFieldKind::Integer;
  if (t.find("CHAR") != std::string::npos || t.find("CLOB") != std::string::npos ||
      t.find("TEXT") != std::string::npos || t.find("BLOB") != std::string::npos || t.empty())
    return TFieldKind::Text;
  return TFieldKind::Real;  // REAL, FLOAT, DOUBLE (PRECISION) and NUMERIC
}

const char* SqliteType(TFieldKind kind) {
  switch (kind) {
    case TFieldKind::Integer: return "INTEGER";
    case TFieldKind::Real: return "REAL";
    case TFieldKind::Text: break;
  }
  return "TEXT";
}

}  // namespace

TSqliteConnection::TSqliteConnection(const std::string& path) : path_(path), describe_(WithoutPasswords(path, path)) {
  struct stat st;
  if (stat(path_.c_str(), &st) != 0) {
    if (errno == ENOENT)
      throw EDatabaseError("Файл базы данных магазина \"" + describe_ + "\" не найден", kUnreachable);
    throw EDatabaseError("Нет доступа к файлу базы данных магазина \"" + describe_ + "\": " + std::strerror(errno),
                         kUnreachable);
  }
  if (!S_ISREG(st.st_mode)) throw EDatabaseError("\"" + describe_ + "\" не является файлом базы данных магазина");

  int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
  }
  if (rc != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "нет памяти";
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw EDatabaseError("Не удалось открыть базу данных магазина \"" + describe_ + "\": " + message,
                         SqliteErrorKind(rc));
  }
  sqlite3_busy_timeout(db_, 5000);  // another till may hold the file for a moment
}

TSqliteConnection::TSqliteConnection(sqlite3* db, std::string path)
    : path_(std::move(path)), describe_(WithoutPasswords(path_, path_)), db_(db), owned_(false) {}

std::unique_ptr<TShopConnection> OpenMemoryShopConnection(const std::string& describe) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(db);
    throw EDatabaseError("Не удалось создать базу данных в памяти для " + describe);
  }
  auto connection = std::make_unique<TSqliteConnection>(db, describe);
  connection->owned_ = true;
  return connection;
}

TSqliteConnection::~TSqliteConnection() {
  if (owned_) sqlite3_close_v2(db_);  // an open transaction is rolled back
}

void TSqliteConnection::Execute(const std::string& sql) { ExecSql(db_, sql); }

std::int64_t TSqliteConnection::Query(const std::string& sql, const std::vector<TVariant>& params,
                                      const TRowSink& row) {
  TSqliteStatement statement(db_, sql);
  for (std::size_t i = 0; i < params.size(); ++i) statement.Bind(static_cast<int>(i) + 1, params[i]);
  const int count = statement.ColumnCount();
  std::vector<TVariant> values;
  while (statement.Step()) {
    values.clear();
    values.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) values.push_back(statement.Column(i));
    if (row) row(values);
  }
  return sqlite3_changes64(db_);
}

std::vector<std::string> TSqliteConnection::TableNames() {
  std::vector<std::string> names;
  try {
    TSqliteStatement select(db_, "SELECT name FROM sqlite_master WHERE type = 'table'");
    while (select.Step()) {
      const TVariant name = select.Column(0);
      if (const auto* s = std::get_if<std::string>(&name)) names.push_back(*s);
    }
  } catch (EDatabaseError& e) {
    // Only a file SQLite does not recognise is "not a shop database": a
    // database another process holds, or one that cannot be read, is said
    // to be so.
    switch (sqlite3_errcode(db_)) {
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        e.SetMessage("База данных магазина \"" + describe_ + "\" занята другим процессом: " + e.Message());
        break;
      case SQLITE_READONLY:
      case SQLITE_PERM:
      case SQLITE_CANTOPEN:
      case SQLITE_IOERR:
      case SQLITE_AUTH: e.SetMessage("Нет доступа к базе данных магазина \"" + describe_ + "\": " + e.Message()); break;
      // SQLite's own words ("file is not a database") say no more than this.
      default: e.SetMessage("Файл \"" + describe_ + "\" не является базой данных магазина");
    }
    throw;
  }
  return names;
}

std::vector<TColumnInfo> TSqliteConnection::Columns(const std::string& table) {
  std::vector<TColumnInfo> columns;
  TSqliteStatement info(db_, "PRAGMA table_info(" + QuoteIdentifier(table) + ")");
  while (info.Step()) {
    const TVariant name = info.Column(1);
    const TVariant type = info.Column(2);
    const auto* typeText = std::get_if<std::string>(&type);
    columns.push_back({std::get_if<std::string>(&name) ? std::get<std::string>(name) : std::string(),
                       SqliteFieldKind(typeText ? *typeText : std::string())});
  }
  return columns;
}

void TSqliteConnection::CreateTable(const TTableDef& table) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(table.name) + " (";
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const TColumnDef& c = table.columns[i];
    sql += (i ? ", " : "") + QuoteIdentifier(c.name) + " " + SqliteType(c.kind);
    if (const std::string constraints = ColumnConstraintSql(c); !constraints.empty()) sql += " " + constraints;
  }
  ExecSql(db_, sql + ")");
  for (const std::string& column : table.indexed)
    ExecSql(db_, "CREATE INDEX " + QuoteIdentifier(table.name + "_" + column) + " ON " + QuoteIdentifier(table.name) +
                     " (" + QuoteIdentifier(column) + ")");
}

void TSqliteConnection::Begin() { ExecSql(db_, "BEGIN IMMEDIATE"); }
void TSqliteConnection::Commit() { ExecSql(db_, "COMMIT"); }
void TSqliteConnection::Rollback() { ExecSql(db_, "ROLLBACK"); }
bool TSqliteConnection::InTransaction() { return sqlite3_get_autocommit(db_) == 0; }
void TSqliteConnection::BeginSnapshot(const std::vector<std::string>&) { ExecSql(db_, "BEGIN"); }
void TSqliteConnection::EndSnapshot() { ExecSql(db_, "COMMIT"); }

namespace {

bool FileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string SystemError(int error) { return std::strerror(error); }

[[noreturn]] void RefuseExisting(const std::string& path) {
  throw EDatabaseError("Файл базы данных \"" + path + "\" уже существует");
}

}  // namespace

void BuildSqliteDatabase(const std::string& path, bool overwrite, const TDatabaseFill& fill) {
  if (!overwrite && FileExists(path)) RefuseExisting(path);

  std::string temp = path + ".new-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0)
    throw EDatabaseError("Не удалось создать файл базы данных \"" + path + "\": " + SystemError(errno), kUnreachable);
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);  // as a file SQLite creates itself
  close(fd);

  sqlite3* db = nullptr;
  try {
    if (const int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr); rc != SQLITE_OK)
      throw EDatabaseError(db ? sqlite3_errmsg(db) : "нет памяти", SqliteErrorKind(rc));
    ExecSql(db, "BEGIN");
    {
      TSqliteConnection connection(db, temp);
      fill(connection);
    }
    ExecSql(db, "COMMIT");
    if (const int rc = sqlite3_close(db); rc != SQLITE_OK) ThrowSqliteError(db, rc);
    db = nullptr;
  } catch (EDatabaseError& e) {
    sqlite3_close_v2(db);
    unlink(temp.c_str());
    e.SetMessage("Не удалось создать базу данных \"" + path + "\": " + e.Message());
    throw;
  } catch (...) {
    sqlite3_close_v2(db);
    unlink(temp.c_str());
    throw;
  }

  if (overwrite) {
    // A journal left by the old file would be played back into the new one.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) unlink((path + suffix).c_str());
    if (rename(temp.c_str(), path.c_str()) != 0) {
      const int error = errno;
      unlink(temp.c_str());
      throw EDatabaseError("Не удалось записать файл базы данных \"" + path + "\": " + SystemError(error),
                           kUnreachable);
    }
    return;
  }
  // link() gives the name only when nobody took it meanwhile.
  if (link(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    if (error == EEXIST) {
      unlink(temp.c_str());
      RefuseExisting(path);
    }
    if (FileExists(path)) {
      unlink(temp.c_str());
      RefuseExisting(path);
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {  // a file system without hard links
      const int renameError = errno;
      unlink(temp.c_str());
      throw EDatabaseError("Не удалось записать файл базы данных \"" + path + "\": " + SystemError(renameError),
                           kUnreachable);
    }
    return;
  }
  unlink(temp.c_str());
}

}  // namespace selvo::host
