// What a failure of the shop database says about it: each kind produced for
// real on the database that can produce it, through the connections and the
// data module, and kept where messages get words put in front of them; and
// the last identifiers, which a failure must never read as 0.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/session/HostSession.h"
#include "host/shopdb/PgConnection.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/SqliteConnection.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

using selvo::test::PgExec;
using selvo::test::PgTestConnInfo;
using selvo::test::PgWithConnOption;
using selvo::test::ReadFileBytes;
using selvo::test::TShopDbKind;
using selvo::test::TTestShopDatabase;
using selvo::test::WriteFileBytes;
using Kind = TDatabaseErrorKind;

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Other: return "Other";
    case Kind::Unreachable: return "Unreachable";
    case Kind::Conflict: return "Conflict";
    case Kind::Constraint: return "Constraint";
    case Kind::Corrupt: return "Corrupt";
  }
  return "?";
}

// Ends the server process behind a connection, as a crash or an
// administrator would, and waits until it is gone.
void TerminateBackend(TShopConnection& connection) {
  const int pid = dynamic_cast<TPgConnection&>(connection).BackendPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(PgExec(PgTestConnInfo(), "SELECT pg_terminate_backend(" + std::to_string(pid) + ", 10000)")[0][0], "t");
}

void InsertPayment(TShopConnection& connection, std::int64_t id) {
  connection.Query("INSERT INTO Payment (ID, Name) VALUES ($1, 'наличные')", {TVariant(id)}, nullptr);
}

struct TErrorCase {
  const char* name;
  TShopDbKind database;
  // Fails on the sample shop at `address` (the file's folder is `dir`).
  std::function<void(const std::string& address, const std::string& dir)> fail;
  Kind kind;
};

void PrintTo(const TErrorCase& c, std::ostream* os) { *os << c.name; }

// A build whose fill writes one payment type twice.
void BuildBreakingAKey(const std::string& address, const std::string&) {
  BuildShopDatabase(address, true, {}, [](TShopConnection& db) {
    InsertPayment(db, 5);
    InsertPayment(db, 5);
  });
}

const TErrorCase kErrorCases[] = {
    {"FileDuplicateKey", TShopDbKind::File,
     [](const std::string& address, const std::string&) {
       TShopDataModule dm(address);
       InsertPayment(dm.Connection(), 1);
     },
     Kind::Constraint},
    {"ServerDuplicateKey", TShopDbKind::Server,
     [](const std::string& address, const std::string&) {
       TShopDataModule dm(address);
       InsertPayment(dm.Connection(), 1);
     },
     Kind::Constraint},
    // The message gets the build's words in front; the kind stays.
    {"FileBuildBreakingAKey", TShopDbKind::File, BuildBreakingAKey, Kind::Constraint},
    {"ServerBuildBreakingAKey", TShopDbKind::Server, BuildBreakingAKey, Kind::Constraint},
    // Another till writing: a connection that does not wait is refused.
    {"FileHeldByAnotherTill", TShopDbKind::File,
     [](const std::string& address, const std::string&) {
       TShopDataModule holder(address);
       holder.Connection().Begin();
       TSqliteConnection second(address);
       sqlite3_busy_timeout(second.Handle(), 0);
       second.Begin();
     },
     Kind::Conflict},
    {"ServerSaveLockTimedOut", TShopDbKind::Server,
     [](const std::string& address, const std::string&) {
       TShopDataModule holder(address);
       holder.Connection().Begin();
       TPgConnection second(address);
       second.Begin();  // waits the bounded time, then refuses
     },
     Kind::Conflict},
    {"FileThatIsText", TShopDbKind::File,
     [](const std::string&, const std::string& dir) {
       WriteFileBytes(dir + "/text.db", std::string(4096, 'x'));
       TShopDataModule dm(dir + "/text.db");
     },
     Kind::Corrupt},
    {"FileCutShort", TShopDbKind::File,
     [](const std::string& address, const std::string& dir) {
       WriteFileBytes(dir + "/cut.db", ReadFileBytes(address).substr(0, 2500));
       TShopDataModule dm(dir + "/cut.db");
     },
     Kind::Corrupt},
    {"FileMissing", TShopDbKind::File,
     [](const std::string&, const std::string& dir) { TShopDataModule dm(dir + "/none.db"); }, Kind::Unreachable},
    {"FileInAMissingFolder", TShopDbKind::File,
     [](const std::string&, const std::string& dir) { CreateSampleShop(dir + "/none/shop.db", false); },
     Kind::Unreachable},
    {"ServerNotListening", TShopDbKind::Server,
     [](const std::string& address, const std::string&) { TShopDataModule dm(PgWithConnOption(address, "port", "1")); },
     Kind::Unreachable},
    {"ServerConnectionLost", TShopDbKind::Server,
     [](const std::string& address, const std::string&) {
       TShopDataModule dm(address);
       TerminateBackend(dm.Connection());
       dm.Connection().QueryValue("SELECT count(*) FROM Payment");
     },
     Kind::Unreachable},
    {"FileRefusedStatement", TShopDbKind::File,
     [](const std::string& address, const std::string&) {
       TShopDataModule dm(address);
       dm.Connection().Execute("SELECT nothing FROM Payment");
     },
     Kind::Other},
    {"ServerRefusedStatement", TShopDbKind::Server,
     [](const std::string& address, const std::string&) {
       TShopDataModule dm(address);
       dm.Connection().Execute("SELECT nothing FROM Payment");
     },
     Kind::Other},
};

