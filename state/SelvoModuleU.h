// Module-wide state: what the host handed over, the identifier counters, the
// option flags and the two lists. None of it is locked: everything runs on
// the host's user-interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "selvo/SelvoCallbacks.h"
#include "selvo/SelvoDataSets.h"

namespace selvo {

class TDiscountList;
class TSelvoPaymentList;

inline constexpr std::int32_t PaymentsVersion = 7;

struct TModuleState {
  TDataModule* DataModule = nullptr;
  std::int32_t LastPaymentID = 0;
  std::int32_t LastDiscountID = 0;
  std::int32_t LastDscGoodsID = 0;
  std::int32_t LastExclusionsID = 0;
  std::int32_t PaymentIDCounter = 0;
  std::int32_t DiscountIDCounter = 0;
  TTransactionFunc TransactionFunc = nullptr;
  TGoodsSelectFormShow GoodsSelectFormShow = nullptr;
  bool CanEditSmartCardDiscount = true;
  bool RSumCanNotBeLowThenZSum = true;
  bool HasCheckItogPrecField = false;
  bool HasGsmVOField = false;
  bool HasCustomCheckField = false;
  // Names of the six built-in payment types, index 0 to 5; empty when unloaded.
  std::vector<std::string> PaymentKindNames;
  // Full name of Selvo.ini in the Windows directory.
  std::string IniFileName;
  TDiscountList* DiscountList = nullptr;
  TSelvoPaymentList* PaymentList = nullptr;
};

// The one state of the loaded module.
TModuleState& Module();

// The state is made and freed by the module's load and unload
// (module/ModuleLifetime.h), which put it in place here (nullptr takes it
// away; the caller keeps ownership) and find it here: nullptr when none.
void InstallModuleState(TModuleState* state);
TModuleState* LoadedModuleState();

// The lists of the loaded module (ModuleLoad must have run).
TSelvoPaymentList& PaymentList();
TDiscountList& DiscountList();

// Full name of Selvo.ini in the Windows directory as it is now; ModuleLoad
// keeps it in IniFileName.
std::string SettingsFileName();

// The dataset of that component name in any data module; EDatabaseError with
// the operator-facing message when there is no data module or no such
// dataset in it.
TDataSet& FindDataSet(TDataModule* dataModule, const char* name);

// Dataset lookups by component name in the module's data module; each raises
// EDatabaseError with the operator-facing message when the data module has no
// such dataset.
TDataSet& PaymentDataSet();
TDataSet& SelvoDiscountDataSet();
TDataSet& DiscountGoodsDataSet();
TDataSet& KeyTovarDataSet();
TDataSet& GoodsDataSet();
TDataSet& ExclusionsDataSet();

// Each call consumes one identifier: LastExclusionsID + 1, + 2, ...; raises
// EListError when none is left.
std::int32_t NextExclusionsID();
std::int32_t NextDscGoodsID();

// True when the name is one of the built-in payment type names.
bool IsBuiltInPaymentName(const std::string& utf8Name);

}  // namespace selvo
