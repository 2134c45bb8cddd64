// The two callbacks the host hands to the module.
#pragma once

#include <cstdint>

namespace selvo {

// Receives "START", "COMMIT" or "ROLLBACK"; only the answer to "START" counts.
using TTransactionFunc = bool (*)(const char* command);
// Shows the host's goods selection window; 1 means the operator confirmed.
using TGoodsSelectFormShow = std::int32_t (*)();

}  // namespace selvo
