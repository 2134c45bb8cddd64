// selvo-host history: the versions of the shop's settings, newest first, in
// the operator's words (host/insight/HistorySummary); one version's every
// change (--show); and the restore of a past version as a new one
// (--restore, host/shopdb/SettingsRestore). Exit 0 done, 1 the shop cannot
// be read or the restore was refused, 2 bad usage.
#pragma once

#include <string>

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kHistoryCommand;

// A --since value, "2026-12-09", "2026-12-09T14:00" or "2026-12-09 14:00",
// as the history compares moments ("2026-12-09T14:00"). EUsageError naming
// the value for anything else, or a day or time that does not exist.
std::string HistorySince(const std::string& text);

}  // namespace selvo::host
