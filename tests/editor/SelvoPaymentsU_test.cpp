// The settings editor's logic: cell texts, the save sequence over scripted
// datasets and over the SQLite shop, switching, deleting, the placement.
#include "editor/SelvoPaymentsU.h"

#include <gmock/gmock.h>

#include <sqlite3.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "discounts/SelvoDiscountItemsU.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/DateUtils.h"
#include "state/SelvoModuleU.h"
#include "tests/common/ForwardingDataSet.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using test::ScriptedMessageService;
using ::testing::ElementsAre;

TEST(EditorCells, WeekDaysAndPeriods) {
  struct Case {
    std::uint8_t days;
    bool allWeek;
    const char* text;
  } cases[] = {
      {0b0000101, false, "пн, ср"}, {0, true, "пн, вт, ср, чт, пт, сб, вс"}, {0, false, ""},
      {0b11000000, false, "вс"},  // bit 7 means nothing
      {0b1100000, false, "сб, вс"},
  };
  for (const Case& c : cases) EXPECT_EQ(WeekDaysText(c.days, c.allWeek), c.text) << int(c.days);

  EXPECT_EQ(PeriodText(true, EncodeTime(8, 0, 0, 0), EncodeTime(9, 0, 0, 0)), " с 00:00 по 23:59");
  EXPECT_EQ(PeriodText(false, EncodeTime(8, 0, 0, 0), EncodeTime(17, 30, 59, 0)), " с 08:00 по 17:30");
}

TEST(EditorCells, PaymentRowFollowsTheFormatSettings) {
  TPaymentRec rec{};
  rec.ID = 12;
  SetPaymentRecName(rec, "Талон");
  rec.Type = 2;
  rec.Check = 3;
  rec.Discount = 5;
  rec.Enabled = false;
  EXPECT_THAT(PaymentRowCells(rec, TFormatSettings::Russian()),
              ElementsAre("12", "Талон", "наличные", "Б/Н 2", "5,00", "выкл"));
  rec.Type = 7;
  rec.Check = 9;
  rec.Enabled = true;
  EXPECT_THAT(PaymentRowCells(rec, TFormatSettings::English()), ElementsAre("12", "Талон", "", "", "5.00", "вкл"));
}

// ---------------------------------------------------------------------------
// The save over scripted datasets: what each one reports and the order of
// everything that happened.

std::vector<std::string>* gLog = nullptr;
bool gStartAnswer = true;
bool gCommitAnswer = true;
std::function<void(const char*)> gOnCommand;  // runs as each command reaches the host

bool RecordTransaction(const char* command) {
  gLog->push_back(command);
  if (gOnCommand) gOnCommand(command);
  if (std::string(command) == "START") return gStartAnswer;
  if (std::string(command) == "COMMIT") return gCommitAnswer;
  return true;
}

// One of the sample shop's datasets with a scripted change log: how many
// changes it reports, how many of them fail to apply, whether applying raises.
class TScriptedDataSet final : public test::TForwardingDataSet {
 public:
  TScriptedDataSet(TDataSet& shopDataSet, std::vector<std::string>& log) : TForwardingDataSet(shopDataSet), log_(log) {}
  int changes = 0;
  int failures = 0;
  bool raises = false;

  int ChangeCount() const override { return changes; }
  int ApplyUpdates(int maxErrors) override {
    log_.push_back("apply " + Name() + (maxErrors < 0 ? "" : " limited"));
    if (raises) throw EDatabaseError(Name() + " refused");
    changes = failures;
    return failures;
  }

 private:
  std::vector<std::string>& log_;
};

std::string CreateSampleShopIn(const test::TempDir& dir) {
  host::CreateSampleShop(dir.file("shop.db"), false);
  return dir.file("shop.db");
}

class TScriptedModule final : public TDataModule {
 public:
  explicit TScriptedModule(std::vector<std::string>& log) : shop_(CreateSampleShopIn(dir_)) {
    for (const char* name : {"Payment", "SelvoDiscountDS", "DiscountGoodsDS", "ExclusionsDS"})
      sets_.emplace(name, std::make_unique<TScriptedDataSet>(shop_.DataSet(name), log));
  }
  TDataSet* FindComponent(const std::string& name) override {
    auto it = sets_.find(name);
    return it == sets_.end() ? nullptr : it->second.get();
  }
  TScriptedDataSet& operator[](const std::string& name) { return *sets_.at(name); }

