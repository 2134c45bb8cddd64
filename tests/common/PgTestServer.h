// The throw-away PostgreSQL server of the tests (tests/pg/pg_server.sh),
// started by CTest before every test registered with selvo_add_pg_tests,
// which finds it through SELVO_TEST_PG_DIR. Every function here throws
// std::runtime_error with the reason when the server is not there or a
// statement fails, so the test fails with that line.
#pragma once

#include <string>
#include <vector>

#include "tests/common/TestSupport.h"

namespace selvo::test {

// The server's folder (SELVO_TEST_PG_DIR).
std::string PgTestDir();

// The database selvo_test as its superuser, who needs no password: as a libpq
// "key=value" string and as a postgresql:// URI.
std::string PgTestConnInfo();
std::string PgTestUri();

// The same database as the role that must give its password; the password
// is not part of the string.
std::string PgTestPasswordConnInfo();
std::string PgTestPassword();

// Runs sql (one or more statements) and returns the rows of the last one,
// every value as text (NULL as an empty string).
std::vector<std::vector<std::string>> PgExec(const std::string& conninfo, const std::string& sql);

// A fresh empty database called name (lower-case letters, digits and '_'):
// dropped first if it is there, with any session still on it. Returns the
// connection string for it. Tests that run side by side use different names.
std::string PgCreateScratchDatabase(const std::string& name);

// conninfo with one keyword set to value (added or replaced).
std::string PgWithConnOption(const std::string& conninfo, const std::string& keyword, const std::string& value);

// A server of one's own, for a run that stops it or must not share it with
// other tests: started by pg_server.sh in a temporary folder, stopped and
// removed with this object.
class TPrivatePgServer {
 public:
  // Whether it can publish and subscribe by logical replication.
  enum class TReplication { None, Logical };
  // Raises when the server does not start.
  explicit TPrivatePgServer(TReplication replication = TReplication::None);
  ~TPrivatePgServer();
  TPrivatePgServer(const TPrivatePgServer&) = delete;
  TPrivatePgServer& operator=(const TPrivatePgServer&) = delete;

  // The database selvo_test as its superuser (libpq "key=value").
  const std::string& ConnInfo() const { return conninfo_; }
  // Stopped at once, its data kept (as a power cut would), and started
  // again on the same socket; raise when the script fails.
  void Crash();
  void Restart();
  // Every process of the server stopped, or let go on again: a server
  // that keeps its connections open and answers nothing.
  void Freeze();
  void Thaw();

 private:
  bool Run(const std::string& action) const;

  TempDir dir_;
  const TReplication replication_;
  std::string conninfo_;
};

}  // namespace selvo::test
