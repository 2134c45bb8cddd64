// selvo-host payments: loads the module on the shop database and prints the
// payment types as the module read them.
#pragma once

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kPaymentsCommand;

}  // namespace selvo::host
