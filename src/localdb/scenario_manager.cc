#include "localdb/scenario_manager.h"

#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>

#include "scenario/scenario.h"

namespace zl {
namespace {

// What a worker is spawned with. The worker waits at the gate until its
// scenario is listed (the start gate stands in for a suspended spawn).
struct WorkerStart {
  ScenarioManager* manager;
  CZLScenario* scenario;
  std::mutex mu;
  std::condition_variable cv;
  bool open = false;  // guarded by mu
};

}  // namespace


CORBA::Long ScenarioManager::Start(const char* file, const char* options) {
  JoinFinished();
  std::unique_ptr<CZLScenario> scenario;
  try {
    scenario = std::make_unique<CZLScenario>(owner_.database());
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "could not create scenario object!\n"));
    return -1;
  }
  scenario->set_owner(&owner_);
  scenario->set_scenario_lock(&mu_);
  CORBA::ULong id;
  {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    id = next_id_++;
  }
  scenario->set_id(id);
  const char* opts = options != nullptr ? options : "";
  scenario->ScanSkipOption(opts);
  scenario->SetArguments(opts, 0);
  if (scenario->OpenScenario(file) != 0) return -1;

  auto start = std::make_unique<WorkerStart>();
  start->manager = this;
  start->scenario = scenario.get();
  ACE_thread_t thread_id{};
  const int group = ACE_Thread_Manager::instance()->spawn(
      Worker, start.get(), THR_NEW_LWP | THR_JOINABLE, &thread_id, nullptr,
      ACE_DEFAULT_THREAD_PRIORITY, group_.load());
  if (group == -1) {
    ACE_DEBUG((LM_ERROR, "#Could not create scenario worker!\n"));
    return -1;
  }
  group_ = group;
  scenario->set_thread_id(thread_id);
  scenario->ResetCounters();
  CZLScenario* listed = scenario.release();  // from here on the worker owns it
  WorkerStart* gate = start.release();        // freed by the worker
  try {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    scenarios_.push_back(listed);
    ends_->Started(static_cast<CORBA::Long>(id));
  } catch (...) {
    ACE_DEBUG((LM_CRITICAL, "**Caught exception while inserting a scenario!\n"));
  }
  {
    // Signalled under the lock: the worker frees the gate as soon as it sees
    // it open, which it cannot before this scope has let go of the gate.
    std::lock_guard<std::mutex> lock(gate->mu);
    gate->open = true;
    gate->cv.notify_one();
  }
  return static_cast<CORBA::Long>(id);
}

void* ScenarioManager::Worker(void* arg) {
  ScenarioManager* manager;
  CZLScenario* scenario;
  {
    std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(arg));
    std::unique_lock<std::mutex> lock(start->mu);
    start->cv.wait(lock, [&] { return start->open; });
    manager = start->manager;
    scenario = start->scenario;
  }
  // The worker's entry: nothing may escape the thread. Whatever ended the
  // run is reported by the scenario (its place and reason).
  try {
    scenario->RunScenario();
  } catch (...) {
    scenario->ReportUnknownException();
  }
  scenario->CloseTestLogFile();
  manager->Remove(scenario);
  return nullptr;
}

void ScenarioManager::Remove(CZLScenario* scenario) {
  // The host hears of the end before the manager's lock is taken: its client
  // interface is called under a lock of its own, and a host that answers a
  // question from inside AskQuestion takes that lock first and this one
  // second. The scenario is still listed while the host is told.
  // The worker's last steps: nothing may escape the thread, and the run
  // must still be unlisted and its end announced.
  try {
    owner_.ScenarioEnded(scenario->id(), scenario->file_name().c_str());
  } catch (...) {
    ACE_DEBUG((LM_CRITICAL, "**Caught exception while removing a scenario!\n"));
  }
  std::lock_guard<std::recursive_mutex> lock(mu_);
  finished_.push_back(scenario->thread_id());
  const auto it = std::find(scenarios_.begin(), scenarios_.end(), scenario);
  if (it != scenarios_.end()) {
    scenarios_.erase(it);
  } else {
    ACE_DEBUG((LM_ERROR, "Could not remove a scenario\n"));
  }
  const CORBA::Long id = static_cast<CORBA::Long>(scenario->id());
  try {
    delete scenario;
  } catch (...) {
    ACE_DEBUG((LM_CRITICAL, "**Caught exception while removing a scenario!\n"));
  }
  // Its test log is closed and it is no longer listed: a waiter that wakes
  // now sees the run complete.
  ends_->Ended(id);
}

