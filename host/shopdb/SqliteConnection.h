// The connection to a shop database kept in one SQLite file.
#pragma once

#include <memory>
#include <string>

#include "host/shopdb/ShopConnection.h"

struct sqlite3;

namespace selvo::host {

class TSqliteConnection final : public TShopConnection {
 public:
  // Opens an existing database file (EDatabaseError with a clear message
  // when it is missing or not a file). A file that cannot be written is
  // opened read-only (writing then fails).
  explicit TSqliteConnection(const std::string& path);
  // Works on a connection somebody else opened and closes (a database
  // being built).
  TSqliteConnection(sqlite3* db, std::string path);
  ~TSqliteConnection() override;
  TSqliteConnection(const TSqliteConnection&) = delete;
  TSqliteConnection& operator=(const TSqliteConnection&) = delete;

  // The path, with whatever in it looks like a password masked.
  const std::string& Describe() const override { return describe_; }
  void Execute(const std::string& sql) override;
  std::int64_t Query(const std::string& sql, const std::vector<TVariant>& params, const TRowSink& row) override;
  // A file SQLite does not recognise, one another process holds and one
  // that cannot be read are each told apart.
  std::vector<std::string> TableNames() override;
  std::vector<TColumnInfo> Columns(const std::string& table) override;
  void CreateTable(const TTableDef& table) override;

  // BEGIN IMMEDIATE: the write lock is taken at once, so a save never
  // starts and then finds another till writing.
  void Begin() override;
  void Commit() override;
  void Rollback() override;
  bool InTransaction() override;
  // A deferred transaction: the read lock taken by the first read is kept
  // until the end, so no save commits in between.
  // A new shop takes the file's name as a whole file: this connection
  // keeps reading the one it opened.
  void BeginSnapshot(const std::vector<std::string>& tables) override;
  void EndSnapshot() override;

  sqlite3* Handle() const { return db_; }

 private:
  friend std::unique_ptr<TShopConnection> OpenMemoryShopConnection(const std::string& describe);

  std::string path_;
  std::string describe_;  // after path_: made from it
  sqlite3* db_ = nullptr;
  bool owned_ = true;
};

// A database of its own in memory, named `describe` in messages (settings
// read from elsewhere, e.g. from the history, held for the module).
std::unique_ptr<TShopConnection> OpenMemoryShopConnection(const std::string& describe);

// Makes a database file whole or not at all (see BuildDatabase).
void BuildSqliteDatabase(const std::string& path, bool overwrite, const TDatabaseFill& fill);

}  // namespace selvo::host
