// Shared set-up of the simulator client tests: one set of services per test
// program, the client's loopback ORB, clients made on those services, and
// small helpers (bounded polling, standard error capture).
//
// The process has one ORB, initialised by its first client with that
// client's options: its "NameService" reference then stays for the life of
// the process. So every test of a program shares the one set of services
// that ClientEnvironment starts (ctest runs each test case in a process of
// its own; a program run directly runs them all against the same services).
// A test that stops or kills the server starts it again before it ends.
// Behaviour that needs a first client of its own (other ORB options,
// "-nsior", no Naming Service) runs in the child program zl_sim_child.
#ifndef ZL_TESTS_CLIENT_CLIENT_ENV_H_
#define ZL_TESTS_CLIENT_CLIENT_ENV_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "broker/zl_sim.h"
#include "support/services.h"
#include "support/test_tags.h"

namespace zl::testing {

// The served database "SIM" (and every database the factory creates) holds
// the test plant's tags, kTestTags.

class ClientEnvironment : public ::testing::Environment {
 public:
  // Pins the client ORB to loopback (Zelvik_Interface=127.0.0.1), writes the
  // tag file and starts the services.
  void SetUp() override;
  void TearDown() override;
  static Services& services();
};

// A new client on the services: options are the services' ORB options and
// `extra` (only the process's first client hands them to the ORB).
std::unique_ptr<ZLSim> NewClient(const std::string& extra = "");

// A client connected to "SIM"; fails the test when it cannot connect.
std::unique_ptr<ZLSim> ConnectedClient();

// Polls `done` in 10 ms slices for at most `limit`.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(20));

// Captures what is written to standard error (fd 2) while it lives.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  // Ends the capture and gives the text; later calls give "".
  std::string Take();

 private:
  bool active_ = true;
};

// Sets (or, for a null value, unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const std::string name_;
  std::optional<std::string> old_;
};

// A new empty directory under /tmp, removed with its content at the end of
// the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Copies the whole file `from` to `to`; false when either cannot be opened.
bool CopyFile(const std::string& from, const std::string& to);

// Starts the server again if it is not running (a test that stopped it).
void EnsureSimRunning();

}  // namespace zl::testing

#endif  // ZL_TESTS_CLIENT_CLIENT_ENV_H_
