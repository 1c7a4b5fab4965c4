// The scenario manager of one client: starts scenario files on worker
// threads, lists, queries and stops them, and hands answers to the user
// questions they wait on.
//
// Threads: host threads call every operation; workers remove their own
// scenario when they end. `mu_` (recursive) is the scenario lock.
#ifndef ZL_LOCALDB_SCENARIO_MANAGER_H_
#define ZL_LOCALDB_SCENARIO_MANAGER_H_

#include <omniORB4/CORBA.h>

#include <mutex>
#include <string>

#include "localdb/scenario_owner.h"

namespace zl {

class ScenarioManager {
 public:
  explicit ScenarioManager(ScenarioOwner& owner) : owner_(owner) {}
  ~ScenarioManager() { EndAll(true); }
  ScenarioManager(const ScenarioManager&) = delete;
  ScenarioManager& operator=(const ScenarioManager&) = delete;

  // The id of the started scenario; -1 when it could not start.
  CORBA::Long Start(const char* file, const char* options) { return -1; }
  // 0 when a matching worker was told to stop (id 0: every scenario), else -1.
  CORBA::Long Stop(CORBA::Long id) { return -1; }
  // One line per running scenario; "" without any.
  std::string List() { return std::string(); }
  // The status lines of scenario `id`; "" when none has that id.
  std::string Info(CORBA::Long id) { return std::string(); }
  // 1 when a scenario waiting on that question took the answer, else 0.
  CORBA::Long AnswerQuestion(CORBA::Long id, CORBA::ULong number, const char* answer) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    return 0;
  }
  // Stops (when `stop_first`) every scenario and waits for the workers.
  long EndAll(bool stop_first) { return 0; }

 private:
  ScenarioOwner& owner_;
  std::recursive_mutex mu_;
};

}  // namespace zl

#endif  // ZL_LOCALDB_SCENARIO_MANAGER_H_
