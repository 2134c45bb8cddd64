// selvo-host: the host program that creates a shop database, loads the
// module and runs its jobs (see host/program/HostCommands.h).
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "host/program/HostCommands.h"
#include "host/session/HostSession.h"
#include "host/windows/GoodsSelectFrm.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // With a display the module's goods choice opens the host's window;
  // without one it is answered as cancelled.
  if (selvo::host::HasDisplay()) selvo::host::SetHostGoodsSelect(&selvo::host::GoodsSelectWindowCallback);
  errno = 0;
  int code = selvo::host::RunHostProgram(args, {SELVO_MODULE_FILE, SELVO_MODULE_BUILD_DIR}, std::cout, std::cerr);
  // A result that did not reach its reader (a full disk, a closed pipe) is
  // no success, whatever the command did.
  std::cout.flush();
  if (!std::cout) {
    const int error = errno;
    std::cerr << "selvo-host: не удалось записать результат в стандартный вывод"
              << (error ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
    if (code == 0) code = 1;
  }
  return code;
}
