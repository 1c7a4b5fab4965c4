// ZLSim: the client-side handle on one Zelvik database server.
//
// A ZLSim is built from an option string, shares the process's ORB (the ORB
// holder), finds the Naming Service, and attaches to a database server by
// name (`Connect`), with a fallback through the server's reference stored in
// a local IOR file. Every tag and simulation operation is then a thin wrapper
// around one call on the server (or on the local database object it owns):
// check the connection, make the call, turn the answer into a plain value,
// and absorb every exception into the operation's default result, a line on
// the standard error stream and, for CORBA system exceptions, the last-error
// record (see call_ladder.h). No operation throws; what made the latest one
// fail is described in lastFailure().
//
// Owns: its duplicate of the ORB, the attached database references, the local
// database object (held by value), the server name and the last-error
// record. Texts handed back are owned copies; texts received from the server
// are freed at once.
//
// Threads: used from one caller thread at a time; it has no lock of its own.
// Remote calls run synchronously in the caller's thread; the ORB's event loop
// runs in OrbRunner.
#ifndef ZL_BROKER_ZL_SIM_H_
#define ZL_BROKER_ZL_SIM_H_

#include <ace/Time_Value.h>
#include <omniORB4/CORBA.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "broker/call_failure.h"
#include "broker/call_ladder.h"
#include "localdb/zl_local_db_1.h"
#include "zemr.hh"

namespace zl {
namespace testing {
class LocalDbAccess;
}  // namespace testing

class ZLSim {
 public:
  // Builds a client from blank-separated option words, matched without regard
  // to case: "-resolveTimeout MS" (time limit for the first contact with the
  // Naming Service, 2 s unless given), "-debug" (log mask 1980 for the process
  // and the calling thread); every other word is logged at LM_DEBUG as
  // ignored here. ORB options ("-ORB..." and the word after it unless that
  // begins with "-") and "-nsior REF" are for the ORB holder: the first
  // client of the process hands the whole string to it, which makes the
  // process's ORB with them; a later client logs at LM_WARNING each one the
  // ORB was not made with, as it has no effect. Never fails by itself: a
  // missing ORB or Naming Service is recorded in the last-error record and
  // logged.
  explicit ZLSim(const char* options);
  // Disconnects and releases everything.
  virtual ~ZLSim();
  ZLSim(const ZLSim&) = delete;
  ZLSim& operator=(const ZLSim&) = delete;

  // --- Connection ---------------------------------------------------------

  // Finds the database `name` ({name, "ZelvikDatabase"} in the Naming
  // Service, else the local IOR file; the default server name when `name` is
  // empty or null) and attaches it in place of the one attached before.
  // Gives 0 when it is attached, else -1:
  // - when neither lookup finds it (or the ORB could not be initialised):
  //   the client stays as it was, attached or not, with its server name;
  // - when the database found does not answer: the one attached before was
  //   dropped for it, and the client is not connected.
  // So a loop that retries Connect until it gives 0 ends connected to a live
  // server of that name.
  int Connect(const char* name);
  // Detaches the database: 0 when one was attached, -1 when none was or on
  // failure. Drops the client interface registered with the local database.
  int Disconnect();
  // The names of the databases registered in the Naming Service, joined by
  // ","; "" when there are none or on failure (the reason, "!Error...", is
  // then in lastErrorText). Needs no connection.
  std::string ListZLDatabases();
  // Asks the factory of `host` (the local host when empty) to create the
  // database `server` (the default server name when empty): 0 when it did,
  // -1 otherwise. Does not connect.
  int CreateServer(const char* server, const char* host);

  // --- Tag operations (results when not connected or after a failure) ----

  double PVE(const char* tag);                  // 0.0
  int SetPVE(const char* tag, double value);    // 0; else the server's count
  double PV(const char* tag);                   // 0.0
  int SetPV(const char* tag, double value);     // 0; else the server's count
  std::string PVEStr(const char* tag);          // ""
  double EUHi(const char* tag);                 // 0.0
  double EULo(const char* tag);                 // 0.0
  std::string TagMode(const char* tag);         // ""
  std::string TagType(const char* tag);         // ""
  bool TagExists(const char* tag);              // false
  bool IsForced(const char* tag);               // false
  // The mode and force setters and DeleteTag give true only when the call
  // reached the server and it raised nothing (false for an unknown tag the
  // server refuses, when not connected and after a failed call). DeleteTag
  // drops the server's answer: its codes are the server's own.
  bool SetForced(const char* tag, int flag);    // force on when flag != 0
  bool SetAuto(const char* tag);
  bool SetMan(const char* tag);
  bool DeleteTag(const char* tag);
  int InitPV(const char* tag);                  // -1
  std::string Upload(const char* tag);          // ""; else the definition line
  int Download(const char* definitions);        // 0; else the number downloaded
  int TagCount();                               // 0
  std::string SearchTags(const char* pattern, const char* field);  // ""
  std::string TagStats(const char* selector);   // ""
  std::string HelloZL(const char* selector);    // ""
  // 0.0; when not connected also records -1 and "not connected".
  double ZLExpr(const char* expression);

