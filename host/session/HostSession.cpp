#include "host/session/HostSession.h"

#include <limits>

namespace selvo::host {
namespace {

std::int32_t MaxOf(TShopDataModule& dataModule, const char* table, const char* column) {
  if (!dataModule.FindComponent(table)) return 0;
  try {
    TShopConnection& connection = dataModule.Connection();
    const TVariant max = connection.QueryValue("SELECT max(CAST(" + connection.Identifier(column) +
                                               " AS BIGINT)) FROM " + connection.Identifier(table));
    const auto* number = std::get_if<std::int64_t>(&max);
    if (!number) return 0;
    const std::int64_t value = *number;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return value < 0 ? 0 : static_cast<std::int32_t>(value);
  } catch (const EDatabaseError&) {
    return 0;  // a table without that column has no identifiers to follow
  }
}

}  // namespace

TLastIdentifiers ReadLastIdentifiers(TShopDataModule& dataModule) {
  TLastIdentifiers ids;
  ids.payment = MaxOf(dataModule, "Payment", "ID");
  ids.discount = MaxOf(dataModule, "SelvoDiscountDS", "td_ID");
  ids.dscGoods = MaxOf(dataModule, "DiscountGoodsDS", "dg_ID");
  ids.exclusions = MaxOf(dataModule, "ExclusionsDS", "ex_ID");
  return ids;
}

std::int32_t HeadlessGoodsSelect() { return 2; }

namespace {
TGoodsSelectFormShow gGoodsSelect = &HeadlessGoodsSelect;
}  // namespace

void SetHostGoodsSelect(TGoodsSelectFormShow select) { gGoodsSelect = select ? select : &HeadlessGoodsSelect; }
TGoodsSelectFormShow HostGoodsSelect() { return gGoodsSelect; }

void ConnectModule(const TModuleExports& module, TShopDataModule& dataModule) {
  const TLastIdentifiers ids = ReadLastIdentifiers(dataModule);
  SetCallbackDataModule(&dataModule);
  module.SetDataModule(&dataModule);
  module.SetLastPaymentID(ids.payment);
  module.SetLastDiscountID(ids.discount);
  module.SetLastDscGoodsID(ids.dscGoods);
  module.SetLastExclusionsID(ids.exclusions);
  module.SetTransactionFunc(&TransactionCallback);
  module.SetGoodsSelectFormShow(HostGoodsSelect());
}

TConnectedModule::TConnectedModule(const TModuleExports& module, TShopDataModule& dataModule) : module_(module) {
  ConnectModule(module, dataModule);
}

TConnectedModule::~TConnectedModule() {
  module_.SetDataModule(nullptr);
  module_.SetTransactionFunc(nullptr);
  SetCallbackDataModule(nullptr);
}

}  // namespace selvo::host
