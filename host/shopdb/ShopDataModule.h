// The host's data module over a shop database, an SQLite file or a
// PostgreSQL server: one dataset per table ("Payment", "SelvoDiscountDS",
// "DiscountGoodsDS", "ExclusionsDS", "KeyTovar", "Goods"), each with an
// in-memory change log ("cached updates") that ApplyUpdates writes into the
// open transaction. "DiscountGoodsDS" and "ExclusionsDS" are details of
// "SelvoDiscountDS" by td_ID and follow its current row.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/ShopConnection.h"
#include "host/shopdb/ShopDataSet.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// The transaction callback's command that tells a save's origin ahead.
inline constexpr const char* kOriginCommand = "ORIGIN ";

class TShopDataModule : public TDataModule {
 public:
  // Opens an existing shop database, a file path or a server address
  // (EDatabaseError with a clear message when it is missing, cannot be
  // reached, is not a shop database or lacks the tables). The datasets of
  // the tables present are created and opened from one snapshot of the
  // database, so a save made meanwhile is seen whole or not at all.
  explicit TShopDataModule(const std::string& database);
  // Over a connection opened elsewhere (settings of a past version held in
  // memory); `version` is then the version they are, instead of the one
  // read with the tables.
  TShopDataModule(std::unique_ptr<TShopConnection> connection, std::optional<TSettingsVersion> version);
  ~TShopDataModule();
  TShopDataModule(const TShopDataModule&) = delete;
  TShopDataModule& operator=(const TShopDataModule&) = delete;

  TDataSet* FindComponent(const std::string& name) override;
  // The dataset of that name; EDatabaseError when there is none.
  TShopDataSet& DataSet(const std::string& name);

  // The host's transaction callback on this connection: "START", "COMMIT",
  // "ROLLBACK", and kOriginCommand with an origin ("ORIGIN import"): what
  // the next save that commits is recorded as. Answers false when the
  // database refuses (or the command is unknown). START takes the
  // save's lock and then gives new rows whose identifiers another computer
  // stored meanwhile new ones (their targets and periods follow), so that
  // two computers adding at once both keep their own rows.
  bool Transaction(const char* command);
  // Entries that datasets wrote inside the transaction leave their logs for
  // good on commit and come back into them on rollback. Transaction calls
  // it; a dataset calls it when the database itself ended the transaction.
  void NotifyTransactionEnd(bool committed);

  // The settings version the datasets were read at (number 0 when the shop
  // keeps no history); after a save, the version it wrote.
  const TSettingsVersion& Version() const { return version_; }
  // What the next saves are recorded as: origin editor unless said (init,
  // import, restore with the version restored).
  void SetSaveOrigin(std::string origin, std::int64_t restored = 0);

  // The datasets present, in the order of the tables above.
  std::vector<TShopDataSet*> DataSets() const;

  TShopConnection& Connection() const { return *connection_; }
  const std::string& Describe() const { return connection_->Describe(); }

 private:
  void MoveTakenIdentifiers();
  void OpenDataSets();

  std::unique_ptr<TShopConnection> connection_;
  TSettingsVersion version_;
  std::optional<TSettingsVersion> fixedVersion_;
  std::string saveOrigin_ = kOriginEditor;
  std::string nextOrigin_;  // told by the module for the next save
  std::int64_t restored_ = 0;
  // The version the open save writes (number 0 once finished without a
  // change); none while no save is open.
  std::optional<TSettingsVersion> writing_;
  bool historyEnsured_ = false;  // the history's tables and triggers are there
  std::vector<std::unique_ptr<TShopDataSet>> dataSets_;
};

// Makes `module` the one a plain C callback reaches: TransactionCallback
// forwards to module->Transaction. Pass nullptr to clear.
void SetCallbackDataModule(TShopDataModule* module);
// The module SetCallbackDataModule made current; nullptr when none.
TShopDataModule* CallbackDataModule();
bool TransactionCallback(const char* command);

}  // namespace selvo::host
