// The settings as they stood at any version of the history: a whole copy is
// written every kCopyEvery versions (and with every init, whose tables start
// anew), and a version loads from the nearest copy at or before it with the
// changes of the versions after it, so that loading version 1 of 10,000
// costs no more than loading one of the last.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/shopdb/ShopConnection.h"
#include "host/shopdb/ShopDataModule.h"

namespace selvo::host {

// A copy is written when the newest one is this many versions old.
inline constexpr std::int64_t kCopyEvery = 64;

// Whether the version being finished gets a copy (inside its transaction).
bool SettingsCopyDue(TShopConnection& connection, std::int64_t number, const std::string& origin);
// Writes the copy of the six tables as they stand in the open transaction.
// Number 0 is the shop as it stood when its history began (a shop made
// before the history), where every later version starts from.
void WriteSettingsCopy(TShopConnection& connection, std::int64_t number);

// The settings at `number` in a data module of their own, held in memory:
// the rows of every table as that version left them, with their row keys.
// EDatabaseError when the shop keeps no history or has no such version.
std::unique_ptr<TShopDataModule> LoadSettingsVersion(TShopConnection& connection, std::int64_t number);
// The same from a database address, read in one snapshot.
std::unique_ptr<TShopDataModule> LoadSettingsVersion(const std::string& database, std::int64_t number);

}  // namespace selvo::host
