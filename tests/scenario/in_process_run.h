// Whole scenarios run without services: the scenario engine on a worker
// thread, as the scenario manager runs it, against zelvik-sim's database
// servant in-process (tests/support/in_process_server.h) on a PlantClock, so
// waits take no real time, the plant moves with the virtual time, and every
// stamp of the test log is exact. The statement tables and the scenario file
// tests use it.
//
// Threads: RunInProcess is called from the test thread; it returns once the
// worker has ended. A TestOwner is called on the worker.
#ifndef ZL_TESTS_SCENARIO_IN_PROCESS_RUN_H_
#define ZL_TESTS_SCENARIO_IN_PROCESS_RUN_H_

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/window_table.h"
#include "logset/log_set_list.h"
#include "scenario/scenario.h"
#include "scenario/scenario_owner.h"

namespace zl::testing {

// The scenario's owner as a host: questions are answered at once with
// `answer` (left unanswered when it is empty), host commands are recorded
// and refused with `refusal` when that is not empty, ZLCMD and USELOG reach
// a log set list on the in-process server, and `window` is the Toolbook
// window. Set the fields before the run.
class TestOwner : public ScenarioOwner {
 public:
  explicit TestOwner(std::string name = "HOST");

  std::string answer;
  std::string refusal;
  WindowHandle window = kNoWindow;

  // What the host received: "CMD|ARG" per host command (a copy).
  std::vector<std::string> Commands() const;
  // Whether each answer was taken (TakeAnswer's result), in order (a copy).
  std::vector<bool> Taken() const;

  // The scenario that asks (set by RunInProcess).
  void set_scenario(CZLScenario* scenario) { scenario_ = scenario; }

  ZEMR::ZelvikDatabase_ptr database() const override;
  void ScenarioEnded(CORBA::ULong, const char*) override {}
  bool ClientCmd(const char* cmd, const char* arg, std::string& result) override;
  void AskQuestion(CORBA::Long id, CORBA::ULong number, const char* file,
                   const char* question) override;
  std::string ClientInterfaceName() const override { return name_; }
  std::string RunLogSetCommand(const char* line) override { return logsets_.Command(line); }
  std::shared_ptr<CZLLogObj> FindLogSet(const char* name) override {
    return logsets_.Find(name);
  }
  WindowHandle toolbook_window() const override { return window; }
  unsigned tbm_evaluate() const override { return 0; }
  unsigned tbm_execute() const override { return 0; }

 private:
  const std::string name_;
  CZLScenario* scenario_ = nullptr;
  LogSetList logsets_;
  mutable std::mutex mu_;
  std::vector<std::string> commands_;  // guarded by mu_
  std::vector<bool> taken_;            // guarded by mu_
};

// A scenario run: the main file and its folder.
struct RunSpec {
  std::string text;                 // the main file's text
  std::string options;              // the run's option string ($1..$8, -skipuserq)
  std::string name = "s.scn";       // the main file's name
  // More files for the folder (subtests), name and text.
  std::vector<std::pair<std::string, std::string>> files;
  TestOwner* owner = nullptr;       // none: the scenario has no owner
  // The folder; empty: a fresh one, removed after the run.
  std::filesystem::path dir;
  // Runs after the server's Reset, before the scenario starts (server
  // state, armed faults).
  std::function<void()> setup;
};

struct Outcome {
  std::string path;  // the main file's path
  std::string log;   // the whole test log
  // The test log's lines without the opening, closing and signature lines
  // and without blank lines.
  std::vector<std::string> body;
  bool closed = false;       // the closing and signature lines were written
  bool file_left = false;    // the main file still exists after the run
  unsigned errors = 0, verifies = 0, failed = 0;
};

// Runs the spec from the in-process server's initial state (Reset, then
// the spec's setup).
Outcome RunInProcess(const RunSpec& spec);
// Runs `text` as "s.scn" in a fresh folder.
Outcome RunInProcess(const std::string& text);

// The lines joined, each ending in "\n".
std::string Join(const std::vector<std::string>& lines);

}  // namespace zl::testing

#endif  // ZL_TESTS_SCENARIO_IN_PROCESS_RUN_H_
