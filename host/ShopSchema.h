// The tables of a shop database, in one place. Table names are the dataset
// names and column names the field names; identifiers and Boolean columns are
// INTEGER (1 = true), money and percentages REAL, times and date-times REAL
// day-based doubles, texts TEXT in UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct sqlite3;

namespace selvo::host {

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

// The CREATE TABLE statement of one table.
std::string CreateTableSql(const TTableDef& table);

// Creates the six tables (raises EDatabaseError on failure).
void CreateShopSchema(sqlite3* db, const TSchemaOptions& options = {});

// Creates a new database file with the schema. Refuses (EDatabaseError) to
// touch an existing file unless overwrite is true.
void CreateShopDatabase(const std::string& path, bool overwrite, const TSchemaOptions& options = {});

// Makes the database file `path` whole or not at all: `fill` works on a new
// temporary database next to it inside one transaction, and only a filled
// file takes the name. Refuses an existing file unless overwrite is true (an
// existing file is then replaced, with its journal files). EDatabaseError on
// failure; nothing is left behind then.
void BuildDatabaseFile(const std::string& path, bool overwrite, const std::function<void(sqlite3*)>& fill);

}  // namespace selvo::host