class DatabaseErrorKindTest : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(DatabaseErrorKindTest, FailureCarriesItsKind) {
  const TErrorCase& c = GetParam();
  TTestShopDatabase db(c.database);
  CreateSampleShop(db.Address(), false);
  const std::string dir = c.database == TShopDbKind::File ? db.Address().substr(0, db.Address().rfind('/')) : "";
  try {
    c.fail(db.Address(), dir);
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(KindName(e.Kind()), std::string(KindName(c.kind))) << e.Message();
    EXPECT_FALSE(e.Message().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DatabaseErrorKindTest, ::testing::ValuesIn(kErrorCases),
                         [](const ::testing::TestParamInfo<TErrorCase>& param) { return param.param.name; });

class LastIdentifiersTest : public ::testing::TestWithParam<TShopDbKind> {};

// A table the shop lacks and one without its identifier column have
// nothing to follow; the others are read.
TEST_P(LastIdentifiersTest, MissingTableOrColumnAnswersZero) {
  TTestShopDatabase db(GetParam());
  BuildDatabase(db.Address(), false, ShopTableNames(), [](TShopConnection& connection) {
    for (TTableDef table : ShopTables()) {
      if (table.name == "DiscountGoodsDS") continue;
      if (table.name == "ExclusionsDS") table.columns.erase(table.columns.begin());  // ex_ID
      connection.CreateTable(table);
    }
    InsertPayment(connection, 7);
    connection.Query("INSERT INTO SelvoDiscountDS (td_ID) VALUES (4)", {}, nullptr);
    connection.Query("INSERT INTO ExclusionsDS (td_ID) VALUES (4)", {}, nullptr);
  });
  TShopDataModule dm(db.Address());
  const TLastIdentifiers ids = ReadLastIdentifiers(dm);
  EXPECT_EQ(ids.payment, 7);
  EXPECT_EQ(ids.discount, 4);
  EXPECT_EQ(ids.dscGoods, 0);
  EXPECT_EQ(ids.exclusions, 0);
}

SELVO_ON_BOTH_DATABASES(LastIdentifiersTest);

TEST(ServerLastIdentifiers, LostConnectionRaisesInsteadOfAnsweringZero) {
  TTestShopDatabase db(TShopDbKind::Server);
  CreateSampleShop(db.Address(), false);
  TShopDataModule dm(db.Address());
  ASSERT_GT(ReadLastIdentifiers(dm).payment, 0);
  TerminateBackend(dm.Connection());
  try {
    ReadLastIdentifiers(dm);
    FAIL() << "the identifiers of a lost connection were read";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), Kind::Unreachable) << e.Message();
  }
}

}  // namespace
}  // namespace selvo::host
