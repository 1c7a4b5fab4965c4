// Faults armed from the control endpoint for tests: the next call(s) of a
// named operation raise a chosen system exception, a user exception (also
// one the operation does not declare), or answer only after a delay.
//
// Every servant operation calls Enter first. Thread-safe: mu_ guards the
// table; `armed_` lets Enter skip the lock while nothing is armed.
#ifndef ZL_SIM_FAULT_TABLE_H_
#define ZL_SIM_FAULT_TABLE_H_

#include <omniORB4/CORBA.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace zl::sim {

struct Fault {
  enum Kind {
    kSystem,      // a CORBA system exception named by `exception`
    kUser,        // a ZEMR user exception named by `exception`
    kUndeclared,  // a ZEMR user exception the operation does not declare
    kDelay,       // answer normally after `delay_ms`
  } kind = kSystem;
  std::string exception;
  CORBA::ULong minor = 0;
  CORBA::CompletionStatus completed = CORBA::COMPLETED_NO;
  int delay_ms = 0;
  int count = 1;  // calls it applies to
};

class FaultTable {
 public:
  // Whether `name` (any case) is a system exception the table can raise
  // ("TRANSIENT", "COMM_FAILURE", "TIMEOUT", ...) or a ZEMR user exception
  // ("ZLTagNotFound", ...). Gives the canonical spelling in `canonical`.
  static bool IsSystemException(const std::string& name, std::string* canonical);
  static bool IsUserException(const std::string& name, std::string* canonical);
  // Whether `operation` names a server operation: "PVE", or qualified by
  // its interface, "ZelvikTag::PV" (any case).
  static bool IsOperation(const std::string& operation);
  static std::vector<std::string> SystemExceptionNames();

  void Arm(const std::string& operation, const Fault& fault);
  void Clear();
  int Pending() const;

  // Consumes one fault armed for "interface::operation" or "operation" (the
  // qualified one first) and acts on it: waits out a delay (cut short by
  // Stop), or throws the exception. Does nothing when no fault matches.
  void Enter(const char* interface_name, const char* operation);

  // Ends every delay in progress and makes later delays return at once.
  void Stop();

 private:
  bool Take(const std::string& key, Fault* fault);  // mu_ held

  std::atomic<int> armed_{0};
  mutable std::mutex mu_;
  std::condition_variable cv_;
  // Guarded by mu_:
  std::map<std::string, std::vector<Fault>> faults_;  // upper-case key -> FIFO
  bool stopped_ = false;
};

}  // namespace zl::sim

#endif  // ZL_SIM_FAULT_TABLE_H_
