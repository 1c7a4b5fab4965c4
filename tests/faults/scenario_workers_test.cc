// Resources of a long-lived client: scenario workers that have ended must
// not keep their thread stacks. Each worker is a joinable thread with an
// 8 MB stack mapping; one that is never joined keeps that mapping (and its
// touched pages) until the process ends, so a client that runs scenarios in
// a loop grew without bound.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "client/client_env.h"

namespace zl {
namespace {

using testing::ConnectedClient;
using testing::TempDir;
using testing::WaitFor;

// The process's virtual size in kB (VmSize of /proc/self/status), 0 if unknown.
long VirtualKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmSize:", 0) == 0) return std::stol(line.substr(7));
  }
  return 0;
}

TEST(ScenarioWorkersTest, EndedWorkersGiveTheirStacksBack) {
  auto client = ConnectedClient();
  TempDir dir;
  const std::string path = dir.path() + "/one.scn";
  std::ofstream(path) << "VERIFY FIC101 50\n";
  auto run = [&] {
    const int id = client->StartScenario(path.c_str(), "");
    ASSERT_GT(id, 0);
    ASSERT_TRUE(WaitFor([&] { return client->ScenarioInfo(id).empty(); }));
  };
  run();  // the first run sets up what stays: the thread manager, the test log
  const long before = VirtualKb();
  ASSERT_GT(before, 0);
  const int kRuns = 20;
  for (int i = 0; i < kRuns; ++i) run();
  // 20 kept stacks would add 160 MB; allow a couple of live ones.
  EXPECT_LT(VirtualKb() - before, 3 * 8192) << "ended scenario workers keep their stacks";
}

}  // namespace
}  // namespace zl
