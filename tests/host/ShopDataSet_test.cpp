// The host's datasets, as the module relies on them, over both kinds of
// shop database.
#include "host/shopdb/ShopDataSet.h"

#include <gtest/gtest.h>

#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "platform/FormatSettings.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

using selvo::test::TempDir;
using selvo::test::TShopDbKind;

class ShopDataSetTest : public ::testing::TestWithParam<TShopDbKind> {
 protected:
  ShopDataSetTest() : db_(GetParam()), path_(db_.Address()) { CreateShopDatabase(path_, false); }

  // Runs SQL on a connection of its own, before the data module opens.
  void Sql(const std::string& sql) {
    TShopDataModule setup(path_);
    setup.Connection().Execute(sql);
  }
  TShopDataModule& Open() {
    module_ = std::make_unique<TShopDataModule>(path_);
    return *module_;
  }
  std::int64_t Scalar(const std::string& sql) { return test::ScalarOf(module_->Connection(), sql); }

  test::TTestShopDatabase db_;
  std::string path_;
  test::ScopedFormatSettings format_;
  std::unique_ptr<TShopDataModule> module_;
};

constexpr const char* kThreePayments =
    "INSERT INTO Payment (ID, Name, Type, \"check\", Discount, Enabled) VALUES "
    "(1, 'наличные', 0, 1, 0, 1), (2, 'ЛБР', 1, 2, 2.5, 1), (3, 'Бонусы', 1, 2, 5, 0);";

TEST_P(ShopDataSetTest, WalksRowsInTableOrder) {
  Sql(kThreePayments);
  TShopDataSet& ds = Open().DataSet("Payment");
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.RecordCount(), 3);
  std::vector<int> ids;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    ids.push_back(ds.FieldByName("ID").AsInteger());
    EXPECT_EQ(ds.RecNo(), static_cast<int>(ids.size()));
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(ds.RecNo(), 3) << "Next past the end stays on the last row";

  ds.SetRecNo(2);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "ЛБР");
  EXPECT_FALSE(ds.Eof());
  ds.SetRecNo(7);
  EXPECT_EQ(ds.RecNo(), 2) << "a position outside the rows does not move";

  TShopDataSet& empty = module_->DataSet("KeyTovar");
  empty.First();
  EXPECT_TRUE(empty.Eof());
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.RecNo(), 0);
  EXPECT_TRUE(empty.FieldByName("Name").IsNull());
  EXPECT_EQ(empty.FieldByName("ID_Category").AsInteger(), 0);
}

TEST_P(ShopDataSetTest, FieldsByNameIgnoreLetterCase) {
  Sql(kThreePayments);
  TShopDataSet& ds = Open().DataSet("Payment");
  EXPECT_EQ(&ds.FieldByName("name"), &ds.FieldByName("NAME"));
  EXPECT_EQ(ds.FieldByName("customcheck").FieldName(), "CUSTOMCHECK");
  EXPECT_EQ(ds.FindField("NoSuchField"), nullptr);
  try {
    ds.FieldByName("CheckPrecLimt");
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("'CheckPrecLimt'"), std::string::npos) << e.Message();
  }
  TShopDataSet& goods = module_->DataSet("DiscountGoodsDS");
  EXPECT_EQ(&goods.FieldByName("Td_IsCategory"), &goods.FieldByName("td_IsCategory"));
}

TEST_P(ShopDataSetTest, OptionalPaymentColumnsMayBeAbsent) {
  TempDir other;
  const std::string path = other.file("old.db");
  CreateShopDatabase(path, false, TSchemaOptions{false, false, false});
  TShopDataModule module(path);
  TShopDataSet& ds = module.DataSet("Payment");
  for (const char* name : {"CheckItogPrec", "CheckPrecLimit", "GsmVO", "CUSTOMCHECK", "PRINTCUSTOMCHECK"})
    EXPECT_EQ(ds.FindField(name), nullptr) << name;
  EXPECT_NE(ds.FindField("Enabled"), nullptr);
}

