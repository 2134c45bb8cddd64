#include "host/SqliteDataModule.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "host/ShopSchema.h"
#include "host/SqliteStatement.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

TSqliteDataModule* gCallbackModule = nullptr;

// The names of the tables in the file (SQLite compares them without regard
// to letter case, and so does the lookup here).
std::vector<std::string> TableNames(sqlite3* db, const std::string& path) {
  std::vector<std::string> names;
  try {
    TSqliteStatement select(db, "SELECT name FROM sqlite_master WHERE type = 'table'");
    while (select.Step()) {
      const TVariant name = select.Column(0);
      if (const auto* s = std::get_if<std::string>(&name)) names.push_back(*s);
    }
  } catch (EDatabaseError& e) {
    // Only a file SQLite does not recognise is "not a shop database": a
    // database another process holds, or one that cannot be read, is said
    // to be so.
    switch (sqlite3_errcode(db)) {
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        e.SetMessage("База данных магазина \"" + path + "\" занята другим процессом: " + e.Message());
        break;
      case SQLITE_READONLY:
      case SQLITE_PERM:
      case SQLITE_CANTOPEN:
      case SQLITE_IOERR:
      case SQLITE_AUTH: e.SetMessage("Нет доступа к базе данных магазина \"" + path + "\": " + e.Message()); break;
      default: e.SetMessage("Файл \"" + path + "\" не является базой данных магазина: " + e.Message());
    }
    throw;
  }
  return names;
}

}  // namespace

TSqliteDataModule::TSqliteDataModule(const std::string& databasePath) : path_(databasePath) {
  struct stat st;
  if (stat(path_.c_str(), &st) != 0) {
    if (errno == ENOENT) throw EDatabaseError("Файл базы данных магазина \"" + path_ + "\" не найден");
    throw EDatabaseError("Нет доступа к файлу базы данных магазина \"" + path_ + "\": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) throw EDatabaseError("\"" + path_ + "\" не является файлом базы данных магазина");

  int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
  }
  if (rc != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "нет памяти";
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw EDatabaseError("Не удалось открыть базу данных магазина \"" + path_ + "\": " + message);
  }
  sqlite3_busy_timeout(db_, 5000);  // another till may hold the file for a moment

  try {
    const std::vector<std::string> tables = TableNames(db_, path_);
    for (const std::string& name : ShopTableNames()) {
      for (const std::string& table : tables) {
        if (SameText(table, name)) {
          dataSets_.push_back(std::make_unique<TSqliteDataSet>(*this, name, table));
          break;
        }
      }
    }
    if (dataSets_.empty()) {
      std::string list;
      for (const std::string& name : ShopTableNames()) list += (list.empty() ? "" : ", ") + name;
      throw EDatabaseError("В базе данных \"" + path_ + "\" нет таблиц магазина (" + list + ")");
    }
    for (const TDetailLink& link : ShopDetailLinks()) {
      auto* detail = static_cast<TSqliteDataSet*>(FindComponent(link.detail));
      auto* master = static_cast<TSqliteDataSet*>(FindComponent(link.master));
      if (detail && master && detail->FindField(link.field) && master->FindField(link.field))
        detail->SetMaster(master, link.field);
    }
    for (auto& dataSet : dataSets_) dataSet->Open();
  } catch (...) {
    dataSets_.clear();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
}

TSqliteDataModule::~TSqliteDataModule() {
  if (gCallbackModule == this) gCallbackModule = nullptr;
  dataSets_.clear();
  sqlite3_close_v2(db_);  // an open transaction is rolled back
}

TDataSet* TSqliteDataModule::FindComponent(const std::string& name) {
  for (auto& dataSet : dataSets_)
    if (SameText(dataSet->Name(), name)) return dataSet.get();
  return nullptr;
}

TSqliteDataSet& TSqliteDataModule::DataSet(const std::string& name) {
  if (TDataSet* dataSet = FindComponent(name)) return *static_cast<TSqliteDataSet*>(dataSet);
  throw EDatabaseError("В базе данных \"" + path_ + "\" нет набора данных " + name);
}

std::vector<TSqliteDataSet*> TSqliteDataModule::DataSets() const {
  std::vector<TSqliteDataSet*> all;
  for (const auto& dataSet : dataSets_) all.push_back(dataSet.get());
  return all;
}

void TSqliteDataModule::NotifyTransactionEnd(bool committed) {
  for (auto& dataSet : dataSets_) {
    if (committed)
      dataSet->TransactionCommitted();
    else
      dataSet->TransactionRolledBack();
  }
}

bool TSqliteDataModule::Transaction(const char* command) {
  if (!command) return false;
  const std::string what = command;
  try {
    if (what == "START") {
      // The write lock is taken at once: a save never starts and then finds
      // another till writing, and nobody reads half of it.
      ExecSql(db_, "BEGIN IMMEDIATE");
      return true;
    }
    if (what == "COMMIT") {
      try {
        ExecSql(db_, "COMMIT");
      } catch (const EDatabaseError&) {
        // A transaction that cannot be committed must not stay open and
        // block every later save: roll it back, the changes return to the
        // logs and stay pending.
        if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        if (sqlite3_get_autocommit(db_) != 0) NotifyTransactionEnd(false);
        return false;
      }
      NotifyTransactionEnd(true);
      return true;
    }
    if (what == "ROLLBACK") {
      if (sqlite3_get_autocommit(db_) != 0) return false;  // none is open
      const bool done = sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK;
      if (sqlite3_get_autocommit(db_) != 0) NotifyTransactionEnd(false);
      return done;
    }
  } catch (const EDatabaseError&) {
    return false;
  }
  return false;
}

void SetCallbackDataModule(TSqliteDataModule* module) { gCallbackModule = module; }
TSqliteDataModule* CallbackDataModule() { return gCallbackModule; }

bool TransactionCallback(const char* command) {
  try {
    return gCallbackModule && gCallbackModule->Transaction(command);
  } catch (...) {
    return false;  // nothing may escape into the module's C call
  }
}

}  // namespace selvo::host
