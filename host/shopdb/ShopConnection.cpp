#include "host/shopdb/ShopConnection.h"

#include "host/shopdb/PgConnection.h"
#include "host/shopdb/SqliteConnection.h"
#include "platform/TextCodec.h"

namespace selvo::host {

std::string QuoteIdentifier(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string ColumnConstraintSql(const TColumnDef& column) {
  std::string sql;
  const auto add = [&sql](const std::string& word) { sql += (sql.empty() ? "" : " ") + word; };
  if (column.notNull) add("NOT NULL");
  if (column.unique) add("UNIQUE");
  if (!column.defaultValue.empty()) add("DEFAULT " + column.defaultValue);
  return sql;
}

void TShopConnection::Isolated(const std::function<void()>& work) {
  if (!InTransaction()) {
    work();
    return;
  }
  Execute("SAVEPOINT selvo_entry");
  try {
    work();
    // Inside the try: a release the database refuses (the server refuses
    // every statement after a failed one) undoes the work as a failure does.
    Execute("RELEASE SAVEPOINT selvo_entry");
  } catch (...) {
    // A database that ended the whole transaction has no savepoint left.
    if (InTransaction()) {
      try {
        Execute("ROLLBACK TO SAVEPOINT selvo_entry");
        Execute("RELEASE SAVEPOINT selvo_entry");
      } catch (const EDatabaseError&) {
        // The connection is gone; the caller learns it from InTransaction.
      }
    }
    throw;
  }
}

bool TShopConnection::RollbackIfOpen() {
  if (!InTransaction()) return true;
  try {
    Rollback();
    return true;
  } catch (const EDatabaseError&) {
    return false;
  }
}

TVariant TShopConnection::QueryValue(const std::string& sql, const std::vector<TVariant>& params) {
  TVariant value;
  bool first = true;
  Query(sql, params, [&](std::vector<TVariant>& row) {
    if (first && !row.empty()) value = std::move(row[0]);
    first = false;
  });
  return value;
}

namespace {

// What the host needs of one kind of database before it has a connection.
struct TShopDriver {
  std::unique_ptr<TShopConnection> (*open)(const std::string& database);
  void (*build)(const std::string& database, bool overwrite, const std::vector<std::string>& tables,
                const TDatabaseFill& fill);
  std::string (*describe)(const std::string& database);
};

std::unique_ptr<TShopConnection> OpenFile(const std::string& path) { return std::make_unique<TSqliteConnection>(path); }
void BuildFile(const std::string& path, bool overwrite, const std::vector<std::string>&, const TDatabaseFill& fill) {
  BuildSqliteDatabase(path, overwrite, fill);
}
std::string DescribeFile(const std::string& path) { return WithoutPasswords(path, path); }

std::unique_ptr<TShopConnection> OpenServer(const std::string& address) {
  return std::make_unique<TPgConnection>(address);
}

// The one place that tells the databases apart.
const TShopDriver& DriverOf(const std::string& database) {
  static const TShopDriver file{&OpenFile, &BuildFile, &DescribeFile};
  static const TShopDriver server{&OpenServer, &BuildPgDatabase, &DescribeServerAddress};
  if (database.size() > kMaxAddressLength)
    throw EDatabaseError("адрес базы данных магазина длиннее " + std::to_string(kMaxAddressLength) + " байт");
  return IsServerAddress(database) ? server : file;
}

// Every message of opening or making a database leaves through here, so
// whatever a driver or its library quoted of the address is masked once,
// for files as for servers (a "file" name may be a mistyped address).
template <class F>
auto Masked(const std::string& database, F&& work) {
  try {
    return work(DriverOf(database));
  } catch (EDatabaseError& e) {
    e.SetMessage(WithoutPasswords(e.Message(), database));
    throw;
  }
}

}  // namespace

std::string DescribeDatabase(const std::string& database) {
  return Masked(database, [&](const TShopDriver& driver) { return driver.describe(database); });
}

std::unique_ptr<TShopConnection> OpenShopConnection(const std::string& database) {
  return Masked(database, [&](const TShopDriver& driver) { return driver.open(database); });
}

void BuildDatabase(const std::string& database, bool overwrite, const std::vector<std::string>& tables,
                   const TDatabaseFill& fill) {
  Masked(database, [&](const TShopDriver& driver) { driver.build(database, overwrite, tables, fill); });
}

}  // namespace selvo::host
