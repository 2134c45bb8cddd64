// selvo-host lint: the check of the shop's settings (host/insight/
// SettingsCheck). Exit 0 with no finding, 1 with findings, 2 when the shop
// cannot be read.
#pragma once

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kLintCommand;

}  // namespace selvo::host
