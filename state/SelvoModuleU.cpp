#include "state/SelvoModuleU.h"

#include "platform/TextCodec.h"
#include "platform/WindowsDir.h"
#include "selvo/Errors.h"
#include "state/IdentifierAllocator.h"

namespace selvo {
namespace {

// Put in place by the module's load and taken away by its unload, not made
// by static construction: the library's load hook may run before static
// constructors.
TModuleState* gModule = nullptr;

TDataSet& LookupDataSet(const char* name) { return FindDataSet(gModule->DataModule, name); }

}  // namespace

TModuleState& Module() { return *gModule; }

std::string SettingsFileName() { return WindowsDirectory() + "Selvo.ini"; }

TDataSet& FindDataSet(TDataModule* dataModule, const char* name) {
  TDataSet* ds = dataModule ? dataModule->FindComponent(name) : nullptr;
  if (!ds) {
    throw EDatabaseError(std::string("Виды оплаты: не удалось найти набор данных ") + name + " в Ferin10.dll!");
  }
  return *ds;
}

void InstallModuleState(TModuleState* state) { gModule = state; }

TModuleState* LoadedModuleState() { return gModule; }

TSelvoPaymentList& PaymentList() { return *gModule->PaymentList; }
TDiscountList& DiscountList() { return *gModule->DiscountList; }

TDataSet& PaymentDataSet() { return LookupDataSet("Payment"); }
TDataSet& SelvoDiscountDataSet() { return LookupDataSet("SelvoDiscountDS"); }
TDataSet& DiscountGoodsDataSet() { return LookupDataSet("DiscountGoodsDS"); }
TDataSet& KeyTovarDataSet() { return LookupDataSet("KeyTovar"); }
TDataSet& GoodsDataSet() { return LookupDataSet("Goods"); }
TDataSet& ExclusionsDataSet() { return LookupDataSet("ExclusionsDS"); }

std::int32_t NextExclusionsID() {
  return AllocateIdentifier(gModule->LastExclusionsID, gModule->LastExclusionsID, "нового периода карты скидок");
}
std::int32_t NextDscGoodsID() {
  return AllocateIdentifier(gModule->LastDscGoodsID, gModule->LastDscGoodsID, "нового товара карты скидок");
}

bool IsBuiltInPaymentName(const std::string& utf8Name) {
  for (const std::string& kind : gModule->PaymentKindNames)
    if (SameText(kind, utf8Name)) return true;
  return false;
}

}  // namespace selvo
