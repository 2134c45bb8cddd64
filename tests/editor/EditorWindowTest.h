// The settings editor window on a sample shop, for the tests that drive it:
// the host's data module and transaction, the scripted message service, and
// a stand-in for the card dialog that appends one card.
#pragma once

#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <memory>
#include <string>

#include "discounts/SelvoDiscountItemsU.h"
#include "editor/SelvoPaymentsFrm.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "state/SelvoModuleU.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/TestSupport.h"

namespace selvo::test {

// The card dialog's stand-in: a new card ("Карта из теста", 5 % from 100,
// 10 % from 1000, paid "безналичные"); editing an existing one does nothing.
inline void AppendTestCard(std::int32_t position) {
  if (position >= 0) return;
  TDataSet& cards = SelvoDiscountDataSet();
  cards.Append();
  cards.FieldByName("td_ID").SetAsInteger(DiscountList().NewID());
  cards.FieldByName("td_DiscountName").SetAsString("Карта из теста");
  cards.FieldByName("PayID").SetAsInteger(2);
  cards.FieldByName("td_AllDay").SetAsInteger(1);
  cards.FieldByName("td_AllWeek").SetAsInteger(1);
  cards.FieldByName("td_Enabled").SetAsInteger(1);
  cards.FieldByName("td_DiscountTarget").SetAsInteger(0);
  cards.FieldByName("td_Threshold").SetAsString("100=5%;1000=10%;");
  cards.Post();
}

class EditorWindowTest : public ::testing::Test {
 protected:
  // Creates the sample shop at `database`, connects the module to it with
  // `transaction` as the host's transaction and opens the window, active.
  void Open(const std::string& database, TTransactionFunc transaction) {
    QStandardPaths::setTestModeEnabled(true);
    host::CreateSampleShop(database, false);
    dm = std::make_unique<host::TShopDataModule>(database);
    host::SetCallbackDataModule(dm.get());
    Module().DataModule = dm.get();
    Module().TransactionFunc = transaction;
    Module().LastDiscountID = Module().DiscountIDCounter = 10;
    form = std::make_unique<TSelvoPaymentsForm>(AppendTestCard);
    form->show();
    form->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
  }
  // Closes the window and the data module; a fixture whose members hold the
  // database calls it from its own destructor, before they go.
  void Close() {
    form.reset();
    Module().DataModule = nullptr;
    Module().TransactionFunc = nullptr;
    host::SetCallbackDataModule(nullptr);
    dm.reset();
  }
  ~EditorWindowTest() override { Close(); }

  template <class T>
  T* Find(const char* name) {
    T* found = form->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  QTreeWidget* Payments() { return Find<QTreeWidget>("ListView"); }

  ModuleScope scope;
  std::unique_ptr<host::TShopDataModule> dm;
  ScriptedMessageService messages;
  std::unique_ptr<TSelvoPaymentsForm> form;
};

}  // namespace selvo::test
