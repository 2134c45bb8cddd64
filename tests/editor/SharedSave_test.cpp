// Two back-office computers saving to one shop database, each a process of
// its own with the editor's own save: both adding a card at once, one
// changing or deleting a card the other changed meanwhile, one holding its
// save open while the other tries to start one, and a save refused in its
// second dataset. On the SQLite file and the test server alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/shopdb/SampleShop.h"
#include "state/SelvoModuleU.h"
#include "tests/common/BackOffice.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/ShopDatabases.h"

namespace selvo::test {
namespace {

class SharedSaveTest : public ::testing::TestWithParam<TShopDbKind> {
 protected:
  SharedSaveTest() : db(GetParam()), address(db.Address()) { host::CreateSampleShop(address, false); }

  // What the database holds for everybody, one line a row, columns joined
  // by "|".
  std::vector<std::string> Rows(const std::string& sql) {
    const auto connection = host::OpenShopConnection(address);
    std::vector<std::string> rows;
    connection->Query(sql, {}, [&](std::vector<TVariant>& values) {
      std::string line;
      for (const TVariant& value : values) {
        line += line.empty() ? "" : "|";
        if (const auto* i = std::get_if<std::int64_t>(&value)) line += std::to_string(*i);
        if (const auto* s = std::get_if<std::string>(&value)) line += *s;
      }
      rows.push_back(line);
    });
    return rows;
  }
  std::string Threshold(int card) {
    const auto rows = Rows("SELECT td_Threshold FROM SelvoDiscountDS WHERE td_ID = " + std::to_string(card));
    return rows.empty() ? "(none)" : rows[0];
  }

  ModuleScope scope;
  ScriptedMessageService messages;
  TTestShopDatabase db;
  std::string address;
};

TEST_P(SharedSaveTest, TwoComputersAddingACardAtOnceBothKeepTheirOwnWithItsTargetAndPeriod) {
  TOtherComputer other(address, {[](TBackOffice& office) {
                         office.AddCard("Карта второго компьютера", 101);
                         return std::string(SaveResultName(office.Save()));
                       }});
  TBackOffice mine(address);
  mine.AddCard("Карта этого компьютера", 304);  // numbered as the other's: both loaded ten cards
  ASSERT_EQ(other.Next(), "saved");

  // A save the database refuses (card 5 given card 4's number) gives the
  // moved numbers back: the module still knows the new card as 11.
  TDataSet& cards = SelvoDiscountDataSet();
  auto renumberCard = [&cards](const char* field, TVariant key, std::int32_t to) {
    ASSERT_TRUE(cards.Locate(field, {std::move(key)}, loNone));
    cards.Edit();
    cards.FieldByName("td_ID").SetAsInteger(to);
    cards.Post();
  };
  ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{5})}, loNone));
  const std::string card5 = cards.FieldByName("td_DiscountName").AsString();
  renumberCard("td_ID", TVariant(std::int64_t{5}), 4);
  EXPECT_EQ(mine.Save(), TSaveResult::EntriesRefused);
  ASSERT_TRUE(cards.Locate("td_DiscountName", {TVariant(std::string("Карта этого компьютера"))}, loNone));
  EXPECT_EQ(cards.FieldByName("td_ID").AsInteger(), 11);
  EXPECT_EQ(DiscountGoodsDataSet().FieldByName("td_ID").AsInteger(), 11) << "its target follows it back";
  renumberCard("td_DiscountName", TVariant(card5), 5);

  EXPECT_EQ(mine.Save(), TSaveResult::Saved);

  EXPECT_EQ(Rows("SELECT c.td_DiscountName, g.ID_Target, count(e.ex_ID) FROM SelvoDiscountDS c "
                 "JOIN DiscountGoodsDS g ON g.td_ID = c.td_ID JOIN ExclusionsDS e ON e.td_ID = c.td_ID "
                 "WHERE c.td_ID > 10 GROUP BY c.td_DiscountName, g.ID_Target ORDER BY g.ID_Target"),
            (std::vector<std::string>{"Карта второго компьютера|101|1", "Карта этого компьютера|304|1"}));
  EXPECT_EQ(Rows("SELECT count(*) FROM SelvoDiscountDS"), std::vector<std::string>{"12"});
  for (const char* detail : {"DiscountGoodsDS", "ExclusionsDS"})
    EXPECT_EQ(Rows(std::string("SELECT count(*) FROM ") + detail +
                   " d WHERE NOT EXISTS (SELECT 1 FROM SelvoDiscountDS c WHERE c.td_ID = d.td_ID)"),
              std::vector<std::string>{"0"})
        << detail << " has rows of no card";
}

// A card both computers loaded; the other one saves first.
struct TConcurrentEdit {
  const char* name;
  void (*other)(TBackOffice&);
  void (*mine)(TBackOffice&);
  TSaveResult expected;
  const char* card4Afterwards;  // card 4's threshold in the database
};

void ChangeCard4(TBackOffice& office) { office.SetThreshold(4, "500=15%;"); }
void ChangeCard4Otherwise(TBackOffice& office) { office.SetThreshold(4, "300=11%;"); }
void DeleteCard4(TBackOffice& office) { office.DeleteCard(4); }
void ChangeCard5(TBackOffice& office) { office.SetThreshold(5, "700=7%;"); }

