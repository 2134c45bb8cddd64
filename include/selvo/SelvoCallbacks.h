// The two callbacks the host hands to the module.
#pragma once

#ifndef __cplusplus
#error "selvo/SelvoCallbacks.h is a C++ header (classes, namespaces): include it from C++20, not from C"
#endif

#include <cstdint>

namespace selvo {

// Receives "START", "COMMIT" or "ROLLBACK". False to "START": no transaction,
// nothing is written; false to "COMMIT": nothing was saved (the module sends
// "ROLLBACK" after it and keeps the changes pending). The answer to
// "ROLLBACK" is ignored.
using TTransactionFunc = bool (*)(const char* command);
// Shows the host's goods selection window; 1 means the operator confirmed.
using TGoodsSelectFormShow = std::int32_t (*)();

}  // namespace selvo
