#include "host/shopdb/ShopConnection.h"

#include <cctype>

#include "host/shopdb/PgConnection.h"
#include "host/shopdb/SqliteConnection.h"
#include "platform/TextCodec.h"

namespace selvo::host {

TFieldKind KindOfDeclaredType(const std::string& declared) {
  const std::string t = UpperCase(declared);
  if (t.find("INT") != std::string::npos) return TFieldKind::Integer;
  if (t.find("CHAR") != std::string::npos || t.find("CLOB") != std::string::npos ||
      t.find("TEXT") != std::string::npos || t.find("BLOB") != std::string::npos || t.empty())
    return TFieldKind::Text;
  return TFieldKind::Real;  // REAL, FLOAT, DOUBLE (PRECISION) and NUMERIC
}

std::string QuoteIdentifier(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
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

bool IsServerAddress(const std::string& database) {
  if (database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0) return true;
  // A connection string starts with one of libpq's key words and '='; a
  // file name that merely holds '=' does not.
  static const char* const kKeys[] = {"host",     "hostaddr", "port",    "dbname",          "user",
                                      "password", "service",  "sslmode", "connect_timeout", "application_name"};
  std::size_t i = 0;
  while (i < database.size() && std::isspace(static_cast<unsigned char>(database[i]))) ++i;
  std::size_t end = i;
  while (end < database.size() && (std::isalnum(static_cast<unsigned char>(database[end])) || database[end] == '_'))
    ++end;
  const std::string key = database.substr(i, end - i);
  while (end < database.size() && database[end] == ' ') ++end;
  if (end >= database.size() || database[end] != '=') return false;
  for (const char* k : kKeys)
    if (key == k) return true;
  return false;
}

std::string DescribeDatabase(const std::string& database) {
  return IsServerAddress(database) ? DescribeServerAddress(database) : database;
}

std::unique_ptr<TShopConnection> OpenShopConnection(const std::string& database) {
  if (IsServerAddress(database)) return std::make_unique<TPgConnection>(database);
  return std::make_unique<TSqliteConnection>(database);
}

}  // namespace selvo::host
