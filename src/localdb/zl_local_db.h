// The local database object of one client: the client-side half of its
// connection to one server database.
//
// It holds the attached server database, the naming context and the ORB,
// the server message queues and channel, the client timer, the last pattern
// match, the Toolbook window of the host, and the host's client interface;
// scenarios and log sets hang off it as well. ZLSim owns exactly one (held by
// value) and reaches it through the ZLLocalDB local interface and the
// operations below.
//
// Threads: every operation runs on the host thread that owns the client,
// except where noted. The client timer ticks on the OrbRunner thread; the
// message listener on its own thread (MessageChannel); scenario workers call
// ClientCmd, AskQuestion and the database. The database, ORB and naming
// context are written only by the host thread while no timer tick or worker
// runs (the clean-up stops them first). The scenario manager's lock guards
// the scenarios and their user questions; `client_mu_` (recursive) guards
// the client interface, held while one of its hooks runs so that it cannot
// be deleted under a scenario worker.
#ifndef ZL_LOCALDB_ZL_LOCAL_DB_H_
#define ZL_LOCALDB_ZL_LOCAL_DB_H_

#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include <functional>
#include <mutex>
#include <utility>
#include <string>

#include "common/window_table.h"
#include "localdb/client_interface.h"
#include "localdb/client_timer.h"
#include "localdb/message_channel.h"
#include "localdb/message_queues.h"
#include "localdb/notifications.h"
#include "localdb/pattern_match.h"
#include "localdb/scenario_manager.h"
#include "scenario/scenario_owner.h"
#include "logset/log_set_list.h"
#include "zemr.hh"

