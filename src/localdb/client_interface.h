// The host application's hook into a client: scenario ends, commands a
// scenario sends to the host, and user questions.
//
// A host derives from ZLClientInterface and registers an instance with the
// local database (ZEMR_ZLLocalDB_i::SetClientInterface). The defaults do
// nothing and refuse every command. Hooks run on scenario worker threads.
#ifndef ZL_LOCALDB_CLIENT_INTERFACE_H_
#define ZL_LOCALDB_CLIENT_INTERFACE_H_

#include <omniORB4/CORBA.h>

#include <string>

namespace zl {

class ZLClientInterface {
 public:
  ZLClientInterface() = default;
  explicit ZLClientInterface(std::string name) : name_(std::move(name)) {}
  virtual ~ZLClientInterface() = default;
  ZLClientInterface(const ZLClientInterface&) = delete;
  ZLClientInterface& operator=(const ZLClientInterface&) = delete;

  // A scenario has finished.
  virtual void ScenarioEnded(CORBA::ULong id, const char* file) {}
  // A scenario waits for an answer to a user question; the host answers
  // later through ZEMR_ZLLocalDB_i::AnswerQuestion.
  virtual void AskQuestion(CORBA::Long id, CORBA::ULong number, const char* file,
                           const char* question) {}
  // Runs a scenario's command in the host. Gives true when handled, with the
  // host's reply in `result`; false with the reason in `result`.
  virtual bool HandleCmd(const char* cmd, const char* arg, std::string& result) {
    result = name_ + " interface cannot handle " + (cmd != nullptr ? cmd : "");
    return false;
  }

  const std::string& name() const { return name_; }

 private:
  const std::string name_ = "default";
};

}  // namespace zl

#endif  // ZL_LOCALDB_CLIENT_INTERFACE_H_
