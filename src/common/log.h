// The process log: ACE's log facility (standard error unless redirected) with
// ACE's priorities. The masks below are the process-wide masks the library
// sets; a thread may add priorities for itself (the Python module turns on
// LM_DEBUG for the importing thread).
//
// Besides ACE's lines, the library writes the catch ladder's lines to
// standard error (WriteErrorLine). A host may install one LogSink for the
// process to take those lines and to learn when the library changes its
// masks; without one, everything goes where it always went.
#ifndef ZL_COMMON_LOG_H_
#define ZL_COMMON_LOG_H_

#include <ace/Log_Msg.h>
#include <ace/Log_Priority.h>
#include <omniORB4/CORBA.h>

#include <string>

namespace zl {

// LM_NOTICE and above: the process mask once the ORB holder exists.
constexpr u_long kProcessLogMask = 1968;
// kProcessLogMask plus LM_DEBUG and LM_INFO: the option "-debug".
constexpr u_long kDebugLogMask = 1980;

// Logs "(File %s;Line %d) CORBA %s\n" at `priority` with the source file
// (relative to the repository), the line and the exception's text.
void LogCorbaException(ACE_Log_Priority priority, const char* file, int line,
                       const CORBA::Exception& e);

// What a thread is doing on behalf of a caller, for a sink to attach to the
// lines logged meanwhile: the operation's name and the tag it works on, each
// null when there is none. Per thread; set by ScopedLogContext.
struct LogContext {
  const char* operation = nullptr;
  const char* tag = nullptr;
};

// The calling thread's context (both null outside any scope).
const LogContext& CurrentLogContext();

// Sets the calling thread's context for its lifetime and restores the one
// before at its end. The texts must outlive the scope.
class ScopedLogContext {
 public:
  ScopedLogContext(const char* operation, const char* tag);
  ~ScopedLogContext();
  ScopedLogContext(const ScopedLogContext&) = delete;
  ScopedLogContext& operator=(const ScopedLogContext&) = delete;

 private:
  const LogContext saved_;
};

// Takes the library's lines in place of standard error. Its methods run in
// whichever thread logs, possibly while ACE's log lock is held: they must
// neither block for long nor log.
class LogSink {
 public:
  virtual ~LogSink() = default;
  // One line of the catch ladder, without its line end.
  virtual void ErrorLine(const std::string& text) = 0;
  // The library has just set ACE's process priority mask.
  virtual void ProcessMaskSet() = 0;
  // The option "-debug" was given.
  virtual void DebugRequested() = 0;
};

// Installs `sink` for the process (null: none). Install it before any other
// thread logs; it must live until the process ends.
void SetLogSink(LogSink* sink);

// Hands `text` to the sink, or writes it and a line end to standard error.
// Any thread.
void WriteErrorLine(const std::string& text);

// Sets ACE's process priority mask and tells the sink.
void SetProcessLogMask(u_long mask);

// The option "-debug": the process mask and the calling thread's mask become
// kDebugLogMask; the sink is told.
void RequestDebugLog();

}  // namespace zl

// Reports a caught CORBA exception with the caller's own source position.
#define ZL_LOG_CORBA(priority, exception) \
  ::zl::LogCorbaException((priority), __FILE__, __LINE__, (exception))

#endif  // ZL_COMMON_LOG_H_
