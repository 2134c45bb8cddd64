// selvo-host: the host program that creates a shop database, loads the
// module and runs its jobs.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "usage: selvo-host init|payments [--db FILE]\n");
  return 2;
}
