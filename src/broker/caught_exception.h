// The client's one translation of a caught exception: which rung of the
// catch ladder takes it (a CORBA user exception, a CORBA system exception,
// anything else), the one line that describes it, a system exception's
// minor code, and the CallFailure a host reads. The ladder (call_ladder.h)
// files every exception through it; so do the sites that must do something
// else than the ladder's "print and return false" with what they caught
// (report it in a log line of their own, keep it as a reason, give a
// value), so that the rungs and their texts are decided here only.
//
// Stateless; safe from any thread.
#ifndef ZL_BROKER_CAUGHT_EXCEPTION_H_
#define ZL_BROKER_CAUGHT_EXCEPTION_H_

#include <cstdint>
#include <string>

#include "broker/call_failure.h"

namespace zl {

// The ladder's rung for an exception.
enum class CaughtKind {
  kUser,    // a CORBA user exception
  kSystem,  // a CORBA system exception
  kOther,   // anything else
};

struct CaughtException {
  CaughtKind kind = CaughtKind::kOther;
  // ExceptionText of a CORBA exception; the caller's `other_text` otherwise.
  std::string text;
  // A system exception's minor code as the last-error record keeps it; 0
  // otherwise.
  int32_t minor = 0;
  // DescribeFailure of a CORBA exception; otherwise kOther with
  // `other_text` as its reason.
  CallFailure failure;
};

// The exception being handled, raised by `operation` (on `tag`; either may
// be null). Call only from inside a catch block: it rethrows that exception
// to tell its rung. Throws only what allocating its strings throws.
CaughtException DescribeCaught(const char* operation, const char* tag,
                               const std::string& other_text);

}  // namespace zl

#endif  // ZL_BROKER_CAUGHT_EXCEPTION_H_
