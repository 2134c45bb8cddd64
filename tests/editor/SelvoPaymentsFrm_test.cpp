// The settings editor driven as an operator would, on the sample shop with
// the host's SQLite transaction; the card dialog is a scripted stand-in.
#include "editor/SelvoPaymentsFrm.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <functional>
#include <string>
#include <vector>

#include "discounts/SelvoDiscountItemsU.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopConnection.h"
#include "host/shopdb/ShopDataModule.h"
#include "payments/EditPaymentFrm.h"
#include "state/SelvoModuleU.h"
#include "tests/common/ScriptedFileDialogs.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/TestSupport.h"
#include "tests/editor/EditorWindowTest.h"

namespace selvo {
namespace {

std::vector<std::string> gCommands;
bool gRefuseStart = false;
// A host whose commit fails: it answers false and leaves its transaction
// open, as a host may that does not end it on a failed COMMIT.
bool gRefuseCommit = false;
bool Transaction(const char* command) {
  gCommands.push_back(command);
  if (gRefuseStart && std::string(command) == "START") return false;
  if (gRefuseCommit && std::string(command) == "COMMIT") return false;
  return host::TransactionCallback(command);
}

class SelvoPaymentsFormTest : public test::EditorWindowTest {
 protected:
  SelvoPaymentsFormTest() : path(dir.file("shop.db")) {
    gCommands.clear();
    gRefuseStart = false;
    gRefuseCommit = false;
    Open(path, Transaction);
  }
  ~SelvoPaymentsFormTest() override { Close(); }

