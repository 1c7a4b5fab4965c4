#include "logset/log_set_list.h"

#include <strings.h>

#include <new>

#include "logset/log_obj.h"

namespace zl {

LogSetList::LogSetList(std::function<ZEMR::ZelvikDatabase_ptr()> database)
    : database_(std::move(database)) {}

LogSetList::~LogSetList() = default;

std::string LogSetList::Command(const char* line) { return RunLogSetCommand(*this, line); }

std::shared_ptr<CZLLogObj> LogSetList::Find(const char* name) {
  if (name == nullptr) return nullptr;
  return Find(std::string(name));
}

std::shared_ptr<CZLLogObj> LogSetList::Find(const std::string& name) {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& set : sets_)
    if (strcasecmp(set->Name().c_str(), name.c_str()) == 0) return set;
  return nullptr;
}

bool LogSetList::Create(const std::string& name) {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& set : sets_)
    if (strcasecmp(set->Name().c_str(), name.c_str()) == 0) return true;
  try {
    auto set = std::make_shared<CZLLogObj>(database_);
    set->SetName(name);
    sets_.push_back(std::move(set));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool LogSetList::Remove(const std::string& name) {
  std::shared_ptr<CZLLogObj> removed;  // released after the lock
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = sets_.begin(); it != sets_.end(); ++it) {
    if (strcasecmp((*it)->Name().c_str(), name.c_str()) == 0) {
      removed = std::move(*it);
      sets_.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<std::string> LogSetList::Names() {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> names;
  for (const auto& set : sets_) names.push_back(set->Name());
  return names;
}

void LogSetList::RunAll() {
  std::vector<std::shared_ptr<CZLLogObj>> sets;
  {
    std::lock_guard<std::mutex> lock(mu_);
    sets = sets_;
  }
  for (const auto& set : sets) set->RunLog(false);
}

int LogSetList::DeleteAll() {
  std::vector<std::shared_ptr<CZLLogObj>> sets;
  {
    std::lock_guard<std::mutex> lock(mu_);
    sets.swap(sets_);
  }
  for (auto& set : sets) set.reset();  // in list order
  return 1;
}

}  // namespace zl
