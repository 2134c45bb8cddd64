#include "platform/WindowsDir.h"

#include <cstdlib>

namespace selvo {

std::string WindowsDirectory() {
  const char* env = std::getenv("WINDIR");
  std::string dir = (env && *env) ? env : kDefaultWindowsDirectory;
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace selvo
