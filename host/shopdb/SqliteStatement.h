// Small RAII helpers over the SQLite C interface for the host side: one
// prepared statement, and plain SQL execution. Every failure raises
// EDatabaseError carrying SQLite's own message.
#pragma once

#include <cstdint>
#include <string>

#include "host/shopdb/ShopConnection.h"
#include "selvo/Errors.h"
#include "selvo/SelvoPaymentsTypes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace selvo::host {

// What an SQLite result code says about the file: one that cannot be
// opened or read is Unreachable, a lock another connection holds a
// Conflict, a broken table rule a Constraint, a damaged file or one that is
// no database Corrupt.
TDatabaseErrorKind SqliteErrorKind(int resultCode);
// EDatabaseError with SQLite's message of db's last failure and its kind.
[[noreturn]] void ThrowSqliteError(sqlite3* db, int resultCode);

// Runs one or more SQL statements that return no rows.
void ExecSql(sqlite3* db, const std::string& sql);

class TSqliteStatement {
 public:
  // Prepares sql on db; EDatabaseError when SQLite refuses it.
  TSqliteStatement(sqlite3* db, const std::string& sql);
  ~TSqliteStatement();
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;

  // Parameters count from 1.
  void Bind(int index, const TVariant& value);
  void BindInt(int index, std::int64_t value);
  // Steps once: true when a row is available, false when the statement is
  // done. EDatabaseError on failure.
  bool Step();
  void Reset();

  int ColumnCount() const;
  // The column of the current row as a value: null, integer, real or text
  // (a blob is read as its bytes).
  TVariant Column(int index) const;
  std::int64_t ColumnInt(int index) const;
  bool ColumnIsNull(int index) const;

  sqlite3_stmt* Handle() const { return stmt_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace selvo::host