TEST_P(ShopDataSetTest, TextsAssignedToNumbersAreConverted) {
  Sql(kThreePayments);
  TShopDataSet& ds = Open().DataSet("Payment");
  format_.Set(TFormatSettings::Russian());
  ds.First();
  ds.Edit();
  ds.FieldByName("Discount").SetAsString("7,5");
  ds.FieldByName("Type").SetAsString(" 1");
  ds.FieldByName("Name").SetAsInteger(42);
  EXPECT_DOUBLE_EQ(ds.FieldByName("Discount").AsFloat(), 7.5);
  EXPECT_EQ(ds.FieldByName("Discount").AsString(), "7,5");
  EXPECT_EQ(ds.FieldByName("Type").AsInteger(), 1);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "42");
  ds.FieldByName("CUSTOMCHECK").SetAsString("");
  EXPECT_FALSE(ds.FieldByName("CUSTOMCHECK").IsNull()) << "an empty text is a text";
  ds.FieldByName("Type").SetAsString("");
  EXPECT_TRUE(ds.FieldByName("Type").IsNull()) << "an empty text clears a number";

  ds.FieldByName("Discount").SetAsString("7.125");
  EXPECT_DOUBLE_EQ(ds.FieldByName("Discount").AsFloat(), 7.125) << "a full stop is taken as well";
  TFormatSettings grouped = TFormatSettings::Russian();
  grouped.ThousandSeparator = '.';
  format_.Set(grouped);
  EXPECT_THROW(ds.FieldByName("Discount").SetAsString("7.125"), EConvertError) << "7.125 may mean 7125 here";

  format_.Set(TFormatSettings::English());
  ds.FieldByName("Discount").SetAsString("7.25");
  EXPECT_DOUBLE_EQ(ds.FieldByName("Discount").AsFloat(), 7.25);
  EXPECT_EQ(ds.FieldByName("Discount").AsString(), "7.25");
}