  test::TempDir dir;
  std::string path;
};

TEST_F(SelvoPaymentsFormTest, OkWithoutChangesSendsNoCommandAndStoresTheOption) {
  ASSERT_EQ(Payments()->topLevelItemCount(), 9);
  EXPECT_EQ(Payments()->topLevelItem(4)->text(4).toStdString(), "3.00");
  Find<QCheckBox>("CheckBox1")->click();
  Click("BitBtn1");
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->result(), QDialog::Accepted);
  EXPECT_TRUE(gCommands.empty());
  EXPECT_TRUE(Module().RSumCanNotBeLowThenZSum);
  EXPECT_NE(test::ReadFileBytes(Module().IniFileName).find("RSumCanNotBeLowThenZSum=1"), std::string::npos);
}

TEST_F(SelvoPaymentsFormTest, SpaceSwitchesABuiltInTypeThatCannotBeDeletedAndOkSavesIt) {
  Payments()->setCurrentItem(Payments()->topLevelItem(0));
  EXPECT_TRUE(Find<QPushButton>("btnEdit")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("btnDelete")->isEnabled());
  QTest::keyClick(Payments(), Qt::Key_Delete, Qt::ControlModifier);  // asks nothing
  QTest::keyClick(Payments(), Qt::Key_Space);
  EXPECT_EQ(Payments()->topLevelItem(0)->text(5).toStdString(), "выкл");
  EXPECT_TRUE(Payments()->topLevelItem(0)->isSelected());
  Click("BitBtn1");
  EXPECT_THAT(gCommands, ::testing::ElementsAre("START", "COMMIT"));
  host::TShopDataModule reread(path);
  TDataSet& payments = reread.DataSet("Payment");
  ASSERT_TRUE(payments.Locate("ID", {TVariant(std::int64_t{1})}, loNone));
  EXPECT_EQ(payments.FieldByName("Enabled").AsInteger(), 0);
}

TEST_F(SelvoPaymentsFormTest, ARefusedStartIsToldAndKeepsTheWindowWithItsChanges) {
  Payments()->setCurrentItem(Payments()->topLevelItem(7));
  QTest::keyClick(Payments(), Qt::Key_Space);
  gRefuseStart = true;
  Click("BitBtn1");
  EXPECT_THAT(gCommands, ::testing::ElementsAre("START"));
  EXPECT_TRUE(form->isVisible());
  EXPECT_THAT(messages.messages().back().text, ::testing::StartsWith("Изменения не сохранены"));
  EXPECT_EQ(Payments()->topLevelItem(7)->text(5).toStdString(), "выкл");
}

// A save that is not whole is no save: the operator is told, the window stays
// with every change pending, and the next OK saves them all.
TEST_F(SelvoPaymentsFormTest, ASaveThatIsNotWholeIsToldAndKeepsEveryChangeForAnotherTry) {
  const struct {
    const char* rule;
    std::function<void(host::TShopConnection&)> refuse, allow;
    std::vector<std::string> commands;
    std::vector<std::string> told;
  } cases[] = {
      {"a commit the host refuses (it leaves its transaction open)",
       [](host::TShopConnection&) { gRefuseCommit = true; },
       [](host::TShopConnection&) { gRefuseCommit = false; },
       {"START", "COMMIT", "ROLLBACK"},
       {"Изменения не сохранены: не удалось завершить транзакцию базы данных.\r\n"
        "Повторите сохранение позже или закройте окно без сохранения."}},
      {"the new card's row refused after the payment type was written",
       [](host::TShopConnection& db) {
         db.Execute("CREATE TRIGGER refuse_cards BEFORE INSERT ON SelvoDiscountDS BEGIN SELECT RAISE(ABORT, 'x'); END");
       },
       [](host::TShopConnection& db) { db.Execute("DROP TRIGGER refuse_cards"); },
       {"START", "ROLLBACK"},
       {"При сохранении таблицы SelvoDiscount произошло \"1\" ошибок",
        "Изменения не сохранены: база данных не приняла часть записей, и сохранение отменено целиком.\r\n"
        "Обновите данные или повторите сохранение позже; можно и закрыть окно без сохранения."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    Close();
    test::TempDir shop;
    const std::string file = shop.file("shop.db");
    gCommands.clear();
    Open(file, Transaction);
    const std::size_t toldBefore = messages.messages().size();
    Payments()->setCurrentItem(Payments()->topLevelItem(7));
    QTest::keyClick(Payments(), Qt::Key_Space);
    Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    Click("btnAdd1");
    ASSERT_EQ(PaymentDataSet().ChangeCount(), 1);
    ASSERT_EQ(SelvoDiscountDataSet().ChangeCount(), 1);
    c.refuse(dm->Connection());
    const std::string before = test::ReadFileBytes(file);

    Click("BitBtn1");
    EXPECT_THAT(gCommands, ::testing::ElementsAreArray(c.commands));
    EXPECT_TRUE(form->isVisible()) << "a save that did not happen whole must not close the window";
    std::vector<std::string> told;
    for (std::size_t i = toldBefore; i < messages.messages().size(); ++i) told.push_back(messages.messages()[i].text);
    EXPECT_THAT(told, ::testing::ElementsAreArray(c.told));
    EXPECT_EQ(messages.messages().back().caption, "Ошибка");
    EXPECT_EQ(messages.messages().back().icon, TMsgIcon::Exclamation);
    EXPECT_EQ(test::ReadFileBytes(file), before) << "nothing of either dataset reached the file";
    EXPECT_EQ(PaymentDataSet().ChangeCount(), 1) << "the changes are still pending";
    EXPECT_EQ(SelvoDiscountDataSet().ChangeCount(), 1);
    EXPECT_EQ(Payments()->topLevelItem(7)->text(5).toStdString(), "выкл");
    EXPECT_EQ(Find<QTreeWidget>("lvDiscounts")->topLevelItemCount(), 11);

    // The second try saves everything of the first.
    c.allow(dm->Connection());
    gCommands.clear();
    Click("BitBtn1");
    EXPECT_THAT(gCommands, ::testing::ElementsAre("START", "COMMIT"));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
    host::TShopDataModule reread(file);
    TDataSet& payments = reread.DataSet("Payment");
    ASSERT_TRUE(payments.Locate("ID", {TVariant(std::int64_t{8})}, loNone));
    EXPECT_EQ(payments.FieldByName("Enabled").AsInteger(), 0);
    EXPECT_EQ(reread.DataSet("SelvoDiscountDS").RecordCount(), 11);
    EXPECT_TRUE(reread.DataSet("SelvoDiscountDS").Locate("td_ID", {TVariant(std::int64_t{11})}, loNone));
  }
}

TEST_F(SelvoPaymentsFormTest, CancelWithPendingChangesAsksAndKeepsTheDatabase) {
  const std::string before = test::ReadFileBytes(path);
  Payments()->setCurrentItem(Payments()->topLevelItem(6));
  QTest::keyClick(Payments(), Qt::Key_Space);
  messages.Answer(TModalResult::mrCancel);
  Click("BitBtn2");
  ASSERT_TRUE(form->isVisible());
  EXPECT_EQ(messages.messages().back().text,
            "Были внесены изменения. При закрытии окна они будут потеряны.\r\n"
            "Вы действительно хотите закрыть данное окно?");
  EXPECT_EQ(Payments()->topLevelItem(6)->text(5).toStdString(), "выкл") << "the change is still there";
  messages.Answer(TModalResult::mrOk);
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_FALSE(form->isVisible());
  form.reset();
  EXPECT_TRUE(gCommands.empty());
  EXPECT_EQ(test::ReadFileBytes(path), before);
  EXPECT_NE(test::ReadFileBytes(Module().IniFileName).find("RSumCanNotBeLowThenZSum=0"), std::string::npos);
}

TEST_F(SelvoPaymentsFormTest, ACardAddedThroughTheDialogIsShownSelectedAndSaved) {
  Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
  Click("btnAdd1");
  auto* cards = Find<QTreeWidget>("lvDiscounts");
  ASSERT_EQ(cards->topLevelItemCount(), 11);
  QTreeWidgetItem* added = cards->topLevelItem(10);
  EXPECT_TRUE(added->isSelected());
  EXPECT_EQ(added->text(1).toStdString(), "безналичные");
  EXPECT_EQ(added->text(2).toStdString(), "Карта из теста");
  EXPECT_TRUE(Find<QPushButton>("btnDelete1")->isEnabled());
  Click("BitBtn1");
  EXPECT_THAT(gCommands, ::testing::ElementsAre("START", "COMMIT"));
  host::TShopDataModule reread(path);
  EXPECT_TRUE(reread.DataSet("SelvoDiscountDS").Locate("td_ID", {TVariant(std::int64_t{11})}, loNone));
}

TEST_F(SelvoPaymentsFormTest, CtrlIOnTheDiscountTabOpensThePaymentTypeDialog) {
  Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
  bool opened = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TEditPaymentForm*>(QApplication::activeModalWidget());
    opened = dialog != nullptr;
    if (dialog) dialog->reject();
  });
  QTest::keyClick(Find<QTreeWidget>("lvDiscounts"), Qt::Key_I, Qt::ControlModifier);
  EXPECT_TRUE(opened);
  EXPECT_EQ(Payments()->topLevelItemCount(), 9);
}

TEST_F(SelvoPaymentsFormTest, ImportingAFileThatIsNotThereChangesNothing) {
  test::ScriptedFileDialogs files;
  files.Choose(dir.file("gone.exp"));
  Click("btnImport");
  ASSERT_EQ(files.requests().size(), 1u);
  EXPECT_EQ(files.requests()[0].title, "Выберите файл, из которого вы хотите загрузить виды оплаты");
  EXPECT_EQ(files.requests()[0].filter, "Файл экспорта (*.exp)|*.exp|Все файлы (*.*)|*.*");
  EXPECT_EQ(messages.messages().back().text, "Файл \"" + dir.file("gone.exp") + "\" не найден!");
  EXPECT_EQ(Payments()->topLevelItemCount(), 9);
}

TEST_F(SelvoPaymentsFormTest, ThePlacementIsRestoredAtTheNextOpening) {
  form->resize(800, 420);
  form->move(40, 30);
  const QPoint at = form->pos();
  const QSize size = form->size();
  Click("BitBtn1");
  form = std::make_unique<TSelvoPaymentsForm>(test::AppendTestCard);
  EXPECT_EQ(form->size(), size);
  EXPECT_EQ(form->pos(), at);
}

}  // namespace
}  // namespace selvo
