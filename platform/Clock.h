// The module's clock: local time as a day-based date-time. Tests replace it.
#pragma once

#include <functional>

namespace selvo {

double Now();
// Replaces the clock; an empty function restores the system clock.
void SetClock(std::function<double()> clock);

}  // namespace selvo
