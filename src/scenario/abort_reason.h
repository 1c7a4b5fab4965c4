// The text that says why a scenario run was aborted by an exception that
// escaped its statement loop: the exception as the project's exception text
// renders it, with the server's own reason where the exception carries one.
//
// Threads: stateless; safe from any thread.
#ifndef ZL_SCENARIO_ABORT_REASON_H_
#define ZL_SCENARIO_ABORT_REASON_H_

#include <exception>
#include <string>

namespace zl {

// For example "user exception, ID 'IDL:ZEMR/ZLBadExpression:1.0': unknown tag
// 'NOSUCH' (error 2)" or "system exception, ID
// 'IDL:omg.org/CORBA/TRANSIENT:1.0', minor code = ..., completed = NO".
// Exceptions of other kinds give their what() text, or "an exception of
// unknown type". A null `error` gives "no exception".
std::string AbortReason(const std::exception_ptr& error);

}  // namespace zl

#endif  // ZL_SCENARIO_ABORT_REASON_H_
