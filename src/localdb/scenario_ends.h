// Which scenarios of one scenario manager still run, for hosts that wait for
// a scenario's end instead of asking the manager over and over.
//
// The manager marks a scenario running when it lists it and ended once its
// worker has closed the test log and unlisted it, so a waiter that wakes
// finds the run's test log complete. The manager holds the board through a
// shared pointer, and so may a waiter: a wait in progress outlives the
// manager (a disconnect or the module's exit destroys it), which closes the
// board on its way out and so ends every wait.
//
// A host may also be told of an end instead of waiting for it
// (NotifyWhenEnded): an event loop then wakes on the end itself, with no
// thread of its own blocked in a wait.
//
// Threads: any. `mu_` guards `running_`, `closed_` and `notices_`; it is a
// leaf lock, never held while taking another nor while a notice runs.
#ifndef ZL_LOCALDB_SCENARIO_ENDS_H_
#define ZL_LOCALDB_SCENARIO_ENDS_H_

#include <omniORB4/CORBA.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>

namespace zl {

class ScenarioEnds {
 public:
  // Scenario `id` is listed and about to run.
  void Started(CORBA::Long id);
  // Scenario `id` has ended and is unlisted; wakes its waiters.
  void Ended(CORBA::Long id);
  // The manager is gone: nothing runs any more; wakes every waiter.
  void Close();

  // True when scenario `id` does not run: it ended (also long ago), or no
  // scenario of the manager ever had that id.
  bool HasEnded(CORBA::Long id) const;
  // Waits at most `limit` for scenario `id` to end. True when it no longer
  // runs, false when it still ran at the end of the wait.
  bool WaitEnded(CORBA::Long id, std::chrono::milliseconds limit);
  // Calls `notice` once, when scenario `id` no longer runs: at once, in
  // this thread, when it does not run now; else in the thread that ends it
  // (a scenario worker) or closes the board. A notice must be quick and
  // must not block; it is called once the scenario is unlisted, without the
  // board's lock (so it may ask HasEnded; the scenario manager may hold its
  // own lock, so it must not call the manager), and dropped after its call.
  void NotifyWhenEnded(CORBA::Long id, std::function<void()> notice);

 private:
  bool EndedLocked(CORBA::Long id) const { return closed_ || running_.count(id) == 0; }

  mutable std::mutex mu_;
  std::condition_variable ended_;
  std::set<CORBA::Long> running_;  // guarded by mu_
  bool closed_ = false;            // guarded by mu_
  // Notices of scenarios that still run, by id; guarded by mu_.
  std::multimap<CORBA::Long, std::function<void()>> notices_;
};

}  // namespace zl

#endif  // ZL_LOCALDB_SCENARIO_ENDS_H_
