// The host's data module over a shop database, an SQLite file or a
// PostgreSQL server: one dataset per table ("Payment", "SelvoDiscountDS",
// "DiscountGoodsDS", "ExclusionsDS", "KeyTovar", "Goods"), each with an
// in-memory change log ("cached updates") that ApplyUpdates writes into the
// open transaction. "DiscountGoodsDS" and "ExclusionsDS" are details of
// "SelvoDiscountDS" by td_ID and follow its current row.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/shopdb/ShopConnection.h"
#include "host/shopdb/ShopDataSet.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

class TShopDataModule : public TDataModule {
 public:
  // Opens an existing shop database, a file path or a server address
  // (EDatabaseError with a clear message when it is missing, cannot be
  // reached, is not a shop database or lacks the tables). The datasets of
  // the tables present are created and opened from one snapshot of the
  // database, so a save made meanwhile is seen whole or not at all.
  explicit TShopDataModule(const std::string& database);
  ~TShopDataModule();
  TShopDataModule(const TShopDataModule&) = delete;
  TShopDataModule& operator=(const TShopDataModule&) = delete;

  TDataSet* FindComponent(const std::string& name) override;
  // The dataset of that name; EDatabaseError when there is none.
  TShopDataSet& DataSet(const std::string& name);

  // The host's transaction callback on this connection: "START", "COMMIT",
  // "ROLLBACK". Answers false when the database refuses. START takes the
  // save's lock and then gives new rows whose identifiers another computer
  // stored meanwhile new ones (their targets and periods follow), so that
  // two computers adding at once both keep their own rows.
  bool Transaction(const char* command);
  // Entries that datasets wrote inside the transaction leave their logs for
  // good on commit and come back into them on rollback. Transaction calls
  // it; a dataset calls it when the database itself ended the transaction.
  void NotifyTransactionEnd(bool committed);

  // The datasets present, in the order of the tables above.
  std::vector<TShopDataSet*> DataSets() const;

  TShopConnection& Connection() const { return *connection_; }
  const std::string& Describe() const { return connection_->Describe(); }

 private:
  void MoveTakenIdentifiers();

  std::unique_ptr<TShopConnection> connection_;
  std::vector<std::unique_ptr<TShopDataSet>> dataSets_;
};

// Makes `module` the one a plain C callback reaches: TransactionCallback
// forwards to module->Transaction. Pass nullptr to clear.
void SetCallbackDataModule(TShopDataModule* module);
// The module SetCallbackDataModule made current; nullptr when none.
TShopDataModule* CallbackDataModule();
bool TransactionCallback(const char* command);

}  // namespace selvo::host
