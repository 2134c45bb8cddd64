#include "host/shopdb/SqliteConnection.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/SqliteStatement.h"

namespace selvo::host {

TSqliteConnection::TSqliteConnection(const std::string& path) : path_(path) {
  struct stat st;
  if (stat(path_.c_str(), &st) != 0) {
    if (errno == ENOENT) throw EDatabaseError("Файл базы данных магазина \"" + path_ + "\" не найден");
    throw EDatabaseError("Нет доступа к файлу базы данных магазина \"" + path_ + "\": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) throw EDatabaseError("\"" + path_ + "\" не является файлом базы данных магазина");

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
    throw EDatabaseError("Не удалось открыть базу данных магазина \"" + path_ + "\": " + message);
  }
  sqlite3_busy_timeout(db_, 5000);  // another till may hold the file for a moment
}

TSqliteConnection::TSqliteConnection(sqlite3* db, std::string path) : path_(std::move(path)), db_(db), owned_(false) {}

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
        e.SetMessage("База данных магазина \"" + path_ + "\" занята другим процессом: " + e.Message());
        break;
      case SQLITE_READONLY:
      case SQLITE_PERM:
      case SQLITE_CANTOPEN:
      case SQLITE_IOERR:
      case SQLITE_AUTH: e.SetMessage("Нет доступа к базе данных магазина \"" + path_ + "\": " + e.Message()); break;
      default: e.SetMessage("Файл \"" + path_ + "\" не является базой данных магазина: " + e.Message());
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
                       KindOfDeclaredType(typeText ? *typeText : std::string())});
  }
  return columns;
}

void TSqliteConnection::CreateTable(const TTableDef& table) {
  ExecSql(db_, CreateTableSql(table));
  for (const std::string& sql : CreateIndexSql(table, *this)) ExecSql(db_, sql);
}

void TSqliteConnection::Begin() { ExecSql(db_, "BEGIN IMMEDIATE"); }
void TSqliteConnection::Commit() { ExecSql(db_, "COMMIT"); }
void TSqliteConnection::Rollback() { ExecSql(db_, "ROLLBACK"); }
bool TSqliteConnection::InTransaction() { return sqlite3_get_autocommit(db_) == 0; }
void TSqliteConnection::BeginSnapshot() { ExecSql(db_, "BEGIN"); }
void TSqliteConnection::EndSnapshot() { ExecSql(db_, "COMMIT"); }

}  // namespace selvo::host
