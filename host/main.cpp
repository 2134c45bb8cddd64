// selvo-host: the host program that creates a shop database, loads the
// module and runs its jobs (see host/HostCommands.h).
#include <iostream>
#include <string>
#include <vector>

#include "host/GoodsSelectFrm.h"
#include "host/HostCommands.h"
#include "host/HostSession.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // With a display the module's goods choice opens the host's window;
  // without one it is answered as cancelled.
  if (selvo::host::HasDisplay()) selvo::host::SetHostGoodsSelect(&selvo::host::GoodsSelectWindowCallback);
  return selvo::host::RunHostProgram(args, {SELVO_MODULE_FILE, SELVO_MODULE_BUILD_DIR}, std::cout, std::cerr);
}
