// selvo-host chain: a chain of stations fed by its head office through
// PostgreSQL's logical replication (host/shopdb/ShopChain). `publish` makes
// the head office's database a publisher of the settings, `join` makes a
// station's database a subscriber, `status` lists where every station
// stands, `leave` makes a station's settings its own again. Exit 0 done, 1
// the databases refused, 2 bad usage.
#pragma once

#include "host/program/HostCommand.h"

namespace selvo::host {

extern const THostCommand kChainCommand;

}  // namespace selvo::host
