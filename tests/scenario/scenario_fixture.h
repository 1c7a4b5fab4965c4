// The fixture of the scenario tests that run files end to end: a directory
// of its own per test for the scenario files and their test logs, a client
// connected to the test program's shared services, and readers of what a
// run leaves behind. TearDown starts the server again when a test stopped
// or killed it. Used from the test thread only.
#ifndef ZL_TESTS_SCENARIO_SCENARIO_FIXTURE_H_
#define ZL_TESTS_SCENARIO_SCENARIO_FIXTURE_H_

#include <gtest/gtest.h>
#include <unistd.h>
#include <omniORB4/CORBA.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "broker/zl_sim.h"
#include "client/client_env.h"
#include "support/local_db_access.h"

namespace zl::testing {

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("zl_scn_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    client_ = ConnectedClient();
  }
  void TearDown() override {
    client_.reset();
    EnsureSimRunning();
    std::filesystem::remove_all(dir_);
  }

  // Writes `text` as file `name` of the test's directory; gives its path.
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  CORBA::Long Start(const std::string& path, const std::string& options = "") {
    return testing::LocalDb(*client_).StartScenario(path.c_str(), options.c_str());
  }
  std::string List() {
    CORBA::String_var text = testing::LocalDb(*client_).ListScenarios();
    return text.in();
  }
  std::string Info(CORBA::Long id) {
    CORBA::String_var text = testing::LocalDb(*client_).ScenarioInfo(id);
    return text.in();
  }
  // One counter of ScenarioInfo; -1 when the scenario is gone.
  long InfoCount(CORBA::Long id, const std::string& name) {
    const std::string info = Info(id);
    const std::size_t at = info.find("\n" + name + "\t");
    return at == std::string::npos ? -1 : std::atol(info.c_str() + at + name.size() + 2);
  }
  bool WaitAllEnded() {
    return WaitFor([&] { return List().empty(); });
  }
  // Runs `text` as scenario `name` with `options` to its end.
  std::string Run(const std::string& name, const std::string& text,
                  const std::string& options = "") {
    const std::string path = Write(name, text);
    EXPECT_GT(Start(path, options), 0);
    EXPECT_TRUE(WaitAllEnded());
    return path;
  }
  // The test log's lines with stamps, dates, run times and digests masked.
  static std::vector<std::string> Masked(const std::string& tlg) {
    std::ifstream in(tlg, std::ios::binary);
    std::vector<std::string> lines;
    static const std::regex stamp(R"(^\d+:\d\d:\d\d\.\d{3}\t)");
    static const std::regex date(R"( at \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}$)");
    static const std::regex after(R"(after \d+ mins \d+\.\d secs)");
    static const std::regex check(R"(^#\$CHECK:[0-9a-f]{32}$)");
    for (std::string line; std::getline(in, line);) {
      line = std::regex_replace(line, stamp, "T\t");
      line = std::regex_replace(line, date, " at DATE");
      line = std::regex_replace(line, after, "after M mins S secs");
      line = std::regex_replace(line, check, "#$CHECK:SUM");
      lines.push_back(line);
    }
    return lines;
  }
  // The same, with the time spans of timed statements ("after 0:02.312")
  // masked as well.
  static std::vector<std::string> MaskedSpans(const std::string& tlg) {
    static const std::regex span(R"(after \d+:\d\d\.\d{3}$)");
    std::vector<std::string> lines = Masked(tlg);
    for (std::string& line : lines) line = std::regex_replace(line, span, "after SPAN");
    return lines;
  }
  static std::string TestLogOf(const std::string& path) {
    return path.substr(0, path.rfind('.')) + ".tlg";
  }

  std::filesystem::path dir_;
  std::unique_ptr<ZLSim> client_;
};

}  // namespace zl::testing

#endif  // ZL_TESTS_SCENARIO_SCENARIO_FIXTURE_H_
