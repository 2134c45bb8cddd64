// What the host hands the module before it uses it: the data module, the
// last identifiers of the tables and the two callbacks.
#pragma once

#include <cstdint>

#include "host/session/ModuleLoader.h"
#include "host/shopdb/ShopDataModule.h"
#include "selvo/SelvoCallbacks.h"

namespace selvo::host {

// The highest identifiers stored in the shop database ("Payment".ID,
// "SelvoDiscountDS".td_ID, "DiscountGoodsDS".dg_ID, "ExclusionsDS".ex_ID);
// 0 for a table that is empty or missing, or lacks the column. Raises
// EDatabaseError when they cannot be read (a lost connection is never 0).
struct TLastIdentifiers {
  std::int32_t payment = 0;
  std::int32_t discount = 0;
  std::int32_t dscGoods = 0;
  std::int32_t exclusions = 0;
};
TLastIdentifiers ReadLastIdentifiers(TShopDataModule& dataModule);

// The host's goods selection without a window: the operator cannot choose,
// so it answers 2 (cancelled), and the module changes nothing.
std::int32_t HeadlessGoodsSelect();

// The goods selection ConnectModule hands the module: HeadlessGoodsSelect
// unless the program set another (the window, when it has a display).
void SetHostGoodsSelect(TGoodsSelectFormShow select);
TGoodsSelectFormShow HostGoodsSelect();

// Hands the module the data module, its last identifiers, the transaction
// callback (on this data module's connection) and the goods selection.
// The data module must outlive the module's use of it.
void ConnectModule(const TModuleExports& module, TShopDataModule& dataModule);

// Connects the module for one command and disconnects it again when it goes,
// so that the module never keeps a data module that no longer exists.
class TConnectedModule {
 public:
  TConnectedModule(const TModuleExports& module, TShopDataModule& dataModule);
  ~TConnectedModule();
  TConnectedModule(const TConnectedModule&) = delete;
  TConnectedModule& operator=(const TConnectedModule&) = delete;

 private:
  const TModuleExports& module_;
};

}  // namespace selvo::host
