// The host's data module: opening shop databases, the transaction callback
// and what the module reads through it.
#include "host/shopdb/ShopDataModule.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "discounts/SelvoDiscountItemsU.h"
#include "host/session/HostSession.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopSchema.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/FormatSettings.h"
#include "state/SelvoModuleU.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

using selvo::test::ReadFileBytes;
using selvo::test::TempDir;
using selvo::test::TShopDbKind;
using selvo::test::WriteFileBytes;

std::string OpenError(const std::string& path) {
  try {
    TShopDataModule module(path);
  } catch (const EDatabaseError& e) {
    return e.Message();
  }
  return "opened";
}

TEST(SqliteDataModuleOpen, RefusesWhatIsNoShopDatabase) {
  TempDir dir;
  EXPECT_EQ(OpenError(dir.file("none.db")), "Файл базы данных магазина \"" + dir.file("none.db") + "\" не найден");
  EXPECT_EQ(OpenError(dir.path()), "\"" + dir.path() + "\" не является файлом базы данных магазина");

  WriteFileBytes(dir.file("text.db"), "Это не база данных, а просто текст, довольно длинный для заголовка.\n");
  EXPECT_NE(OpenError(dir.file("text.db")).find("не является базой данных магазина"), std::string::npos);

  CreateSampleShop(dir.file("shop.db"), false);
  WriteFileBytes(dir.file("cut.db"), ReadFileBytes(dir.file("shop.db")).substr(0, 2500));
  EXPECT_NE(OpenError(dir.file("cut.db")), "opened");

  {
    TShopDataModule shop(dir.file("shop.db"));
    shop.Connection().Execute("VACUUM INTO '" + dir.file("other.db") + "'");
    shop.Connection().Execute("ATTACH '" + dir.file("other.db") +
                              "' AS other;"
                              "DROP TABLE other.Payment; DROP TABLE other.SelvoDiscountDS;"
                              "DROP TABLE other.DiscountGoodsDS; DROP TABLE other.ExclusionsDS;"
                              "DROP TABLE other.KeyTovar; DROP TABLE other.Goods; DETACH other;");
  }
  EXPECT_NE(OpenError(dir.file("other.db")).find("нет таблиц магазина"), std::string::npos);
}

TEST(SqliteDataModuleOpen, ReadOnlyFileOpensForReading) {
  TempDir dir;
  const std::string path = dir.file("shop.db");
  CreateSampleShop(path, false);
  chmod(path.c_str(), 0444);
  if (access(path.c_str(), W_OK) == 0) GTEST_SKIP() << "running with rights that ignore file modes";
  TShopDataModule module(path);
  TShopDataSet& payment = module.DataSet("Payment");
  EXPECT_EQ(payment.RecordCount(), 9);
  payment.First();
  payment.Edit();
  payment.FieldByName("Enabled").SetAsInteger(0);
  payment.Post();
  EXPECT_EQ(payment.ApplyUpdates(-1), 1) << "the write fails as an entry, not as a crash";
}

TEST(SqliteDataModuleOpen, FindsDataSetsByNameIgnoringCase) {
  TempDir dir;
  CreateShopDatabase(dir.file("shop.db"), false, TSchemaOptions{});
  TShopDataModule module(dir.file("shop.db"));
  EXPECT_EQ(module.FindComponent("payment"), &module.DataSet("Payment"));
  EXPECT_EQ(module.FindComponent("Kassa"), nullptr);
  EXPECT_THROW(module.DataSet("Kassa"), EDatabaseError);
  EXPECT_EQ(module.DataSets().size(), 6u);
  EXPECT_EQ(module.DataSet("ExclusionsDS").Master(), &module.DataSet("SelvoDiscountDS"));
  EXPECT_EQ(module.DataSet("Goods").Master(), nullptr);
}

TEST(SqliteDataModuleOpen, RefusesToOverwriteUnlessAsked) {
  TempDir dir;
  const std::string path = dir.file("shop.db");
  CreateShopDatabase(path, false);
  WriteFileBytes(path + "-journal", "stale journal of the old file");
  EXPECT_THROW(CreateSampleShop(path, false), EDatabaseError);
  CreateSampleShop(path, true);
  EXPECT_FALSE(std::filesystem::exists(path + "-journal")) << "an old journal would be played into the new file";
  TShopDataModule module(path);
  EXPECT_EQ(module.DataSet("Payment").RecordCount(), 9);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary files left";
}

