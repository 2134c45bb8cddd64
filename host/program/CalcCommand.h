// selvo-host calc: the till's main job. Reads a sale in JSON, loads the
// module, hands it the shop database and computes the sale's discount
// through the module's exports; prints the sum to pay and the effective
// discount, and with --explain every variant the calculation considered.
#pragma once

#include <iosfwd>
#include <nlohmann/json_fwd.hpp>

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kCalcCommand;

struct TSaleAnswer;

// A computed sale as calc shows it, shared by the commands that show one:
// the object of --json (with "explain" when asked for), and the text (the
// sum to pay, the discount, the banned lines, then the explanation).
nlohmann::json SaleAnswerJson(const TSaleAnswer& answer, bool explain);
void PrintSaleAnswer(const TSaleAnswer& answer, bool explain, std::ostream& out);

}  // namespace selvo::host
