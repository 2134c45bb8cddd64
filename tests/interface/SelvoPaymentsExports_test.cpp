// The module as a host sees it: loaded with dlopen, reached through its
// exported names only.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "interface/SelvoPaymentsTypes.h"
#include "tests/common/TestSupport.h"

using selvo::TPaymentRec;

// The payment list as a host declares it on its side: five virtual
// operations in this order, nothing else. (Outside the anonymous namespace:
// the compiler must not assume it knows every class that implements it.)
struct HostPaymentList {
  virtual void Clear() = 0;
  virtual TPaymentRec* GetItem(std::int32_t index) = 0;
  virtual std::int32_t Count() = 0;
  virtual void Add(const TPaymentRec* record) = 0;
  virtual TPaymentRec* FindByName(const char* name) = 0;
};

namespace {

const std::set<std::string> kExports = {
    "GetPaymentList",      "SetDataModule",    "SetLastPaymentID",
    "SetLastDiscountID",   "SetLastDscGoodsID", "SetLastExclusionsID",
    "GetPaymentsVersion",  "PaymentsCanEditSmartCardDiscount", "SetTransactionFunc",
    "SetRoundPrecision",   "SetGoodsSelectFormShow", "FillPaymentsList",
    "FillDiscountList",    "CalcDiscount",     "ShowSelvoPaymentsForm"};

class LoadedModule {
 public:
  LoadedModule() : handle_(dlopen(SELVO_MODULE_PATH, RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) ADD_FAILURE() << dlerror();
  }
  ~LoadedModule() {
    if (handle_) dlclose(handle_);
  }
  template <class F>
  F* fn(const char* name) {
    void* p = handle_ ? dlsym(handle_, name) : nullptr;
    if (!p) ADD_FAILURE() << "no export " << name;
    return reinterpret_cast<F*>(p);
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  void* handle_;
};

bool ModuleIsMapped() {
  void* h = dlopen(SELVO_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

TEST(ModuleExports, ExactlyTheFifteenFunctions) {
  std::string command = std::string("nm -D --defined-only ") + SELVO_MODULE_PATH;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::set<std::string> symbols;
  std::array<char, 512> line{};
  while (fgets(line.data(), line.size(), pipe.get())) {
    char address[128], type[8], name[384];
    if (std::sscanf(line.data(), "%127s %7s %383s", address, type, name) == 3) {
      EXPECT_EQ(std::string(type), "T") << name << " is exported as " << type;
      symbols.insert(name);
    }
  }
  EXPECT_EQ(symbols, kExports);
}

TEST(ModuleExports, StateBeforeAnythingIsSet) {
  LoadedModule module;
  ASSERT_TRUE(module);
  EXPECT_EQ(module.fn<std::int32_t()>("GetPaymentsVersion")(), 7);
  module.fn<void(std::int32_t)>("SetRoundPrecision")(4);
  EXPECT_EQ(module.fn<std::int32_t()>("GetPaymentsVersion")(), 7);

  auto* getList = module.fn<selvo::TPaymentList*()>("GetPaymentList");
  selvo::TPaymentList* list = getList();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(getList(), list) << "one list for the life of the library";
  EXPECT_EQ(reinterpret_cast<HostPaymentList*>(list)->Count(), 0);

  try {
    module.fn<void()>("FillPaymentsList")();
    FAIL() << "loading without a data module must fail";
  } catch (const selvo::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Виды оплаты: ссылка на модуль данных не загружена!");
  }
}

TEST(ModuleExports, ListOperationsThroughTheHostVtable) {
  LoadedModule module;
  ASSERT_TRUE(module);
  auto* list = reinterpret_cast<HostPaymentList*>(module.fn<selvo::TPaymentList*()>("GetPaymentList")());

  TPaymentRec rec{};
  rec.ID = 12;
  const char name[] = "\xCB\xC1\xD0";  // "ЛБР" in Windows-1251
  rec.Name[0] = 3;
  std::memcpy(rec.Name + 1, name, 3);
  rec.Discount = 2.5;
  rec.CustomCheck = selvo::AnsiTextNew("x");
  list->Add(&rec);
  EXPECT_EQ(selvo::DynArrayHeaderOf(rec.CustomCheck)->refCount, 2) << "the copy shares the text";
  ASSERT_EQ(list->Count(), 1);
  EXPECT_EQ(list->GetItem(0)->ID, 12);
  EXPECT_EQ(list->GetItem(0)->Discount, 2.5);
  EXPECT_EQ(list->FindByName("лбр"), list->GetItem(0));
  EXPECT_EQ(list->FindByName("ЛНР"), nullptr);
  EXPECT_THROW(list->GetItem(1), selvo::EListError);
  EXPECT_THROW(list->GetItem(-1), selvo::EListError);
  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(selvo::DynArrayHeaderOf(rec.CustomCheck)->refCount, 1);
  selvo::DynArrayRelease(rec.CustomCheck);
}

TEST(ModuleExports, NotYetAvailableFunctionsRefuseClearly) {
  LoadedModule module;
  ASSERT_TRUE(module);
  EXPECT_THROW(module.fn<void()>("ShowSelvoPaymentsForm")(), selvo::Exception);
}

TEST(ModuleExports, LoadsAndUnloadsTwice) {
  for (int round = 0; round < 2; ++round) {
    {
      LoadedModule module;
      ASSERT_TRUE(module);
      auto* list = reinterpret_cast<HostPaymentList*>(module.fn<selvo::TPaymentList*()>("GetPaymentList")());
      TPaymentRec rec{};
      rec.ID = round;
      rec.CustomCheck = selvo::AnsiTextNew("template");
      list->Add(&rec);
      selvo::DynArrayRelease(rec.CustomCheck);
      EXPECT_EQ(list->Count(), 1) << "a fresh list after each load";
    }
    EXPECT_FALSE(ModuleIsMapped()) << "dlclose unloads the module";
  }
}

}  // namespace
