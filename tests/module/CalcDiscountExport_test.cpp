// CalcDiscount as a host calls it: the module loaded with dlopen, its lists
// loaded from a shop database (a file and a server), the sale and result
// records in the host's form.
#include <gtest/gtest.h>

#include "host/session/HostSession.h"
#include "host/session/ModuleLoader.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

using selvo::test::TempDir;

class CalcDiscountExportTest : public ::testing::TestWithParam<test::TShopDbKind> {
 protected:
  CalcDiscountExportTest() : db_(GetParam()) {
    setenv("WINDIR", windir_.path().c_str(), 1);
    CreateShopDatabase(db_.Address(), false);
    {
      TShopDataModule setup(db_.Address());
      setup.Connection().Execute(
          "INSERT INTO Payment (ID, Name, Type, \"check\", Discount, Enabled) VALUES (1, 'наличные', 0, 1, 5, 1);"
          "INSERT INTO SelvoDiscountDS (td_ID, td_DiscountName, PayID, td_Threshold, td_DiscountTarget) "
          "VALUES (1, 'Чек от 100', 1, '100=10%;', 0);"
          "INSERT INTO SelvoDiscountDS (td_ID, td_DiscountName, PayID, td_DiscountTarget, td_TimeDscList) "
          "VALUES (2, 'Запрет весь день', 1, 1, '0:0:0-23:59:59=10000000р;');"
          "INSERT INTO DiscountGoodsDS (dg_ID, td_ID, td_IsCategory, ID_Target) VALUES (1, 2, 0, 13);");
    }
    dataModule_ = std::make_unique<TShopDataModule>(db_.Address());
    library_ = std::make_unique<TModuleLibrary>(SELVO_MODULE_PATH);
    ConnectModule(module(), *dataModule_);
    module().FillPaymentsList();
    module().FillDiscountList();
  }
  ~CalcDiscountExportTest() override {
    module().SetDataModule(nullptr);
    SetCallbackDataModule(nullptr);
    library_.reset();
    unsetenv("WINDIR");
  }
  const TModuleExports& module() { return library_->Exports(); }
  static TSale Line(std::int32_t goods) {
    TSale sale;
    sale.lines.push_back({goods, 3, 60, 100, 2});
    return sale;
  }

  TempDir windir_;
  test::TTestShopDatabase db_;
  std::unique_ptr<TShopDataModule> dataModule_;
  std::unique_ptr<TModuleLibrary> library_;
};

TEST_P(CalcDiscountExportTest, ReceiptCardThroughTheExport) {
  TSaleRecord sale(Line(10), 1, 46364.5);
  TResultRecord out;
  EXPECT_EQ(module().CalcDiscount(&sale.data(), out.get()), 180);
  EXPECT_DOUBLE_EQ(out.get()->DiscountPercent, 10);
}

TEST_P(CalcDiscountExportTest, SaleBanThroughTheExportGoesOnWithoutAWindow) {
  TSaleRecord sale(Line(13), 1, 46364.5);
  TResultRecord out;
  testing::internal::CaptureStderr();
  const double sum = module().CalcDiscount(&sale.data(), out.get());
  const std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_EQ(sum, 0);
  EXPECT_DOUBLE_EQ(out.get()->DiscountPercent, 100);
  EXPECT_NE(warning.find("Продажа товара запрещена!"), std::string::npos) << warning;
  EXPECT_NE(warning.find("Запрещено с "), std::string::npos) << warning;
}

TEST_P(CalcDiscountExportTest, ErrorsReachTheHostWithTheirClass) {
  TSaleRecord sale(Line(10), 1, 46364.5);
  TDiscountInData broken = sale.data();
  broken.Quantities = nullptr;
  TResultRecord out;
  EXPECT_THROW(module().CalcDiscount(&broken, out.get()), EInvalidSale);
  EXPECT_THROW(module().CalcDiscount(nullptr, out.get()), EInvalidSale);
}

// Run under the sanitizers, this also finds a leak or a double release of
// the result record's sequences.
TEST_P(CalcDiscountExportTest, ManyCallsReleaseWhatTheyShould) {
  TSaleRecord sale(Line(10), 1, 46364.5);
  TResultRecord out;
  for (int i = 0; i < 2000; ++i) {
    out.get()->Reserved1 = DynArrayFrom(std::vector<double>{1, 2, 3});
    double* kept = i % 2 ? DynArrayAddRef(out.get()->Reserved1) : nullptr;
    out.get()->Reserved2 = DynArrayFrom(std::vector<double>{4});
    ASSERT_EQ(module().CalcDiscount(&sale.data(), out.get()), 180);
    ASSERT_EQ(out.get()->Reserved1, nullptr);
    ASSERT_EQ(out.get()->Reserved2, nullptr);
    if (kept) {
      ASSERT_EQ(DynArrayHeaderOf(kept)->refCount, 1);
      DynArrayRelease(kept);
    }
  }
}

SELVO_ON_BOTH_DATABASES(CalcDiscountExportTest);

}  // namespace
}  // namespace selvo::host
