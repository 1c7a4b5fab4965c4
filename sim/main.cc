// zelvik-sim: the stand-in Zelvik server. See docs/zelvik-sim.md.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "options.h"
#include "server.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  zl::sim::Options options;
  std::string error;
  if (!zl::sim::ParseOptions(args, &options, &error)) {
    std::cerr << "zelvik-sim: " << error << "\n" << zl::sim::Usage();
    return 2;
  }

  // SIGINT and SIGTERM are taken by one thread (every later thread inherits
  // the blocked mask); a write to a closed socket must not end the process.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  zl::sim::Server server(options);
  std::atomic<bool> exiting{false};
  std::thread signals([&] {
    while (true) {
      int sig = 0;
      if (sigwait(&stop_signals, &sig) != 0) continue;
      if (exiting.load()) return;
      server.RequestStop(0);
    }
  });

  const int status = server.Start();
  if (status == 0) server.WaitForStop();
  server.Shutdown();

  exiting.store(true);
  pthread_kill(signals.native_handle(), SIGTERM);
  signals.join();
  return status;
}
