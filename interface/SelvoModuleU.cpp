#include "interface/SelvoModuleU.h"

#include "discounts/SelvoDiscountItemsU.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/TextCodec.h"
#include "platform/WindowsDir.h"
#include "support/ProgressViewer.h"

namespace selvo {
namespace {

TModuleState gState;

TDataSet& LookupDataSet(const char* name) {
  TDataSet* ds = gState.DataModule ? gState.DataModule->FindComponent(name) : nullptr;
  if (!ds) {
    throw EDatabaseError(std::string("Виды оплаты: не удалось найти набор данных ") + name + " в Ferin10.dll!");
  }
  return *ds;
}

}  // namespace

TModuleState& Module() { return gState; }

void ModuleLoad() {
  gState = TModuleState{};
  gState.PaymentKindNames = {"наличные", "безналичные", "ЛНР", "платежный терминал", "дисконтная карта", "ЛБР"};
  gState.DiscountList = new TDiscountList();
  gState.PaymentList = new TPaymentList();
  SetProgressViewerTitle("Настройка скидок для товаров");
  gState.IniFileName = WindowsDirectory() + "Selvo.ini";
}

void ModuleUnload() {
  gState.IniFileName.clear();
  delete gState.PaymentList;
  gState.PaymentList = nullptr;
  delete gState.DiscountList;
  gState.DiscountList = nullptr;
  gState.PaymentKindNames.clear();
  gState.PaymentKindNames.shrink_to_fit();
}

TPaymentList& PaymentList() { return *gState.PaymentList; }
TDiscountList& DiscountList() { return *gState.DiscountList; }

TDataSet& PaymentDataSet() { return LookupDataSet("Payment"); }
TDataSet& SelvoDiscountDataSet() { return LookupDataSet("SelvoDiscountDS"); }
TDataSet& DiscountGoodsDataSet() { return LookupDataSet("DiscountGoodsDS"); }
TDataSet& KeyTovarDataSet() { return LookupDataSet("KeyTovar"); }
TDataSet& GoodsDataSet() { return LookupDataSet("Goods"); }
TDataSet& ExclusionsDataSet() { return LookupDataSet("ExclusionsDS"); }

std::int32_t NextExclusionsID() { return ++gState.LastExclusionsID; }
std::int32_t NextDscGoodsID() { return ++gState.LastDscGoodsID; }

bool IsBuiltInPaymentName(const std::string& utf8Name) {
  for (const std::string& kind : gState.PaymentKindNames)
    if (SameText(kind, utf8Name)) return true;
  return false;
}

bool IsRenamablePayment(std::int32_t index) {
  return !IsBuiltInPaymentName(PaymentRecName(*PaymentList().GetItem(index)));
}

}  // namespace selvo
