#include "platform/Beep.h"

#include <unistd.h>

namespace selvo {

void Beep(unsigned /*frequencyHz*/, unsigned /*durationMs*/) {
  if (isatty(STDERR_FILENO)) {
    [[maybe_unused]] ssize_t n = write(STDERR_FILENO, "\a", 1);
  }
}

}  // namespace selvo
