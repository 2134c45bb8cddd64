// One sale computed through the connected module, as every till job asks
// for it: the payment type found by name or identifier, the module's export
// at the sale's moment, and the host's own trace of the same calculation for
// the banned lines and the explanation.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/session/InProcessCalculation.h"
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

// Computes `sale` with the module, whose lists the caller has filled from
// the same rows as `settings`, at the sale's moment (this process's clock
// when it has none). ESaleFormat when SalePayment refuses the sale's payment
// type; the module's errors as they are. Touches no database.
TSaleAnswer CalculateSale(const TModuleExports& module, const TCalcSettings& settings, const TSale& sale, bool explain);

// The same sale computed in this process as the module computes it when its
// clock shows `clock`: the cards' days, hours and periods are matched at the
// sale's moment (which must be set), their time discounts and sale bans at
// the clock's time of day, as the module's export matches them at its own
// clock. For a sale computed again later: the module's clock cannot be set
// from outside it. Always with the explanation; ESaleFormat as
// CalculateSale. Touches no database and shows nothing.
TSaleAnswer CalculateSaleAt(const TCalcSettings& settings, const TSale& sale, double clock);

// The payment type of that name among the shop's (its identifier and full
// name): an exact match first (letter case ignored), else the one name that
// begins with it (the module's records hold only the first 20 characters of
// a name). ESaleFormat when none or several match.
std::pair<std::int32_t, std::string> PaymentByName(const TCalcSettings& settings, const std::string& wanted);

// The payment type a sale is paid with (its identifier and full name, empty
// when the shop stores none), named by name (PaymentByName) or by
// identifier. ESaleFormat, the same way for both, when the shop has no such
// type or when it is switched off: no card of such a type ever applies.
std::pair<std::int32_t, std::string> SalePayment(const TCalcSettings& settings, const TSale& sale);

// The record's name as UTF-8 (the record holds up to 20 Windows-1251
// characters behind a length byte).
std::string PaymentRecordName(const TPaymentRec& rec);

}  // namespace selvo::host