TEST_P(ShopDataSetTest, BadTextNamesValueAndField) {
  Sql(kThreePayments);
  TShopDataSet& ds = Open().DataSet("Payment");
  format_.Set(TFormatSettings::English());
  ds.First();
  ds.Edit();
  struct Case {
    const char* field;
    const char* text;
    const char* message;
  } cases[] = {
      {"Discount", "abc", "'abc' не является допустимым числом с плавающей точкой для поля 'Discount'"},
      {"Discount", "7,5", "'7,5' не является допустимым числом с плавающей точкой для поля 'Discount'"},
      {"Type", "x", "'x' не является допустимым целым числом для поля 'Type'"},
      {"Type", "1.5", "'1.5' не является допустимым целым числом для поля 'Type'"},
      {"ID", "5000000000", "'5000000000' не является допустимым целым числом для поля 'ID'"},
  };
  for (const Case& c : cases) {
    try {
      ds.FieldByName(c.field).SetAsString(c.text);
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  EXPECT_EQ(ds.FieldByName("Type").AsInteger(), 0) << "a refused text leaves the value";
}

TEST_P(ShopDataSetTest, ReadsConvertStoredValues) {
  // Only a file can hold a text in a number column; the server refuses it.
  const bool textInNumber = GetParam() == TShopDbKind::File;
  Sql(std::string("INSERT INTO Payment (ID, Name, Discount, CheckPrecLimit) VALUES (1, '17', 2.5, 3.5);") +
      "INSERT INTO Goods (ID_Goods, Name, Price) VALUES ('12', 'Вода', " + (textInNumber ? "'дорого'" : "NULL") + ");");
  format_.Set(TFormatSettings::Russian());
  TShopDataSet& ds = Open().DataSet("Payment");
  ds.First();
  EXPECT_EQ(ds.FieldByName("Discount").AsInteger(), 2) << "halves go to the even neighbour";
  EXPECT_EQ(ds.FieldByName("CheckPrecLimit").AsInteger(), 4);
  EXPECT_EQ(ds.FieldByName("Discount").AsString(), "2,5");
  EXPECT_EQ(ds.FieldByName("Name").AsInteger(), 17);
  EXPECT_EQ(ds.FieldByName("ID").AsString(), "1");

  TShopDataSet& goods = module_->DataSet("Goods");
  goods.First();
  EXPECT_EQ(goods.FieldByName("ID_Goods").AsInteger(), 12);
  if (textInNumber) {
    EXPECT_THROW(goods.FieldByName("Price").AsFloat(), EConvertError);
  }
  EXPECT_THROW(goods.FieldByName("Name").AsInteger(), EConvertError);
}

TEST_P(ShopDataSetTest, LocateByOneOrSeveralKeys) {
  Sql(std::string(kThreePayments) +
      "INSERT INTO SelvoDiscountDS (td_ID) VALUES (7);"
      "INSERT INTO DiscountGoodsDS (dg_ID, td_ID, td_IsCategory, ID_Target) VALUES "
      "(1, 7, 0, 15), (2, 7, 1, 15), (3, 7, 1, 16);");
  TShopDataSet& ds = Open().DataSet("Payment");
  EXPECT_TRUE(ds.Locate("ID", {TVariant(std::int64_t{3})}, loNone));
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Бонусы");
  EXPECT_TRUE(ds.Locate("id", {TVariant(std::string("2"))}, loNone)) << "the key converts to the field's type";
  EXPECT_EQ(ds.RecNo(), 2);

  EXPECT_FALSE(ds.Locate("Name", {TVariant(std::string("лбр"))}, loNone));
  EXPECT_EQ(ds.RecNo(), 2) << "a failed search does not move";
  ds.First();
  EXPECT_TRUE(ds.Locate("Name", {TVariant(std::string("лбр"))}, loCaseInsensitive));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_TRUE(ds.Locate("Name", {TVariant(std::string("НАЛ"))}, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);
  EXPECT_FALSE(ds.Locate("ID", {TVariant(std::string("два"))}, loNone));

  TShopDataSet& targets = module_->DataSet("DiscountGoodsDS");
  EXPECT_TRUE(
      targets.Locate("ID_Target;Td_IsCategory", {TVariant(std::int64_t{15}), TVariant(std::int64_t{1})}, loNone));
  EXPECT_EQ(targets.FieldByName("dg_ID").AsInteger(), 2);
  EXPECT_FALSE(
      targets.Locate("ID_Target;Td_IsCategory", {TVariant(std::int64_t{16}), TVariant(std::int64_t{0})}, loNone));
  EXPECT_THROW(targets.Locate("ID_Target;Td_IsCategory", {TVariant(std::int64_t{16})}, loNone), EDatabaseError);
  EXPECT_THROW(targets.Locate("ID_Target;Nope", {TVariant(), TVariant()}, loNone), EDatabaseError);
}

TEST_P(ShopDataSetTest, EditAppendPostCancelDeleteWithStateAndModified) {
  Sql(kThreePayments);
  TShopDataSet& ds = Open().DataSet("Payment");
  ds.First();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_THROW(ds.FieldByName("Name").SetAsString("x"), EDatabaseError) << "not in edit mode";
  EXPECT_THROW(ds.Post(), EDatabaseError);

  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  EXPECT_FALSE(ds.Modified());
  ds.FieldByName("Name").SetAsString("Наличка");
  EXPECT_TRUE(ds.Modified());
  ds.Cancel();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "наличные");
  EXPECT_EQ(ds.ChangeCount(), 0);

  ds.SetRecNo(2);
  ds.Append();
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_TRUE(ds.FieldByName("ID").IsNull());
  ds.Cancel();
  EXPECT_EQ(ds.RecNo(), 2) << "cancelling an append returns to the row before";
  EXPECT_EQ(ds.RecordCount(), 3);

  ds.Append();
  ds.FieldByName("ID").SetAsInteger(4);
  ds.FieldByName("Name").SetAsString("Сертификат");
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Сертификат");

  ds.SetRecNo(4);
  ds.Delete();
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.RecNo(), 3) << "deleting the last row moves to the new last";
  ds.First();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2) << "deleting moves to the next row";

  TShopDataSet& empty = module_->DataSet("KeyTovar");
  EXPECT_THROW(empty.Delete(), EDatabaseError);
  empty.Edit();
  EXPECT_EQ(empty.State(), TDataSetState::dsInsert) << "editing an empty dataset appends";
  empty.Delete();
  EXPECT_EQ(empty.State(), TDataSetState::dsBrowse) << "deleting a new row abandons it";
  EXPECT_TRUE(empty.IsEmpty());
}

