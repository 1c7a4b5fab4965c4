// The process log: ACE's log facility (standard error unless redirected) with
// ACE's priorities. The masks below are the process-wide masks the library
// sets; a thread may add priorities for itself (the Python module turns on
// LM_DEBUG for the importing thread).
//
// Besides ACE's lines, the library writes the catch ladder's lines to
// standard error (WriteErrorLine). A host may install one LogSink for the
// process to take those lines, to learn when the library changes its masks
// and to hear of the failure, error and stop lines of scenario runs with
// the scenario line they come from (LogPlace); without one, everything goes
// where it always went.
#ifndef ZL_COMMON_LOG_H_
#define ZL_COMMON_LOG_H_

#include <ace/Log_Msg.h>
#include <ace/Log_Priority.h>
#include <omniORB4/CORBA.h>

#include <string>
#include <vector>

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

// Where a scenario's work comes from: a line of one of its files and the
// subtest calls that lead there. A scenario worker sets it while it runs a
// statement (and while it checks what a statement left behind: a timed
// check, a monitor), so that a sink can attach it to the lines logged
// meanwhile and to the run's failure, error and abort lines.
struct LogPlace {
  unsigned long scenario_id = 0;  // the manager's id of the run; 0: none given
  std::string file;               // the file as the run names it ("" : no place)
  unsigned line = 0;              // its line, from 1; 0: the file as a whole
  // "FILE:LINE" of each subtest call ("@" line) that leads to `file`,
  // outermost first; empty in the scenario file itself.
  std::vector<std::string> callers;
};

// The calling thread's place (null outside a scenario's work).
const LogPlace* CurrentLogPlace();

// Sets the calling thread's place for its lifetime and restores the one
// before at its end. `place` (null: none) must outlive the scope; its
// content may change meanwhile (a worker moves from line to line).
class ScopedLogPlace {
 public:
  explicit ScopedLogPlace(const LogPlace* place);
  ~ScopedLogPlace();
  ScopedLogPlace(const ScopedLogPlace&) = delete;
  ScopedLogPlace& operator=(const ScopedLogPlace&) = delete;

 private:
  const LogPlace* const saved_;
};

// What a reported line of a scenario's test log is.
enum class ScenarioLineKind {
  kFailure,  // a "**" line: a check that failed
  kError,    // a "__" or "##" line: a statement error, a failed command, an abort
  kStopped,  // the run was stopped ("Scenario was aborted by StopScenario()")
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
  // A failure, error or stop line of a scenario run, in the worker that
  // wrote it: `text` is the test log line after its stamp, without its mark
  // and line end; `testlog_line` the number of the line in its run's part
  // of the test log (1: the "Starting test" line), 0 when no test log is
  // open. Without a sink such lines reach only the test log.
  virtual void ScenarioLine(ScenarioLineKind kind, const std::string& text,
                            const LogPlace& place, unsigned testlog_line) {
    (void)kind, (void)text, (void)place, (void)testlog_line;
  }
};

// Installs `sink` for the process (null: none). Install it before any other
// thread logs; it must live until the process ends.
void SetLogSink(LogSink* sink);

// Hands `text` to the sink, or writes it and a line end to standard error.
// Any thread.
void WriteErrorLine(const std::string& text);

// Hands a scenario run's failure, error or stop line to the sink (see
// LogSink::ScenarioLine); nothing without one. The scenario worker.
void ReportScenarioLine(ScenarioLineKind kind, const std::string& text, const LogPlace& place,
                        unsigned testlog_line);

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
