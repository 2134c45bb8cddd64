// selvo-host calc: the till's main job. Reads a sale in JSON, loads the
// module, hands it the shop database and computes the sale's discount
// through the module's exports; prints the sum to pay and the effective
// discount, and with --explain every variant the calculation considered.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "host/CommandLine.h"
#include "host/HostCommands.h"

namespace selvo::host {

extern const TCommandSpec kCalcCommandSpec;

// Exit codes as the other commands: 0 done, 1 failed (message on err).
int RunCalc(const TParsedCommand& command, const TModuleLocation& location, std::istream& in, std::ostream& out,
            std::ostream& err);

}  // namespace selvo::host
