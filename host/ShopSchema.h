// The tables of a shop database, in one place. Table names are the dataset
// names and column names the field names; identifiers and Boolean columns are
// INTEGER (1 = true), money and percentages REAL, times and date-times REAL
// day-based doubles, texts TEXT in UTF-8.
#pragma once

#include <string>

struct sqlite3;

namespace selvo::host {

struct TSchemaOptions {
  // The optional columns of "Payment": CheckItogPrec with CheckPrecLimit,
  // GsmVO, CUSTOMCHECK with PRINTCUSTOMCHECK.
  bool checkItogPrec = true;
  bool gsmVO = true;
  bool customCheck = true;
};

// Creates the six tables (raises EDatabaseError on failure).
void CreateShopSchema(sqlite3* db, const TSchemaOptions& options = {});

// Creates a new database file with the schema. Refuses (EDatabaseError) to
// touch an existing file unless overwrite is true.
void CreateShopDatabase(const std::string& path, bool overwrite, const TSchemaOptions& options = {});

}  // namespace selvo::host
