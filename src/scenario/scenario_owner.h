// The scenario engine's own view of the client that owns a scenario: the
// server database, the host's hooks, the log sets and the Toolbook window.
// The local database implements it; the engine sees nothing else of it, and
// depends on nothing of the local database.
//
// Threads: called from scenario worker threads. Each operation is safe there
// (see ZEMR_ZLLocalDB_i).
#ifndef ZL_SCENARIO_SCENARIO_OWNER_H_
#define ZL_SCENARIO_SCENARIO_OWNER_H_

#include <omniORB4/CORBA.h>

#include <memory>
#include <string>

#include "common/window_table.h"
#include "zemr.hh"

namespace zl {

class CZLLogObj;

class ScenarioOwner {
 public:
  // The attached server database (borrowed); it stays attached while any
  // scenario runs, since the clean-up ends scenarios before detaching it.
  virtual ZEMR::ZelvikDatabase_ptr database() const = 0;
  // A scenario has finished: tell the host.
  virtual void ScenarioEnded(CORBA::ULong id, const char* file) = 0;
  // Runs a command in the host; false with the reason in `result`.
  virtual bool ClientCmd(const char* cmd, const char* arg, std::string& result) = 0;
  // Poses a user question; the answer arrives through AnswerQuestion.
  virtual void AskQuestion(CORBA::Long id, CORBA::ULong number, const char* file,
                           const char* question) = 0;
  // The answering party's name ("none" without a client interface).
  virtual std::string ClientInterfaceName() const = 0;
  // One log set command line; gives its reply.
  virtual std::string RunLogSetCommand(const char* line) = 0;
  // The log set of that name (any case); null when none.
  virtual std::shared_ptr<CZLLogObj> FindLogSet(const char* name) = 0;
  // The host's Toolbook window and its two message ids.
  virtual WindowHandle toolbook_window() const = 0;
  virtual unsigned tbm_evaluate() const = 0;
  virtual unsigned tbm_execute() const = 0;

 protected:
  ~ScenarioOwner() = default;
};

}  // namespace zl

#endif  // ZL_SCENARIO_SCENARIO_OWNER_H_
