// The log sets of one client and their command language.
//
// Threads: the host and scenario workers run commands; the client timer runs
// every log set once a second. `mu_` guards the list only; a log set is run
// and configured outside it, with shared ownership, so a log set deleted by
// a command while the timer runs it stays alive until the timer is done with
// it. Each log set locks itself during its own operations.
#ifndef ZL_LOGSET_LOG_SET_LIST_H_
#define ZL_LOGSET_LOG_SET_LIST_H_

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logset/log_set_command.h"
#include "zemr.hh"

namespace zl {

class CZLLogObj;

class LogSetList : public LogSetStore {
 public:
  // `database` gives the client's attached server database (borrowed; nil
  // while detached); new log sets read their tags through it.
  explicit LogSetList(std::function<ZEMR::ZelvikDatabase_ptr()> database);
  ~LogSetList() override;

  // Runs one command line; gives its reply. A null line gives "**Error".
  std::string Command(const char* line);
  // The log set of that name (any case); null when none (or a null name).
  std::shared_ptr<CZLLogObj> Find(const char* name);
  // Every log set takes its sample (RunLog, not forced), oldest first (the
  // client timer's tick).
  void RunAll();
  // Deletes every log set (a log set still being run elsewhere goes when
  // that run ends); gives 1.
  int DeleteAll();

  // LogSetStore, used by the commands.
  std::shared_ptr<CZLLogObj> Find(const std::string& name) override;
  bool Create(const std::string& name) override;
  bool Remove(const std::string& name) override;
  std::vector<std::string> Names() override;

 private:
  const std::function<ZEMR::ZelvikDatabase_ptr()> database_;

  std::mutex mu_;
  std::vector<std::shared_ptr<CZLLogObj>> sets_;  // guarded by mu_, insertion order
};

}  // namespace zl

#endif  // ZL_LOGSET_LOG_SET_LIST_H_
