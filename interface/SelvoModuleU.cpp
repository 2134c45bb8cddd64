#include "interface/SelvoModuleU.h"

#include "discounts/SelvoDiscountItemsU.h"
#include "interface/IdentifierAllocator.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/TextCodec.h"
#include "platform/WindowsDir.h"
#include "support/ProgressViewer.h"

namespace selvo {
namespace {

// Created by ModuleLoad and freed by ModuleUnload, not by static
// construction: the library's load hook may run before static constructors.
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

void ModuleLoad() {
  if (gModule) ModuleUnload();
  // The progress viewer's unit prepares itself before the module's state,
  // and goes after it at unload.
  ProgressViewerModuleStart();
  gModule = new TModuleState();
  TModuleState& state = *gModule;
  state.PaymentKindNames = {"наличные", "безналичные", "ЛНР", "платежный терминал", "дисконтная карта", "ЛБР"};
  state.DiscountList = new TDiscountList();
  state.PaymentList = new TSelvoPaymentList();
  SetProgressViewerTitle("Настройка скидок для товаров");
  state.IniFileName = SettingsFileName();
}

void ModuleUnload() {
  if (!gModule) return;
  TModuleState& state = *gModule;
  state.IniFileName.clear();
  delete state.PaymentList;
  state.PaymentList = nullptr;
  delete state.DiscountList;
  state.DiscountList = nullptr;
  state.PaymentKindNames.clear();
  delete gModule;
  gModule = nullptr;
  ProgressViewerModuleEnd();
}

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

bool IsRenamablePayment(std::int32_t index) {
  return !IsBuiltInPaymentName(PaymentRecName(*PaymentList().GetItem(index)));
}

}  // namespace selvo
