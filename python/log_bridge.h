// The library's log lines as records of Python's logging.
//
// Inside Python every line the library logs (ACE's log, and the error lines
// of the catch ladder and of the module's callbacks, WriteErrorLine) becomes
// a record of a logger under "zl": "zl.broker" (the ORB holder, the client,
// its catch ladder and those error lines), "zl.localdb" (messages,
// notifications, the client timer, tag files, the scenario manager),
// "zl.scenario" (the scenario engine), "zl.logset" (log sets) and "zl" for
// the rest. Levels: LM_TRACE and LM_DEBUG give DEBUG, LM_INFO, LM_STARTUP
// and LM_NOTICE INFO, LM_WARNING WARNING, LM_ERROR and above and the
// ladder's lines ERROR. The message is the line's text without its line
// end, a ladder's line (a failed call) led by the operation and its tag
// ("PVE of tag T1 failed: user exception, ..."); the attributes `operation`
// and `tag` name the client operation and the tag it worked on (None where
// there is none); `created`, `thread` and `threadName` are those of the
// thread that logged the line.
//
// Scenario runs. Each failure ("**"), error ("__", "##") and stop line a
// scenario run writes to its test log is also a record of "zl.scenario"
// (WARNING for a failure or a stop, ERROR for an error), its message the
// line without stamp and mark. A line logged while a scenario worker runs
// a statement (or checks on behalf of one: a timed check, a monitor) names
// that statement's line as the record's `pathname` and `lineno`, not the
// library's source line; `scenario_file`, `scenario_line` (0: the file as
// a whole), `subtests` (the "FILE:LINE" of each "@" line that leads there,
// outermost first) and `scenario_id` say the same, and `testlog_line` is
// the number of a reported line in its run's part of the test log (1: the
// "Starting test" line; 0: no test log is open). Each is None where it
// does not apply.
//
// Threads. A process-wide ACE backend (the CUSTOM flag) and the library's
// LogSink take each line in the thread that logs it and queue it; no such
// thread ever waits for the interpreter lock. The lines are handed to
// logging, in the order they were queued, by one thread at a time that holds
// the interpreter lock: a thread of the bridge's own (woken by each line of
// the library's threads, and a few times a second), or a thread returning
// from a client call (FlushLogLines), so that a call's own lines reach
// logging before the call returns. At interpreter exit the
// bridge hands over what is queued and from then on writes every line to
// standard error as it was logged. So does a child made by fork, which has
// no bridge thread.
//
// Filtering. Whether a logger takes a level is cached per logger and
// refreshed from logging a few times a second, whenever a client is made,
// and before a client call after a level changed. Lines of threads that
// Python does not know which the cache refuses cost a compare; lines of
// Python's threads always go to logging to decide, so a level set just
// before a call holds for that call's lines. ACE's process mask gains the
// priorities that some logger takes, so that, for example,
// logging.basicConfig(level=logging.DEBUG) shows the debug lines of every
// thread. The option "-debug" sets the level of "zl" to DEBUG and shows its
// records on standard error where no handler would.
//
// The environment variable ZL_LOG_STDERR set to anything but "" or "0"
// leaves the bridge out: every line then goes to standard error exactly as
// the library writes it.
#ifndef ZL_PYTHON_LOG_BRIDGE_H_
#define ZL_PYTHON_LOG_BRIDGE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zl {
namespace py {

// Installs the bridge for the process unless ZL_LOG_STDERR asks for raw
// standard error, and registers its exit step with atexit (register it before
// the module's exit hook, so that it runs after it). Interpreter lock held;
// once, from the module's initialisation. 0, or -1 with a Python error.
int InstallLogBridge();

// Before a client is made from `options`: reads the loggers' levels now (so
// that the threads the client starts log what logging was just set to take)
// and, when the options hold the word "-debug", applies it now, so that the
// lines logged before the word is reached are shown too. Interpreter lock
// held.
void NoteClientOptions(const char* options);

// Before a client call: re-reads the levels when logging's were changed
// since the last reading, so that the threads the call sets to work (a
// scenario worker, for example) log what logging was just set to take.
// Interpreter lock held. A few dictionary lookups.
void CheckLogLevels();

// Hands every line queued so far to logging before it returns (waiting, with
// the interpreter lock released, for a hand-over already under way in another
// thread, at most a few seconds). Interpreter lock held. A load and a compare
// when nothing is queued or the bridge is not installed.
void FlushLogLines();

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_LOG_BRIDGE_H_