TEST_P(ShopDataSetTest, FirstPostsAChangedRowAndCancelsAnUnchangedOne) {
  Sql(kThreePayments);
  TShopDataSet& ds = Open().DataSet("Payment");
  ds.SetRecNo(3);
  ds.Edit();
  ds.FieldByName("Enabled").SetAsInteger(1);
  ds.First();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.ChangeCount(), 1);
  ds.SetRecNo(3);
  EXPECT_EQ(ds.FieldByName("Enabled").AsInteger(), 1);

  ds.Append();  // nothing assigned: abandoned
  ds.First();
  EXPECT_EQ(ds.RecordCount(), 3);
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(9);
  ds.First();
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_EQ(ds.ChangeCount(), 2);
}

TEST_P(ShopDataSetTest, ChangeCountCountsEntriesNotOperations) {
  Sql(kThreePayments);
  TShopDataSet& ds = Open().DataSet("Payment");
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(4);
  ds.Post();
  ds.Edit();
  ds.FieldByName("Name").SetAsString("Новый");
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 1) << "inserted, then changed: one entry";
  ds.Delete();
  EXPECT_EQ(ds.ChangeCount(), 0) << "inserted, then deleted: nothing to write";

  ds.First();
  ds.Edit();
  ds.FieldByName("Discount").SetAsFloat(1);
  ds.Post();
  ds.Edit();
  ds.FieldByName("Discount").SetAsFloat(2);
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 1);
  ds.Delete();
  EXPECT_EQ(ds.ChangeCount(), 1) << "changed, then deleted: one deletion";
  ds.Edit();
  ds.Post();  // nothing assigned
  EXPECT_EQ(ds.ChangeCount(), 1);

  ds.Close();
  EXPECT_EQ(ds.ChangeCount(), 0);
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 3) << "closing dropped the changes";
}

TEST_P(ShopDataSetTest, ApplyWritesTheLogAndKeepsFailedEntries) {
  Sql(std::string(kThreePayments) +
      (GetParam() == TShopDbKind::File
           ? "CREATE TRIGGER no_bonus BEFORE UPDATE ON Payment WHEN NEW.Discount > 50 "
             "BEGIN SELECT RAISE(ABORT, 'скидка больше 50%'); END;"
           : "CREATE FUNCTION no_bonus() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
             "IF NEW.Discount > 50 THEN RAISE EXCEPTION 'скидка больше 50%%'; END IF; RETURN NEW; END $$;"
             "CREATE TRIGGER no_bonus BEFORE UPDATE ON Payment FOR EACH ROW EXECUTE FUNCTION no_bonus();"));
  TShopDataSet& ds = Open().DataSet("Payment");
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(2);  // taken: UNIQUE fails
  ds.FieldByName("Name").SetAsString("Дубль");
  ds.Post();
  ds.Append();
  ds.FieldByName("Name").SetAsString("Без номера");  // ID NOT NULL fails
  ds.Post();
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(10);
  ds.FieldByName("Name").SetAsString("Сертификат");
  ds.Post();
  ds.First();
  ds.Edit();
  ds.FieldByName("Discount").SetAsFloat(60);  // the trigger refuses
  ds.Post();
  ds.Next();
  ds.Edit();
  ds.FieldByName("Discount").SetAsFloat(4);
  ds.Post();
  ds.Next();
  ds.Delete();
  EXPECT_EQ(ds.ChangeCount(), 6);

  EXPECT_EQ(ds.ApplyUpdates(-1), 3);
  EXPECT_EQ(ds.ChangeCount(), 3);
  ASSERT_EQ(ds.ApplyErrors().size(), 3u);
  EXPECT_NE(ds.ApplyErrors()[2].find("скидка больше 50%"), std::string::npos) << ds.ApplyErrors()[2];
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment"), 3);
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment WHERE ID = 10 AND Enabled = 1"), 1) << "defaults filled in";
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment WHERE ID = 3"), 0);
  EXPECT_EQ(Scalar("SELECT Discount FROM Payment WHERE ID = 2"), 4);
  EXPECT_EQ(Scalar("SELECT Discount FROM Payment WHERE ID = 1"), 0);
  ds.Locate("ID", {TVariant(std::int64_t{10})}, loNone);
  EXPECT_EQ(ds.FieldByName("Enabled").AsInteger(), 1) << "the written row is read back";

  // Mending the failed rows lets the next apply write them.
  ds.Locate("Name", {TVariant(std::string("Дубль"))}, loNone);
  ds.Edit();
  ds.FieldByName("ID").SetAsInteger(11);
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 3);
  EXPECT_EQ(ds.ApplyUpdates(0), 1) << "stops at the first failure beyond the limit";
  EXPECT_EQ(ds.ChangeCount(), 2);
}

