// The settings' versions on both databases: every version of a long history
// of saves and outside changes, loaded long after, equals what was in force
// then; saves that change nothing make no version; a save's origin as the
// module tells it.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "host/shopdb/SampleShop.h"
#include "host/shopdb/SettingsAtVersion.h"
#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "tests/common/ShopDatabases.h"

namespace selvo::test {
namespace {

using host::TShopConnection;
using host::TShopDataModule;
using host::TShopDataSet;

// Every row of the six tables with its key, as the connection reads them.
using TSettingsDump = std::map<std::string, std::map<std::int64_t, std::vector<TVariant>>>;

TSettingsDump Dump(TShopConnection& connection) {
  TSettingsDump dump;
  for (const std::string& table : host::ShopTableNames()) {
    std::string columns;
    for (const host::TColumnInfo& column : connection.Columns(table))
      columns += ", " + connection.Identifier(column.name);
    if (columns.empty()) continue;
    connection.Query("SELECT rowid" + columns + " FROM " + connection.Identifier(table), {},
                     [&](std::vector<TVariant>& row) {
                       const std::int64_t key = std::get<std::int64_t>(row[0]);
                       dump[table][key].assign(row.begin() + 1, row.end());
                     });
  }
  return dump;
}

std::int64_t Newest(TShopConnection& connection) { return host::NewestSettingsVersion(connection).number; }

// Commits what the data module's datasets hold pending, as the editor does.
void Save(TShopDataModule& dm) {
  ASSERT_TRUE(dm.Transaction("START"));
  for (TShopDataSet* dataSet : dm.DataSets()) ASSERT_EQ(dataSet->ApplyUpdates(0), 0) << dataSet->Name();
  ASSERT_TRUE(dm.Transaction("COMMIT"));
}

class SettingsVersionTest : public ::testing::TestWithParam<TShopDbKind> {
 protected:
  SettingsVersionTest() : db(GetParam()), address(db.Address()) { host::CreateSampleShop(address, false); }

  TTestShopDatabase db;
  std::string address;
};

// Two hundred versions cross three copies: the program's saves (a card's
// thresholds, a payment type's discount with every digit of a real, a card
// added and removed with its targets) and changes made outside it, each
// loaded afterwards equal to the tables as they stood when it was made.
TEST_P(SettingsVersionTest, EveryVersionLoadsLongAfterAsItWasInForce) {
  TShopDataModule dm(address);
  std::unique_ptr<TShopConnection> outside = host::OpenShopConnection(address);
  std::map<std::int64_t, TSettingsDump> inForce;
  inForce[Newest(*outside)] = Dump(*outside);
  std::mt19937 random(7);
  TShopDataSet& cards = dm.DataSet("SelvoDiscountDS");
  TShopDataSet& payments = dm.DataSet("Payment");
  TShopDataSet& targets = dm.DataSet("DiscountGoodsDS");
  for (int step = 1; step <= 200; ++step) {
    const int what = step % 5;
    if (what == 0) {
      outside->Execute("UPDATE Payment SET Discount = " + std::to_string(step % 13) + ".25 WHERE ID = 2");
    } else if (what == 1) {
      ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{4})}, 0));
      cards.Edit();
      cards.FieldByName("td_Threshold")
          .SetAsString(std::to_string(100 + step) + "=" + std::to_string(step % 30) + "%;");
      cards.Post();
      Save(dm);
    } else if (what == 2) {
      ASSERT_TRUE(payments.Locate("ID", {TVariant(std::int64_t{1})}, 0));
      payments.Edit();
      payments.FieldByName("Discount").SetAsFloat(static_cast<double>(random() % 1000) / 7.0);
      payments.Post();
      Save(dm);
    } else if (what == 3) {
      cards.Append();
      cards.FieldByName("td_ID").SetAsInteger(1000 + step);
      cards.FieldByName("td_DiscountName").SetAsString("Акция " + std::to_string(step));
      cards.FieldByName("td_BTime").SetAsFloat(8.5 / 24);
      cards.Post();
      targets.Append();
      targets.FieldByName("dg_ID").SetAsInteger(5000 + step);
      targets.FieldByName("td_ID").SetAsInteger(1000 + step);
      targets.FieldByName("ID_Target").SetAsInteger(201);
      targets.Post();
      Save(dm);
    } else {
      // Outside: the card added last goes with its target.
      const std::string card = std::to_string(1000 + step - 1);
      outside->Execute("DELETE FROM DiscountGoodsDS WHERE td_ID = " + card);
      outside->Execute("DELETE FROM SelvoDiscountDS WHERE td_ID = " + card);
    }
    if (::testing::Test::HasFatalFailure()) return;
    inForce[Newest(*outside)] = Dump(*outside);
  }
  // Outside changes are versions too; on a file each statement is one.
  ASSERT_GE(static_cast<int>(inForce.size()), 200);
  ASSERT_GT(Newest(*outside), 3 * host::kCopyEvery);

  for (const auto& [version, dump] : inForce) {
    const std::unique_ptr<TShopDataModule> loaded = host::LoadSettingsVersion(address, version);
    EXPECT_EQ(loaded->Version().number, version);
    ASSERT_TRUE(Dump(loaded->Connection()) == dump) << "version " << version << " loads otherwise";
  }
  EXPECT_THROW(host::LoadSettingsVersion(address, Newest(*outside) + 1), EDatabaseError);
}

// A save that changes nothing, and an UPDATE that writes the values a row
// holds, make no version; the module's word makes the next save an import.
TEST_P(SettingsVersionTest, OnlyChangesAreVersionsAndASaveKeepsTheOriginItWasTold) {
  TShopDataModule dm(address);
  TShopConnection& connection = dm.Connection();
  const std::int64_t first = Newest(connection);
  ASSERT_EQ(first, 1);
  Save(dm);
  connection.Execute("UPDATE Payment SET Name = Name");
  EXPECT_EQ(Newest(connection), first);

  EXPECT_FALSE(dm.Transaction("ORIGIN outside")) << "only the module's own origins are taken";
  ASSERT_TRUE(dm.Transaction("ORIGIN import"));
  TShopDataSet& payments = dm.DataSet("Payment");
  payments.Append();
  payments.FieldByName("ID").SetAsInteger(77);
  payments.FieldByName("Name").SetAsString("талоны");
  payments.Post();
  Save(dm);
  const host::TSettingsVersion imported = host::NewestSettingsVersion(connection);
  EXPECT_EQ(imported.number, first + 1);
  EXPECT_EQ(imported.origin, host::kOriginImport);
  EXPECT_EQ(imported.author, host::ProgramAuthor());
  EXPECT_EQ(dm.Version().number, imported.number) << "the data module names what it saved";
  if (GetParam() == TShopDbKind::Server) EXPECT_FALSE(imported.role.empty());

  payments.Edit();
  payments.FieldByName("Name").SetAsString("талоны на топливо");
  payments.Post();
  Save(dm);
  EXPECT_EQ(host::NewestSettingsVersion(connection).origin, host::kOriginEditor) << "told for one save only";
}

INSTANTIATE_TEST_SUITE_P(Databases, SettingsVersionTest, ::testing::Values(TShopDbKind::File, TShopDbKind::Server),
                         ShopDbKindName);

}  // namespace
}  // namespace selvo::test