  // --- Simulation control -------------------------------------------------

  int SimInit(const char* options);             // -1
  int Shutdown(int how, int delay);             // -1
  // Query and set pairs: the query gives the state before any change.
  bool AlgsRunning();                           // false
  void AlgsRunning(int flag);                   // calculations on when flag != 0
  bool IOEnabled();                             // false
  void IOEnabled(int flag);                     // I/O on when flag != 0
  double CycleTime();                           // 0.0; seconds
  void CycleTime(double seconds);
  double WarpFactor();                          // 0.0
  void WarpFactor(double factor);
  // -1 without a ZelvikDatabase2, and for a step below 0 or not a number
  // (no call is made); else the server's result.
  int DoASingleCalcCycle(double step);

  // --- Batches ------------------------------------------------------------

  // Reads `count` tags at once: for element i of the server's answer (at most
  // `count`), values[i] = its EU value, types[i] = its ZLTagType ordinal,
  // modes[i] = its ZLModeType ordinal. Gives the server's result; -1 when not
  // connected, after a failure, or for missing arrays or a negative count.
  int GetMultiPVE(const char* const* names, int count, double* values, int* types, int* modes);
  // Sets `count` tags' EU values at once (mode NullMode, exactly `count`
  // commands in the order given). Gives the server's result; -1 without a
  // ZelvikDatabase2, after a failure, or for missing arrays or a negative count.
  int SetMultiPVE(const char* const* names, int count, const double* values);

  // --- Local database: scenarios, tag files, messages, search --------------

  int StartScenario(const char* file, const char* options);  // 0
  int StopScenario(int id);                                  // 0
  std::string ListScenarios();                               // ""
  std::string ScenarioInfo(int id);                          // ""
  // -1 when not connected; the number of tags when the local operation gives
  // 0, else 0 (also after a failure).
  int SaveTags(const char* file);
  int ReadTags(const char* file);
  bool MessagesExist(unsigned type);                         // false
  std::string GetNextZLMessage(unsigned type);               // ""
  bool ZLFind(const char* text, const char* pattern);        // false
  // Server messages on or off: the local database's result, with no
  // connection test (see ZEMR_ZLLocalDB_i::EnableEvents).
  long EnableEvents(bool enable);

  // --- The host's hooks on the local database --------------------------------
  //
  // What a host (the Python module) does with the local database besides the
  // operations above. Each forwards to it with no connection test; none calls
  // the server except SetupNotifications, TearDownNotifications and
  // NamingContext.

  // Registers the host's client interface, which the host keeps owning and
  // must keep alive until it unregisters it (null) or the client disconnects.
  void SetClientInterface(ZLClientInterface* iface);
  // Tag-change notifications to `consumer`: 0 connected, -1 otherwise (also
  // when not connected). A connection made before is torn down first. Gives
  // -1 without touching the channel when the attached server cannot call
  // this client back (endpoint_reach.h): the reason is then logged and in
  // the last-error record.
  long SetupNotifications(CosNotifyComm::StructuredPushConsumer_ptr consumer);
  // Leaves the notification channel: 0, also when not connected to it.
  long TearDownNotifications();
  // Which scenarios still run, for a host that waits for their ends. The
  // object outlives the client for whoever holds it; any thread.
  std::shared_ptr<ScenarioEnds> scenario_ends() const;
  // Calls `hook` after each server message that reaches the client's
  // queues (also one they had to drop), in the thread that queued it; null
  // removes it. For a host that waits for messages without polling: the
  // hook must be quick and must not call the client. Kept across
  // reconnections and EnableEvents.
  void SetMessageHook(std::function<void()> hook);
  // Hands `answer` to question `number` of scenario `id`: 1 when a scenario
  // waiting on that question took it, else 0.
  long AnswerQuestion(int id, unsigned number, const char* answer);
  // The client's Naming Service (a new reference; nil when there is none),
  // resolved as Connect resolves it when the client holds none yet.
  CosNaming::NamingContext_ptr NamingContext();

  // --- State --------------------------------------------------------------

