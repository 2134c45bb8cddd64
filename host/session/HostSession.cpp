#include "host/session/HostSession.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

// The largest identifier in a column. A table the shop database lacks, or
// one without that column, has no identifiers to follow (0); every failure
// of reading them is raised, for a last identifier read as 0 when it is not
// would hand out identifiers that are taken.
std::int32_t MaxOf(TShopDataModule& dataModule, const char* table, const char* column) {
  if (!dataModule.FindComponent(table)) return 0;
  TShopConnection& connection = dataModule.Connection();
  const std::vector<TColumnInfo> columns = connection.Columns(table);
  if (std::none_of(columns.begin(), columns.end(), [&](const TColumnInfo& c) { return SameText(c.name, column); }))
    return 0;
  const TVariant max = connection.QueryValue("SELECT max(CAST(" + connection.Identifier(column) + " AS BIGINT)) FROM " +
                                             connection.Identifier(table));
  const auto* number = std::get_if<std::int64_t>(&max);
  if (!number) return 0;
  const std::int64_t value = *number;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return value < 0 ? 0 : static_cast<std::int32_t>(value);
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
