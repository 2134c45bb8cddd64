#include "host/shopdb/ShopSchema.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/shopdb/PgConnection.h"
#include "host/shopdb/SqliteConnection.h"
#include "host/shopdb/SqliteStatement.h"
#include "platform/TextCodec.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

std::vector<TTableDef> ShopTables(const TSchemaOptions& options) {
  TTableDef payment{"Payment",
                    {{"ID", "INTEGER", "NOT NULL UNIQUE"},
                     {"Name", "TEXT", "NOT NULL DEFAULT ''"},
                     {"Type", "INTEGER", "NOT NULL DEFAULT 0"},
                     {"Check", "INTEGER", "NOT NULL DEFAULT 0"},
                     {"Discount", "REAL", "NOT NULL DEFAULT 0"},
                     {"Enabled", "INTEGER", "NOT NULL DEFAULT 1"}},
                    {}};
  if (options.checkItogPrec) {
    payment.columns.push_back({"CheckItogPrec", "INTEGER", "NOT NULL DEFAULT 1"});
    payment.columns.push_back({"CheckPrecLimit", "REAL", "NOT NULL DEFAULT 0"});
  }
  if (options.gsmVO) payment.columns.push_back({"GsmVO", "INTEGER", "NOT NULL DEFAULT 0"});
  if (options.customCheck) {
    payment.columns.push_back({"CUSTOMCHECK", "TEXT", ""});
    payment.columns.push_back({"PRINTCUSTOMCHECK", "INTEGER", "NOT NULL DEFAULT 0"});
  }
  // The discount tables have no defaults: a null column means "the card's
  // default" to the module, so a row written by hand keeps that meaning.
  return {
      payment,
      {"SelvoDiscountDS",
       {{"td_ID", "INTEGER", "UNIQUE"},
        {"td_DiscountName", "TEXT", ""},
        {"PayID", "INTEGER", ""},
        {"td_BTime", "REAL", ""},
        {"td_ETime", "REAL", ""},
        {"td_AllDay", "INTEGER", ""},
        {"td_Enabled", "INTEGER", ""},
        {"td_WeekDays", "INTEGER", ""},
        {"td_AllWeek", "INTEGER", ""},
        {"td_Threshold", "TEXT", ""},
        {"td_DiscountTarget", "INTEGER", ""},
        {"td_Rules", "INTEGER", ""},
        {"td_TimeDscList", "TEXT", ""}},
       {}},
      {"DiscountGoodsDS",
       {{"dg_ID", "INTEGER", "UNIQUE"},
        {"td_ID", "INTEGER", ""},
        {"td_IsCategory", "INTEGER", ""},
        {"ID_Target", "INTEGER", ""}},
       {"td_ID"}},
      {"ExclusionsDS",
       {{"ex_ID", "INTEGER", "UNIQUE"},
        {"td_ID", "INTEGER", ""},
        {"ex_BDateTime", "REAL", ""},
        {"ex_EDateTime", "REAL", ""},
        {"ex_Enabled", "INTEGER", ""}},
       {"td_ID"}},
      {"KeyTovar", {{"ID_Category", "INTEGER", "UNIQUE"}, {"Name", "TEXT", ""}, {"CheckField", "INTEGER", ""}}, {}},
      {"Goods",
       {{"ID_Goods", "INTEGER", "UNIQUE"},
        {"ID_Category", "INTEGER", ""},
        {"Name", "TEXT", ""},
        {"Price", "REAL", ""},
        {"ZPrice", "REAL", ""},
        {"Kolvo", "REAL", ""}},
       {"ID_Category"}},
  };
}

const std::vector<std::string>& ShopTableNames() {
  static const std::vector<std::string> names = {"Payment",      "SelvoDiscountDS", "DiscountGoodsDS",
                                                 "ExclusionsDS", "KeyTovar",        "Goods"};
  return names;
}

const std::vector<TDetailLink>& ShopDetailLinks() {
  static const std::vector<TDetailLink> links = {{"DiscountGoodsDS", "SelvoDiscountDS", "td_ID"},
                                                 {"ExclusionsDS", "SelvoDiscountDS", "td_ID"}};
  return links;
}

std::string CreateTableSql(const TTableDef& table) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(table.name) + " (";
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const TColumnDef& c = table.columns[i];
    sql += (i ? ", " : "") + QuoteIdentifier(c.name) + " " + c.type;
    if (!c.constraints.empty()) sql += " " + c.constraints;
  }
  return sql + ")";
}

