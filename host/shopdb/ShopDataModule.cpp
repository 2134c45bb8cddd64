#include "host/shopdb/ShopDataModule.h"

#include <map>

#include "host/shopdb/ShopChain.h"
#include "host/shopdb/ShopSchema.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

TShopDataModule* gCallbackModule = nullptr;

}  // namespace

TShopDataModule::TShopDataModule(const std::string& database) : connection_(OpenShopConnection(database)) {
  OpenDataSets();
}

TShopDataModule::TShopDataModule(std::unique_ptr<TShopConnection> connection, std::optional<TSettingsVersion> version)
    : connection_(std::move(connection)), fixedVersion_(std::move(version)) {
  OpenDataSets();
}

void TShopDataModule::OpenDataSets() {
  TShopConnection& connection = *connection_;
  const std::vector<std::string> tables = connection.TableNames();
  for (const std::string& name : ShopTableNames()) {
    for (const std::string& table : tables) {
      if (SameText(table, name)) {
        dataSets_.push_back(std::make_unique<TShopDataSet>(*this, name, connection.FoldsNames() ? name : table));
        break;
      }
    }
  }
  if (dataSets_.empty()) {
    std::string list;
    for (const std::string& name : ShopTableNames()) list += (list.empty() ? "" : ", ") + name;
    throw EDatabaseError("В базе данных \"" + connection.Describe() + "\" нет таблиц магазина (" + list + ")");
  }
  for (const TDetailLink& link : ShopDetailLinks()) {
    auto* detail = static_cast<TShopDataSet*>(FindComponent(link.detail));
    auto* master = static_cast<TShopDataSet*>(FindComponent(link.master));
    if (detail && master && detail->FindField(link.field) && master->FindField(link.field))
      detail->SetMaster(master, link.field);
  }
  // The module reads payment types and cards from these rows: all of them
  // come from one committed state, never half of a save, nor tables that a
  // new shop replaces while they are read.
  // The version is read in the same snapshot: it names these rows.
  std::vector<std::string> read;
  for (const auto& dataSet : dataSets_) read.push_back(dataSet->TableName());
  const bool history = !fixedVersion_ && HasSettingsHistory(connection);
  if (history) read.push_back(SettingsHistoryTables().front());
  connection.BeginSnapshot(read);
  try {
    for (auto& dataSet : dataSets_) dataSet->Open();
    version_ = fixedVersion_ ? *fixedVersion_ : history ? NewestSettingsVersion(connection) : TSettingsVersion{};
    connection.EndSnapshot();
  } catch (...) {
    connection.RollbackIfOpen();  // the connection goes with this module anyway
    throw;
  }
}

TShopDataModule::~TShopDataModule() {
  if (gCallbackModule == this) gCallbackModule = nullptr;
  dataSets_.clear();
}

TDataSet* TShopDataModule::FindComponent(const std::string& name) {
  for (auto& dataSet : dataSets_)
    if (SameText(dataSet->Name(), name)) return dataSet.get();
  return nullptr;
}

TShopDataSet& TShopDataModule::DataSet(const std::string& name) {
  if (TDataSet* dataSet = FindComponent(name)) return *static_cast<TShopDataSet*>(dataSet);
  throw EDatabaseError("В базе данных \"" + connection_->Describe() + "\" нет набора данных " + name);
}

std::vector<TShopDataSet*> TShopDataModule::DataSets() const {
  std::vector<TShopDataSet*> all;
  for (const auto& dataSet : dataSets_) all.push_back(dataSet.get());
  return all;
}

void TShopDataModule::MoveTakenIdentifiers() {
  std::map<std::string, std::map<std::int64_t, std::int64_t>> moved;
  for (auto& dataSet : dataSets_) moved[LowerCase(dataSet->Name())] = dataSet->MoveTakenIdentifiers();
  for (const TReference& reference : ShopReferences()) {
    auto* dataSet = static_cast<TShopDataSet*>(FindComponent(reference.table));
    const auto target = moved.find(LowerCase(reference.target));
    if (dataSet && target != moved.end()) dataSet->FollowMovedIdentifiers(reference.column, target->second);
  }
}

void TShopDataModule::SetSaveOrigin(std::string origin, std::int64_t restored) {
  saveOrigin_ = std::move(origin);
  restored_ = restored;
}

void TShopDataModule::NotifyTransactionEnd(bool committed) {
  if (committed && writing_ && writing_->number > 0) version_ = *writing_;
  if (committed) nextOrigin_.clear();
  // The history made by a save that rolled back went with it.
  historyEnsured_ = committed && writing_.has_value();
  writing_.reset();
  for (auto& dataSet : dataSets_) {
    if (committed)
      dataSet->TransactionCommitted();
    else
      dataSet->TransactionRolledBack();
  }
}

bool TShopDataModule::Transaction(const char* command) {
  if (!command) return false;
  const std::string what = command;
  TShopConnection& connection = *connection_;
  try {
    // A save's origin told ahead of it by the module (an import of payment
    // types): the next save is recorded so.
    if (what.rfind(kOriginCommand, 0) == 0) {
      const std::string origin = what.substr(std::string(kOriginCommand).size());
      if (origin != kOriginImport && origin != kOriginEditor) return false;
      nextOrigin_ = origin;
      return true;
    }
    if (what == "START") {
      if (connection.InTransaction()) return false;  // one at a time
      connection.Begin();
      try {
        // A station's settings come from its head office only.
        RefuseAtStation(connection);
        MoveTakenIdentifiers();
        // A shop made before the history keeps one from its first save on.
        if (!historyEnsured_) EnsureSettingsHistory(connection);
        writing_ = BeginSettingsVersion(connection, nextOrigin_.empty() ? saveOrigin_ : nextOrigin_, restored_);
      } catch (const std::exception&) {
        writing_.reset();
        connection.RollbackIfOpen();
        NotifyTransactionEnd(false);
        return false;
      }
      return true;
    }
    if (what == "COMMIT") {
      if (!connection.InTransaction()) return false;  // none is open
      try {
        std::int64_t saved = 0;
        if (writing_) writing_->number = saved = FinishSettingsVersion(connection, *writing_);
        connection.AnnounceSave(saved);
        connection.Commit();
      } catch (const std::exception&) {
        // A transaction that cannot be committed must not stay open and
        // block every later save: roll it back, the changes return to the
        // logs and stay pending.
        connection.RollbackIfOpen();
        if (!connection.InTransaction()) NotifyTransactionEnd(false);
        return false;
      }
      NotifyTransactionEnd(true);
      return true;
    }
    if (what == "ROLLBACK") {
      if (!connection.InTransaction()) return false;  // none is open
      const bool done = connection.RollbackIfOpen();
      if (!connection.InTransaction()) NotifyTransactionEnd(false);
      return done;
    }
  } catch (const EDatabaseError&) {
    return false;
  }
  return false;
}

void SetCallbackDataModule(TShopDataModule* module) { gCallbackModule = module; }
TShopDataModule* CallbackDataModule() { return gCallbackModule; }

bool TransactionCallback(const char* command) {
  try {
    return gCallbackModule && gCallbackModule->Transaction(command);
  } catch (...) {
    return false;  // nothing may escape into the module's C call
  }
}

}  // namespace selvo::host