namespace zl {

class ZEMR_ZLLocalDB_i : public virtual ZEMR::ZLLocalDB,
                         public ScenarioOwner,
                         private ClientTimerOwner {
 public:
  ZEMR_ZLLocalDB_i();
  ~ZEMR_ZLLocalDB_i() override;
  ZEMR_ZLLocalDB_i(const ZEMR_ZLLocalDB_i&) = delete;
  ZEMR_ZLLocalDB_i& operator=(const ZEMR_ZLLocalDB_i&) = delete;

  // Hooks toward the host, in their slot order.
  // A scenario has finished (scenario manager's thread).
  void ScenarioEnded(CORBA::ULong id, const char* file) override = 0;
  // Runs a scenario's command in the host: true when handled, with the
  // host's reply or the reason of failure in `result`.
  bool ClientCmd(const char* cmd, const char* arg, std::string& result) override = 0;
  // Poses a scenario's user question to the client interface, or answers it
  // at once with "No questions handled by client" when none is registered.
  void AskQuestion(CORBA::Long id, CORBA::ULong number, const char* file,
                   const char* question) override;

  // The ZLLocalDB local interface. Texts are new strings owned by the caller.
  CORBA::Long StartScenario(const char* file, const char* options) override;
  CORBA::Long StopScenario(CORBA::Long id) override;
  char* LSCmd(const char* command) override;
  char* ListScenarios() override;
  CORBA::Long SaveTags(const char* path, CORBA::ULong& count) override;
  CORBA::Long ReadTags(const char* path, CORBA::ULong& count) override;
  CORBA::Boolean MessagesExist(CORBA::ULong msg_type) override;
  char* GetNextZLMessage(CORBA::ULong msg_type) override;
  char* ListZLDatabases() override;
  CORBA::Boolean ZLFind(const char* text, const char* pattern) override;
  char* PatPaste(const char* tmpl) override;
  CORBA::Long SetOption(const char* name, const char* value) override;
  char* ScenarioInfo(CORBA::Long id) override;
  CORBA::Long AnswerQuestion(CORBA::Long id, CORBA::ULong question, const char* answer) override;

  // Attaches `db` (nil detaches). A database held before is cleaned up and
  // dropped first (result 0 from then on). A new one is probed with HelloZL
  // and starts the client timer: 0. -1 when nothing was held and `db` is nil
  // or does not answer.
  long SetDatabase(ZEMR::ZelvikDatabase_ptr db);
  // Stores the ORB; an ORB set before is cleaned up first.
  void SetORB(CORBA::ORB_ptr orb);
  void SetNamingContext(CosNaming::NamingContext_ptr context);
  bool HasNamingContext() const { return !CORBA::is_nil(naming_); }
  // Borrowed; nil when none was set or a failed listing dropped it.
  CosNaming::NamingContext_ptr naming_context() const { return naming_.in(); }

  // Registers the host's hook. A different interface replaces the current
  // one, which is deleted first when this object owns it; registering the
  // current one again changes nothing. Null unregisters.
  void SetClientInterface(ZLClientInterface* iface, bool owned);
  // The registered interface's name, "none" without one.
  std::string ClientInterfaceName() const override;

  // Server messages: 0 on, 1 already on or no channel, -1 failure; off gives 0.
  long EnableEvents(bool enable);
  long GetServerMessages() { return channel_.GetServerMessages(); }
  long PullOneMessage() { return channel_.PullOne(); }
  bool EventsEnabled() const { return channel_.listener_running(); }
  // The hook called after each server message reaches the queues
  // (MessageQueues::SetArrivalHook); null: none. Any thread.
  void SetMessageArrivalHook(std::function<void()> hook) {
    queues_.SetArrivalHook(std::move(hook));
  }
  // The message consumer's reference (a duplicate); nil while events are off.
  CosEventComm::PullConsumer_ptr MessageConsumer() { return channel_.consumer_reference(); }

  // The one-second client timer on the ORB holder's reactor: 0 or -1.
  long StartClientTimer();
  long CancelClientTimer();

  // Tag-change notifications to `consumer`: 0 connected, -1 otherwise.
  long SetupNotifications(CosNotifyComm::StructuredPushConsumer_ptr consumer);
  long TearDownNotifications() { return notifications_.TearDown(); }

  // Log sets: the command language, lookup, and the clean-up's deletion.
  std::string RunLogSetCommand(const char* line) override { return log_sets_.Command(line); }
  std::shared_ptr<CZLLogObj> FindLogSet(const char* name) override { return log_sets_.Find(name); }
  int DeleteAllLogSets() { return log_sets_.DeleteAll(); }

  // Scenarios: stops (when `stop_first`) every one and waits for its worker.
  long EndAllScenarios(bool stop_first) { return scenarios_.EndAll(stop_first); }
  // Which scenarios still run, for a host that waits for their ends. Any thread.
  std::shared_ptr<ScenarioEnds> scenario_ends() const { return scenarios_.ends(); }

  // Borrowed; nil while detached.
  ZEMR::ZelvikDatabase_ptr database() const override { return db_.in(); }
  WindowHandle toolbook_window() const override { return toolbook_window_; }
  // The window-message ids registered as "TBM_EVALUATE" and "TBM_EXECUTE".
  unsigned tbm_evaluate() const override { return tbm_evaluate_; }
  unsigned tbm_execute() const override { return tbm_execute_; }

 protected:
  // Runs `hook` on the registered client interface (null when none) under
  // `client_mu_`.
  template <class Hook>
  auto WithClientInterface(Hook&& hook) {
    std::lock_guard<std::recursive_mutex> lock(client_mu_);
    return hook(client_interface_);
  }

 private:
  // Stops everything that uses the database, in order: scenarios, client
  // timer, log sets, notifications, events. Gives the first non-zero result.
  long CleanUp();
  // The timer's periodic work: every log set takes its sample.
  void OnClientTimer() override;

  ZEMR::ZelvikDatabase_var db_;
  CosNaming::NamingContext_var naming_;
  CORBA::ORB_var orb_;

  TagChangeNotifications notifications_;
  LogSetList log_sets_{[this] { return db_.in(); }};

  MessageQueues queues_;
  MessageChannel channel_{queues_};

  PatternMatch match_;  // host thread only
  long timer_id_ = -1;  // host thread only

  WindowHandle toolbook_window_ = kNoWindow;
  const unsigned tbm_evaluate_;
  const unsigned tbm_execute_;

  mutable std::recursive_mutex client_mu_;
  bool owns_client_interface_ = false;            // guarded by client_mu_
  ZLClientInterface* client_interface_ = nullptr;  // guarded by client_mu_

  // Last: its workers use everything above, and it ends them when destroyed.
  ScenarioManager scenarios_{*this};
};

}  // namespace zl

#endif  // ZL_LOCALDB_ZL_LOCAL_DB_H_
