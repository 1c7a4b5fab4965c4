// A process whose ORB runner is alive at exit ends with status 0, no crash,
// no hang (child processes with a bounded wait).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

extern char** environ;

namespace {

// Runs the child in `mode`; gives its wait status, or -1 when it had not
// ended within the limit (it is killed then).
int RunChild(const char* mode) {
  const char* path = ZL_ORB_EXIT_CHILD;
  char* const argv[] = {const_cast<char*>(path), const_cast<char*>(mode), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, path, nullptr, nullptr, argv, environ) != 0) return -2;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status;
}

TEST(OrbExitTest, ExitsCleanlyWithRunnerAlive) {
  for (const char* mode : {"return", "exit", "stop", "none"}) {
    SCOPED_TRACE(mode);
    const int status = RunChild(mode);
    ASSERT_NE(-1, status) << "child hung at exit";
    ASSERT_TRUE(WIFEXITED(status)) << "child died of signal " << WTERMSIG(status);
    EXPECT_EQ(0, WEXITSTATUS(status));
  }
}

}  // namespace
