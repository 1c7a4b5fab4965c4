// ZLSim: the host's hooks on the local database, each a forward to it (tag-change
// notifications only where the attached server can call this client back).
#include "broker/zl_sim.h"

#include <utility>

#include "common/exception_text.h"
#include "common/log.h"

namespace zl {

void ZLSim::SetClientInterface(ZLClientInterface* iface) {
  local_db_.SetClientInterface(iface, false);
}

long ZLSim::SetupNotifications(CosNotifyComm::StructuredPushConsumer_ptr consumer) {
  if (!unreachable_.empty()) {
    // Connecting the consumer would succeed, and every change pushed to it
    // would fail on the server's side, where nobody looks.
    ScopedLogContext context("SetupNotifications", nullptr);
    last_error_ = {-1, unreachable_};
    ACE_DEBUG((LM_ERROR, "#error: tag changes not set up: %s\n", unreachable_.c_str()));
    return -1;
  }
  return local_db_.SetupNotifications(consumer);
}

long ZLSim::TearDownNotifications() { return local_db_.TearDownNotifications(); }

std::shared_ptr<ScenarioEnds> ZLSim::scenario_ends() const { return local_db_.scenario_ends(); }

void ZLSim::SetMessageHook(std::function<void()> hook) {
  local_db_.SetMessageArrivalHook(std::move(hook));
}

long ZLSim::AnswerQuestion(int id, unsigned number, const char* answer) {
  return static_cast<long>(local_db_.AnswerQuestion(id, number, answer != nullptr ? answer : ""));
}

CosNaming::NamingContext_ptr ZLSim::NamingContext() {
  if (CORBA::is_nil(orb_)) return CosNaming::NamingContext::_nil();
  try {
    EnsureNamingContext();
  } catch (const CORBA::Exception& e) {
    const std::string text = ExceptionText(e);
    ACE_DEBUG((LM_DEBUG, "CORBA exception resolving NameService, %s\n", text.c_str()));
  } catch (...) {
    ACE_DEBUG((LM_DEBUG, "Caught an exception in ZLSim::NamingContext\n"));
  }
  return CosNaming::NamingContext::_duplicate(local_db_.naming_context());
}

}  // namespace zl
