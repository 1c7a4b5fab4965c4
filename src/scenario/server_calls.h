// The engine's one exception policy for the server calls of a statement.
//
// A statement reports and survives:
//   - ZLTagNotFound on the tag it names: "__Tag <tag> not found for
//     <STATEMENT>" in the test log and one statement error (TagCall below);
//     VERIFY and MONITOR word it their own way, a timed check also survives
//     a system exception (the statement ends in error, the block goes on);
//   - the refusals a statement names itself (FORCE on a server without
//     forcing: BAD_OPERATION; PT_ENABLE/PT_DISABLE, which only log to the
//     process log).
// Everything else ends the scenario: the exception leaves the statement and
// the statement loop, and the worker calls CZLScenario::ReportUnknownException
// ("# Aborted at line ...: <reason>", "__Unknown exception aborted
// scenario.", one error, no signature). That covers an expression the server
// rejects (ZLBadExpression), a lost or failing server (any system
// exception) and exceptions of the owner's operations.
//
// Threads: the scenario's worker.
#ifndef ZL_SCENARIO_SERVER_CALLS_H_
#define ZL_SCENARIO_SERVER_CALLS_H_

#include "zemr.hh"

namespace zl {

// Runs `call` (a server call on one tag). A ZLTagNotFound is handed to
// `not_found` (which reports it) and gives false; any other exception
// escapes and ends the scenario. True when the call returned.
template <class Call, class NotFound>
bool TagCall(Call&& call, NotFound&& not_found) {
  try {
    call();
  } catch (const ZEMR::ZLTagNotFound&) {
    not_found();
    return false;
  }
  return true;
}

}  // namespace zl

#endif  // ZL_SCENARIO_SERVER_CALLS_H_
