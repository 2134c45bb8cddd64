#include "state/IdentifierAllocator.h"

#include <algorithm>
#include <limits>

#include "selvo/Errors.h"

namespace selvo {

std::int32_t AllocateIdentifier(std::int32_t& counter, std::int32_t lastUsed, const std::string& what,
                                const std::function<bool(std::int32_t)>& isHeld) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  // Counted in 64 bits, so that the step past the largest identifier is seen
  // instead of wrapping round to negative ones.
  std::int64_t id = std::max<std::int64_t>(std::int64_t{counter} + 1, std::int64_t{lastUsed} + 1);
  while (id <= kMax && isHeld && isHeld(static_cast<std::int32_t>(id))) ++id;
  if (id > kMax) throw EListError("Нет свободного идентификатора для " + what);
  counter = static_cast<std::int32_t>(id);
  return counter;
}

}  // namespace selvo
