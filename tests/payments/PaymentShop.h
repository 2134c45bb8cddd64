// The sample shop as the module's data, for the tests of the payment type
// dialog: payment types 1..6 are the built-in ones, 7 "Бонусы" (GsmVO 110),
// 8 "Ведомость" (rounding to 100 kopecks above 1000, own receipt template),
// 9 "Сертификат" (switched off). Selvo.ini lies in the scope's WINDIR.
#pragma once

#include <memory>
#include <string>

#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "payments/SelvoPaymentListU.h"
#include "state/SelvoModuleU.h"
#include "support/SafeIniFiles.h"
#include "tests/common/TestSupport.h"

namespace selvo::test {

class PaymentShop {
 public:
  PaymentShop() {
    host::CreateSampleShop(dir_.file("shop.db"), false);
    dm_ = std::make_unique<host::TShopDataModule>(dir_.file("shop.db"));
    Module().DataModule = dm_.get();
    Module().LastPaymentID = Module().PaymentIDCounter = 9;
    FillPaymentsList();
  }
  ~PaymentShop() { Module().DataModule = nullptr; }

  TDataSet& Payments() { return *dm_->FindComponent("Payment"); }

  // Position of a payment type in the list; -1 when absent.
  static std::int32_t IndexOf(const std::string& name) {
    for (std::int32_t i = 0; i < PaymentList().Count(); ++i)
      if (PaymentRecName(*PaymentList().GetItem(i)) == name) return i;
    return -1;
  }

  // Field of the row with that ID, as text.
  std::string Field(std::int32_t id, const char* field) {
    TDataSet& ds = Payments();
    if (!ds.Locate("ID", {TVariant(std::int64_t{id})}, loNone)) return "<no row>";
    return ds.FieldByName(field).AsString();
  }

  void SetField(std::int32_t id, const char* field, std::int32_t value) {
    SetField(id, field, [value](TField& f) { f.SetAsInteger(value); });
  }
  void SetField(std::int32_t id, const char* field, const std::string& value) {
    SetField(id, field, [&value](TField& f) { f.SetAsString(value); });
  }

  static std::string Ini(const std::string& section, const std::string& key) {
    TSafeIniFile ini(Module().IniFileName);
    return ini.ReadString(section, key, "<none>");
  }
  static void SetIni(const std::string& section, const std::string& key, const std::string& value) {
    TSafeIniFile ini(Module().IniFileName);
    ini.WriteString(section, key, value);
  }

 private:
  template <class Set>
  void SetField(std::int32_t id, const char* field, Set set) {
    TDataSet& ds = Payments();
    ds.Locate("ID", {TVariant(std::int64_t{id})}, loNone);
    ds.Edit();
    set(ds.FieldByName(field));
    ds.Post();
    FillPaymentsList();
  }

  ModuleScope scope_;
  TempDir dir_;
  std::unique_ptr<host::TShopDataModule> dm_;
};

}  // namespace selvo::test