class TransactionTest : public ::testing::TestWithParam<TShopDbKind> {
 protected:
  TransactionTest() : db_(GetParam()), path_(db_.Address()) {
    CreateSampleShop(path_, false);
    module_ = std::make_unique<TShopDataModule>(path_);
    SetCallbackDataModule(module_.get());
  }
  ~TransactionTest() override { SetCallbackDataModule(nullptr); }

  // Changes one row of each kind in "Payment": 3 log entries.
  void ChangePayments() {
    TShopDataSet& ds = module_->DataSet("Payment");
    ds.First();
    ds.Edit();
    ds.FieldByName("Discount").SetAsFloat(2);
    ds.Post();
    ds.Locate("ID", {TVariant(std::int64_t{9})}, loNone);
    ds.Delete();
    ds.Append();
    ds.FieldByName("ID").SetAsInteger(10);
    ds.FieldByName("Name").SetAsString("Купон");
    ds.Post();
  }
  std::int64_t Scalar(const std::string& sql) { return test::ScalarOf(module_->Connection(), sql); }
  // Every row of "Payment" as text, read on a connection of its own: what
  // the database holds for everybody else.
  std::string Committed() {
    std::string rows;
    TShopDataModule other(path_);
    other.Connection().Query("SELECT * FROM Payment ORDER BY ID", {}, [&](std::vector<TVariant>& row) {
      for (const TVariant& v : row) rows += ValueAsText(v) + "|";
      rows += "\n";
    });
    return rows;
  }
  static std::string ValueAsText(const TVariant& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) return std::to_string(*d);
    if (const auto* t = std::get_if<std::string>(&v)) return *t;
    return "null";
  }

  test::TTestShopDatabase db_;
  std::string path_;
  std::unique_ptr<TShopDataModule> module_;
};

TEST_P(TransactionTest, RollbackLeavesTheDatabaseAsItWasAndTheChangesPending) {
  ChangePayments();
  TShopDataSet& ds = module_->DataSet("Payment");
  const bool file = GetParam() == TShopDbKind::File;
  const std::string before = file ? ReadFileBytes(path_) : std::string();
  const std::string committed = Committed();
  ASSERT_TRUE(TransactionCallback("START"));
  EXPECT_EQ(ds.ApplyUpdates(-1), 0);
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment WHERE ID = 10"), 1) << "written inside the transaction";
  if (!file) {
    EXPECT_EQ(Committed(), committed) << "nobody else sees a save before its commit";
  }
  EXPECT_TRUE(TransactionCallback("ROLLBACK"));
  if (file) {
    EXPECT_EQ(ReadFileBytes(path_), before);
  }
  EXPECT_EQ(Committed(), committed);
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment WHERE ID = 10"), 0);
  EXPECT_EQ(ds.ChangeCount(), 3) << "what was not saved is still pending";

  ASSERT_TRUE(TransactionCallback("START"));
  EXPECT_EQ(ds.ApplyUpdates(-1), 0);
  EXPECT_TRUE(TransactionCallback("COMMIT"));
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_FALSE(TransactionCallback("ROLLBACK")) << "no transaction is open";
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_NE(Committed(), committed);

  TShopDataModule reopened(path_);
  TShopDataSet& again = reopened.DataSet("Payment");
  EXPECT_EQ(again.RecordCount(), 9);
  EXPECT_TRUE(again.Locate("ID", {TVariant(std::int64_t{10})}, loNone));
  EXPECT_FALSE(again.Locate("ID", {TVariant(std::int64_t{9})}, loNone));
  again.First();
  EXPECT_EQ(again.FieldByName("Discount").AsFloat(), 2);
}

TEST_P(TransactionTest, ChangesMadeAfterTheApplyAreKeptByARollback) {
  ChangePayments();
  TShopDataSet& ds = module_->DataSet("Payment");
  ASSERT_TRUE(TransactionCallback("START"));
  ASSERT_EQ(ds.ApplyUpdates(-1), 0);
  ds.Locate("ID", {TVariant(std::int64_t{10})}, loNone);
  ds.Delete();  // the new row again
  ds.First();
  ds.Edit();
  ds.FieldByName("Discount").SetAsFloat(3);
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 2);
  EXPECT_TRUE(TransactionCallback("ROLLBACK"));
  EXPECT_EQ(ds.ChangeCount(), 2) << "the first row changed, the deletion; the new row is gone";
  ASSERT_TRUE(TransactionCallback("START"));
  EXPECT_EQ(ds.ApplyUpdates(-1), 0);
  ASSERT_TRUE(TransactionCallback("COMMIT"));
  EXPECT_EQ(Scalar("SELECT Discount FROM Payment WHERE ID = 1"), 3);
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment"), 8);
}

