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
#include "tests/editor/EditorWindowTest.h"

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

class SelvoPaymentsServerSaveTest : public test::EditorWindowTest {
 protected:
  SelvoPaymentsServerSaveTest() : db(test::TShopDbKind::Server), address(db.Address()) {
    gCommands.clear();
    gDropBeforeCommit = false;
    Open(address, Transaction);
  }
  ~SelvoPaymentsServerSaveTest() override { Close(); }

  // What the server holds for everybody else.
  std::string Enabled(std::int64_t id) {
    return PgExec(address, "SELECT enabled FROM payment WHERE id = " + std::to_string(id)).at(0).at(0);
  }
  std::string Cards() { return PgExec(address, "SELECT count(*) FROM selvodiscountds").at(0).at(0); }

  test::TTestShopDatabase db;
  std::string address;
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
            "Карта из теста");
}

}  // namespace
}  // namespace selvo
