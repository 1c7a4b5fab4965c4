#include "localdb/scenario_ends.h"

#include <utility>
#include <vector>

namespace zl {
namespace {

using Notices = std::vector<std::function<void()>>;

void Call(const Notices& notices) {
  for (const auto& notice : notices) notice();
}

}  // namespace

void ScenarioEnds::Started(CORBA::Long id) {
  std::lock_guard<std::mutex> lock(mu_);
  running_.insert(id);
}

void ScenarioEnds::Ended(CORBA::Long id) {
  Notices due;
  {
    std::lock_guard<std::mutex> lock(mu_);
    running_.erase(id);
    const auto range = notices_.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) due.push_back(std::move(it->second));
    notices_.erase(range.first, range.second);
  }
  ended_.notify_all();
  Call(due);
}

void ScenarioEnds::Close() {
  Notices due;
  {
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = true;
    running_.clear();
    for (auto& entry : notices_) due.push_back(std::move(entry.second));
    notices_.clear();
  }
  ended_.notify_all();
  Call(due);
}

bool ScenarioEnds::HasEnded(CORBA::Long id) const {
  std::lock_guard<std::mutex> lock(mu_);
  return EndedLocked(id);
}

bool ScenarioEnds::WaitEnded(CORBA::Long id, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mu_);
  return ended_.wait_for(lock, limit, [&] { return EndedLocked(id); });
}

void ScenarioEnds::NotifyWhenEnded(CORBA::Long id, std::function<void()> notice) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!EndedLocked(id)) {
      notices_.emplace(id, std::move(notice));
      return;
    }
  }
  notice();
}

}  // namespace zl