void ScenarioManager::JoinFinished() {
  std::lock_guard<std::mutex> joining(join_mu_);
  std::vector<ACE_thread_t> ended;
  {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    ended.swap(finished_);
  }
  // Each listed worker is past its last use of the manager: the join ends
  // as soon as its thread has returned.
  for (const ACE_thread_t id : ended) ACE_Thread_Manager::instance()->join(id);
}

CORBA::Long ScenarioManager::Stop(CORBA::Long id) {
  CORBA::Long result = -1;
  std::lock_guard<std::recursive_mutex> lock(mu_);
  try {
    for (CZLScenario* s : scenarios_) {
      if (id == 0 || static_cast<CORBA::Long>(s->id()) == id) {
        result = ACE_Thread_Manager::instance()->cancel(s->thread_id()) == 0 ? 0 : -1;
      }
    }
  } catch (...) {
    ACE_DEBUG((LM_CRITICAL, "#**Caught exception while ending scenarios!\n"));
  }
  return result;
}

std::string ScenarioManager::List() {
  std::string text;
  std::lock_guard<std::recursive_mutex> lock(mu_);
  try {
    for (const CZLScenario* s : scenarios_) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%ld ", static_cast<long>(s->id()));
      text += buf;
      text += s->file_name();
      text += "\r\n";
    }
  } catch (...) {
    ACE_DEBUG((LM_CRITICAL, "#**Caught exception while processing list of scenarios!\n"));
  }
  return text;
}

std::string ScenarioManager::Info(CORBA::Long id) {
  std::string text;
  std::lock_guard<std::recursive_mutex> lock(mu_);
  try {
    for (const CZLScenario* s : scenarios_) {
      if (static_cast<CORBA::Long>(s->id()) != id) continue;
      char buf[1024];
      auto line = [&](const char* format, auto value) {
        std::snprintf(buf, sizeof buf, format, value);
        text += buf;
      };
      line("sceID\t%ld\n", static_cast<long>(s->id()));
      line("sceFile\t%s\n", s->file_name().c_str());
      line("sceErrors\t%lu\n", static_cast<unsigned long>(s->errors()));
      line("totalVerifies\t%lu\n", static_cast<unsigned long>(s->total_verifies()));
      line("failedVerifies\t%lu\n", static_cast<unsigned long>(s->failed_verifies()));
      line("totalMonitorChecks\t%lu\n", static_cast<unsigned long>(s->total_monitor_checks()));
      line("failedMonitorChecks\t%lu\n", static_cast<unsigned long>(s->failed_monitor_checks()));
      line("sceLineNumber[0]\t%lu\n", static_cast<unsigned long>(s->line_number(0)));
      std::string question;
      if (s->WaitingQuestion(question)) line("sceQuestion\t%s\n", question.c_str());
    }
  } catch (...) {
    ACE_DEBUG((LM_CRITICAL, "#**Caught exception while processing list of scenarios!\n"));
  }
  return text;
}

CORBA::Long ScenarioManager::AnswerQuestion(CORBA::Long id, CORBA::ULong number,
                                            const char* answer) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  CORBA::Long took = 0;
  for (CZLScenario* s : scenarios_) {
    if (static_cast<CORBA::Long>(s->id()) == id && s->TakeAnswer(number, answer)) took = 1;
  }
  return took;
}

long ScenarioManager::EndAll(bool stop_first) {
  bool any;
  {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    any = !scenarios_.empty();
  }
  if (any && stop_first) Stop(0);
  const int group = group_.load();
  if (group == -1) return 1;
  std::lock_guard<std::mutex> joining(join_mu_);
  ACE_Thread_Manager::instance()->wait_grp(group);
  // Every worker of the group is joined now, also those listed as finished.
  std::lock_guard<std::recursive_mutex> lock(mu_);
  finished_.clear();
  return 0;
}

}  // namespace zl
