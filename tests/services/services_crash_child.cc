// Starts the test services, reports their directory and server process on
// standard output, then dies of SIGKILL: what a crashing test does.
#include <signal.h>

#include <cstdio>
#include <exception>

#include "support/services.h"

int main() {
  try {
    zl::testing::Services services;
    std::printf("%s %d\n", services.directory().c_str(), static_cast<int>(services.sim_pid()));
    std::fflush(stdout);
    raise(SIGKILL);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "services_crash_child: %s\n", e.what());
  }
  return 1;
}
