// selvo-host replay: the sales of the till service's journals computed
// under the settings in use (--db) and under proposed ones (--against),
// each at its own moment, with the totals, the sales that change and what
// each card wins under each; --svg draws the discount by hour of the day.
#pragma once

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kReplayCommand;

}  // namespace selvo::host
