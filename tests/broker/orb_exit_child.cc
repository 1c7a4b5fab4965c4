// A process that makes the ORB holder and leaves with OrbRunner alive, in the
// way named by its argument; the exit test checks that it ends promptly with
// status 0.
//   return   main returns while the runner runs
//   exit     a second thread calls exit() while the main thread waits
//   stop     the backup stop flag ends the runner first
//   none     the holder exists, InitOrb was never called
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "broker/orb_holder.h"

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "return";
  zl::OrbHolder* holder = zl::OrbHolder::instance();
  if (std::strcmp(mode, "none") == 0) return 0;
  if (holder->InitOrb("-ORBendPoint giop:tcp:127.0.0.1:") != 0) return 3;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (std::strcmp(mode, "exit") == 0) {
    std::thread([] { std::exit(0); }).detach();
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (std::strcmp(mode, "stop") == 0) {
    holder->RequestStop();
    while (holder->runnerRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return 0;
}
