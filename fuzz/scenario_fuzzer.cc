// Fuzz target: the scenario line path. The input's first line is the option
// string of the run (skip option, $1..$8), the rest is the scenario file.
// Each input runs as a whole scenario on a worker thread, against
// zelvik-sim's database servant in-process, with a virtual clock that the
// plant follows (waits take no real time) and a log set list behind ZLCMD
// and USELOG: argument substitution, the tokenizer, parenthesis expansion,
// keyword dispatch, every statement's operands, labels, subtests, timed
// blocks, the test log and its closing.
//
// Bounds: at most kMaxLines lines; a run ends after kVirtualBudget seconds
// of virtual waiting, and is stopped after kRealBudget of real time (a GOTO
// loop that never waits).
//
// Differential: each input is also checked without running it (the static
// check, scenario/scenario_check.h) with the run's arguments and the fake
// server's tags; where the two disagree about the statement errors (as
// tests/support/check_agreement.h defines it), the target stops with the
// disagreement, a finding like a crash.
#include <ace/Thread_Manager.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "logset/log_set_list.h"
#include "scenario/scenario.h"
#include "scenario/scenario_check.h"
#include "scenario/scenario_owner.h"
#include "support/check_agreement.h"
#include "support/in_process_server.h"

namespace zl::fuzz {
namespace {

using testing::InProcessServer;

constexpr size_t kMaxLines = 48;
constexpr double kVirtualBudget = 300;  // seconds of virtual waiting
constexpr auto kRealBudget = std::chrono::milliseconds(200);

// The scenario's owner: log set commands go to a real log set list on the
// in-process server; host commands succeed or fail by their text; questions
// stay unanswered (they time out in virtual time).
class FuzzOwner : public ScenarioOwner {
 public:
  FuzzOwner() : logsets_([] { return InProcessServer::Instance().database(); }) {}
  ZEMR::ZelvikDatabase_ptr database() const override {
    return InProcessServer::Instance().database();
  }
  void ScenarioEnded(CORBA::ULong, const char*) override {}
  bool ClientCmd(const char* cmd, const char* arg, std::string& result) override {
    if (arg != nullptr && arg[0] == 'X') {
      result = "refused";
      return false;
    }
    return cmd != nullptr;
  }
  void AskQuestion(CORBA::Long, CORBA::ULong, const char*, const char*) override {}
  std::string ClientInterfaceName() const override { return "fuzz"; }
  std::string RunLogSetCommand(const char* line) override { return logsets_.Command(line); }
  std::shared_ptr<CZLLogObj> FindLogSet(const char* name) override {
    return logsets_.Find(name);
  }
  WindowHandle toolbook_window() const override { return WindowHandle{}; }
  unsigned tbm_evaluate() const override { return 0; }
  unsigned tbm_execute() const override { return 0; }

 private:
  LogSetList logsets_;
};

struct Run {
  CZLScenario* scenario = nullptr;
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;  // guarded by mu
};

void* Worker(void* arg) {
  Run* run = static_cast<Run*>(arg);
  try {
    run->scenario->RunScenario();
  } catch (...) {
    run->scenario->ReportUnknownException();
  }
  run->scenario->CloseTestLogFile();
  {
    std::lock_guard<std::mutex> lock(run->mu);
    run->done = true;
  }
  run->cv.notify_one();
  return nullptr;
}

}  // namespace
}  // namespace zl::fuzz

// SYSTEM runs its command through the C library's system(); the fuzz binary
// replaces that function so that no input ever reaches a shell. It answers
// by the command's first character, so both outcomes are reached.
extern "C" int system(const char* command) {
  if (command == nullptr) return 1;
  return command[0] == 'E' ? 3 << 8 : 0;
}

// The run's error lines, for the comparison with the check; installed for
// the whole process.
zl::testing::RunLineSink* g_run_lines = nullptr;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zl::fuzz::Setup();
  zl::testing::InProcessServer::Instance();
  g_run_lines = new zl::testing::RunLineSink;  // lives until the process ends
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zl::fuzz;
  const std::string text = ConfinedText(data, size);
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  if (lines > kMaxLines) return 0;
  const size_t nl = text.find('\n');
  const std::string options = nl == std::string::npos ? text : text.substr(0, nl);
  const std::string body = nl == std::string::npos ? std::string() : text.substr(nl + 1);
  if (!WriteFile("s.scn", body)) return 0;
  // A second file for subtests to open by name.
  WriteFile("sub.scn", "SETPV T1 (T1+1)\nVERIFY T1 $1\n");

  InProcessServer::Instance().Reset();
  zl::CheckOptions check_options;
  check_options.arguments = zl::ArgumentsOfOptions(options.c_str());
  check_options.tags = zl::testing::ServerTags();
  std::vector<zl::CheckedLine> walked;
  const std::vector<zl::Diagnostic> check = zl::CheckScenario("s.scn", check_options, &walked);
  g_run_lines->Take();
  {
    FuzzOwner owner;
    zl::testing::PlantClock clock(kVirtualBudget);
    auto scenario =
        std::make_unique<zl::CZLScenario>(InProcessServer::Instance().database(), &clock);
    scenario->set_owner(&owner);
    scenario->ScanSkipOption(options.c_str());
    scenario->SetArguments(options.c_str(), 0);
    if (scenario->OpenScenario("s.scn") == 0) {
      Run run;
      run.scenario = scenario.get();
      ACE_thread_t tid{};
      if (ACE_Thread_Manager::instance()->spawn(Worker, &run, THR_NEW_LWP | THR_JOINABLE, &tid) !=
          -1) {
        scenario->set_thread_id(tid);
        std::unique_lock<std::mutex> lock(run.mu);
        if (!run.cv.wait_for(lock, kRealBudget, [&] { return run.done; })) {
          ACE_Thread_Manager::instance()->cancel(tid);
        }
        lock.unlock();
        ACE_Thread_Manager::instance()->join(tid);
      }
    }
  }
  const std::vector<std::string> problems =
      zl::testing::CompareRunWithCheck(g_run_lines->Take(), check, walked);
  if (!problems.empty()) {
    for (const std::string& p : problems) {
      std::fprintf(stderr, "check and run disagree: %s\n", p.c_str());
    }
    std::abort();
  }
  ClearWorkDir();
  return 0;
}
