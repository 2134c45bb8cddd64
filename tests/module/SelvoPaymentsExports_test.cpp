// The module as a host sees it: loaded with dlopen, reached through its
// exported names only.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "selvo/SelvoPaymentsTypes.h"
#include "tests/common/TestSupport.h"

using selvo::TPaymentRec;

// The payment list as a host sees it on its side: an object whose first word
// points at a table of functions, the five operations in slots 0 to 4, each
// taking the object first.
class HostPaymentList {
 public:
  struct Slots {
    void (*Clear)(void* self);
    TPaymentRec* (*GetItem)(void* self, std::int32_t index);
    std::int32_t (*Count)(void* self);
    void (*Add)(void* self, const TPaymentRec* record);
    TPaymentRec* (*FindByName)(void* self, const char* name);
  };
  explicit HostPaymentList(void* object) : object_(object), slots_(*static_cast<const Slots* const*>(object)) {}
  void Clear() { slots_->Clear(object_); }
  TPaymentRec* GetItem(std::int32_t index) { return slots_->GetItem(object_, index); }
  std::int32_t Count() { return slots_->Count(object_); }
  void Add(const TPaymentRec* record) { slots_->Add(object_, record); }
  TPaymentRec* FindByName(const char* name) { return slots_->FindByName(object_, name); }

 private:
  void* object_;
  const Slots* slots_;
};

namespace {

const std::set<std::string> kExports = {
    "GetPaymentList",     "SetDataModule",       "SetLastPaymentID",       "SetLastDiscountID",
    "SetLastDscGoodsID",  "SetLastExclusionsID", "GetPaymentsVersion",     "PaymentsCanEditSmartCardDiscount",
    "SetTransactionFunc", "SetRoundPrecision",   "SetGoodsSelectFormShow", "FillPaymentsList",
    "FillDiscountList",   "CalcDiscount",        "ShowSelvoPaymentsForm"};

// The window toolkit the module links leaks a few bytes of its own each time
// it is unloaded; kept loaded, the leak check judges the module's own memory.
void KeepToolkitLoaded() {
  if (!dlopen("libQt6Core.so.6", RTLD_NOW | RTLD_NODELETE)) ADD_FAILURE() << dlerror();
}

class LoadedModule {
 public:
  LoadedModule() : handle_((KeepToolkitLoaded(), dlopen(SELVO_MODULE_PATH, RTLD_NOW | RTLD_LOCAL))) {
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
  EXPECT_EQ(HostPaymentList(list).Count(), 0);

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
  HostPaymentList hostList(module.fn<selvo::TPaymentList*()>("GetPaymentList")());
  HostPaymentList* list = &hostList;

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
  const double discount = list->GetItem(0)->Discount;  // a packed field: read by value
  EXPECT_EQ(discount, 2.5);
  // The host hands over the encoding it reads from the record: Windows-1251.
  const std::string own(reinterpret_cast<const char*>(rec.Name + 1), rec.Name[0]);
  EXPECT_EQ(list->FindByName(own.c_str()), list->GetItem(0));
  EXPECT_EQ(list->FindByName("\xEB\xE1\xF0"), list->GetItem(0)) << "\"лбр\" in Windows-1251";
  EXPECT_EQ(list->FindByName("ЛБР"), nullptr) << "UTF-8 is not the record's encoding";
  EXPECT_EQ(list->FindByName("\xCB\xCD\xD0"), nullptr);
  EXPECT_THROW(list->GetItem(1), selvo::EListError);
  EXPECT_THROW(list->GetItem(-1), selvo::EListError);
  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(selvo::DynArrayHeaderOf(rec.CustomCheck)->refCount, 1);
  selvo::AnsiTextRelease(rec.CustomCheck);
}

TEST(ModuleExports, EditorWithoutAWindowApplicationRefusesClearly) {
  LoadedModule module;
  ASSERT_TRUE(module);
  EXPECT_THROW(module.fn<void()>("ShowSelvoPaymentsForm")(), selvo::Exception);
}

TEST(ModuleExports, LoadsAndUnloadsTwice) {
  for (int round = 0; round < 2; ++round) {
    {
      LoadedModule module;
      ASSERT_TRUE(module);
      HostPaymentList hostList(module.fn<selvo::TPaymentList*()>("GetPaymentList")());
      HostPaymentList* list = &hostList;
      TPaymentRec rec{};
      rec.ID = round;
      rec.CustomCheck = selvo::AnsiTextNew("template");
      list->Add(&rec);
      selvo::AnsiTextRelease(rec.CustomCheck);
      EXPECT_EQ(list->Count(), 1) << "a fresh list after each load";
    }
    EXPECT_FALSE(ModuleIsMapped()) << "dlclose unloads the module";
  }
}

}  // namespace
