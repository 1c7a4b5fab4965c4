// The scenario manager of one client: starts scenario files on worker
// threads, lists, queries and stops them, and hands answers to the user
// questions they wait on.
//
// Threads: host threads call every operation; workers remove their own
// scenario when they end. `mu_` (recursive) is the scenario lock: it guards
// `scenarios_`, `next_id_` and each scenario's user-question record, and is held while `ScenarioEnded` runs and a
// finished scenario is destroyed. `group_` is written only by Start (host
// threads) and read by EndAll.
//
// Workers are joinable (EndAll waits for them as a group), so each finished
// worker must be joined or its stack and thread record stay for the life of
// the process. A worker lists its own thread in `finished_` (under `mu_`) as
// it ends; the next Start joins those, and EndAll, having joined the whole
// group, forgets them. `join_mu_` serialises these joins, so no thread is
// joined twice (a joined thread's id may be reused by a new worker).
#ifndef ZL_LOCALDB_SCENARIO_MANAGER_H_
#define ZL_LOCALDB_SCENARIO_MANAGER_H_

#include <ace/Thread.h>
#include <omniORB4/CORBA.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "localdb/scenario_ends.h"
#include "scenario/scenario_owner.h"

namespace zl {

class CZLScenario;

class ScenarioManager {
 public:
  explicit ScenarioManager(ScenarioOwner& owner) : owner_(owner) {}
  ~ScenarioManager() {
    EndAll(true);
    ends_->Close();
  }
  ScenarioManager(const ScenarioManager&) = delete;
  ScenarioManager& operator=(const ScenarioManager&) = delete;

  // The id of the started scenario; -1 when it could not start. Every start
  // that made a scenario object uses up an id, also when it fails later.
  CORBA::Long Start(const char* file, const char* options);
  // 0 when a matching worker was told to stop (id 0: every scenario), else -1.
  // Does not wait: the worker notices the request and removes its scenario.
  CORBA::Long Stop(CORBA::Long id);
  // One line "<id> <file>\r\n" per running scenario; "" without any.
  std::string List();
  // The status lines of scenario `id`; "" when none has that id.
  std::string Info(CORBA::Long id);
  // 1 when a scenario waiting on that question took the answer, else 0.
  CORBA::Long AnswerQuestion(CORBA::Long id, CORBA::ULong number, const char* answer);
  // Stops (when `stop_first`) every scenario and waits for the workers: 0
  // after waiting, 1 when no worker was ever started.
  long EndAll(bool stop_first);
  // Which scenarios still run, for waiting on their ends; outlives the
  // manager for a waiter that holds it (closed when the manager goes).
  std::shared_ptr<ScenarioEnds> ends() const { return ends_; }

 private:
  static void* Worker(void* arg);
  // Called by the worker of `scenario` when it has ended: tells the owner,
  // unlists and destroys the scenario.
  void Remove(CZLScenario* scenario);
  // Joins the workers listed in `finished_`. Takes `join_mu_`, then `mu_`
  // briefly; must not run on a worker.
  void JoinFinished();

  ScenarioOwner& owner_;
  std::recursive_mutex mu_;
  std::vector<CZLScenario*> scenarios_;  // insertion order
  CORBA::ULong next_id_ = 1;
  std::atomic<int> group_{-1};
  std::vector<ACE_thread_t> finished_;  // guarded by mu_: ended, not yet joined
  std::mutex join_mu_;                  // serialises JoinFinished and EndAll's wait
  const std::shared_ptr<ScenarioEnds> ends_ = std::make_shared<ScenarioEnds>();
};

}  // namespace zl

#endif  // ZL_LOCALDB_SCENARIO_MANAGER_H_
