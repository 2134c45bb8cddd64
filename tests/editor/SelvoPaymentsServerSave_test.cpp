// The settings editor saving to the sample shop on the PostgreSQL test
// server, through its own OK button and the host's transaction: a save whose
// connection the server ends just before COMMIT is no save. The operator is
// told, the window keeps every change pending, and the next OK (on a
// connection opened anew) stores them.
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include "discounts/SelvoDiscountItemsU.h"
#include "editor/SelvoPaymentsFrm.h"
#include "host/shopdb/PgConnection.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "state/SelvoModuleU.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using test::PgExec;

std::vector<std::string> gCommands;
bool gDropBeforeCommit = false;

// The host's transaction, except that the server ends the connection of
// the save once, right before the COMMIT reaches it.
bool Transaction(const char* command) {
  gCommands.push_back(command);
  if (gDropBeforeCommit && std::string(command) == "COMMIT") {
    gDropBeforeCommit = false;
    auto& connection = dynamic_cast<host::TPgConnection&>(host::CallbackDataModule()->Connection());
    const int pid = connection.BackendPid();
    // Waits until the server process is gone.
    const auto ended =
        PgExec(test::PgTestConnInfo(), "SELECT pg_terminate_backend(" + std::to_string(pid) + ", 10000)");
    EXPECT_EQ(ended.at(0).at(0), "t") << "backend " << pid;
  }
  return host::TransactionCallback(command);
}

// The card dialog's stand-in: appends a card for "безналичные".
void AppendCard(std::int32_t position) {
  if (position >= 0) return;
  TDataSet& cards = SelvoDiscountDataSet();
  cards.Append();
  cards.FieldByName("td_ID").SetAsInteger(DiscountList().NewID());
  cards.FieldByName("td_DiscountName").SetAsString("Карта с сервера");
  cards.FieldByName("PayID").SetAsInteger(2);
  cards.FieldByName("td_AllDay").SetAsInteger(1);
  cards.FieldByName("td_AllWeek").SetAsInteger(1);
  cards.FieldByName("td_Enabled").SetAsInteger(1);
  cards.FieldByName("td_DiscountTarget").SetAsInteger(0);
  cards.FieldByName("td_Threshold").SetAsString("100=5%;");
  cards.Post();
}

class SelvoPaymentsServerSaveTest : public ::testing::Test {
 protected:
  SelvoPaymentsServerSaveTest() : db(test::TShopDbKind::Server), address(db.Address()) {
    QStandardPaths::setTestModeEnabled(true);
    host::CreateSampleShop(address, false);
    dm = std::make_unique<host::TShopDataModule>(address);
    host::SetCallbackDataModule(dm.get());
    Module().DataModule = dm.get();
    Module().TransactionFunc = Transaction;
    Module().LastDiscountID = Module().DiscountIDCounter = 10;
    gCommands.clear();
    gDropBeforeCommit = false;
    form = std::make_unique<TSelvoPaymentsForm>(AppendCard);
    form->show();
    form->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
  ~SelvoPaymentsServerSaveTest() override {
    form.reset();
    Module().DataModule = nullptr;
    Module().TransactionFunc = nullptr;
    host::SetCallbackDataModule(nullptr);
  }
  template <class T>
  T* Find(const char* name) {
    T* found = form->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  QTreeWidget* Payments() { return Find<QTreeWidget>("ListView"); }
  // What the server holds for everybody else.
  std::string Enabled(std::int64_t id) {
    return PgExec(address, "SELECT enabled FROM payment WHERE id = " + std::to_string(id)).at(0).at(0);
  }
  std::string Cards() { return PgExec(address, "SELECT count(*) FROM selvodiscountds").at(0).at(0); }

  test::ModuleScope scope;
  test::TTestShopDatabase db;
  std::string address;
  std::unique_ptr<host::TShopDataModule> dm;
  test::ScriptedMessageService messages;
  std::unique_ptr<TSelvoPaymentsForm> form;
};

TEST_F(SelvoPaymentsServerSaveTest, ASaveWhoseConnectionEndsBeforeCommitKeepsTheChangesForAnotherTry) {
  Payments()->setCurrentItem(Payments()->topLevelItem(7));
  const std::int64_t id = Payments()->topLevelItem(7)->text(0).toLongLong();
  ASSERT_EQ(Payments()->topLevelItem(7)->text(5).toStdString(), "вкл");
  QTest::keyClick(Payments(), Qt::Key_Space);
  Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
  Click("btnAdd1");
  ASSERT_EQ(PaymentDataSet().ChangeCount(), 1);
  ASSERT_EQ(SelvoDiscountDataSet().ChangeCount(), 1);
  const int firstBackend = dynamic_cast<host::TPgConnection&>(dm->Connection()).BackendPid();

  gDropBeforeCommit = true;
  Click("BitBtn1");
  EXPECT_THAT(gCommands, ::testing::ElementsAre("START", "COMMIT", "ROLLBACK"));
  EXPECT_TRUE(form->isVisible()) << "a save that did not reach the server must not close the window";
  ASSERT_FALSE(messages.messages().empty());
  EXPECT_EQ(messages.messages().back().text,
            "Изменения не сохранены: не удалось завершить транзакцию базы данных.\r\n"
            "Повторите сохранение позже или закройте окно без сохранения.");
  EXPECT_EQ(messages.messages().back().icon, TMsgIcon::Exclamation);
  EXPECT_EQ(Enabled(id), "1") << "the server keeps the old settings";
  EXPECT_EQ(Cards(), "10");
  EXPECT_EQ(PaymentDataSet().ChangeCount(), 1) << "the changes are still pending";
  EXPECT_EQ(SelvoDiscountDataSet().ChangeCount(), 1);
  EXPECT_EQ(Payments()->topLevelItem(7)->text(5).toStdString(), "выкл");
  EXPECT_EQ(Find<QTreeWidget>("lvDiscounts")->topLevelItemCount(), 11);

  // OK again: the host opens the connection anew and the save goes through.
  gCommands.clear();
  Click("BitBtn1");
  EXPECT_THAT(gCommands, ::testing::ElementsAre("START", "COMMIT"));
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->result(), QDialog::Accepted);
  EXPECT_NE(dynamic_cast<host::TPgConnection&>(dm->Connection()).BackendPid(), firstBackend);
  EXPECT_EQ(Enabled(id), "0");
  EXPECT_EQ(Cards(), "11");
  EXPECT_EQ(PgExec(address, "SELECT td_discountname FROM selvodiscountds WHERE td_id = 11").at(0).at(0),
            "Карта с сервера");
}

}  // namespace
}  // namespace selvo