 private:
  test::TempDir dir_;
  host::TShopDataModule shop_;
  std::map<std::string, std::unique_ptr<TScriptedDataSet>> sets_;
};

class EditorSaveTest : public ::testing::Test {
 protected:
  EditorSaveTest() : module(log) {
    gLog = &log;
    gStartAnswer = true;
    gCommitAnswer = true;
    gOnCommand = nullptr;
    Module().DataModule = &module;
  }
  ~EditorSaveTest() override {
    Module().DataModule = nullptr;
    gLog = nullptr;
  }

  test::ModuleScope scope;
  std::vector<std::string> log;
  TScriptedModule module;
  ScriptedMessageService messages;
};

TEST_F(EditorSaveTest, NothingPendingSendsNoCommand) {
  EXPECT_FALSE(HasPendingChanges());
  EXPECT_EQ(SaveEditorChanges(RecordTransaction), TSaveResult::NothingToSave);
  EXPECT_TRUE(log.empty());
}

TEST_F(EditorSaveTest, ARefusedStartAppliesNothing) {
  module["ExclusionsDS"].changes = 1;
  gStartAnswer = false;
  EXPECT_TRUE(HasPendingChanges());
  EXPECT_EQ(SaveEditorChanges(RecordTransaction), TSaveResult::Refused);
  EXPECT_THAT(log, ElementsAre("START"));
}

TEST_F(EditorSaveTest, ARefusedCommitIsNoSaveAndEndsTheTransaction) {
  module["Payment"].changes = 2;
  module["ExclusionsDS"].changes = 1;
  gCommitAnswer = false;
  EXPECT_EQ(SaveEditorChanges(RecordTransaction), TSaveResult::CommitRefused);
  EXPECT_THAT(log, ElementsAre("START", "apply Payment", "apply ExclusionsDS", "COMMIT", "ROLLBACK"));
  EXPECT_TRUE(messages.messages().empty()) << "the window tells it";
}

TEST_F(EditorSaveTest, FailedEntriesRollTheWholeSaveBackAndAreToldAfterIt) {
  module["Payment"].changes = 5;
  module["Payment"].failures = 3;
  module["SelvoDiscountDS"].changes = 1;
  module["ExclusionsDS"].changes = 2;
  module["ExclusionsDS"].failures = 1;
  std::size_t toldDuringTheSave = 0;
  gOnCommand = [&](const char*) { toldDuringTheSave += messages.messages().size(); };
  EXPECT_EQ(SaveEditorChanges(RecordTransaction), TSaveResult::EntriesRefused);
  EXPECT_THAT(log, ElementsAre("START", "apply Payment", "apply SelvoDiscountDS", "apply ExclusionsDS", "ROLLBACK"));
  EXPECT_EQ(toldDuringTheSave, 0u) << "no box may wait on screen while the transaction is open";
  ASSERT_EQ(messages.messages().size(), 2u);
  EXPECT_EQ(messages.messages()[0].text, "При сохранении видов оплаты произошло \"3\" ошибок");
  EXPECT_EQ(messages.messages()[0].caption, "Сообщение");
  EXPECT_EQ(messages.messages()[0].icon, TMsgIcon::Exclamation);
  EXPECT_EQ(messages.messages()[1].text, "При сохранении таблицы Exclusions произошло \"1\" ошибок");
}

TEST_F(EditorSaveTest, AnErrorRollsBackAndLeavesTheRestUnapplied) {
  for (const char* name : {"Payment", "SelvoDiscountDS", "DiscountGoodsDS", "ExclusionsDS"}) module[name].changes = 1;
  module["DiscountGoodsDS"].raises = true;
  EXPECT_THROW(SaveEditorChanges(RecordTransaction), EDatabaseError);
  EXPECT_THAT(log, ElementsAre("START", "apply Payment", "apply SelvoDiscountDS", "apply DiscountGoodsDS", "ROLLBACK"));
  EXPECT_TRUE(messages.messages().empty());
}

TEST_F(EditorSaveTest, WithoutATransactionCallbackNothingIsApplied) {
  module["Payment"].changes = 1;
  EXPECT_THROW(SaveEditorChanges(nullptr), ENotAvailable);
  EXPECT_TRUE(log.empty());
}

// ---------------------------------------------------------------------------
// On the SQLite shop, with the host's transaction.

