#include "scenario/in_process_run.h"

#include <ace/Thread_Manager.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/in_process_server.h"

namespace zl::testing {
namespace {

namespace fs = std::filesystem;

// The worker: the statement loop and its clean-up, as the scenario manager
// runs them.
void* Worker(void* arg) {
  CZLScenario* scenario = static_cast<CZLScenario*>(arg);
  try {
    scenario->RunScenario();
  } catch (...) {
    scenario->ReportUnknownException();
  }
  scenario->CloseTestLogFile();
  return nullptr;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool IsFrameLine(const std::string& line) {
  return line.find("\tStarting test '") != std::string::npos ||
         line.find("\tClosing test log after ") != std::string::npos ||
         line.rfind("#$CHECK:", 0) == 0 || line.empty();
}

}  // namespace

TestOwner::TestOwner(std::string name)
    : name_(std::move(name)), logsets_([] { return InProcessServer::Instance().database(); }) {}

std::vector<std::string> TestOwner::Commands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

std::vector<bool> TestOwner::Taken() const {
  std::lock_guard<std::mutex> lock(mu_);
  return taken_;
}

ZEMR::ZelvikDatabase_ptr TestOwner::database() const {
  return InProcessServer::Instance().database();
}

bool TestOwner::ClientCmd(const char* cmd, const char* arg, std::string& result) {
  std::lock_guard<std::mutex> lock(mu_);
  commands_.push_back(std::string(cmd) + "|" + arg);
  result = refusal.empty() ? "done" : refusal;
  return refusal.empty();
}

void TestOwner::AskQuestion(CORBA::Long, CORBA::ULong number, const char*, const char*) {
  if (answer.empty() || scenario_ == nullptr) return;
  const bool took = scenario_->TakeAnswer(number, answer.c_str());
  std::lock_guard<std::mutex> lock(mu_);
  taken_.push_back(took);
}

Outcome RunInProcess(const RunSpec& spec) {
  const bool own_dir = spec.dir.empty();
  const fs::path dir =
      own_dir ? fs::temp_directory_path() / ("zl_stmt_" + std::to_string(::getpid())) : spec.dir;
  if (own_dir) fs::remove_all(dir);
  fs::create_directories(dir);
  for (const auto& [name, text] : spec.files) std::ofstream(dir / name, std::ios::binary) << text;
  Outcome out;
  out.path = (dir / spec.name).string();
  std::ofstream(out.path, std::ios::binary) << spec.text;

  InProcessServer::Instance().Reset();
  if (spec.setup) spec.setup();
  PlantClock clock;
  {
    CZLScenario scenario(InProcessServer::Instance().database(), &clock);
    if (spec.owner != nullptr) {
      spec.owner->set_scenario(&scenario);
      scenario.set_owner(spec.owner);
    }
    scenario.ScanSkipOption(spec.options.c_str());
    scenario.SetArguments(spec.options.c_str(), 0);
    EXPECT_EQ(0, scenario.OpenScenario(out.path.c_str()));
    scenario.ResetCounters();
    ACE_thread_t tid{};
    EXPECT_NE(-1, ACE_Thread_Manager::instance()->spawn(Worker, &scenario,
                                                        THR_NEW_LWP | THR_JOINABLE, &tid));
    scenario.set_thread_id(tid);
    ACE_Thread_Manager::instance()->join(tid);
    out.errors = scenario.errors();
    out.verifies = scenario.total_verifies();
    out.failed = scenario.failed_verifies();
    out.log = ReadAll(scenario.test_log_name());
    if (spec.owner != nullptr) spec.owner->set_scenario(nullptr);
  }
  out.file_left = fs::exists(out.path);
  std::istringstream lines(out.log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\tClosing test log after ") != std::string::npos) out.closed = true;
    if (!IsFrameLine(line)) out.body.push_back(line);
  }
  if (own_dir) fs::remove_all(dir);
  return out;
}

Outcome RunInProcess(const std::string& text) {
  RunSpec spec;
  spec.text = text;
  return RunInProcess(spec);
}

std::string Join(const std::vector<std::string>& lines) {
  std::ostringstream s;
  for (const std::string& l : lines) s << l << "\n";
  return s.str();
}

}  // namespace zl::testing
