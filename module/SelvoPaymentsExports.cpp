// The fifteen exported functions of the module, and its load and unload.
#include "discounts/SelvoCalcDiscountUnit.h"
#include "discounts/SelvoDiscountItemsU.h"
#include "editor/SelvoPaymentsFrm.h"
#include "module/ModuleLifetime.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/QtMessageService.h"
#include "state/SelvoModuleU.h"

#define SELVO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Runs when the library is loaded and unloaded (dlopen / dlclose).
__attribute__((constructor)) void LoadModule() {
  selvo::ModuleLoad();
  selvo::InstallQtMessageService();
}
__attribute__((destructor)) void UnloadModule() { selvo::ModuleUnload(); }

}  // namespace

SELVO_EXPORT selvo::TPaymentList* GetPaymentList() { return &selvo::PaymentList(); }
SELVO_EXPORT void SetDataModule(selvo::TDataModule* dataModule) { selvo::Module().DataModule = dataModule; }
SELVO_EXPORT void SetLastPaymentID(std::int32_t id) { selvo::Module().LastPaymentID = id; }
SELVO_EXPORT void SetLastDiscountID(std::int32_t id) { selvo::Module().LastDiscountID = id; }
SELVO_EXPORT void SetLastDscGoodsID(std::int32_t id) { selvo::Module().LastDscGoodsID = id; }
SELVO_EXPORT void SetLastExclusionsID(std::int32_t id) { selvo::Module().LastExclusionsID = id; }
SELVO_EXPORT std::int32_t GetPaymentsVersion() { return selvo::PaymentsVersion; }
SELVO_EXPORT void PaymentsCanEditSmartCardDiscount(bool canEdit) { selvo::Module().CanEditSmartCardDiscount = canEdit; }
SELVO_EXPORT void SetTransactionFunc(selvo::TTransactionFunc func) { selvo::Module().TransactionFunc = func; }
// The receipt rounding precision is not the module's concern; the argument is ignored.
SELVO_EXPORT void SetRoundPrecision(std::int32_t) {}
SELVO_EXPORT void SetGoodsSelectFormShow(selvo::TGoodsSelectFormShow func) {
  selvo::Module().GoodsSelectFormShow = func;
}
SELVO_EXPORT void FillPaymentsList() { selvo::FillPaymentsList(); }
SELVO_EXPORT void FillDiscountList() { selvo::FillDiscountList(); }
SELVO_EXPORT double CalcDiscount(const selvo::TDiscountInData* inData, selvo::TDiscountOutData* outData) {
  if (!inData || !outData) throw selvo::EInvalidSale("CalcDiscount: не передана продажа или запись результата");
  selvo::TCalcDiscount calc;
  return calc.Calculate(*inData, *outData);
}
SELVO_EXPORT void ShowSelvoPaymentsForm() {
  selvo::TModuleState& module = selvo::Module();
  module.PaymentIDCounter = module.LastPaymentID;
  module.DiscountIDCounter = module.LastDiscountID;
  selvo::ShowSelvoPaymentsForm();
}
