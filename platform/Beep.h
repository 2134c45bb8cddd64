// The speaker beep: a bell on the terminal when standard error is one, else
// nothing. Never fails.
#pragma once

namespace selvo {

void Beep(unsigned frequencyHz, unsigned durationMs);

}  // namespace selvo
