// One sale computed through the connected module, as every till job asks
// for it: the payment type found by name or identifier, the module's export
// at the sale's moment, and the host's own trace of the same calculation for
// the banned lines and the explanation.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "discounts/CalcSnapshot.h"
#include "host/session/ModuleLoader.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ShopDataModule.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

struct TSaleAnswer {
  double sum = 0;  // to pay
  double discountPercent = 0;
  std::vector<std::string> saleBans;  // lines that may not be sold now
  std::string explanation;            // when asked for
  // Set when the trace came to another sum than the module (the data or
  // the clock changed between the two): the explanation is then not the
  // module's.
  std::string warning;
};

// What a calculation needs of the shop besides the module's own lists, read
// from a data module's rows once: the payment types' full names (a sale may
// name its payment type, the module's records hold only 20 characters), and
// the host's copy of the lists for the trace of the banned lines and the
// explanation, with the options of Selvo.ini as they are now.
struct TCalcSettings {
  std::vector<std::pair<std::int32_t, std::string>> paymentNames;  // ID, name, in ID order
  TCalcSnapshot snapshot;
};
TCalcSettings LoadCalcSettings(TShopDataModule& dataModule);

// Computes `sale` with the module, whose lists the caller has filled from
// the same rows as `settings`, at the sale's moment (this process's clock
// when it has none). ESaleFormat when the sale names a payment type the shop
// does not have, or a beginning of several names; the module's errors as
// they are. Touches no database.
TSaleAnswer CalculateSale(const TModuleExports& module, const TCalcSettings& settings, const TSale& sale,
                          bool explain);

// The record's name as UTF-8 (the record holds up to 20 Windows-1251
// characters behind a length byte).
std::string PaymentRecordName(const TPaymentRec& rec);

}  // namespace selvo::host