class EditorShopTest : public ::testing::Test {
 protected:
  EditorShopTest() : path(dir.file("shop.db")) {
    host::CreateSampleShop(path, false);
    dm = std::make_unique<host::TShopDataModule>(path);
    host::SetCallbackDataModule(dm.get());
    Module().DataModule = dm.get();
    FillPaymentsList();
    FillDiscountList();
  }
  ~EditorShopTest() override {
    Module().DataModule = nullptr;
    host::SetCallbackDataModule(nullptr);
  }
  TDataSet& ds(const char* name) { return *dm->FindComponent(name); }
  void Exec(const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  test::ModuleScope scope;
  test::TempDir dir;
  std::string path;
  std::unique_ptr<host::TShopDataModule> dm;
  ScriptedMessageService messages;
};

// The file is compared byte for byte: nothing of the save may remain.
TEST_F(EditorShopTest, AFailedSaveLeavesTheDatabaseFileAsItWas) {
  // The database itself ends the transaction when a card target is written.
  Exec("CREATE TRIGGER no_targets BEFORE INSERT ON DiscountGoodsDS BEGIN SELECT RAISE(ROLLBACK, 'refused'); END");
  dm = std::make_unique<host::TShopDataModule>(path);
  host::SetCallbackDataModule(dm.get());
  Module().DataModule = dm.get();
  const std::string before = test::ReadFileBytes(path);

  ASSERT_TRUE(ToggleEnabled(ds("Payment"), "ID", 1, "Enabled"));
  TDataSet& goods = ds("DiscountGoodsDS");
  ASSERT_TRUE(ds("SelvoDiscountDS").Locate("td_ID", {TVariant(std::int64_t{1})}, loNone));
  goods.Append();
  goods.FieldByName("dg_ID").SetAsInteger(100);
  goods.FieldByName("td_ID").SetAsInteger(1);
  goods.FieldByName("td_IsCategory").SetAsInteger(1);
  goods.FieldByName("ID_Target").SetAsInteger(3);
  goods.Post();
  ASSERT_TRUE(ds("SelvoDiscountDS").Locate("td_ID", {TVariant(std::int64_t{9})}, loNone));
  ASSERT_TRUE(ToggleEnabled(ds("ExclusionsDS"), "ex_ID", 1, "ex_Enabled"));

  EXPECT_THROW(SaveEditorChanges(host::TransactionCallback), EDatabaseError);
  EXPECT_EQ(test::ReadFileBytes(path), before);
  EXPECT_TRUE(HasPendingChanges()) << "the changes stay pending for another try";
}

// Another till reading while the save is under way sees the old state.
std::string* gPeek = nullptr;
bool PeekBeforeCommit(const char* command) {
  if (std::string(command) == "COMMIT" && gPeek) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(gPeek->c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT Enabled FROM Payment WHERE ID = 1", -1, &st, nullptr);
    *gPeek = sqlite3_step(st) == SQLITE_ROW ? std::to_string(sqlite3_column_int(st, 0)) : "none";
    sqlite3_finalize(st);
    sqlite3_close(db);
    gPeek = nullptr;
  }
  return host::TransactionCallback(command);
}

TEST_F(EditorShopTest, ASecondConnectionNeverSeesHalfASave) {
  ASSERT_TRUE(ToggleEnabled(ds("Payment"), "ID", 1, "Enabled"));
  std::string peek = path;
  gPeek = &peek;
  EXPECT_EQ(SaveEditorChanges(PeekBeforeCommit), TSaveResult::Saved);
  EXPECT_EQ(peek, "1") << "before COMMIT the other connection reads the old value";
  EXPECT_FALSE(HasPendingChanges());
  ds("Payment").Close();
  ds("Payment").Open();
  ASSERT_TRUE(ds("Payment").Locate("ID", {TVariant(std::int64_t{1})}, loNone));
  EXPECT_EQ(ds("Payment").FieldByName("Enabled").AsInteger(), 0);
}

TEST_F(EditorShopTest, SwitchingTurnsAnythingButOneOn) {
  for (auto [stored, after] : {std::pair{1, 0}, {0, 1}, {2, 1}}) {
    TDataSet& payments = ds("Payment");
    payments.Locate("ID", {TVariant(std::int64_t{7})}, loNone);
    payments.Edit();
    payments.FieldByName("Enabled").SetAsInteger(stored);
    payments.Post();
    ASSERT_TRUE(ToggleEnabled(payments, "ID", 7, "Enabled"));
    EXPECT_EQ(payments.FieldByName("Enabled").AsInteger(), after) << stored;
  }
  EXPECT_FALSE(ToggleEnabled(ds("Payment"), "ID", 99, "Enabled"));
}

TEST_F(EditorShopTest, DeletingAsksAndTellsWhatWentWrong) {
  // Refused question: nothing happens.
  messages.Answer(TModalResult::mrCancel);
  EXPECT_FALSE(DeleteEditorRow(kPaymentDelete, 7, "Бонусы"));
  EXPECT_EQ(messages.messages().back().text, "Вы действительно хотите удалить вид оплаты \"Бонусы\"?");
  EXPECT_EQ(messages.messages().back().caption, "Удаление вида оплаты");
  EXPECT_EQ(ds("Payment").ChangeCount(), 0);

  // Agreed: the row goes into the change log.
  messages.Answer(TModalResult::mrOk);
  EXPECT_TRUE(DeleteEditorRow(kPaymentDelete, 7, "Бонусы"));
  EXPECT_EQ(ds("Payment").ChangeCount(), 1);

  // A card that is not there: the "not found" text, a name with "%s" kept.
  messages.Answer(TModalResult::mrOk);
  EXPECT_FALSE(DeleteEditorRow(kDiscountDelete, 77, "50%s off"));
  ASSERT_GE(messages.messages().size(), 2u);
  const auto& asked = messages.messages()[messages.messages().size() - 2];
  EXPECT_EQ(asked.text, "Вы действительно хотите удалить скидку \"50%s off\"?");
  EXPECT_EQ(messages.messages().back().text, "Не удалось найти указанную карту скидок в наборе данных!");
  EXPECT_EQ(messages.messages().back().caption, "Ошибка");
  EXPECT_EQ(ds("SelvoDiscountDS").ChangeCount(), 0);
}

TEST_F(EditorShopTest, ACardOfAPaymentTypeThatIsGoneShowsAnEmptyCell) {
  TDiscountItem card;
  card.ID = 40;
  card.SetDiscountName("Ночная");
  card.PayID = 99;
  card.DiscountTarget = 1;
  card.AllDay = false;
  card.BTime = EncodeTime(22, 0, 0, 0);
  card.ETime = EncodeTime(23, 45, 0, 0);
  EXPECT_THAT(DiscountRowCells(card, PaymentList()),
              ElementsAre("40", "", "Ночная", "Выбр. товары", "пн, вт, ср, чт, пт, сб, вс", " с 22:00 по 23:45"));
  card.PayID = 2;
  card.DiscountTarget = 0;
  EXPECT_EQ(DiscountRowCells(card, PaymentList())[1], "безналичные");
  EXPECT_EQ(DiscountRowCells(card, PaymentList())[3], "Сумму чека");
}

TEST_F(EditorShopTest, TheOptionIsStoredAsOneOrZero) {
  EXPECT_FALSE(ReadRSumOption()) << "missing key";
  WriteRSumOption(true);
  EXPECT_TRUE(ReadRSumOption());
  EXPECT_NE(test::ReadFileBytes(Module().IniFileName).find("RSumCanNotBeLowThenZSum=1"), std::string::npos);
  WriteRSumOption(false);
  EXPECT_FALSE(ReadRSumOption());
}

TEST(EditorPlacement, AWindowOffEveryScreenComesBackOntoTheFirst) {
  const std::vector<TScreenRect> screens = {{0, 0, 1280, 1024}, {1280, 0, 1920, 1080}};
  struct Case {
    TScreenRect stored, placed;
  } cases[] = {
      {{100, 100, 741, 400}, {100, 100, 741, 400}},    // on the first screen
      {{2000, 50, 741, 400}, {2000, 50, 741, 400}},    // on the second
      {{-690, 10, 741, 400}, {-690, 10, 741, 400}},    // 51 px of its title bar left: still reachable
      {{-720, 10, 741, 400}, {269, 312, 741, 400}},    // 21 px: too little to grab
      {{5000, 3000, 741, 400}, {269, 312, 741, 400}},  // a screen that is gone
      {{100, -30, 741, 400}, {269, 312, 741, 400}},    // title bar above the top
      {{9000, 0, 3000, 2000}, {0, 0, 1280, 1024}},     // larger than the screen
  };
  for (const Case& c : cases) {
    const TScreenRect r = PlaceOnScreens(c.stored, screens);
    EXPECT_EQ(std::vector<int>({r.x, r.y, r.width, r.height}),
              std::vector<int>({c.placed.x, c.placed.y, c.placed.width, c.placed.height}))
        << c.stored.x << "," << c.stored.y;
  }
}

}  // namespace
}  // namespace selvo
