// The tables of a shop database, in one place. Table names are the dataset
// names and column names the field names; identifiers and Boolean columns are
// whole numbers (1 = true), money and percentages floating-point numbers,
// times and date-times day-based doubles, texts in UTF-8.
#pragma once

#include <string>
#include <vector>

#include "host/shopdb/ShopConnection.h"

namespace selvo::host {

struct TSchemaOptions {
  // The optional columns of "Payment": CheckItogPrec with CheckPrecLimit,
  // GsmVO, CUSTOMCHECK with PRINTCUSTOMCHECK.
  bool checkItogPrec = true;
  bool gsmVO = true;
  bool customCheck = true;
};

// A detail dataset follows its master's current row by one field.
struct TDetailLink {
  std::string detail;
  std::string master;
  std::string field;
};

// A column that holds identifiers of another table's rows (its unique key
// column).
struct TReference {
  std::string table;
  std::string column;
  std::string target;
};

// The six tables in order: "Payment", "SelvoDiscountDS", "DiscountGoodsDS",
// "ExclusionsDS", "KeyTovar", "Goods".
std::vector<TTableDef> ShopTables(const TSchemaOptions& options = {});
const std::vector<std::string>& ShopTableNames();
// "DiscountGoodsDS" and "ExclusionsDS" follow "SelvoDiscountDS" by td_ID.
const std::vector<TDetailLink>& ShopDetailLinks();
// The identifiers the editor writes that name rows of other tables: a
// card's payment type, a target's or a period's card.
const std::vector<TReference>& ShopReferences();

// The table of that name (compared without regard to case) with all its
// optional columns; null when the shop has none of that name.
const TTableDef* FindShopTable(const std::string& name);
// A column name as the shop spells it, for one the database spells in its
// own way (the server in lower case); an unknown name as given.
std::string ShopColumnSpelling(const std::string& table, const std::string& column);

// Creates the six tables (raises EDatabaseError on failure).
void CreateShopSchema(TShopConnection& connection, const TSchemaOptions& options = {});

// Creates a new shop database with the schema: a file, or the tables in a
// server's database (see BuildShopDatabase). Refuses (EDatabaseError) to
// touch an existing one unless overwrite is true.
void CreateShopDatabase(const std::string& database, bool overwrite, const TSchemaOptions& options = {});

// Makes the shop database whole or not at all (see BuildDatabase): the
// schema, the settings' history and `fillRows` writing the rows as one
// version of origin init. On a server the shop's tables are the ones refused
// or dropped (the history stays); a file made anew keeps the history of the
// file it replaces.
void BuildShopDatabase(const std::string& database, bool overwrite, const TSchemaOptions& options,
                       const TDatabaseFill& fillRows);

}  // namespace selvo::host
