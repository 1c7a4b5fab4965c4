// The one catch ladder of the simulator client: every remote or local call
// that ZLSim makes goes through CallLadder, which absorbs every exception
// into a line on the standard error stream (WriteErrorLine: a host's log sink
// may take it instead) and, for CORBA system exceptions, into the client's
// last-error record. Whatever it caught can also be described in a
// CallFailure (call_failure.h), for hosts that raise errors of their own.
// While the call runs, the thread's log context names the operation and its
// tag.
//
// Stateless apart from the record it is given; the caller serialises use of
// a record (ZLSim is used from one thread at a time).
#ifndef ZL_BROKER_CALL_LADDER_H_
#define ZL_BROKER_CALL_LADDER_H_

#include <omniORB4/CORBA.h>

#include <cstdint>
#include <string>
#include <utility>

#include "broker/call_failure.h"
#include "broker/caught_exception.h"
#include "common/exception_text.h"
#include "common/log.h"

namespace zl {

// The last recorded failure of a client: 0 and "" until one is recorded.
struct ErrorRecord {
  int32_t status = 0;
  std::string text;
};

// An operation as the ladder reports it: its catch-all name and, for the
// operations on one tag, that tag's name (null otherwise).
struct Operation {
  Operation(const char* name, const char* tag = nullptr) : name(name), tag(tag) {}  // NOLINT
  const char* name;
  const char* tag;
};

// Prints an exception's descriptive text and a line end on standard error.
inline void PrintException(const CORBA::Exception& e) { WriteErrorLine(ExceptionText(e)); }

// Runs `call` and files whatever it throws through DescribeCaught
// (caught_exception.h), by its rung: a CORBA user exception (the
// operation's own, such as ZLTagNotFound, or any other: printed, not
// recorded), a CORBA system exception (its text and minor code go to
// `record`, then it is printed), anything else ("Unknown Exception in
// NAME()" printed). With `failure`, it is cleared before the call and then
// describes the exception caught, if any (`call` may set it itself). Gives
// true when `call` returned normally, false after a caught exception.
// Never throws.
template <class Call>
bool CallLadder(Operation op, ErrorRecord& record, Call&& call,
                CallFailure* failure = nullptr) noexcept {
  ScopedLogContext context(op.name, op.tag);
  try {
    if (failure != nullptr) failure->Clear();
    try {
      call();
      return true;
    } catch (...) {
      CaughtException caught =
          DescribeCaught(op.name, op.tag, std::string("Unknown Exception in ") + op.name + "()");
      if (caught.kind == CaughtKind::kSystem) record = {caught.minor, caught.text};
      WriteErrorLine(caught.text);
      if (failure != nullptr) *failure = std::move(caught.failure);
    }
  } catch (...) {
    // Printing itself failed (no memory, a broken stream): nothing more to do.
  }
  return false;
}

}  // namespace zl

#endif  // ZL_BROKER_CALL_LADDER_H_
