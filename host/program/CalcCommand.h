// selvo-host calc: the till's main job. Reads a sale in JSON, loads the
// module, hands it the shop database and computes the sale's discount
// through the module's exports; prints the sum to pay and the effective
// discount, and with --explain every variant the calculation considered.
#pragma once

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kCalcCommand;

}  // namespace selvo::host
