// Hands out the identifiers of new payment types, discount cards and their
// target and period rows. Every kind keeps a counter in the module state;
// the host's last used identifier is the floor.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace selvo {

// The next identifier: above both counter and lastUsed, and not one that
// isHeld (when given) says a stored row already has. Stores it in counter.
// The counter moves on also when the last stored row lies below it: going
// back could hand out an identifier that was given out and not yet stored.
// Raises EListError naming `what` when no identifier is left in 32 bits;
// the counter then stays as it was.
std::int32_t AllocateIdentifier(std::int32_t& counter, std::int32_t lastUsed, const std::string& what,
                                const std::function<bool(std::int32_t)>& isHeld = {});

}  // namespace selvo
