#include "host/session/ModuleLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "host/session/HostPaths.h"

namespace selvo::host {
namespace {

// The folder an install puts the module in, seen from the program's: the
// program's folder is its real path (/proc/self/exe), so the ".." of the way
// there can be resolved in writing.
std::filesystem::path InstalledModuleDir(const std::string& programDir) {
  return (std::filesystem::path(programDir) / SELVO_MODULE_INSTALL_DIR_FROM_PROGRAM).lexically_normal();
}

// An installed program: not the build folder's own, and with the library
// folder of an install prefix beside its folder (bin/../lib, as configured).
bool IsInstalledProgram(const std::string& programDir) {
  std::error_code ec;
  if (std::filesystem::equivalent(programDir, SELVO_HOST_BUILD_PROGRAM_DIR, ec)) return false;
  return std::filesystem::is_directory(InstalledModuleDir(programDir), ec);
}

template <class F>
void Resolve(void* handle, const std::string& path, const char* name, F& slot) {
  dlerror();
  void* symbol = dlsym(handle, name);
  if (!symbol) {
    const char* reason = dlerror();
    throw EModuleLoadError("В модуле \"" + path + "\" нет функции " + name +
                           (reason ? std::string(": ") + reason : ""));
  }
  slot = reinterpret_cast<F>(symbol);
}

}  // namespace

std::string FindModuleFile(const std::string& fileName, const std::string& buildDir) {
  if (const char* forced = std::getenv("SELVO_MODULE"); forced && *forced) return forced;
  const std::string programDir = ExecutableDirectory();
  const std::string beside = programDir + fileName;
  if (access(beside.c_str(), F_OK) == 0) return beside;
  const std::string installed = InstalledModuleDir(programDir) / fileName;
  if (access(installed.c_str(), F_OK) == 0) return installed;
  // An installed program runs on the installed module or not at all: a
  // build folder that happens to be left on the machine is another version.
  if (IsInstalledProgram(programDir)) throw EModuleLoadError("Модуль не установлен: нет файла \"" + installed + "\"");
  return buildDir.empty() ? fileName : buildDir + "/" + fileName;
}

TModuleLibrary::TModuleLibrary(const std::string& path) : path_(path) {
  // The host keeps the module until the program ends (RTLD_NODELETE), as a
  // till does: unloading it then gains nothing, and the window toolkit the
  // module brings in does not free everything when it is unloaded.
  handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle_) {
    const char* reason = dlerror();
    throw EModuleLoadError("Не удалось загрузить модуль \"" + path_ +
                           "\": " + (reason ? reason : "неизвестная ошибка"));
  }
  try {
    TModuleExports& e = exports_;
    Resolve(handle_, path_, "GetPaymentList", e.GetPaymentList);
    Resolve(handle_, path_, "SetDataModule", e.SetDataModule);
    Resolve(handle_, path_, "SetLastPaymentID", e.SetLastPaymentID);
    Resolve(handle_, path_, "SetLastDiscountID", e.SetLastDiscountID);
    Resolve(handle_, path_, "SetLastDscGoodsID", e.SetLastDscGoodsID);
    Resolve(handle_, path_, "SetLastExclusionsID", e.SetLastExclusionsID);
    Resolve(handle_, path_, "GetPaymentsVersion", e.GetPaymentsVersion);
    Resolve(handle_, path_, "PaymentsCanEditSmartCardDiscount", e.PaymentsCanEditSmartCardDiscount);
    Resolve(handle_, path_, "SetTransactionFunc", e.SetTransactionFunc);
    Resolve(handle_, path_, "SetRoundPrecision", e.SetRoundPrecision);
    Resolve(handle_, path_, "SetGoodsSelectFormShow", e.SetGoodsSelectFormShow);
    Resolve(handle_, path_, "FillPaymentsList", e.FillPaymentsList);
    Resolve(handle_, path_, "FillDiscountList", e.FillDiscountList);
    Resolve(handle_, path_, "CalcDiscount", e.CalcDiscount);
    Resolve(handle_, path_, "ShowSelvoPaymentsForm", e.ShowSelvoPaymentsForm);
  } catch (...) {
    dlclose(handle_);
    throw;
  }
}

TModuleLibrary::~TModuleLibrary() {
  if (handle_) dlclose(handle_);
}

}  // namespace selvo::host
