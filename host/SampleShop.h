// The sample shop of `selvo-host init`: the six built-in payment types and a
// few of the shop's own, discount cards of every kind, and a goods catalogue
// with categories.
#pragma once

#include <string>

namespace selvo::host {

// Creates the database file and fills it. Refuses an existing file unless
// overwrite is true.
void CreateSampleShop(const std::string& path, bool overwrite);

}  // namespace selvo::host
