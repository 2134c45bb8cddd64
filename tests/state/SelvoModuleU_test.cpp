#include "state/SelvoModuleU.h"

#include <gtest/gtest.h>

#include <map>

#include "payments/SelvoPaymentListU.h"
#include "support/ProgressViewer.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

// A data module that owns datasets only by the names it was given.
class NamesOnlyDataModule : public TDataModule {
 public:
  explicit NamesOnlyDataModule(std::map<std::string, TDataSet*> sets) : sets_(std::move(sets)) {}
  TDataSet* FindComponent(const std::string& name) override {
    auto it = sets_.find(name);
    return it == sets_.end() ? nullptr : it->second;
  }

 private:
  std::map<std::string, TDataSet*> sets_;
};

TEST(ModuleState, ValuesAfterLoad) {
  test::ModuleScope scope;
  const TModuleState& m = Module();
  EXPECT_EQ(m.PaymentKindNames, (std::vector<std::string>{"наличные", "безналичные", "ЛНР", "платежный терминал",
                                                          "дисконтная карта", "ЛБР"}));
  EXPECT_TRUE(m.CanEditSmartCardDiscount);
  EXPECT_TRUE(m.RSumCanNotBeLowThenZSum);
  EXPECT_EQ(m.DataModule, nullptr);
  EXPECT_EQ(m.IniFileName, scope.windowsDir().path() + "/Selvo.ini");
  EXPECT_EQ(ProgressViewerTitle(), "Настройка скидок для товаров");
  EXPECT_EQ(PaymentList().Count(), 0);
}

TEST(ModuleState, UnloadFreesAndReloadStartsAfresh) {
  {
    test::ModuleScope scope;
    Module().LastExclusionsID = 99;
    TPaymentRec rec{};
    PaymentList().Add(&rec);
  }
  test::ModuleScope again;
  EXPECT_EQ(Module().LastExclusionsID, 0);
  EXPECT_EQ(PaymentList().Count(), 0);
}

TEST(ModuleState, IdentifierHelpersConsumeOneEach) {
  test::ModuleScope scope;
  Module().LastExclusionsID = 41;
  EXPECT_EQ(NextExclusionsID(), 42);
  EXPECT_EQ(NextExclusionsID(), 43);
  Module().LastDscGoodsID = -1;
  EXPECT_EQ(NextDscGoodsID(), 0);
  EXPECT_EQ(Module().LastExclusionsID, 43);
}

TEST(ModuleState, LookupsNameTheMissingDataset) {
  test::ModuleScope scope;
  NamesOnlyDataModule dm({});
  Module().DataModule = &dm;
  const std::pair<TDataSet& (*)(), const char*> lookups[] = {{PaymentDataSet, "Payment"},
                                                             {SelvoDiscountDataSet, "SelvoDiscountDS"},
                                                             {DiscountGoodsDataSet, "DiscountGoodsDS"},
                                                             {KeyTovarDataSet, "KeyTovar"},
                                                             {GoodsDataSet, "Goods"},
                                                             {ExclusionsDataSet, "ExclusionsDS"}};
  for (const auto& [lookup, name] : lookups) {
    try {
      lookup();
      ADD_FAILURE() << name << " was found";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), std::string("Виды оплаты: не удалось найти набор данных ") + name + " в Ferin10.dll!");
    }
  }
}

TEST(ModuleState, BuiltInNamesAreNotRenamable) {
  test::ModuleScope scope;
  for (const char* name : {"Наличные", "ПЛАТЕЖНЫЙ ТЕРМИНАЛ", "лбр", "Бонусы", "наличные 2"}) {
    TPaymentRec rec{};
    SetPaymentRecName(rec, name);
    PaymentList().Add(&rec);
  }
  EXPECT_FALSE(IsRenamablePayment(0));
  EXPECT_FALSE(IsRenamablePayment(1));
  EXPECT_FALSE(IsRenamablePayment(2));
  EXPECT_TRUE(IsRenamablePayment(3));
  EXPECT_TRUE(IsRenamablePayment(4));
  EXPECT_THROW(IsRenamablePayment(5), EListError);
}

}  // namespace
}  // namespace selvo
