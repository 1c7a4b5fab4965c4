// Scenario runs meeting faults: the server dying mid-run, stop requests and
// disconnects while scenarios wait, and a file of binary garbage. Each test
// bounds every wait; none measures speed.
#include <gtest/gtest.h>
#include <unistd.h>
#include <omniORB4/CORBA.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "broker/zl_sim.h"
#include "client/client_env.h"
#include "localdb/client_interface.h"

namespace zl {
namespace {

namespace fs = std::filesystem;
using testing::ClientEnvironment;
using testing::ConnectedClient;
using testing::WaitFor;

class ScenarioFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zl_scnf_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    client_ = ConnectedClient();
  }
  void TearDown() override {
    client_.reset();
    testing::EnsureSimRunning();
    fs::remove_all(dir_);
  }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string List() {
    CORBA::String_var text = client_->localDb().ListScenarios();
    return text.in();
  }
  CORBA::Long Start(const std::string& path) {
    return client_->localDb().StartScenario(path.c_str(), "");
  }
  // The test log's lines with the leading stamps masked.
  static std::vector<std::string> Lines(const std::string& scn) {
    std::ifstream in(scn.substr(0, scn.rfind('.')) + ".tlg", std::ios::binary);
    static const std::regex stamp(R"(^\d+:\d\d:\d\d\.\d{3}\t)");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      lines.push_back(std::regex_replace(line, stamp, "T\t"));
    }
    return lines;
  }

  fs::path dir_;
  std::unique_ptr<ZLSim> client_;
};

// The server dies while a scenario loops setting a tag: the scenario ends on
// the abort line and the client connects again once the server is back.
TEST_F(ScenarioFaultTest, ServerKilledMidScenario) {
  const std::string path =
      Write("loop.scn", ":TOP\nSETPVE FIC101 10\nDELAY 0.05\nGOTO :top\n");
  ASSERT_GT(Start(path), 0);
  ASSERT_TRUE(WaitFor([&] { return client_->PVE("FIC101") == 10; }));
  ASSERT_TRUE(ClientEnvironment::services().KillSim());
  EXPECT_TRUE(WaitFor([&] { return List().empty(); }, std::chrono::seconds(30)));
  const std::vector<std::string> lines = Lines(path);
  ASSERT_GE(lines.size(), 2u);
  // The abort line is followed by the blank line that ends it.
  EXPECT_EQ("T\t__Unknown exception aborted scenario.", lines[lines.size() - 2]);
  EXPECT_EQ("", lines.back());
  testing::EnsureSimRunning();
  client_->Disconnect();
  EXPECT_EQ(0, client_->Connect("SIM"));
  client_->SetPVE("FIC101", 33);
  EXPECT_EQ(33, client_->PVE("FIC101"));
}

// A stop request ends a scenario that waits for an hour.
TEST_F(ScenarioFaultTest, StopDuringLongDelay) {
  const CORBA::Long id = Start(Write("wait.scn", "DELAY 3600\n"));
  ASSERT_GT(id, 0);
  EXPECT_FALSE(List().empty());
  client_->localDb().StopScenario(id);
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

// A file of every byte value and no newline runs to its end.
TEST_F(ScenarioFaultTest, BinaryGarbageFile) {
  std::string bytes;
  for (int round = 0; round < 4; ++round) {
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  }
  ASSERT_GT(Start(Write("garbage.scn", bytes)), 0);
  EXPECT_TRUE(WaitFor([&] { return List().empty(); }, std::chrono::seconds(20)));
  client_->SetPVE("FIC101", 21);
  EXPECT_EQ(21, client_->PVE("FIC101"));
}

// SIMWAIT counts simulation seconds: at warp factor 4 a wait of 20 of them
// ends well inside the 20 s it would take at real time.
TEST_F(ScenarioFaultTest, SimWaitFollowsWarpFactor) {
  client_->WarpFactor(4);
  ASSERT_GT(Start(Write("sim.scn", "SIMWAIT 20\nCOMMENT done\n")), 0);
  EXPECT_TRUE(WaitFor([&] { return List().empty(); }, std::chrono::seconds(15)));
  client_->WarpFactor(1);
}

}  // namespace
}  // namespace zl
