// The sample shop as the module's data, for the tests of the discount card
// dialog: its payment types and discount cards loaded, the last identifiers
// handed over as the host does, Russian formats. Card 4 "Кофе и хот-дог по
// дисконтной карте" targets category 2 and article 304; card 9 "Новогодние
// праздники" targets categories 1 and 3 and has periods 1 and 2.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "discounts/SelvoDiscountItemsU.h"
#include "host/session/HostSession.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/FormatSettings.h"
#include "state/SelvoModuleU.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/TestSupport.h"

namespace selvo::test {

class DiscountShop {
 public:
  DiscountShop() : formats_(TFormatSettings::Russian()) {
    host::CreateSampleShop(dir_.file("shop.db"), false);
    dm_ = std::make_unique<host::TShopDataModule>(dir_.file("shop.db"));
    const host::TLastIdentifiers ids = host::ReadLastIdentifiers(*dm_);
    Module().DataModule = dm_.get();
    Module().LastPaymentID = Module().PaymentIDCounter = ids.payment;
    Module().LastDiscountID = Module().DiscountIDCounter = ids.discount;
    Module().LastDscGoodsID = ids.dscGoods;
    Module().LastExclusionsID = ids.exclusions;
    FillPaymentsList();
    FillDiscountList();
  }
  ~DiscountShop() { Module().DataModule = nullptr; }

  host::TShopDataModule& Data() { return *dm_; }
  host::TShopDataSet& DataSet(const char* name) { return dm_->DataSet(name); }

  // Position of a card in the discount list; -1 when absent.
  static std::int32_t IndexOf(std::int32_t id) {
    for (std::int32_t i = 0; i < DiscountList().Count(); ++i)
      if (DiscountList().GetItem(i)->ID == id) return i;
    return -1;
  }
  static TDiscountItem& Card(std::int32_t id) { return *DiscountList().GetItem(IndexOf(id)); }

  // The rows a detail dataset presents for a card, as "id:a:b" texts.
  std::vector<std::string> Rows(const char* detail, std::int32_t cardID) {
    host::TShopDataSet& cards = DataSet("SelvoDiscountDS");
    std::vector<std::string> rows;
    if (!cards.Locate("td_ID", {TVariant(std::int64_t{cardID})}, loNone)) return rows;
    host::TShopDataSet& ds = DataSet(detail);
    for (ds.First(); !ds.Eof(); ds.Next())
      rows.push_back(ds.Field(0).AsString() + ":" + ds.Field(2).AsString() + ":" + ds.Field(3).AsString() +
                     (ds.FieldCount() > 4 ? ":" + ds.Field(4).AsString() : ""));
    return rows;
  }

 private:
  ScopedFormatSettings formats_;
  TempDir dir_;
  std::unique_ptr<host::TShopDataModule> dm_;
};

}  // namespace selvo::test
