// selvo-host init: creates the sample shop database (a file, or the shop's
// tables on a server), refusing to overwrite one without --force.
#pragma once

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kInitCommand;

}  // namespace selvo::host
