// The connection to a shop database on a PostgreSQL server, through libpq.
// Several tills and the back office share it: a save takes the shop's save
// lock inside its transaction, so saves run one after another, and a load
// reads one snapshot, so it sees a save whole or not at all.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/shopdb/ShopConnection.h"

struct pg_conn;
struct pg_result;

namespace selvo::host {

// The channel on which every save on the server announces itself, inside
// its transaction, so that the tills listening hear of it when it commits.
inline constexpr const char* kSaveChannel = "selvo_shop_saved";
// The advisory lock ("SELVOPAY" in ASCII) every write of the shop's settings holds to its commit:
// saves wait for each other, and versions are numbered in commit order.
inline constexpr const char* kSaveLockKey = "6072119375216416601";

// How messages name the database of an address, e.g. «"shop" на сервере
// host:5432», with what the address leaves out taken from libpq's
// environment variables, or «служба PostgreSQL "NAME"» for a service entry;
// never with its password; "сервер PostgreSQL" when the address does not
// parse.
std::string DescribeServerAddress(const std::string& address);

class TPgConnection final : public TShopConnection {
 public:
  // `address`: a postgresql:// URI or a "host=... dbname=..." string. The
  // password may be left out of it: libpq then takes it from PGPASSWORD,
  // the password file (PGPASSFILE, ~/.pgpass) or a service file (service=).
  // EDatabaseError with one line when the server cannot be reached or
  // refuses the login.
  explicit TPgConnection(const std::string& address);
  ~TPgConnection() override;
  TPgConnection(const TPgConnection&) = delete;
  TPgConnection& operator=(const TPgConnection&) = delete;

  const std::string& Describe() const override { return describe_; }
  std::string Identifier(const std::string& name) const override;
  bool FoldsNames() const override { return true; }
  bool IsServer() const override { return true; }
  void Execute(const std::string& sql) override;
  std::int64_t Query(const std::string& sql, const std::vector<TVariant>& params, const TRowSink& row) override;
  std::vector<std::string> TableNames() override;
  std::vector<TColumnInfo> Columns(const std::string& table) override;
  // Types as the server names them (BIGINT, DOUBLE PRECISION, TEXT) and a
  // BIGSERIAL row key "rowid" after the table's columns.
  void CreateTable(const TTableDef& table) override;

  // First opens anew a connection the server dropped; nothing else
  // reconnects, so no statement of a lost transaction runs outside it.
  void Begin() override;
  // NOTIFY on kSaveChannel.
  void AnnounceSave(std::int64_t version) override;
  // Raises also when the server answered the COMMIT with a rollback.
  void Commit() override;
  void Rollback() override;
  bool InTransaction() override;
  // A read-only REPEATABLE READ transaction that first takes a share lock
  // on the tables: the server's catalogue is not versioned as its rows are,
  // so a snapshot taken before a new shop replaced the tables would find
  // them empty. The lock waits for such a replacement to end, and the
  // snapshot is taken after it (in one round trip with the BEGIN).
  void BeginSnapshot(const std::vector<std::string>& tables) override;
  void EndSnapshot() override;

  // The tables, quoted and in one order (that of their names in lower
  // case): a load's share lock and a new shop's drop take their locks in
  // the same order, so that they wait for each other and never deadlock.
  std::string TableList(std::vector<std::string> tables) const;

  // The server process serving this connection.
  int BackendPid() const;

 private:
  // Reads the tables of the schema and their columns, unless read since
  // the last statement that may have changed them.
  void ReadCatalog();
  // Opens the connection anew when the server dropped it (EDatabaseError
  // when it cannot be reached).
  void Reconnect();
  // Waits for the results of a statement sent (`sent` is what the send
  // answered) and answers the last one, or null when the send failed.
  // Raises EDatabaseError (Unreachable) when the server has not answered
  // within the statement wait.
  pg_result* AwaitResult(int sent);
  // Closes a connection whose server stopped answering, and raises.
  [[noreturn]] void AbandonConnection();
  // Raises EDatabaseError for a result that is not a success.
  void Check(pg_result* result) const;

  pg_conn* conn_ = nullptr;
  std::string describe_;
  std::map<std::string, std::vector<TColumnInfo>> catalog_;  // by the server's spelling
  bool catalogRead_ = false;
};

// Makes the tables of a database on a server whole or not at all (see
// BuildDatabase).
void BuildPgDatabase(const std::string& address, bool overwrite, const std::vector<std::string>& tables,
                     const TDatabaseFill& fill);

}  // namespace selvo::host
