#include "host/shopdb/SqliteStatement.h"

#include <sqlite3.h>

namespace selvo::host {

TDatabaseErrorKind SqliteErrorKind(int resultCode) {
  switch (resultCode & 0xff) {  // the primary code of an extended one
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_NOLFS: return TDatabaseErrorKind::Unreachable;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return TDatabaseErrorKind::Conflict;
    case SQLITE_CONSTRAINT: return TDatabaseErrorKind::Constraint;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return TDatabaseErrorKind::Corrupt;
    default: return TDatabaseErrorKind::Other;
  }
}

void ThrowSqliteError(sqlite3* db, int resultCode) {
  throw EDatabaseError(db ? sqlite3_errmsg(db) : sqlite3_errstr(resultCode), SqliteErrorKind(resultCode));
}

void ExecSql(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db);
    sqlite3_free(error);
    throw EDatabaseError(message, SqliteErrorKind(rc));
  }
}

TSqliteStatement::TSqliteStatement(sqlite3* db, const std::string& sql) : db_(db) {
  const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    ThrowSqliteError(db, rc);
  }
}

TSqliteStatement::~TSqliteStatement() { sqlite3_finalize(stmt_); }

void TSqliteStatement::Bind(int index, const TVariant& value) {
  int rc = SQLITE_OK;
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    rc = sqlite3_bind_int64(stmt_, index, *i);
  } else if (const auto* d = std::get_if<double>(&value)) {
    rc = sqlite3_bind_double(stmt_, index, *d);
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    rc = sqlite3_bind_text(stmt_, index, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
  } else {
    rc = sqlite3_bind_null(stmt_, index);
  }
  if (rc != SQLITE_OK) ThrowSqliteError(db_, rc);
}

void TSqliteStatement::BindInt(int index, std::int64_t value) { Bind(index, TVariant(value)); }

bool TSqliteStatement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  std::string message = sqlite3_errmsg(db_);
  sqlite3_reset(stmt_);  // leaves the statement reusable after a failure
  throw EDatabaseError(message, SqliteErrorKind(rc));
}

void TSqliteStatement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int TSqliteStatement::ColumnCount() const { return sqlite3_column_count(stmt_); }

TVariant TSqliteStatement::Column(int index) const {
  switch (sqlite3_column_type(stmt_, index)) {
    case SQLITE_INTEGER: return TVariant(static_cast<std::int64_t>(sqlite3_column_int64(stmt_, index)));
    case SQLITE_FLOAT: return TVariant(sqlite3_column_double(stmt_, index));
    case SQLITE_NULL: return TVariant();
    default: {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, index));
      const int size = sqlite3_column_bytes(stmt_, index);
      return TVariant(std::string(bytes ? bytes : "", static_cast<std::size_t>(size)));
    }
  }
}

std::int64_t TSqliteStatement::ColumnInt(int index) const { return sqlite3_column_int64(stmt_, index); }

bool TSqliteStatement::ColumnIsNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }

}  // namespace selvo::host
