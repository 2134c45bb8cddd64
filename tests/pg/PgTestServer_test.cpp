// The throw-away server answers as the tests expect: both connection forms
// reach it, scratch databases start empty, and the password role is refused
// a wrong password.
#include "tests/common/PgTestServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>

#include "tests/common/TestSupport.h"

namespace selvo::test {
namespace {

using ::testing::HasSubstr;

TEST(PgTestServer, BothConnectionFormsReachTheTestDatabaseAsItsSuperuser) {
  const struct {
    const char* form;
    std::function<std::string()> conninfo;
  } cases[] = {{"key=value", PgTestConnInfo}, {"uri", PgTestUri}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.form);
    const auto rows = PgExec(c.conninfo(), "SELECT current_database(), current_user, 40 + 2");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"selvo_test", "selvo", "42"}));
  }
}

TEST(PgTestServer, AScratchDatabaseIsCreatedEmptyEvenWhenOneOfThatNameIsInUse) {
  const std::string db = PgCreateScratchDatabase("pg_server_scratch");
  PgExec(db, "CREATE TABLE t (id integer); INSERT INTO t VALUES (1), (2)");
  EXPECT_EQ(PgExec(db, "SELECT count(*) FROM t"), (std::vector<std::vector<std::string>>{{"2"}}));

  // A session left open on the old database does not stop the new one.
  std::unique_ptr<PGconn, void (*)(PGconn*)> lingering(PQconnectdb(db.c_str()), PQfinish);
  ASSERT_EQ(PQstatus(lingering.get()), CONNECTION_OK);

  const std::string again = PgCreateScratchDatabase("pg_server_scratch");
  EXPECT_EQ(again, db);
  EXPECT_EQ(PgExec(again, "SELECT count(*) FROM pg_tables WHERE tablename = 't'"),
            (std::vector<std::vector<std::string>>{{"0"}}));
  EXPECT_EQ(PgExec(again, "SELECT current_database()")[0][0], "pg_server_scratch");
}

TEST(PgTestServer, ScratchDatabaseNamesThatCouldHarmTheServerAreRefused) {
  for (const char* name : {"", "Upper", "x; DROP DATABASE selvo_test", "1abc", "selvo_test", "postgres", "template1",
                           "a-b", "x123456789012345678901234567890123456789012345678901234567890123"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(PgCreateScratchDatabase(name), std::runtime_error);
  }
  EXPECT_EQ(PgExec(PgTestConnInfo(), "SELECT current_database()")[0][0], "selvo_test");
}

TEST(PgTestServer, ThePasswordRoleLogsInOnlyWithItsPassword) {
  const struct {
    std::string password;
    bool accepted;
  } cases[] = {{PgTestPassword(), true}, {"wrong", false}, {PgTestPassword() + "x", false}, {"", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    const std::string conninfo = PgWithConnOption(PgTestPasswordConnInfo(), "password", c.password);
    if (c.accepted) {
      EXPECT_EQ(PgExec(conninfo, "SELECT current_user")[0][0], "selvo_pw");
    } else {
      try {
        PgExec(conninfo, "SELECT 1");
        ADD_FAILURE() << "logged in with a wrong password";
      } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("connection failed"));
        EXPECT_THAT(e.what(),
                    ::testing::AnyOf(HasSubstr("password authentication failed"), HasSubstr("no password supplied")));
      }
    }
  }
}

TEST(PgTestServer, AFailedStatementReportsTheServersReason) {
  try {
    PgExec(PgTestConnInfo(), "SELECT * FROM no_such_table");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("no_such_table"));
    EXPECT_THAT(e.what(), HasSubstr("does not exist"));
  }
}

TEST(PgTestServer, AMissingServerIsReportedNotPassedOver) {
  const std::string saved = PgTestDir();
  TempDir empty;
  const struct {
    const char* dir;  // nullptr: not set
    const char* reason;
  } cases[] = {{nullptr, "SELVO_TEST_PG_DIR is not set"},
               {"", "SELVO_TEST_PG_DIR is not set"},
               {empty.path().c_str(), "conninfo is missing"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir ? c.dir : "(unset)");
    if (c.dir)
      setenv("SELVO_TEST_PG_DIR", c.dir, 1);
    else
      unsetenv("SELVO_TEST_PG_DIR");
    try {
      PgTestConnInfo();
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.reason));
    }
  }
  setenv("SELVO_TEST_PG_DIR", saved.c_str(), 1);
}

}  // namespace
}  // namespace selvo::test