TEST_P(TransactionTest, ATransactionEndedByTheDatabaseIsAnError) {
  if (GetParam() == TShopDbKind::Server)
    GTEST_SKIP() << "the server ends a transaction only with its connection (ServerDatabase tests)";
  module_->Connection().Execute(
      "CREATE TRIGGER guard BEFORE INSERT ON Payment WHEN NEW.Name = 'Купон' "
      "BEGIN SELECT RAISE(ROLLBACK, 'купоны запрещены'); END;");
  ChangePayments();
  TShopDataSet& ds = module_->DataSet("Payment");
  const std::string before = ReadFileBytes(path_);
  ASSERT_TRUE(TransactionCallback("START"));
  try {
    ds.ApplyUpdates(-1);
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("купоны запрещены"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(ds.ChangeCount(), 3);
  EXPECT_FALSE(TransactionCallback("ROLLBACK"));
  EXPECT_EQ(ds.ChangeCount(), 3);
  EXPECT_EQ(ReadFileBytes(path_), before);
}

// Inside a transaction an entry whose written row cannot be read back fails
// alone: the entry's savepoint undoes its write, and the entries after it,
// in this dataset and the next, are written and committed. On the server the
// re-read itself fails (a trigger took the shop's tables off the search path
// of the transaction), which spoils the whole transaction unless the
// savepoint is rolled back; on the file it finds no row (a trigger moved the
// row's key).
TEST_P(TransactionTest, AnEntryWhoseRowCannotBeReadBackFailsAloneAndTheRestIsCommitted) {
  const bool file = GetParam() == TShopDbKind::File;
  if (file) {
    module_->Connection().Execute(
        "CREATE TRIGGER move_bonus AFTER UPDATE OF Enabled ON Payment WHEN NEW.ID = 7 "
        "BEGIN UPDATE Payment SET rowid = rowid + 1000 WHERE rowid = NEW.rowid; END;");
  } else {
    module_->Connection().Execute(
        "CREATE FUNCTION hide_shop() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "PERFORM set_config('search_path', 'pg_catalog', true); RETURN NEW; END $$;"
        "CREATE TRIGGER hide_shop AFTER UPDATE OF enabled ON payment FOR EACH ROW WHEN (NEW.id = 7) "
        "EXECUTE FUNCTION hide_shop();");
  }
  TShopDataSet& ds = module_->DataSet("Payment");
  TShopDataSet& cards = module_->DataSet("SelvoDiscountDS");
  const std::int64_t bonusRowid = Scalar("SELECT rowid FROM Payment WHERE ID = 7");
  const std::int64_t bonusEnabled = Scalar("SELECT Enabled FROM Payment WHERE ID = 7");
  // The entry that fails comes first in the log.
  ASSERT_TRUE(ds.Locate("ID", {TVariant(std::int64_t{7})}, loNone));
  ds.Edit();
  ds.FieldByName("Enabled").SetAsInteger(bonusEnabled == 1 ? 0 : 1);
  ds.Post();
  ChangePayments();
  ASSERT_TRUE(cards.Locate("td_ID", {TVariant(std::int64_t{1})}, loNone));
  cards.Edit();
  cards.FieldByName("td_DiscountName").SetAsString("Переименованная");
  cards.Post();
  ASSERT_EQ(ds.ChangeCount(), 4);

  ASSERT_TRUE(TransactionCallback("START"));
  EXPECT_EQ(ds.ApplyUpdates(-1), 1);
  ASSERT_EQ(ds.ApplyErrors().size(), 1u);
  EXPECT_NE(ds.ApplyErrors()[0].find(file ? "не найдена в таблице Payment" : "не удалось перечитать"),
            std::string::npos)
      << ds.ApplyErrors()[0];
  EXPECT_EQ(ds.ChangeCount(), 1) << "only the entry that failed stays pending";
  EXPECT_EQ(cards.ApplyUpdates(-1), 0) << "the transaction is still usable: " << cards.ApplyErrors().at(0);
  EXPECT_TRUE(TransactionCallback("COMMIT")) << "the other entries are committed";

  // What everybody else reads now.
  TShopDataModule other(path_);
  auto scalar = [&](const std::string& sql) { return test::ScalarOf(other.Connection(), sql); };
  EXPECT_EQ(scalar("SELECT Discount FROM Payment WHERE ID = 1"), 2);
  EXPECT_EQ(scalar("SELECT count(*) FROM Payment WHERE ID = 9"), 0);
  EXPECT_EQ(scalar("SELECT count(*) FROM Payment WHERE ID = 10"), 1);
  EXPECT_EQ(scalar("SELECT count(*) FROM SelvoDiscountDS WHERE td_ID = 1 AND td_DiscountName = 'Переименованная'"), 1);
  EXPECT_EQ(scalar("SELECT Enabled FROM Payment WHERE ID = 7"), bonusEnabled) << "the failed entry's write is undone";
  EXPECT_EQ(scalar("SELECT rowid FROM Payment WHERE ID = 7"), bonusRowid);

  // Without the trigger the pending entry is saved by the next try.
  module_->Connection().Execute(file ? "DROP TRIGGER move_bonus" : "DROP TRIGGER hide_shop ON payment");
  ASSERT_TRUE(TransactionCallback("START"));
  EXPECT_EQ(ds.ApplyUpdates(-1), 0);
  EXPECT_TRUE(TransactionCallback("COMMIT"));
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(scalar("SELECT Enabled FROM Payment WHERE ID = 7"), bonusEnabled == 1 ? 0 : 1);
}

TEST_P(TransactionTest, CommandsAnswerWhetherTheDatabaseAgreed) {
  EXPECT_TRUE(TransactionCallback("START"));
  EXPECT_FALSE(TransactionCallback("START")) << "one transaction at a time";
  EXPECT_TRUE(TransactionCallback("COMMIT"));
  EXPECT_FALSE(TransactionCallback("COMMIT"));
  EXPECT_FALSE(TransactionCallback("BEGIN"));
  EXPECT_FALSE(TransactionCallback(nullptr));
  SetCallbackDataModule(nullptr);
  EXPECT_FALSE(TransactionCallback("START"));
}

TEST_P(TransactionTest, ApplyWithoutATransactionWritesAtOnce) {
  ChangePayments();
  EXPECT_EQ(module_->DataSet("Payment").ApplyUpdates(-1), 0);
  EXPECT_FALSE(TransactionCallback("ROLLBACK"));
  EXPECT_EQ(module_->DataSet("Payment").ChangeCount(), 0);
  EXPECT_EQ(Scalar("SELECT count(*) FROM Payment WHERE ID = 10"), 1);
}

// ---------------------------------------------------------------------------
// The module reading the shop through the data module.

class ModuleReadsShopTest : public ::testing::TestWithParam<TShopDbKind> {
 protected:
  ModuleReadsShopTest() : db_(GetParam()), path_(db_.Address()) {}
  ~ModuleReadsShopTest() override { Module().DataModule = nullptr; }
  TShopDataModule& Open() {
    module_ = std::make_unique<TShopDataModule>(path_);
    Module().DataModule = module_.get();
    return *module_;
  }
  std::string FillError() {
    try {
      FillPaymentsList();
    } catch (const EDatabaseError& e) {
      return e.Message();
    } catch (const EConvertError& e) {
      return e.Message();
    }
    return "loaded";
  }

  selvo::test::ModuleScope scope_;
  test::TTestShopDatabase db_;
  std::string path_;
  selvo::test::ScopedFormatSettings format_;
  std::unique_ptr<TShopDataModule> module_;
};

TEST_P(ModuleReadsShopTest, SampleShopLoadsWithEveryKindOfCard) {
  for (const TFormatSettings& fs : {TFormatSettings::Russian(), TFormatSettings::English()}) {
    format_.Set(fs);
    CreateSampleShop(path_, true);
    Open();
    FillPaymentsList();
    ASSERT_EQ(PaymentList().Count(), 9);
    EXPECT_EQ(PaymentRecName(*PaymentList().GetItem(0)), "наличные");
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(IsRenamablePayment(i)) << i;
    EXPECT_TRUE(IsRenamablePayment(6));
    EXPECT_EQ(PaymentList().FindByID(8)->CheckItogPrec, 100);
    EXPECT_EQ(PaymentList().FindByID(6)->GsmVO, 12);

    selvo::FillDiscountList();
    TDiscountList& cards = DiscountList();
    ASSERT_EQ(cards.Count(), 10);
    const TDiscountItem& receipt = *cards.GetItem(0);
    ASSERT_EQ(receipt.ThresholdSum.size(), 2u);
    EXPECT_EQ(receipt.ThresholdSum[1], 5000);
    EXPECT_EQ(receipt.ThresholdValue[1], 5);
    const TDiscountItem& absolute = *cards.GetItem(1);
    ASSERT_EQ(absolute.ThresholdUnit.size(), 2u);
    EXPECT_EQ(absolute.ThresholdUnit[0], kUnitRouble);
    const TDiscountItem& ban = *cards.GetItem(4);
    ASSERT_EQ(ban.TimeValue.size(), 2u);
    EXPECT_EQ(ban.TimeValue[0], SaleBanAmount);
    EXPECT_EQ(ban.TimeUnit[1], kUnitRouble);
    EXPECT_TRUE(ban.IsTarget(4, true));
    const TDiscountItem& coffee = *cards.GetItem(3);
    EXPECT_TRUE(coffee.IsTarget(2, true));
    EXPECT_TRUE(coffee.IsTarget(304, false));
    EXPECT_EQ(cards.GetItem(6)->WeekDays, 96);
    EXPECT_FALSE(cards.GetItem(6)->AllWeek);
    EXPECT_FALSE(cards.GetItem(7)->AllDay);
    ASSERT_EQ(cards.GetItem(7)->TimeBegin.size(), 1u);
    EXPECT_EQ(cards.GetItem(8)->PeriodBegin.size(), 2u);
    EXPECT_FALSE(cards.GetItem(9)->Enabled);
    EXPECT_FALSE(cards.GetItem(9)->PeriodEnabled.at(0));

    const TLastIdentifiers ids = ReadLastIdentifiers(*module_);
    EXPECT_EQ(ids.payment, 9);
    EXPECT_EQ(ids.discount, 10);
    EXPECT_EQ(ids.dscGoods, 10);
    EXPECT_EQ(ids.exclusions, 3);
  }
}

TEST_P(ModuleReadsShopTest, PaymentTableWithoutARequiredColumn) {
  CreateShopDatabase(path_, false);
  {
    TShopDataModule setup(path_);
    setup.Connection().Execute("INSERT INTO Payment (ID, Name) VALUES (1, 'наличные'), (2, 'ЛБР');" +
                               (GetParam() == TShopDbKind::File ? test::DropFileHistoryTriggers("Payment") : "") +
                               "ALTER TABLE Payment DROP COLUMN Enabled;");
  }
  Open();
  EXPECT_EQ(FillError(), "Payment: поле 'Enabled' не найдено");
  EXPECT_EQ(PaymentList().Count(), 0);
}

TEST_P(ModuleReadsShopTest, AValueThatDoesNotConvertStopsTheLoadingAfterTheRowsBefore) {
  if (GetParam() == TShopDbKind::Server) GTEST_SKIP() << "the server refuses a text in a number column";
  CreateShopDatabase(path_, false);
  {
    TShopDataModule setup(path_);
    setup.Connection().Execute(
        "INSERT INTO Payment (ID, Name, Type) VALUES (1, 'наличные', 0), (2, 'ЛБР', 1), (3, 'Бонусы', 'один');");
  }
  Open();
  EXPECT_EQ(FillError(), "'один' не является допустимым целым числом для поля 'Type'");
  EXPECT_EQ(PaymentList().Count(), 2);
}

TEST_P(ModuleReadsShopTest, RoundingColumnNeedsItsLimit) {
  CreateShopDatabase(path_, false, TSchemaOptions{true, false, false});
  {
    TShopDataModule setup(path_);
    setup.Connection().Execute("INSERT INTO Payment (ID, Name, CheckItogPrec) VALUES (1, 'наличные', 100);" +
                               (GetParam() == TShopDbKind::File ? test::DropFileHistoryTriggers("Payment") : "") +
                               "ALTER TABLE Payment DROP COLUMN CheckPrecLimit;");
  }
  Open();
  EXPECT_EQ(FillError(), "Payment: поле 'CheckPrecLimit' не найдено");
  EXPECT_FALSE(Module().HasGsmVOField || Module().HasCustomCheckField);
}

SELVO_ON_BOTH_DATABASES(TransactionTest);
SELVO_ON_BOTH_DATABASES(ModuleReadsShopTest);

}  // namespace
}  // namespace selvo::host
