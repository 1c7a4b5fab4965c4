// The process's one client ORB and the thread that drives it.
//
// OrbHolder turns the first client's option string into the ORB's argument
// vector (see orb_args.h), initialises the ORB once, activates the root POA's
// manager and starts OrbRunner, which drives the holder's reactor (client
// timers) and the ORB's pending work in 250 ms slices. Incoming calls to the
// library's servants are served by omniORB's own threads.
//
// There is one holder per process (an ACE_Singleton under a recursive mutex,
// destroyed by the ACE object manager at exit). Its members are written only
// by the constructor and, under `init_mu_`, by InitOrb and Shutdown. InitOrb
// may be called from several threads at once (the first clients of a
// process made at the same moment) and initialises the ORB exactly once; the
// count is published last, so a thread that reads initCount() != 0 finds
// the ORB and the runner in place. OrbRunner reads `stop_flag_` (atomic) and
// the ORB and reactor, which stay fixed while it runs.
//
// Shutdown stops OrbRunner and shuts the ORB down. It runs once: from the
// Python module's exit hook, or else from the C library's exit handlers that
// InitOrb registers, which run before ACE's and omniORB's own clean-up, so a
// process that never shut the ORB down still exits promptly and cleanly.
#ifndef ZL_BROKER_ORB_HOLDER_H_
#define ZL_BROKER_ORB_HOLDER_H_

#include <ace/Null_Mutex.h>
#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Singleton.h>
#include <ace/Thread.h>
#include <omniORB4/CORBA.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class ACE_Reactor;

namespace zl {

class OrbHolder {
 public:
  // The process's holder, created on first call.
  static OrbHolder* instance();

  // Initialises the ORB from `options` and starts OrbRunner. Gives 0 when the
  // ORB was initialised, 1 when it already was (nothing changes), -1 when
  // initialisation failed (`orb()` keeps what it held; a later call tries
  // again). A runner that does not start is logged and does not change the
  // result. Thread-safe: concurrent calls are serialised, and all but the
  // one that initialises give 1 once it is done.
  int InitOrb(const char* options);

  // Stops OrbRunner (cancel request, reactor wake-up, bounded wait), then
  // shuts down and destroys the ORB if this holder created it, and drops the
  // holder's references. The ORB's shutdown waits for upcalls in progress
  // for at most 5 s; one that never returns is left to the process's end
  // (logged). Idempotent; safe to call without an ORB. Must not be called
  // from OrbRunner or from an ORB upcall.
  void Shutdown();

  // Backup stop request for OrbRunner: it leaves at the end of its slice.
  void RequestStop() { stop_flag_ = true; }

  // Borrowed; nil until InitOrb succeeds and again after Shutdown.
  CORBA::ORB_ptr orb() const { return orb_.in(); }
  const std::string& nsIorFile() const { return ns_ior_file_; }
  int initCount() const { return init_count_; }
  // How many OrbRunner threads and exit handlers this holder started and
  // registered: 1 each once the ORB is initialised, whatever the threads.
  int runnerStarts() const { return runner_starts_; }
  int exitHandlers() const { return exit_handlers_; }
  // The vector of the last successful InitOrb, as assembled (before the
  // listen-endpoint translation).
  const std::vector<std::string>& orbArgs() const { return orb_args_; }
  // The reactor OrbRunner drives: client timers are scheduled on it.
  ACE_Reactor* reactor() const { return reactor_; }
  ACE_thread_t runnerId() const { return runner_id_; }
  bool runnerRunning() const { return runner_running_; }

 private:
  friend class ACE_Singleton<OrbHolder, ACE_Recursive_Thread_Mutex>;
  OrbHolder();
  ~OrbHolder();
  OrbHolder(const OrbHolder&) = delete;
  OrbHolder& operator=(const OrbHolder&) = delete;

  int StartRunner();
  static ACE_THR_FUNC_RETURN OrbRunner(void* holder);

  // Serialises InitOrb and Shutdown, which write the members below (all but
  // `runner_running_`, which OrbRunner clears on its way out). Readers take
  // no lock: they read after InitOrb returned or once initCount() is not 0.
  std::mutex init_mu_;
  CORBA::ORB_var orb_;
  std::string ns_ior_file_;
  std::atomic<bool> stop_flag_{false};  // read by OrbRunner each slice
  std::atomic<int> init_count_{0};      // written under init_mu_, last of all
  std::atomic<int> runner_starts_{0};   // written under init_mu_
  std::atomic<int> exit_handlers_{0};   // written under init_mu_
  ACE_hthread_t runner_handle_{};
  ACE_thread_t runner_id_{};  // 0 when OrbRunner did not start
  PortableServer::POA_var root_poa_;
  bool owns_orb_ = false;
  std::vector<std::string> orb_args_;
  ACE_Reactor* reactor_ = nullptr;              // owned; driven only by OrbRunner
  std::atomic<bool> runner_running_{false};     // set by OrbRunner on its way out
  std::mutex shutdown_mu_;                      // serialises Shutdown
  bool shut_down_ = false;                      // guarded by shutdown_mu_
};

}  // namespace zl

#endif  // ZL_BROKER_ORB_HOLDER_H_
