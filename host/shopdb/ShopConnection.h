// One connection to a shop database: an SQLite file (one till) or a
// PostgreSQL server (several tills and the back office). The datasets, their
// change log and their master-detail links are written once over this
// interface; the two connections differ only in how they talk to the
// database.
//
// Statements are written once for both: parameters are $1, $2, ... in
// order, and every table has a row key "rowid" (SQLite's own; a BIGSERIAL
// column on the server) that orders its rows and names one of them. Every
// failure raises EDatabaseError with the database's own message and a kind
// that says whether the database could not be reached, another user held it,
// the data broke a rule of the table or the database is damaged.
//
// Tables are described here in the same terms for both databases
// (TTableDef); each connection writes its own CREATE statements and types
// from them and knows nothing of the shop's tables. Which connection serves
// an address is decided in one place, DriverOf in ShopConnection.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/shopdb/ServerAddress.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// How a column's values are typed: whole numbers (also Boolean columns),
// floating-point numbers, or texts. Each connection maps its own declared
// types to these and these to its types.
enum class TFieldKind : std::uint8_t { Integer, Real, Text };

struct TColumnInfo {
  std::string name;
  TFieldKind kind;
};

// A column of a table to create, the same for both databases.
struct TColumnDef {
  std::string name;
  TFieldKind kind;
  bool notNull = false;
  bool unique = false;
  std::string defaultValue;  // an SQL literal ("0", "''"); empty for none
};

struct TTableDef {
  std::string name;
  std::vector<TColumnDef> columns;
  // Columns that get an index of their own (the detail links).
  std::vector<std::string> indexed;
};

// Puts an identifier in double quotes for SQL ("Check" is a key word).
std::string QuoteIdentifier(const std::string& name);

// A column's constraints as both databases write them, e.g. "NOT NULL
// DEFAULT 0"; empty when it has none.
std::string ColumnConstraintSql(const TColumnDef& column);

class TShopConnection {
 public:
  using TRowSink = std::function<void(std::vector<TVariant>& values)>;

  virtual ~TShopConnection() = default;

  // The database as messages name it: the file, or the database on its
  // server (never a password).
  virtual const std::string& Describe() const = 0;

  // A table or column name as this database spells it, quoted for SQL. The
  // server keeps names in lower case, as it folds names written without
  // quotes, so statements written without quotes work on both databases.
  virtual std::string Identifier(const std::string& name) const { return QuoteIdentifier(name); }
  // True when the database keeps its names in lower case: its callers then
  // name tables and columns as their own schema spells them.
  virtual bool FoldsNames() const { return false; }
  // True on the server (several computers, its own SQL dialect for what
  // the two databases write differently: triggers, clocks, locks).
  virtual bool IsServer() const { return false; }

  // Runs statements that return no rows.
  virtual void Execute(const std::string& sql) = 0;
  // Runs one statement with the parameters $1..$n and hands each row it
  // returns to `row`. Answers the number of rows the statement changed.
  virtual std::int64_t Query(const std::string& sql, const std::vector<TVariant>& params, const TRowSink& row) = 0;

  // The tables present, as the database spells them (the server in lower
  // case: callers compare names without regard to case).
  virtual std::vector<std::string> TableNames() = 0;
  // The columns of a table in their order, without the row key, as the
  // database spells them; empty when there is no such table. The table's
  // name is compared without regard to case.
  virtual std::vector<TColumnInfo> Columns(const std::string& table) = 0;
  // Creates a table with its indexes (the row key is added on the server).
  virtual void CreateTable(const TTableDef& table) = 0;

  // The host's write transaction: taken at once, so that two saves never
  // interleave. Commit raises when the database did not commit.
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // Inside the host's transaction, before its commit: tells the tills that
  // listen for it that the shop was saved, with the settings version saved
  // (0 for none), delivered only if the commit succeeds. Nothing on a
  // database without notifications: its tills ask the file whether it
  // changed.
  virtual void AnnounceSave(std::int64_t /*version*/) {}
  // True while a transaction is open (also one a failed statement spoilt).
  virtual bool InTransaction() = 0;
  // Rolls an open transaction back where that is still possible; false
  // when the database refused (a lost connection ends it anyway).
  bool RollbackIfOpen();
  // A read of the tables named that sees one committed state of them all,
  // and tables that are not dropped or made anew while they are read.
  virtual void BeginSnapshot(const std::vector<std::string>& tables) = 0;
  virtual void EndSnapshot() = 0;

  // Runs `work` so that, inside a transaction, its failure undoes only what
  // it wrote and leaves the transaction usable (a savepoint). `work` must
  // raise for any of its statements that failed: on the server a failed
  // statement spoils the transaction until the savepoint is rolled back.
  void Isolated(const std::function<void()>& work);

  // One value of one row (first column of the first row); null when none.
  TVariant QueryValue(const std::string& sql, const std::vector<TVariant>& params = {});
};

// The database as messages name it, without opening it (never a password).
// Like opening and making one, EDatabaseError for an address longer than
// kMaxAddressLength.
std::string DescribeDatabase(const std::string& database);

// Opens the shop database named by a file path (SQLite) or a server address
// (PostgreSQL). EDatabaseError with one clear line when it cannot, without
// any password the address holds.
std::unique_ptr<TShopConnection> OpenShopConnection(const std::string& database);

using TDatabaseFill = std::function<void(TShopConnection&)>;

// Makes a database whole or not at all, `fill` working inside one
// transaction. A file path: `fill` works on a new temporary file next to it,
// and only a filled file takes the name; an existing file is refused unless
// overwrite is true (it is then replaced, with its journal files). A server
// address: the tables named in `tables` are refused if there are any, or
// dropped with overwrite, in the same transaction as the fill.
// EDatabaseError on failure; nothing is left behind then.
void BuildDatabase(const std::string& database, bool overwrite, const std::vector<std::string>& tables,
                   const TDatabaseFill& fill);

}  // namespace selvo::host