TEST_P(ShopDataSetTest, AnInsertThatATriggerSkipsIsAFailedEntry) {
  Sql(std::string(kThreePayments) +
      (GetParam() == TShopDbKind::File
           ? "CREATE TRIGGER no_coupons BEFORE INSERT ON Payment WHEN NEW.Name = 'Купон' "
             "BEGIN SELECT RAISE(IGNORE); END;"
           : "CREATE FUNCTION no_coupons() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
             "IF NEW.Name = 'Купон' THEN RETURN NULL; END IF; RETURN NEW; END $$;"
             "CREATE TRIGGER no_coupons BEFORE INSERT ON Payment FOR EACH ROW EXECUTE FUNCTION no_coupons();"));
  TShopDataSet& ds = Open().DataSet("Payment");
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(10);
  ds.FieldByName("Name").SetAsString("Купон");
  ds.Post();
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(11);
  ds.FieldByName("Name").SetAsString("Сертификат");
  ds.Post();
  EXPECT_EQ(ds.ApplyUpdates(-1), 1);
  ASSERT_EQ(ds.ApplyErrors().size(), 1u);
  EXPECT_NE(ds.ApplyErrors()[0].find("не записана"), std::string::npos) << ds.ApplyErrors()[0];
  EXPECT_EQ(ds.ChangeCount(), 1) << "the skipped row stays pending";
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment WHERE ID = 10"), 0);
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment WHERE ID = 11"), 1);
}

TEST_P(ShopDataSetTest, ApplyFindsRowsByTheirOriginalKey) {
  Sql(kThreePayments);
  TShopDataSet& ds = Open().DataSet("Payment");
  ds.Locate("ID", {TVariant(std::int64_t{3})}, loNone);
  ds.Edit();
  ds.FieldByName("ID").SetAsInteger(30);
  ds.FieldByName("Check").SetAsInteger(0);
  ds.Post();
  EXPECT_EQ(ds.ApplyUpdates(-1), 0);
  EXPECT_EQ(Scalar("SELECT \"check\" FROM Payment WHERE ID = 30 AND Name = 'Бонусы'"), 0);
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment"), 3);

  // A row that another program removed meanwhile is out of date, named by
  // its identifier; the change stays pending.
  module_->Connection().Execute("DELETE FROM Payment WHERE ID = 1");
  ds.First();
  ds.Edit();
  ds.FieldByName("Enabled").SetAsInteger(0);
  ds.Post();
  try {
    ds.ApplyUpdates(-1);
    ADD_FAILURE() << "a change of a removed row was applied";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TDatabaseErrorKind::Conflict);
    EXPECT_EQ(e.Message(), "Payment: строку ID = 1 после загрузки изменил или удалил другой компьютер");
  }
  EXPECT_EQ(ds.ChangeCount(), 1);
}