const TConcurrentEdit kConcurrentEdits[] = {
    {"change against change", ChangeCard4, ChangeCard4Otherwise, TSaveResult::ChangedElsewhere, "500=15%;"},
    {"change against delete", DeleteCard4, ChangeCard4Otherwise, TSaveResult::ChangedElsewhere, "(none)"},
    {"delete against change", ChangeCard4, DeleteCard4, TSaveResult::ChangedElsewhere, "500=15%;"},
    {"changes of two cards", ChangeCard5, ChangeCard4Otherwise, TSaveResult::Saved, "300=11%;"},
};

TEST_P(SharedSaveTest, NoSaveOverwritesAChangeItNeverSaw) {
  for (const TConcurrentEdit& edit : kConcurrentEdits) {
    SCOPED_TRACE(edit.name);
    host::CreateSampleShop(address, true);
    TOtherComputer other(address, {[&edit](TBackOffice& office) {
                           edit.other(office);
                           return std::string(SaveResultName(office.Save()));
                         }});
    TBackOffice mine(address);
    edit.mine(mine);
    ASSERT_EQ(other.Next(), "saved");
    const std::size_t before = messages.messages().size();
    EXPECT_EQ(mine.Save(), edit.expected);
    EXPECT_EQ(Threshold(4), edit.card4Afterwards);
    if (edit.expected == TSaveResult::Saved) continue;
    ASSERT_EQ(messages.messages().size(), before + 1);
    EXPECT_EQ(messages.messages().back().text,
              "SelvoDiscountDS: строку td_ID = 4 после загрузки изменил или удалил другой компьютер");
    EXPECT_EQ(SelvoDiscountDataSet().ChangeCount(), 1) << "the change stays pending";
  }
}

TEST_P(SharedSaveTest, ASaveHeldOpenRefusesTheOtherComputersStartForAWhileAndNotForGood) {
  TOtherComputer other(address, {[](TBackOffice& office) { return office.dm.Transaction("START") ? "held" : "no"; },
                                 [](TBackOffice& office) {
                                   office.dm.Transaction("ROLLBACK");
                                   return std::string("ended");
                                 }});
  TBackOffice mine(address);
  ChangeCard4(mine);
  ASSERT_EQ(other.Next(), "held");
  EXPECT_EQ(mine.Save(), TSaveResult::Refused) << "the other computer's save lock is waited for a bounded time";
  EXPECT_EQ(SelvoDiscountDataSet().ChangeCount(), 1);
  ASSERT_EQ(other.Next(), "ended");
  EXPECT_EQ(mine.Save(), TSaveResult::Saved);
  EXPECT_EQ(Threshold(4), "500=15%;");
}

TEST_P(SharedSaveTest, ASaveRefusedInItsSecondDatasetLeavesNothingOfTheFirst) {
  TBackOffice mine(address);
  TDataSet& payments = PaymentDataSet();
  ASSERT_TRUE(payments.Locate("ID", {TVariant(std::int64_t{1})}, loNone));
  payments.Edit();
  payments.FieldByName("Discount").SetAsFloat(3.5);
  payments.Post();
  // Card 5 takes card 4's identifier: the table's unique key refuses it.
  TDataSet& cards = SelvoDiscountDataSet();
  ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{5})}, loNone));
  cards.Edit();
  cards.FieldByName("td_ID").SetAsInteger(4);
  cards.Post();
  EXPECT_EQ(mine.Save(), TSaveResult::EntriesRefused);

  TOtherComputer other(address, {[](TBackOffice&) {
                         TDataSet& theirs = PaymentDataSet();
                         theirs.Locate("ID", {TVariant(std::int64_t{1})}, loNone);
                         return theirs.FieldByName("Discount").AsString();
                       }});
  EXPECT_EQ(other.Next(), "0") << "another computer sees nothing of the refused save";
  EXPECT_EQ(PaymentDataSet().ChangeCount(), 1);
  EXPECT_EQ(SelvoDiscountDataSet().ChangeCount(), 1);
}

SELVO_ON_BOTH_DATABASES(SharedSaveTest);

// A server that restarted since the last save dropped the connection: the
// next save opens it anew and goes through, the first time it is asked.
TEST(ServerRestartSaveTest, TheFirstSaveAfterTheServerRestartedGoesThrough) {
  ModuleScope scope;
  ScriptedMessageService messages;
  TPrivatePgServer server;
  host::CreateSampleShop(server.ConnInfo(), false);
  TBackOffice office(server.ConnInfo());
  office.SetThreshold(4, "300=10%;");
  ASSERT_STREQ(SaveResultName(office.Save()), "saved");
  PgExec(server.ConnInfo(), "CHECKPOINT");
  server.Crash();
  server.Restart();
  office.SetThreshold(4, "200=20%;");
  EXPECT_STREQ(SaveResultName(office.Save()), "saved");
  EXPECT_EQ(PgExec(server.ConnInfo(), "SELECT td_threshold FROM selvodiscountds WHERE td_id = 4")[0][0], "200=20%;");
}

}  // namespace
}  // namespace selvo::test