std::vector<std::string> CreateIndexSql(const TTableDef& table, const TShopConnection& connection) {
  std::vector<std::string> statements;
  for (const std::string& column : table.indexed)
    statements.push_back("CREATE INDEX " + connection.Identifier(table.name + "_" + column) + " ON " +
                         connection.Identifier(table.name) + " (" + connection.Identifier(column) + ")");
  return statements;
}

void CreateShopSchema(TShopConnection& connection, const TSchemaOptions& options) {
  for (const TTableDef& table : ShopTables(options)) {
    try {
      connection.CreateTable(table);
    } catch (EDatabaseError& e) {
      e.SetMessage("Не удалось создать таблицу " + table.name + ": " + e.Message());
      throw;
    }
  }
}

namespace {

bool FileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string SystemError(int error) { return std::strerror(error); }

[[noreturn]] void RefuseExisting(const std::string& path) {
  throw EDatabaseError("Файл базы данных \"" + path + "\" уже существует");
}

}  // namespace

void BuildDatabaseFile(const std::string& path, bool overwrite, const TDatabaseFill& fill) {
  if (!overwrite && FileExists(path)) RefuseExisting(path);

  std::string temp = path + ".new-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw EDatabaseError("Не удалось создать файл базы данных \"" + path + "\": " + SystemError(errno));
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);  // as a file SQLite creates itself
  close(fd);

  sqlite3* db = nullptr;
  try {
    if (sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      throw EDatabaseError(db ? sqlite3_errmsg(db) : "нет памяти");
    ExecSql(db, "BEGIN");
    {
      TSqliteConnection connection(db, temp);
      fill(connection);
    }
    ExecSql(db, "COMMIT");
    if (sqlite3_close(db) != SQLITE_OK) throw EDatabaseError(sqlite3_errmsg(db));
    db = nullptr;
  } catch (EDatabaseError& e) {
    sqlite3_close_v2(db);
    unlink(temp.c_str());
    e.SetMessage("Не удалось создать базу данных \"" + path + "\": " + e.Message());
    throw;
  } catch (...) {
    sqlite3_close_v2(db);
    unlink(temp.c_str());
    throw;
  }

  if (overwrite) {
    // A journal left by the old file would be played back into the new one.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) unlink((path + suffix).c_str());
    if (rename(temp.c_str(), path.c_str()) != 0) {
      const int error = errno;
      unlink(temp.c_str());
      throw EDatabaseError("Не удалось записать файл базы данных \"" + path + "\": " + SystemError(error));
    }
    return;
  }
  // link() gives the name only when nobody took it meanwhile.
  if (link(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    if (error == EEXIST) {
      unlink(temp.c_str());
      RefuseExisting(path);
    }
    if (FileExists(path)) {
      unlink(temp.c_str());
      RefuseExisting(path);
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {  // a file system without hard links
      const int renameError = errno;
      unlink(temp.c_str());
      throw EDatabaseError("Не удалось записать файл базы данных \"" + path + "\": " + SystemError(renameError));
    }
    return;
  }
  unlink(temp.c_str());
}

namespace {

void BuildServerDatabase(const std::string& address, bool overwrite, const TDatabaseFill& fill) {
  TPgConnection connection(address);
  try {
    connection.Begin();
    for (const std::string& table : connection.TableNames()) {
      for (const std::string& name : ShopTableNames()) {
        if (!SameText(table, name)) continue;
        if (!overwrite) throw EDatabaseError("таблицы магазина уже есть (" + table + ")");
        connection.Execute("DROP TABLE " + connection.Identifier(table));
      }
    }
    fill(connection);
    connection.Commit();
  } catch (EDatabaseError& e) {
    e.SetMessage("Не удалось создать базу данных магазина (" + connection.Describe() + "): " + e.Message());
    throw;
  }
}

}  // namespace

void BuildShopDatabase(const std::string& database, bool overwrite, const TDatabaseFill& fill) {
  if (IsServerAddress(database))
    BuildServerDatabase(database, overwrite, fill);
  else
    BuildDatabaseFile(database, overwrite, fill);
}

void CreateShopDatabase(const std::string& database, bool overwrite, const TSchemaOptions& options) {
  BuildShopDatabase(database, overwrite, [&](TShopConnection& connection) { CreateShopSchema(connection, options); });
}

}  // namespace selvo::host
