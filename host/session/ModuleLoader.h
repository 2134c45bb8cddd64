// Loading the payments and discounts module into the host process: finding
// the shared library, dlopen, and the fifteen exported functions.
#pragma once

#include <string>

#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// The module could not be found or loaded, or lacks an export.
class EModuleLoadError : public Exception {
  using Exception::Exception;
};

// The module's exports, resolved by their plain names.
struct TModuleExports {
  decltype(&::GetPaymentList) GetPaymentList = nullptr;
  decltype(&::SetDataModule) SetDataModule = nullptr;
  decltype(&::SetLastPaymentID) SetLastPaymentID = nullptr;
  decltype(&::SetLastDiscountID) SetLastDiscountID = nullptr;
  decltype(&::SetLastDscGoodsID) SetLastDscGoodsID = nullptr;
  decltype(&::SetLastExclusionsID) SetLastExclusionsID = nullptr;
  decltype(&::GetPaymentsVersion) GetPaymentsVersion = nullptr;
  decltype(&::PaymentsCanEditSmartCardDiscount) PaymentsCanEditSmartCardDiscount = nullptr;
  decltype(&::SetTransactionFunc) SetTransactionFunc = nullptr;
  decltype(&::SetRoundPrecision) SetRoundPrecision = nullptr;
  decltype(&::SetGoodsSelectFormShow) SetGoodsSelectFormShow = nullptr;
  decltype(&::FillPaymentsList) FillPaymentsList = nullptr;
  decltype(&::FillDiscountList) FillDiscountList = nullptr;
  decltype(&::CalcDiscount) CalcDiscount = nullptr;
  decltype(&::ShowSelvoPaymentsForm) ShowSelvoPaymentsForm = nullptr;
};

// Where the module's shared library is looked for (see FindModuleFile).
struct TModuleLocation {
  std::string fileName;
  std::string buildDir;
};

// Where the module is: the file named by $SELVO_MODULE when that is set;
// else `fileName` next to the running program when it is there; else
// `fileName` in the library folder an install puts beside the program's
// (bin/../lib, as configured) when it is there; else, for a program that is
// not installed, `fileName` in `buildDir`. An installed program (not the
// build folder's own, and with that library folder beside its folder) whose
// module is missing gets EModuleLoadError naming the file it expected.
// `fileName` is the module's versioned name (its SONAME): the unversioned
// link exists only where the development files are installed. Otherwise
// only the choice is made here; loading tells whether the file is usable.
std::string FindModuleFile(const std::string& fileName, const std::string& buildDir);

// The loaded module. It stays in the process until the program ends; the
// object's end only drops its reference. A second object on the same file
// reaches the same module, with the state the first one left.
class TModuleLibrary {
 public:
  // dlopen with every symbol bound at once; EModuleLoadError naming the file
  // and the loader's reason when the file cannot be loaded or an export is
  // missing.
  explicit TModuleLibrary(const std::string& path);
  ~TModuleLibrary();
  TModuleLibrary(const TModuleLibrary&) = delete;
  TModuleLibrary& operator=(const TModuleLibrary&) = delete;

  const TModuleExports& Exports() const { return exports_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  TModuleExports exports_;
};

}  // namespace selvo::host