TEST_P(ShopDataSetTest, DetailRowsFollowTheMaster) {
  Sql("INSERT INTO SelvoDiscountDS (td_ID, td_DiscountName) VALUES (1, 'Первая'), (2, 'Вторая'), (3, 'Пустая');"
      "INSERT INTO DiscountGoodsDS (dg_ID, td_ID, td_IsCategory, ID_Target) VALUES "
      "(10, 1, 1, 100), (11, 2, 0, 200), (12, 1, 0, 101), (13, 2, 0, 201), (14, 2, 1, 202);"
      "INSERT INTO ExclusionsDS (ex_ID, td_ID, ex_Enabled) VALUES (1, 2, 1);");
  TShopDataModule& dm = Open();
  TShopDataSet& cards = dm.DataSet("SelvoDiscountDS");
  TShopDataSet& goods = dm.DataSet("DiscountGoodsDS");
  TShopDataSet& periods = dm.DataSet("ExclusionsDS");
  auto targets = [&] {
    std::vector<int> ids;
    for (goods.First(); !goods.Eof(); goods.Next()) ids.push_back(goods.FieldByName("ID_Target").AsInteger());
    return ids;
  };

  cards.First();
  EXPECT_EQ(targets(), (std::vector<int>{100, 101}));
  EXPECT_TRUE(periods.IsEmpty());
  cards.Next();
  EXPECT_EQ(goods.RecNo(), 1) << "the detail goes to its first row";
  EXPECT_EQ(goods.RecordCount(), 3);
  EXPECT_EQ(targets(), (std::vector<int>{200, 201, 202}));
  EXPECT_EQ(periods.RecordCount(), 1);
  cards.Next();
  EXPECT_TRUE(goods.IsEmpty());
  EXPECT_TRUE(goods.Eof());
  cards.Locate("td_ID", {TVariant(std::int64_t{1})}, loNone);
  EXPECT_EQ(targets(), (std::vector<int>{100, 101}));

  // A new detail row belongs to the current card; pending rows survive moves.
  goods.Append();
  EXPECT_EQ(goods.FieldByName("td_ID").AsInteger(), 1);
  goods.FieldByName("ID_Target").SetAsInteger(102);
  goods.Post();
  goods.First();
  goods.Delete();  // 100
  cards.SetRecNo(2);
  cards.SetRecNo(1);
  EXPECT_EQ(targets(), (std::vector<int>{101, 102}));
  EXPECT_EQ(goods.ChangeCount(), 2);

  // A detail row being edited is completed when the master moves.
  goods.First();
  goods.Edit();
  goods.FieldByName("ID_Target").SetAsInteger(103);
  cards.Next();
  EXPECT_EQ(goods.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(goods.ChangeCount(), 3);

  // A new card shows no rows until its td_ID is set, then its own.
  cards.Append();
  EXPECT_TRUE(goods.IsEmpty());
  cards.FieldByName("td_ID").SetAsInteger(2);
  EXPECT_EQ(goods.RecordCount(), 3);
  cards.FieldByName("td_ID").SetAsInteger(4);
  EXPECT_TRUE(goods.IsEmpty());
  goods.Append();
  goods.FieldByName("ID_Target").SetAsInteger(400);
  goods.Post();
  cards.Post();
  EXPECT_EQ(targets(), (std::vector<int>{400}));

  EXPECT_EQ(goods.ApplyUpdates(-1), 0);
  EXPECT_EQ(Scalar("SELECT count(*) FROM DiscountGoodsDS WHERE td_ID = 1"), 2);
  EXPECT_EQ(Scalar("SELECT ID_Target FROM DiscountGoodsDS WHERE td_ID = 4"), 400);
  EXPECT_EQ(Scalar("SELECT count(*) FROM DiscountGoodsDS WHERE ID_Target = 103"), 1);

  cards.Close();
  EXPECT_TRUE(goods.IsEmpty()) << "a closed master shows no detail rows";
  cards.Open();
  EXPECT_EQ(targets(), (std::vector<int>{103, 102})) << "first card again";
}

SELVO_ON_BOTH_DATABASES(ShopDataSetTest);

}  // namespace
}  // namespace selvo::host
