// The tables of a shop database, in one place. Table names are the dataset
// names and column names the field names; identifiers and Boolean columns are
// INTEGER (1 = true), money and percentages REAL, times and date-times REAL
// day-based doubles, texts TEXT in UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace selvo::host {

class TShopConnection;

struct TSchemaOptions {
  // The optional columns of "Payment": CheckItogPrec with CheckPrecLimit,
  // GsmVO, CUSTOMCHECK with PRINTCUSTOMCHECK.
  bool checkItogPrec = true;
  bool gsmVO = true;
  bool customCheck = true;
};

struct TColumnDef {
  std::string name;
  std::string type;         // INTEGER, REAL or TEXT
  std::string constraints;  // e.g. "NOT NULL DEFAULT 0"; may be empty
};

struct TTableDef {
  std::string name;
  std::vector<TColumnDef> columns;
  // Columns that get an index of their own (the detail links).
  std::vector<std::string> indexed;
};

// A detail dataset follows its master's current row by one field.
struct TDetailLink {
  std::string detail;
  std::string master;
  std::string field;
};

// The six tables in order: "Payment", "SelvoDiscountDS", "DiscountGoodsDS",
// "ExclusionsDS", "KeyTovar", "Goods".
std::vector<TTableDef> ShopTables(const TSchemaOptions& options = {});
const std::vector<std::string>& ShopTableNames();
// "DiscountGoodsDS" and "ExclusionsDS" follow "SelvoDiscountDS" by td_ID.
const std::vector<TDetailLink>& ShopDetailLinks();

// The CREATE TABLE statement of one table (SQLite's types), and the
// CREATE INDEX statements of its indexed columns.
std::string CreateTableSql(const TTableDef& table);
std::vector<std::string> CreateIndexSql(const TTableDef& table, const TShopConnection& connection);

// Creates the six tables (raises EDatabaseError on failure).
void CreateShopSchema(TShopConnection& connection, const TSchemaOptions& options = {});

// Creates a new shop database with the schema: a file, or the tables in a
// server's database (see BuildShopDatabase). Refuses (EDatabaseError) to
// touch an existing one unless overwrite is true.
void CreateShopDatabase(const std::string& database, bool overwrite, const TSchemaOptions& options = {});

using TDatabaseFill = std::function<void(TShopConnection&)>;

// Makes the shop database whole or not at all, `fill` working inside one
// transaction. A file path: `fill` works on a new temporary file next to it,
// and only a filled file takes the name; an existing file is refused unless
// overwrite is true (it is then replaced, with its journal files). A server
// address: the shop's tables are refused if there are any, or dropped with
// overwrite, in the same transaction as the fill. EDatabaseError on
// failure; nothing is left behind then.
void BuildShopDatabase(const std::string& database, bool overwrite, const TDatabaseFill& fill);
void BuildDatabaseFile(const std::string& path, bool overwrite, const TDatabaseFill& fill);

}  // namespace selvo::host
