// How the settings editor opens the discount card dialog: a plain function
// of the card's position in the discount list (negative: a new card). The
// editor window takes one; DefaultCardDialog (editor/SelvoPaymentsFrm.cpp)
// is the one the module uses, tests pass their own.
#pragma once

#include <cstdint>

namespace selvo {

using TShowCardDialog = void (*)(std::int32_t position);

// The module's card dialog.
void DefaultCardDialog(std::int32_t position);

}  // namespace selvo
