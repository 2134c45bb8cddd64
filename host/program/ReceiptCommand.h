// selvo-host receipt: a sale found again by the identifier on its receipt
// in the till service's journals, computed once more under the settings
// version the till used, at the moment it was computed at, with the
// explanation calc --explain gives, and checked against what the till
// answered then. A different answer fails the command and shows both.
#pragma once

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kReceiptCommand;

}  // namespace selvo::host
