// The module's own calculation code, run inside the host with a trace.
//
// The host reaches the module through its exports alone, except here: the
// exports give the sum to pay and the percentage, but not which variant won
// nor the banned lines. For `selvo-host calc --explain` and the "sale_bans"
// list of `--json`, this file links the module's calculation code into the
// host and runs it once more on the same data after the export has answered,
// over a snapshot of its own: the lists loaded from the same datasets and
// the options read from the same settings file, without a module state of
// this process. The caller compares the trace's result with the sum the
// export returned, so an explanation never silently describes another
// calculation.
#pragma once

#include <cstdint>
#include <string>

#include "discounts/SelvoCalcDiscountUnit.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// Loads the payment types and discount cards from the data module, reads the
// options of Selvo.ini in the Windows directory, and computes the sale with a
// trace at this process's clock. Shows nothing: the module has already shown
// its messages.
TCalcTrace RunTracedCalculation(TDataModule& dataModule, const TDiscountInData& sale);

// The explanation of one calculation, as text lines for a person.
std::string ExplainText(const TCalcTrace& trace, const std::string& paymentName, std::int32_t payID);

}  // namespace selvo::host
