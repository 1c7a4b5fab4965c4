// Scenario runs meeting faults: the server dying mid-run and during a timed
// block, stop requests and disconnects while scenarios wait. Each test bounds
// every wait; none measures speed. (Faults a server raises on purpose, a
// file of garbage and simulation-time waits run without services in
// statement_table_test.cc and scenario_file_test.cc.)
#include <gtest/gtest.h>
#include <omniORB4/CORBA.h>

#include <chrono>
#include <string>
#include <vector>

#include "client/client_env.h"
#include "scenario/scenario_fixture.h"

namespace zl {
namespace {

using testing::ClientEnvironment;
using testing::WaitFor;

using ScenarioFaultTest = testing::ScenarioTest;

// The server dies while a scenario loops setting a tag: the scenario ends on
// the abort line and the client connects again once the server is back.
TEST_F(ScenarioFaultTest, ServerKilledMidScenario) {
  const std::string path =
      Write("loop.scn", ":TOP\nSETPVE FIC101 10\nDELAY 0.05\nGOTO :top\n");
  ASSERT_GT(Start(path), 0);
  ASSERT_TRUE(WaitFor([&] { return client_->PVE("FIC101") == 10; }));
  ASSERT_TRUE(ClientEnvironment::services().KillSim());
  EXPECT_TRUE(WaitFor([&] { return List().empty(); }, std::chrono::seconds(30)));
  const std::vector<std::string> lines = Masked(TestLogOf(path));
  ASSERT_GE(lines.size(), 3u);
  // Where and why before the abort line, which the blank line ends; only
  // SETPVE calls the server.
  EXPECT_EQ(0u, lines[lines.size() - 3].find("T\t# Aborted at line 2 of " + path +
                                             ", \"SETPVE FIC101 10\": system exception, ID "
                                             "'IDL:omg.org/CORBA/"))
      << lines[lines.size() - 3];
  EXPECT_EQ("T\t__Unknown exception aborted scenario.", lines[lines.size() - 2]);
  EXPECT_EQ("", lines.back());
  testing::EnsureSimRunning();
  client_->Disconnect();
  EXPECT_EQ(0, client_->Connect("SIM"));
  client_->SetPVE("FIC101", 33);
  EXPECT_EQ(33, client_->PVE("FIC101"));
}

// The server dies while a timed block polls: the statement reports the
// communication error when it meets it and ends, the lines after the block
// still run, and the client works again once the server is back. (The other
// statements of a block meeting a failing server are rows of
// StatementTableTest.ServerFaultsFollowTheStatementPolicy.)
TEST_F(ScenarioFaultTest, ServerKilledDuringTimedBlock) {
  struct Case {
    int line;
    std::string block;              // run after "SETPVE FIC101 50"
    long verifies;                  // the server is killed once totalVerifies reaches this
    std::vector<std::string> body;  // the block's lines, time spans masked
  };
  const std::vector<Case> cases = {
      // Inside the window the error ends the verification without a
      // "FAILED to occur" line.
      {__LINE__, "TVERIFY FIC101 1 0 60\n", 2,
       {"T\t  Precheck Timed Verification !(<FIC101> = 1.000000) passed Value is 50.000000 "
        "after SPAN",
        "T\t__Communication error reading 'FIC101' during Timed Assertion"}},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    const std::string path = Write("timed" + std::to_string(++n) + ".scn",
                                   "SETPVE FIC101 50\n" + k.block + "BEND\nCOMMENT after\n");
    const CORBA::Long id = Start(path);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(WaitFor([&] { return InfoCount(id, "totalVerifies") >= k.verifies; }));
    ASSERT_TRUE(ClientEnvironment::services().KillSim());
    EXPECT_TRUE(WaitFor([&] { return List().empty(); }, std::chrono::seconds(30)));
    std::vector<std::string> want = {"T\tStarting test '" + path + "' at DATE"};
    want.insert(want.end(), k.body.begin(), k.body.end());
    want.push_back("T\t# AFTER");
    want.push_back("T\tClosing test log after M mins S secs at DATE");
    want.push_back("#$CHECK:SUM");
    EXPECT_EQ(want, MaskedSpans(TestLogOf(path)));

    testing::EnsureSimRunning();
    client_->Disconnect();
    ASSERT_EQ(0, client_->Connect("SIM"));
    EXPECT_EQ(1, client_->SetPVE("FIC101", 33));
    EXPECT_EQ(33, client_->PVE("FIC101"));
  }
}

// A stop request ends a scenario that waits for an hour.
TEST_F(ScenarioFaultTest, StopDuringLongDelay) {
  const CORBA::Long id = Start(Write("wait.scn", "DELAY 3600\n"));
  ASSERT_GT(id, 0);
  EXPECT_FALSE(List().empty());
  testing::LocalDb(*client_).StopScenario(id);
  EXPECT_TRUE(WaitFor([&] { return List().empty(); }, std::chrono::seconds(5)));
}

// Disconnect stops every running scenario and returns only once they ended.
TEST_F(ScenarioFaultTest, DisconnectStopsAndWaitsForScenarios) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_GT(Start(Write("w" + std::to_string(i) + ".scn", "DELAY 3600\n")), 0);
  }
  EXPECT_FALSE(List().empty());
  EXPECT_EQ(0, client_->Disconnect());
  EXPECT_EQ("", List());
}

}  // namespace
}  // namespace zl
