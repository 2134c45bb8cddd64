// The host's data module over an SQLite shop database: one dataset per table
// ("Payment", "SelvoDiscountDS", "DiscountGoodsDS", "ExclusionsDS",
// "KeyTovar", "Goods"), each with an in-memory change log ("cached
// updates") that ApplyUpdates writes into the open SQLite transaction.
// "DiscountGoodsDS" and "ExclusionsDS" are details of "SelvoDiscountDS" by
// td_ID and follow its current row.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/SqliteDataSet.h"
#include "interface/SelvoPaymentsTypes.h"

struct sqlite3;

namespace selvo::host {

class TSqliteDataModule : public TDataModule {
 public:
  // Opens an existing shop database (EDatabaseError with a clear message
  // when the file is missing, not a database, or lacks the tables). The
  // datasets of the tables present are created and opened; a file that
  // cannot be written is opened read-only (applying then fails).
  explicit TSqliteDataModule(const std::string& databasePath);
  ~TSqliteDataModule();
  TSqliteDataModule(const TSqliteDataModule&) = delete;
  TSqliteDataModule& operator=(const TSqliteDataModule&) = delete;

  TDataSet* FindComponent(const std::string& name) override;
  // The dataset of that name; EDatabaseError when there is none.
  TSqliteDataSet& DataSet(const std::string& name);

  // The host's transaction callback on this connection: "START" (BEGIN IMMEDIATE),
  // "COMMIT", "ROLLBACK". Answers false when SQLite refuses.
  bool Transaction(const char* command);
  // Entries that datasets wrote inside the transaction leave their logs for
  // good on commit and come back into them on rollback. Transaction calls
  // it; a dataset calls it when SQLite itself ended the transaction.
  void NotifyTransactionEnd(bool committed);

  // The datasets present, in the order of the tables above.
  std::vector<TSqliteDataSet*> DataSets() const;

  sqlite3* Connection() const { return db_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  std::vector<std::unique_ptr<TSqliteDataSet>> dataSets_;
};

// Makes `module` the one a plain C callback reaches: TransactionCallback
// forwards to module->Transaction. Pass nullptr to clear.
void SetCallbackDataModule(TSqliteDataModule* module);
// The module SetCallbackDataModule made current; nullptr when none.
TSqliteDataModule* CallbackDataModule();
bool TransactionCallback(const char* command);

}  // namespace selvo::host
