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
#include "platform/TextCodec.h"
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
  if (GetParam() == TShopDbKind::Server) {
    EXPECT_FALSE(imported.role.empty());
  }

  payments.Edit();
  payments.FieldByName("Name").SetAsString("талоны на топливо");
  payments.Post();
  Save(dm);
  EXPECT_EQ(host::NewestSettingsVersion(connection).origin, host::kOriginEditor) << "told for one save only";
}

// The history's own tables, triggers and functions removed: a shop as it
// was made before the history.
void DropHistory(TShopConnection& c) {
  if (c.IsServer()) {
    c.Execute("DROP TABLE settingsversion, settingschange, settingscopy");
    for (const std::string& table : host::ShopTableNames())
      for (const char* suffix : {"", "_update", "_truncate"})
        c.Execute("DROP TRIGGER IF EXISTS settingshistory_" + LowerCase(table) + suffix + " ON " + c.Identifier(table));
  } else {
    c.Execute("DROP TABLE SettingsVersion; DROP TABLE SettingsChange; DROP TABLE SettingsCopy");
    for (const std::string& table : host::ShopTableNames()) c.Execute(DropFileHistoryTriggers(table));
  }
}

// A shop made before the history: a save rolled back leaves it without one
// and the next save makes it; what the shop held then is where every
// version starts, also one made outside the program.
TEST_P(SettingsVersionTest, AShopMadeBeforeTheHistoryKeepsOneFromItsFirstSave) {
  {
    std::unique_ptr<TShopConnection> c = host::OpenShopConnection(address);
    DropHistory(*c);
  }
  TShopDataModule dm(address);
  ASSERT_TRUE(dm.Transaction("START"));
  ASSERT_TRUE(dm.Transaction("ROLLBACK"));
  EXPECT_FALSE(host::HasSettingsHistory(dm.Connection())) << "the rolled back save took its history with it";
  Save(dm);  // changes nothing, but the history is there from now on
  ASSERT_TRUE(host::HasSettingsHistory(dm.Connection()));
  EXPECT_EQ(Newest(dm.Connection()), 0);

  std::unique_ptr<TShopConnection> outside = host::OpenShopConnection(address);
  const TSettingsDump before = Dump(*outside);
  outside->Execute("UPDATE Goods SET Price = Price + 1 WHERE ID_Goods = 201");
  ASSERT_EQ(Newest(*outside), 1);
  EXPECT_TRUE(Dump(host::LoadSettingsVersion(address, 1)->Connection()) == Dump(*outside));
  EXPECT_FALSE(Dump(*outside) == before);
}

// A column added by hand is recorded (on a file once a save of the program
// has made the triggers anew); a text that is not UTF-8 loads back as the
// bytes it was; on the server TRUNCATE, which passes the row triggers by,
// is refused.
TEST_P(SettingsVersionTest, WhatIsWrittenByHandIsRecordedOrRefused) {
  std::unique_ptr<TShopConnection> outside = host::OpenShopConnection(address);
  outside->Execute("ALTER TABLE KeyTovar ADD COLUMN Note TEXT");
  {
    TShopDataModule dm(address);
    dm.DataSet("KeyTovar").First();
    dm.DataSet("KeyTovar").Edit();
    dm.DataSet("KeyTovar").FieldByName("Name").SetAsString("Первая");
    dm.DataSet("KeyTovar").Post();
    Save(dm);
  }
  outside->Execute("UPDATE KeyTovar SET Note = 'по акции' WHERE ID_Category = 2");
  const std::int64_t noted = Newest(*outside);
  const auto changes = host::ReadSettingsChanges(*outside, noted, noted);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(SameText(changes[0].column, "Note"));
  EXPECT_EQ(changes[0].after, std::optional<std::string>("по акции"));
  EXPECT_TRUE(Dump(host::LoadSettingsVersion(address, noted)->Connection()) == Dump(*outside));

  if (GetParam() == TShopDbKind::File) {
    outside->Execute("UPDATE Goods SET Name = CAST(X'CAEEF4E5' AS TEXT) WHERE ID_Goods = 201");
    outside->Execute("BEGIN");
    host::WriteSettingsCopy(*outside, Newest(*outside));
    outside->Execute("COMMIT");
    EXPECT_TRUE(Dump(host::LoadSettingsVersion(address, Newest(*outside))->Connection()) == Dump(*outside));
  } else {
    EXPECT_THROW(outside->Execute("TRUNCATE goods"), EDatabaseError);
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, SettingsVersionTest, ::testing::Values(TShopDbKind::File, TShopDbKind::Server),
                         ShopDbKindName);

}  // namespace
}  // namespace selvo::test
