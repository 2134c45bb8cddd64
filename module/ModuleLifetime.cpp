#include "module/ModuleLifetime.h"

#include "discounts/SelvoDiscountItemsU.h"
#include "payments/SelvoPaymentListU.h"
#include "state/SelvoModuleU.h"
#include "support/ProgressViewer.h"

namespace selvo {

void ModuleLoad() {
  ModuleUnload();
  // The progress viewer's unit prepares itself before the module's state,
  // and goes after it at unload.
  ProgressViewerModuleStart();
  InstallModuleState(new TModuleState());
  TModuleState& state = Module();
  state.PaymentKindNames = {"наличные", "безналичные", "ЛНР", "платежный терминал", "дисконтная карта", "ЛБР"};
  state.DiscountList = new TDiscountList();
  state.PaymentList = new TSelvoPaymentList();
  SetProgressViewerTitle("Настройка скидок для товаров");
  state.IniFileName = SettingsFileName();
}

void ModuleUnload() {
  TModuleState* loaded = LoadedModuleState();
  if (!loaded) return;
  TModuleState& state = *loaded;
  state.IniFileName.clear();
  delete state.PaymentList;
  state.PaymentList = nullptr;
  delete state.DiscountList;
  state.DiscountList = nullptr;
  state.PaymentKindNames.clear();
  InstallModuleState(nullptr);
  delete loaded;
  ProgressViewerModuleEnd();
}

}  // namespace selvo
