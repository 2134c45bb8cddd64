// The module's own calculation code, run inside the host with a trace.
//
// The host reaches the module through its exports alone, except here: the
// exports give the sum to pay and the percentage, but not which variant won
// nor the banned lines. For `selvo-host calc --explain` and the "sale_bans"
// list of `--json`, this file links the module's calculation code into the
// host and runs it once more on the same data after the export has answered.
// The caller compares the trace's result with the sum the export returned,
// so an explanation never silently describes another calculation.
#pragma once

#include <cstdint>
#include <string>

#include "discounts/SelvoCalcDiscountUnit.h"
#include "interface/SelvoPaymentsTypes.h"

namespace selvo::host {

// Loads a module state of this process on the data module, computes the
// sale with a trace and unloads the state again. Messages of the
// calculation are not shown: the module has already shown them.
TCalcTrace RunTracedCalculation(TDataModule& dataModule, const TDiscountInData& sale);

// The explanation of one calculation, as text lines for a person.
std::string ExplainText(const TCalcTrace& trace, const std::string& paymentName, std::int32_t payID);

}  // namespace selvo::host
