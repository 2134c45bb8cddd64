// selvo-host serve: the till service (host/service). Loads the module and
// the shop once and answers sales over HTTP until SIGTERM (or SIGINT),
// which finishes the answers in flight and exits 0; SIGHUP starts a new
// journal file.
#pragma once

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kServeCommand;

}  // namespace selvo::host
