#include "localdb/scenario_ends.h"

namespace zl {

void ScenarioEnds::Started(CORBA::Long id) {
  std::lock_guard<std::mutex> lock(mu_);
  running_.insert(id);
}

void ScenarioEnds::Ended(CORBA::Long id) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    running_.erase(id);
  }
  ended_.notify_all();
}

void ScenarioEnds::Close() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = true;
    running_.clear();
  }
  ended_.notify_all();
}

bool ScenarioEnds::HasEnded(CORBA::Long id) const {
  std::lock_guard<std::mutex> lock(mu_);
  return EndedLocked(id);
}

bool ScenarioEnds::WaitEnded(CORBA::Long id, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mu_);
  return ended_.wait_for(lock, limit, [&] { return EndedLocked(id); });
}

}  // namespace zl
