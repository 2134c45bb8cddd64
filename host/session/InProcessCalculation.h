// The explanation of a calculation the host traced itself.
//
// The host reaches the module through its exports alone, except for the
// trace: the exports give the sum to pay and the percentage, but not which
// variant won nor the banned lines. For `selvo-host calc --explain`, the
// "sale_bans" list of `--json` and the till service, the host links the
// module's calculation code and runs it once more on the same data after the
// export has answered, over a snapshot of its own (TCalcSettings in
// SaleCalculation.h): the lists loaded from the same datasets and the
// options read from the same settings file, without a module state of this
// process. The caller compares the trace's result with the sum the export
// returned, so an explanation never silently describes another calculation.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "discounts/CalcSnapshot.h"
#include "discounts/SelvoCalcDiscountUnit.h"
#include "host/shopdb/ShopDataModule.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// What a calculation needs of the shop besides the module's own lists, read
// from a data module's rows once: the payment types' full names (a sale may
// name its payment type, the module's records hold only 20 characters) and
// which of them are switched on (a sale may be paid only so), and the host's
// copy of the lists for the trace, with the options of Selvo.ini as they are
// now.
struct TCalcSettings {
  std::vector<std::pair<std::int32_t, std::string>> paymentNames;  // ID, name, in ID order
  TCalcSnapshot snapshot;
  std::map<std::int32_t, bool> paymentSwitchedOn;  // every payment type's ID
};
TCalcSettings LoadCalcSettings(TShopDataModule& dataModule);

// The sale computed once more over the settings' lists, with a trace, with
// the time discounts matched at `now` (this process's clock when not
// given). Shows nothing: the module has already shown its messages.
TCalcTrace TraceCalculation(const TCalcSettings& settings, const TDiscountInData& sale);
TCalcTrace TraceCalculationAt(const TCalcSettings& settings, const TDiscountInData& sale, double now);

// The sale computed over the settings' lists as the module's export computes
// it when its clock shows `now`: the answer, and the trace in `trace`.
// Shows nothing.
TCalcResult CalculateInProcessAt(const TCalcSettings& settings, const TDiscountInData& sale, double now,
                                 TCalcTrace& trace);

// Whether a variant's sum (the trace's paySum, checkSum, goodsSum or
// groupSum) is the result the calculation chose: rounded to kopecks as the
// result is, a sum below a kopeck counting as nothing.
bool GaveTheResult(const TCalcTrace& trace, double variantSum);

// The explanation of one calculation, as text lines for a person.
std::string ExplainText(const TCalcTrace& trace, const std::string& paymentName, std::int32_t payID);

}  // namespace selvo::host
