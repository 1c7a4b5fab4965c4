// The process log: ACE's log facility (standard error unless redirected) with
// ACE's priorities. The masks below are the process-wide masks the library
// sets; a thread may add priorities for itself (the Python module turns on
// LM_DEBUG for the importing thread).
#ifndef ZL_COMMON_LOG_H_
#define ZL_COMMON_LOG_H_

#include <ace/Log_Msg.h>
#include <ace/Log_Priority.h>
#include <omniORB4/CORBA.h>

namespace zl {

// LM_NOTICE and above: the process mask once the ORB holder exists.
constexpr u_long kProcessLogMask = 1968;
// kProcessLogMask plus LM_DEBUG and LM_INFO: the option "-debug".
constexpr u_long kDebugLogMask = 1980;

// Logs "(File %s;Line %d) CORBA %s\n" at `priority` with the source file
// (relative to the repository), the line and the exception's text.
void LogCorbaException(ACE_Log_Priority priority, const char* file, int line,
                       const CORBA::Exception& e);

}  // namespace zl

// Reports a caught CORBA exception with the caller's own source position.
#define ZL_LOG_CORBA(priority, exception) \
  ::zl::LogCorbaException((priority), __FILE__, __LINE__, (exception))

#endif  // ZL_COMMON_LOG_H_