  bool connected() const { return !CORBA::is_nil(db_); }
  // The name given to the last Connect that gave 0 ("" until then, and when
  // that Connect used the default server name).
  const std::string& serverName() const { return server_name_; }
  int32_t lastErrorStatus() const { return last_error_.status; }
  const std::string& lastErrorText() const { return last_error_.text; }
  // What made the latest operation fail (call_failure.h): kind kNone after
  // one that succeeded, and before the first. Every operation above sets it
  // except EnableEvents, Disconnect and the host's hooks; a host that made
  // several in a row reads it after each.
  const CallFailure& lastFailure() const { return last_failure_; }
  void ClearLastFailure() { last_failure_.Clear(); }
  // The time limit of the construction's first contact with the Naming Service.
  const ACE_Time_Value& resolveTimeout() const { return resolve_timeout_; }
  // Borrowed; nil while not connected (db2 also for a server without
  // ZelvikDatabase2).
  ZEMR::ZelvikDatabase_ptr database() const { return db_.in(); }
  ZEMR::ZelvikDatabase2_ptr database2() const { return db2_.in(); }

 private:
  // Tests and benchmarks drive the local database object directly through it
  // (tests/support/local_db_access.h); a host uses the hooks above.
  friend class testing::LocalDbAccess;

  // A word the client hands on to the ORB holder, and the word after it
  // when that does not begin with "-" ("" otherwise).
  struct OrbWord {
    std::string word;
    std::string value;
  };
  // Walks the option words (before the ORB holder exists, so that "-debug"
  // takes effect as described above). Gives the words for the ORB holder.
  std::vector<OrbWord> ScanOptions(const char* options);
  // On a client that did not make the process's ORB: logs each of `words`
  // that the ORB was not made with, since it has no effect.
  void ReportUnappliedOrbWords(const std::vector<OrbWord>& words) const;
  // Finds the Naming Service at construction and hands it to the local
  // database; failures go to the last-error record.
  void FindNamingService();
  // Resolves the Naming Service (2 s limit) when the local database has none.
  void EnsureNamingContext();
  // Stores `object` narrowed into `db` and `db2` (nil where it is not one):
  // whether it is a ZelvikDatabase. May throw; then both are as they were.
  static bool NarrowDatabase(CORBA::Object_ptr object, ZEMR::ZelvikDatabase_var& db,
                             ZEMR::ZelvikDatabase2_var& db2);
  // Decides, for the database just attached, whether its server can call
  // this client's consumers (endpoint_reach.h), into `unreachable_`; logs
  // the reason at LM_ERROR when it cannot.
  void CheckCallbackReach();
  // Looks `name` up in the local IOR file into `db` and `db2`, which stay
  // as they were when it is not there.
  void TryLocalIorFile(const std::string& name, ZEMR::ZelvikDatabase_var& db,
                       ZEMR::ZelvikDatabase2_var& db2);

  // Records in lastFailure that `op` made no call: the client is not
  // connected, or its server lacks ZelvikDatabase2.
  void NoteNotConnected(Operation op);
  // Records in lastFailure that `operation` refused its arguments.
  void NoteBadArguments(const char* operation, const char* why);

  // The catch ladder around one call made only when `target` is not nil:
  // gives `fallback` when it is nil and after a caught exception. Both are
  // defined in zl_sim_ops.cc, the one file whose operations use them.
  template <class R, class Call>
  R Guarded(CORBA::Object_ptr target, Operation op, R fallback, Call&& call);
  // The same for calls that give nothing: true when the call was made and
  // raised nothing.
  template <class Call>
  bool Act(CORBA::Object_ptr target, Operation op, Call&& call);

  // The generated stubs make an interface's nil reference on its first use
  // under a double-checked lock that reads the pointer without a barrier, so
  // the first clients made on several threads at once would race there.
  // Declared first so that it runs before the references below are built.
  static bool MakeNilReferencesOnce();
  [[maybe_unused]] const bool nil_references_made_ = MakeNilReferencesOnce();

  CORBA::ORB_var orb_;                // nil when the ORB could not be initialised
  ZEMR::ZelvikDatabase_var db_;       // nil when not connected
  ZEMR::ZelvikDatabase2_var db2_;     // nil also for a server without it
  ZLLocalDB_1 local_db_;
  std::string server_name_;
  // Why the attached server cannot call this client back; "" when it can,
  // when that cannot be told, and while not connected.
  std::string unreachable_;
  ErrorRecord last_error_;
  CallFailure last_failure_;  // see lastFailure()
  ACE_Time_Value resolve_timeout_{2, 0};
};

}  // namespace zl

#endif  // ZL_BROKER_ZL_SIM_H_
