// What made one client operation fail, described for a host that reports
// failures as errors of its own (the Python module's raising mode) instead
// of handing on the operation's default result.
//
// The catch ladder (call_ladder.h) fills one CallFailure per call from the
// exception it caught; ZLSim fills it for the failures that raise nothing
// (not connected, a local step that reported failure). Plain values; no
// state of their own, safe from any thread.
#ifndef ZL_BROKER_CALL_FAILURE_H_
#define ZL_BROKER_CALL_FAILURE_H_

#include <omniORB4/CORBA.h>

#include <cstdint>
#include <string>

namespace zl {

enum class FailureKind {
  kNone,           // the operation succeeded
  kNotConnected,   // no call was made: the client is not connected
  kTagNotFound,    // the server raised ZLTagNotFound
  kServerError,    // the server raised another user exception (also one its
                   // operation does not declare, which arrives as UNKNOWN),
                   // or a system exception not named below; or the server
                   // lacks what the operation needs
  kTimeout,        // CORBA::TIMEOUT: no answer within the call time limit
  kCommunication,  // TRANSIENT, COMM_FAILURE, OBJECT_NOT_EXIST, INV_OBJREF:
                   // the server (or the Naming Service) cannot be reached
  kOther,          // anything else: an exception that is not a CORBA one, a
                   // local step that reported failure
};

struct CallFailure {
  FailureKind kind = FailureKind::kNone;
  std::string operation;  // the operation's catch-all name ("PVE"); "" for kNone
  std::string tag;        // the tag of an operation on one tag, else ""
  std::string exception;  // the exception's name ("ZLTagNotFound", "TIMEOUT"), else ""
  std::string reason;     // one line: the exception's text and its members, or why
  uint32_t minor = 0;     // a system exception's minor code, else 0

  bool failed() const { return kind != FailureKind::kNone; }
  // Back to kNone; keeps the strings' storage.
  void Clear();
};

// The failure that the exception `e`, raised by operation `operation` (on
// `tag`, null for none), stands for: its kind (see FailureKind), its name,
// its text (ExceptionText) followed by its members where it has any
// ("user exception, ID 'IDL:ZEMR/ZLBadExpression:1.0': exprError 2,
// exprString '1 +'"), and a system exception's minor code.
CallFailure DescribeFailure(const CORBA::Exception& e, const char* operation, const char* tag);

// A failure that no exception describes: `kind` with `reason`.
CallFailure MakeFailure(FailureKind kind, const char* operation, const char* tag,
                        std::string reason);

}  // namespace zl

#endif  // ZL_BROKER_CALL_FAILURE_H_
