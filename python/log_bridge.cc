#include "log_bridge.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Record.h>
#include <ace/OS_NS_sys_time.h>
#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/log.h"
#include "text.h"

namespace zl {
namespace py {
namespace {

using Clock = std::chrono::steady_clock;

// How often the bridge's thread refreshes the cached levels while no line
// comes, and how old a cache may be before lines bypass it.
constexpr auto kRefreshPeriod = std::chrono::milliseconds(250);
constexpr auto kCacheLifetime = std::chrono::seconds(1);
// The longest a flush waits for another thread's hand-over.
constexpr auto kFlushWait = std::chrono::seconds(3);

// Python's levels.
constexpr int kDebug = 10;
constexpr int kInfo = 20;
constexpr int kWarning = 30;
constexpr int kError = 40;

// The ACE priorities of each Python level.
constexpr u_long kDebugBits = LM_SHUTDOWN | LM_TRACE | LM_DEBUG;
// LM_NOTICE is news, not trouble (a server message arrived): INFO, which
// logging leaves out by default.
constexpr u_long kInfoBits = LM_INFO | LM_STARTUP | LM_NOTICE;
constexpr u_long kWarningBits = LM_WARNING;
constexpr u_long kErrorBits = LM_ERROR | LM_CRITICAL | LM_ALERT | LM_EMERGENCY;
constexpr u_long kAllBits = kDebugBits | kInfoBits | kWarningBits | kErrorBits;

struct LevelBits {
  int level;
  u_long bits;
};
constexpr LevelBits kLevels[] = {
    {kDebug, kDebugBits}, {kInfo, kInfoBits}, {kWarning, kWarningBits}, {kError, kErrorBits}};

int LevelOf(u_long priority) {
  for (const LevelBits& l : kLevels) {
    if ((priority & l.bits) != 0) return l.level;
  }
  return kError;
}

// The loggers, and the source folder whose lines each takes ("zl" takes the
// rest). The folder is looked for anywhere in the source name ACE records,
// which the build makes relative to the repository.
struct LoggerRoute {
  const char* name;
  const char* folder;
};
constexpr LoggerRoute kLoggers[] = {
    {"zl", nullptr},
    {"zl.broker", "src/broker/"},
    {"zl.localdb", "src/localdb/"},
    {"zl.scenario", "src/scenario/"},
    {"zl.logset", "src/logset/"},
};
constexpr int kLoggerCount = sizeof(kLoggers) / sizeof(kLoggers[0]);
constexpr int kRootLogger = 0;
constexpr int kBrokerLogger = 1;
constexpr int kScenarioLogger = 3;

int LoggerOf(const char* file) {
  if (file == nullptr) return kRootLogger;
  for (int i = 1; i < kLoggerCount; ++i) {
    if (std::strstr(file, kLoggers[i].folder) != nullptr) return i;
  }
  return kRootLogger;
}

bool RawRequested() {
  const char* value = std::getenv("ZL_LOG_STDERR");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

// One line on its way to logging: everything about it that the logging
// thread knows and the handing thread does not.
struct Line {
  int logger;
  int level;
  std::string text;  // as logged, line end included where it had one
  std::string file;
  int lineno;
  ACE_Time_Value time;
  unsigned long ident;  // pthread_self(), which is Python's thread ident
  long tid;             // the kernel's thread id, as ACE's %t prints it
  bool python_thread;
  bool ladder;  // a line of the catch ladder: a failed call
  std::optional<std::string> operation;
  std::optional<std::string> tag;
  // The scenario line the logging thread worked on, when it did.
  std::optional<LogPlace> place;
  // For a scenario run's failure, error or stop line: its line in the run's
  // part of the test log (0: not written).
  std::optional<unsigned> testlog_line;
};

class LogBridge final : public ACE_Log_Msg_Backend, public LogSink {
 public:
  LogBridge() = default;
  LogBridge(const LogBridge&) = delete;
  LogBridge& operator=(const LogBridge&) = delete;

  // Takes the loggers and reads their levels. Interpreter lock held.
  int Prepare();
  // Starts the bridge's thread. Interpreter lock held.
  int Start();
  // See FlushLogLines. Interpreter lock held.
  void Flush() {
    if (queued_.load(std::memory_order_acquire) == delivered_.load(std::memory_order_acquire))
      return;
    // A Python error the caller is about to raise waits until the lines
    // are out.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Deliver(true);
    PyErr_Restore(type, value, traceback);
  }
  // Applies a "-debug" and re-reads the levels into the cache. Interpreter
  // lock held.
  void Refresh();
  // Whether logging's levels may have changed since Refresh: logging
  // empties every logger's level cache when a level changes, and Refresh
  // fills ours with the four levels. Interpreter lock held.
  bool LevelsChanged();
  // Stops the bridge's thread, hands over what is queued and turns to
  // standard error. Interpreter lock held; once.
  void StopAtExit();

  // In the child after fork: from now on every line goes to standard error.
  // Takes no lock and allocates nothing.
  void ForgetAfterFork() {
    forked_ = true;
    raw_ = true;
    delivered_ = queued_.load();
  }

  // ACE_Log_Msg_Backend: called by ACE in the logging thread, with ACE's log
  // lock held.
  int open(const ACE_TCHAR*) override { return 0; }
  int reset() override { return 0; }
  int close() override { return 0; }
  ssize_t log(ACE_Log_Record& record) override;

  // LogSink: any thread.
  void ErrorLine(const std::string& text) override;
  void ProcessMaskSet() override;
  void DebugRequested() override;
  void ScenarioLine(ScenarioLineKind kind, const std::string& text, const LogPlace& place,
                    unsigned testlog_line) override;

 private:
  // Where a line comes from.
  enum class Source {
    kAce,       // ACE's log
    kLadder,    // the catch ladder (WriteErrorLine)
    kScenario,  // a scenario run's reported line: no standard error of its own
  };
  // Queues a line unless the cache says its logger refuses it, or writes it
  // to standard error after the exit step. `place` is the thread's place (a
  // scenario line's own for kScenario). Any thread.
  void Take(u_long priority, int logger, const char* text, const char* file, int lineno,
            const ACE_Time_Value& time, Source source, const LogPlace* place,
            unsigned testlog_line = 0);
  bool CacheRefuses(int logger, u_long priority) const;
  // Sets "zl" to DEBUG once "-debug" was given; true when it did now.
  // Interpreter lock held.
  bool ApplyDebug();
  // Widens ACE's process mask by what some logger takes; narrows it again
  // by what it widened and no logger takes any more. Any thread.
  void ApplyMask(u_long wanted);
  // Hands the queue to logging, one thread at a time. Interpreter lock held.
  void Deliver(bool wait);
  void Emit(const Line& line);
  bool SetAttributes(PyObject* record, const Line& line);
  void ThreadMain();

  // Constant after Start; the Python objects are used under the
  // interpreter lock only.
  PyObject* loggers_[kLoggerCount] = {};
  PyObject* logger_names_[kLoggerCount] = {};
  PyObject* threading_ = nullptr;
  PyObject* cache_name_ = nullptr;  // "_cache"
  std::thread thread_;

  // Written under the interpreter lock by Refresh, read by any thread.
  std::atomic<u_long> enabled_[kLoggerCount] = {};
  std::atomic<Clock::rep> refreshed_at_{0};
  std::atomic<bool> debug_requested_{false};
  std::atomic<bool> debug_applied_{false};  // set under the interpreter lock

  std::mutex mask_mu_;
  u_long wanted_ = 0;  // guarded by mask_mu_: priorities some logger takes
  u_long added_ = 0;   // guarded by mask_mu_: of those, the ones ACE lacked

  std::mutex mu_;
  std::condition_variable wake_;  // the bridge's thread: a line, or stop
  std::condition_variable done_;  // flushes: a hand-over ended
  std::deque<Line> queue_;        // guarded by mu_
  bool delivering_ = false;       // guarded by mu_
  std::thread::id deliverer_;     // guarded by mu_
  bool stop_ = false;             // guarded by mu_
  // Lines go to standard error: written under mu_ (in a forked child, by
  // its one thread without it).
  std::atomic<bool> raw_{false};
  // In a child made by fork: the bridge's thread is not there and a lock may
  // stay held for ever, so the child writes its lines to standard error and
  // takes none of the bridge's locks. Set once, in the child.
  std::atomic<bool> forked_{false};
  // Written under mu_; read without it for the flush's quick test.
  std::atomic<uint64_t> queued_{0};
  std::atomic<uint64_t> delivered_{0};
};

// Never destroyed: threads of the library may log until the process ends.
LogBridge* g_bridge = nullptr;

ssize_t LogBridge::log(ACE_Log_Record& record) {
  ACE_Log_Msg* msg = ACE_Log_Msg::instance();
  const char* file = msg->file();
  Take(record.type(), LoggerOf(file), record.msg_data(), file, msg->linenum(), record.time_stamp(),
       Source::kAce, CurrentLogPlace());
  return 0;
}

void LogBridge::ErrorLine(const std::string& text) {
  Take(LM_ERROR, kBrokerLogger, text.c_str(), nullptr, 0, ACE_OS::gettimeofday(), Source::kLadder,
       CurrentLogPlace());
}

void LogBridge::ScenarioLine(ScenarioLineKind kind, const std::string& text,
                             const LogPlace& place, unsigned testlog_line) {
  // A failed check or a stop is a warning; a statement error, a failed
  // command and an abort are errors.
  const u_long priority = kind == ScenarioLineKind::kError ? LM_ERROR : LM_WARNING;
  Take(priority, kScenarioLogger, text.c_str(), nullptr, 0, ACE_OS::gettimeofday(),
       Source::kScenario, &place, testlog_line);
}

void LogBridge::ProcessMaskSet() {
  if (forked_.load()) return;
  std::lock_guard<std::mutex> lock(mask_mu_);
  const u_long mask = ACE_LOG_MSG->priority_mask(ACE_Log_Msg::PROCESS);
  added_ = wanted_ & ~mask;
  if (added_ != 0) ACE_LOG_MSG->priority_mask(mask | added_, ACE_Log_Msg::PROCESS);
}

void LogBridge::DebugRequested() {
  debug_requested_ = true;
  ApplyMask(kAllBits);
  wake_.notify_one();
}

bool LogBridge::CacheRefuses(int logger, u_long priority) const {
  if (debug_requested_.load() && !debug_applied_.load()) {
    // Until the bridge's thread has set the level, let logging decide.
    return false;
  }
  const Clock::duration age =
      Clock::now().time_since_epoch() - Clock::duration(refreshed_at_.load());
  if (age > kCacheLifetime) return false;
  return (enabled_[logger].load(std::memory_order_relaxed) & priority) == 0;
}

void LogBridge::Take(u_long priority, int logger, const char* text, const char* file, int lineno,
                     const ACE_Time_Value& time, Source source, const LogPlace* place,
                     unsigned testlog_line) {
  const bool ladder = source == Source::kLadder;
  if (!raw_.load()) {
    // Python's own threads (with or without the interpreter lock) may have
    // just changed a level: their lines go to logging to decide. Others'
    // lines are filtered by the cache here.
    const bool python_thread = PyGILState_GetThisThreadState() != nullptr;
    if (!python_thread && CacheRefuses(logger, priority)) return;
    const LogContext& context = CurrentLogContext();
    Line line{
        logger,
        LevelOf(priority),
        text != nullptr ? text : "",
        file != nullptr ? file : "",
        lineno,
        time,
        static_cast<unsigned long>(pthread_self()),
        static_cast<long>(gettid()),
        python_thread,
        ladder,
        context.operation != nullptr ? std::optional<std::string>(context.operation) : std::nullopt,
        context.tag != nullptr ? std::optional<std::string>(context.tag) : std::nullopt,
        place != nullptr && !place->file.empty() ? std::optional<LogPlace>(*place) : std::nullopt,
        source == Source::kScenario ? std::optional<unsigned>(testlog_line) : std::nullopt};
    std::unique_lock<std::mutex> lock(mu_);
    if (!raw_.load()) {
      queue_.push_back(std::move(line));
      queued_.fetch_add(1, std::memory_order_release);
      lock.unlock();
      // A Python thread hands its own lines over when its call returns; the
      // bridge's thread takes what it leaves at its next round. Waking the
      // bridge's thread for them would only make it compete for the lock.
      if (!python_thread) wake_.notify_one();
      return;
    }
  }
  // After the exit step: the line as the library writes it without Python
  // (which writes a scenario's lines to its test log only).
  if (text == nullptr || source == Source::kScenario) return;
  if (ladder) {
    std::cerr << text << std::endl;
  } else {
    std::fputs(text, stderr);
    std::fflush(stderr);
  }
}

void LogBridge::ApplyMask(u_long wanted) {
  if (forked_.load()) return;
  std::lock_guard<std::mutex> lock(mask_mu_);
  wanted_ = wanted;
  const u_long mask = ACE_LOG_MSG->priority_mask(ACE_Log_Msg::PROCESS);
  const u_long dropped = added_ & ~wanted;
  const u_long fresh = wanted & ~mask;
  added_ = (added_ & wanted) | fresh;
  const u_long next = (mask & ~dropped) | fresh;
  if (next != mask) ACE_LOG_MSG->priority_mask(next, ACE_Log_Msg::PROCESS);
}

int LogBridge::Prepare() {
  PyObject* logging = PyImport_ImportModule("logging");
  if (logging == nullptr) return -1;
  threading_ = PyImport_ImportModule("threading");
  cache_name_ = PyUnicode_InternFromString("_cache");
  bool ok = threading_ != nullptr && cache_name_ != nullptr;
  for (int i = 0; ok && i < kLoggerCount; ++i) {
    loggers_[i] = PyObject_CallMethod(logging, "getLogger", "s", kLoggers[i].name);
    logger_names_[i] = PyUnicode_FromString(kLoggers[i].name);
    ok = loggers_[i] != nullptr && logger_names_[i] != nullptr;
  }
  Py_DECREF(logging);
  if (!ok) return -1;
  Refresh();
  return 0;
}

int LogBridge::Start() {
  // The C-API boundary: a thread that cannot start becomes RuntimeError.
  try {
    thread_ = std::thread([this] { ThreadMain(); });
  } catch (const std::exception&) {
    PyErr_SetString(PyExc_RuntimeError, "could not start the zl logging thread");
    return -1;
  }
  return 0;
}

bool Disabled(PyObject* logger) {
  PyObject* disabled = PyObject_GetAttrString(logger, "disabled");
  const bool yes = disabled != nullptr && PyObject_IsTrue(disabled) == 1;
  Py_XDECREF(disabled);
  PyErr_Clear();
  return yes;
}

bool LogBridge::LevelsChanged() {
  for (PyObject* logger : loggers_) {
    PyObject* cache = PyObject_GetAttr(logger, cache_name_);
    const bool changed = cache == nullptr || !PyDict_Check(cache) ||
                         PyDict_Size(cache) < static_cast<Py_ssize_t>(std::size(kLevels));
    Py_XDECREF(cache);
    PyErr_Clear();
    // A disabled logger answers without caching (dictConfig disables the
    // loggers it does not name): nothing to re-read while it stays so.
    if (changed && !Disabled(logger)) return true;
  }
  return false;
}

bool LogBridge::ApplyDebug() {
  if (!debug_requested_.load() || debug_applied_.load()) return false;
  debug_applied_ = true;
  PyObject* result = PyObject_CallMethod(loggers_[kRootLogger], "setLevel", "i", kDebug);
  if (result == nullptr) PyErr_WriteUnraisable(loggers_[kRootLogger]);
  Py_XDECREF(result);
  return true;
}

void LogBridge::Refresh() {
  ApplyDebug();
  u_long wanted = 0;
  for (int i = 0; i < kLoggerCount; ++i) {
    u_long bits = 0;
    for (const LevelBits& l : kLevels) {
      PyObject* yes = PyObject_CallMethod(loggers_[i], "isEnabledFor", "i", l.level);
      if (yes == nullptr) {
        PyErr_WriteUnraisable(loggers_[i]);
        bits |= l.bits;  // let logging decide line by line
        continue;
      }
      if (PyObject_IsTrue(yes) == 1) bits |= l.bits;
      Py_DECREF(yes);
    }
    enabled_[i].store(bits, std::memory_order_relaxed);
    wanted |= bits;
  }
  refreshed_at_ = Clock::now().time_since_epoch().count();
  ApplyMask(wanted);
}

void LogBridge::Deliver(bool wait) {
  std::unique_lock<std::mutex> lock(mu_);
  const uint64_t target = queued_.load();
  const Clock::time_point deadline = Clock::now() + kFlushWait;
  while (delivering_) {
    if (!wait || deliverer_ == std::this_thread::get_id()) return;
    // Another thread is handing lines over (and may need the interpreter
    // lock for it): wait for it without the lock.
    lock.unlock();
    PyThreadState* state = PyEval_SaveThread();
    {
      std::unique_lock<std::mutex> waiting(mu_);
      done_.wait_until(waiting, deadline,
                       [&] { return !delivering_ || delivered_.load() >= target; });
    }
    PyEval_RestoreThread(state);
    lock.lock();
    if (delivered_.load() >= target || Clock::now() >= deadline) return;
  }
  delivering_ = true;
  deliverer_ = std::this_thread::get_id();
  lock.unlock();
  // "-debug" given in this call: its own lines are already queued.
  if (ApplyDebug()) Refresh();
  lock.lock();
  while (!queue_.empty()) {
    std::deque<Line> batch;
    batch.swap(queue_);
    lock.unlock();
    for (const Line& line : batch) Emit(line);
    lock.lock();
    delivered_.fetch_add(batch.size(), std::memory_order_release);
  }
  delivering_ = false;
  deliverer_ = std::thread::id();
  lock.unlock();
  done_.notify_all();
  wake_.notify_one();
}

// Whether a record of `logger` finds a handler, as Logger.callHandlers
// decides before it falls back to logging.lastResort.
bool FindsHandler(PyObject* logger) {
  PyObject* current = logger;
  Py_INCREF(current);
  bool found = false;
  while (current != nullptr && current != Py_None && !found) {
    PyObject* handlers = PyObject_GetAttrString(current, "handlers");
    found = handlers != nullptr && PyObject_IsTrue(handlers) == 1;
    Py_XDECREF(handlers);
    PyObject* propagate = PyObject_GetAttrString(current, "propagate");
    const bool goes_on = propagate != nullptr && PyObject_IsTrue(propagate) == 1;
    Py_XDECREF(propagate);
    PyObject* parent = goes_on ? PyObject_GetAttrString(current, "parent") : nullptr;
    Py_DECREF(current);
    current = parent;
  }
  Py_XDECREF(current);
  PyErr_Clear();
  return found;
}

bool SetAttribute(PyObject* record, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  const bool ok = PyObject_SetAttrString(record, name, value) == 0;
  Py_DECREF(value);
  return ok;
}

PyObject* OptionalText(const std::optional<std::string>& text) {
  if (!text) Py_RETURN_NONE;
  return TextToStr(*text);
}

// The subtest calls of a place as a tuple of "FILE:LINE" texts; None
// without a place.
PyObject* Callers(const std::optional<LogPlace>& place) {
  if (!place) Py_RETURN_NONE;
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(place->callers.size()));
  if (tuple == nullptr) return nullptr;
  for (std::size_t i = 0; i < place->callers.size(); ++i) {
    PyObject* text = TextToStr(place->callers[i]);
    if (text == nullptr) {
      Py_DECREF(tuple);
      return nullptr;
    }
    PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), text);
  }
  return tuple;
}

PyObject* OptionalNumber(bool present, unsigned long value) {
  if (!present) Py_RETURN_NONE;
  return PyLong_FromUnsignedLong(value);
}

// The record's message: the line as logged, a failed call's line led by the
// call and its tag ("PVE of tag T1 failed: ..."), so that the text alone
// says what failed.
std::string MessageOf(const Line& line) {
  std::string text = line.text;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!line.ladder || !line.operation) return text;
  std::string lead = *line.operation;
  if (line.tag) lead += " of tag " + *line.tag;
  return lead + " failed: " + text;
}

bool LogBridge::SetAttributes(PyObject* record, const Line& line) {
  // The time the line was logged, not the time it was handed over.
  const double created = static_cast<double>(line.time.sec()) + line.time.usec() / 1e6;
  PyObject* made = PyObject_GetAttrString(record, "created");
  PyObject* relative = PyObject_GetAttrString(record, "relativeCreated");
  const double made_at = made != nullptr ? PyFloat_AsDouble(made) : created;
  const double relative_ms = relative != nullptr ? PyFloat_AsDouble(relative) : 0.0;
  Py_XDECREF(made);
  Py_XDECREF(relative);
  if (PyErr_Occurred()) return false;
  PyObject* name = nullptr;
  if (line.python_thread) {
    PyObject* active = PyObject_GetAttrString(threading_, "_active");
    PyObject* ident = PyLong_FromUnsignedLong(line.ident);
    PyObject* thread =
        active != nullptr && ident != nullptr ? PyDict_GetItemWithError(active, ident) : nullptr;
    if (thread != nullptr) name = PyObject_GetAttrString(thread, "name");
    Py_XDECREF(active);
    Py_XDECREF(ident);
    PyErr_Clear();
  }
  if (name == nullptr) name = PyUnicode_FromFormat("zl-%ld", line.tid);
  const std::optional<LogPlace>& place = line.place;
  return SetAttribute(record, "operation", OptionalText(line.operation)) &&
         SetAttribute(record, "tag", OptionalText(line.tag)) &&
         SetAttribute(record, "scenario_file",
                      place ? TextToStr(place->file) : OptionalText(std::nullopt)) &&
         SetAttribute(record, "scenario_line", OptionalNumber(place.has_value(),
                                                              place ? place->line : 0)) &&
         SetAttribute(record, "subtests", Callers(place)) &&
         SetAttribute(record, "scenario_id",
                      OptionalNumber(place && place->scenario_id != 0,
                                     place ? place->scenario_id : 0)) &&
         SetAttribute(record, "testlog_line",
                      OptionalNumber(line.testlog_line.has_value(),
                                     line.testlog_line.value_or(0))) &&
         SetAttribute(record, "created", PyFloat_FromDouble(created)) &&
         SetAttribute(record, "msecs",
                      PyFloat_FromDouble(static_cast<double>(line.time.usec() / 1000))) &&
         SetAttribute(record, "relativeCreated",
                      PyFloat_FromDouble(relative_ms - (made_at - created) * 1000.0)) &&
         SetAttribute(record, "thread", PyLong_FromUnsignedLong(line.ident)) &&
         SetAttribute(record, "threadName", name);
}

void LogBridge::Emit(const Line& line) {
  PyObject* logger = loggers_[line.logger];
  PyObject* enabled = PyObject_CallMethod(logger, "isEnabledFor", "i", line.level);
  if (enabled == nullptr) {
    PyErr_WriteUnraisable(logger);
    return;
  }
  const bool wanted = PyObject_IsTrue(enabled) == 1;
  Py_DECREF(enabled);
  if (!wanted) return;
  std::string text = MessageOf(line);
  PyObject* message = TextToStr(text);
  // A line logged at work on a scenario line names that line as its place
  // (what a handler shows as %(pathname)s and %(lineno)d), not the source
  // line of the library that logged it.
  const std::string& path = line.place ? line.place->file : line.file;
  const int lineno = line.place ? static_cast<int>(line.place->line) : line.lineno;
  PyObject* pathname = TextToStr(path.empty() ? std::string("(unknown file)") : path);
  PyObject* record = message == nullptr || pathname == nullptr
                         ? nullptr
                         : PyObject_CallMethod(logger, "makeRecord", "OiOiOOO",
                                               logger_names_[line.logger], line.level, pathname,
                                               lineno, message, Py_None, Py_None);
  Py_XDECREF(pathname);
  bool ok = record != nullptr && SetAttributes(record, line);
  if (ok) {
    PyObject* result = PyObject_CallMethod(logger, "handle", "O", record);
    ok = result != nullptr;
    Py_XDECREF(result);
  }
  // "-debug" without a handler: below WARNING logging.lastResort shows
  // nothing, so show the line here as it would.
  if (ok && debug_applied_ && line.level < kWarning && !FindsHandler(logger)) {
    PyObject* err = PySys_GetObject("stderr");  // borrowed
    text += '\n';
    PyObject* out = TextToStr(text);
    ok = err == nullptr || err == Py_None ||
         (out != nullptr && PyFile_WriteObject(out, err, Py_PRINT_RAW) == 0);
    Py_XDECREF(out);
  }
  Py_XDECREF(record);
  Py_XDECREF(message);
  if (!ok) PyErr_WriteUnraisable(logger);
}

void LogBridge::ThreadMain() {
  PyGILState_STATE gil = PyGILState_Ensure();
  PyThreadState* state = PyEval_SaveThread();
  std::unique_lock<std::mutex> lock(mu_);
  while (!stop_) {
    wake_.wait_for(lock, kRefreshPeriod, [&] {
      return stop_ || (!queue_.empty() && !delivering_) ||
             (debug_requested_.load() && !debug_applied_);
    });
    if (stop_) break;
    lock.unlock();
    PyEval_RestoreThread(state);
    const Clock::duration age =
        Clock::now().time_since_epoch() - Clock::duration(refreshed_at_.load());
    if (age >= kRefreshPeriod || (debug_requested_.load() && !debug_applied_.load())) Refresh();
    Deliver(false);
    state = PyEval_SaveThread();
    lock.lock();
  }
  lock.unlock();
  PyEval_RestoreThread(state);
  PyGILState_Release(gil);
}

void LogBridge::StopAtExit() {
  if (forked_.load()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stop_) return;
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    Py_BEGIN_ALLOW_THREADS
    thread_.join();
    Py_END_ALLOW_THREADS
  }
  // Hand over what is queued; then every later line goes to standard error.
  // A hand-over stuck in another thread's handler is not waited for long.
  for (int round = 0; round < 3; ++round) {
    Deliver(true);
    std::lock_guard<std::mutex> lock(mu_);
    if (queue_.empty()) break;
  }
  std::lock_guard<std::mutex> lock(mu_);
  raw_ = true;
}

PyObject* StopAtExit(PyObject*, PyObject*) {
  if (g_bridge != nullptr) g_bridge->StopAtExit();
  Py_RETURN_NONE;
}

PyMethodDef stop_def = {
    "_zl_stop_log_bridge", StopAtExit, METH_NOARGS,
    "Hands the zl lines still queued to logging; later ones go to standard error."};

void ForgetAfterFork() {
  if (g_bridge != nullptr) g_bridge->ForgetAfterFork();
}

int RegisterStopAtExit() {
  PyObject* hook = PyCFunction_New(&stop_def, nullptr);
  if (hook == nullptr) return -1;
  PyObject* atexit = PyImport_ImportModule("atexit");
  PyObject* result =
      atexit != nullptr ? PyObject_CallMethod(atexit, "register", "O", hook) : nullptr;
  Py_XDECREF(atexit);
  Py_DECREF(hook);
  if (result == nullptr) return -1;
  Py_DECREF(result);
  return 0;
}

}  // namespace

int InstallLogBridge() {
  if (g_bridge != nullptr || RawRequested()) return 0;
  auto* bridge = new LogBridge;
  // logging is imported (and registers its own exit step) before the
  // bridge's exit step is registered, so that logging is still whole when
  // the bridge's step runs. The thread starts only once that step is sure
  // to stop it.
  if (bridge->Prepare() < 0 || RegisterStopAtExit() < 0) {
    delete bridge;
    return -1;
  }
  g_bridge = bridge;
  if (bridge->Start() < 0) return -1;
  pthread_atfork(nullptr, nullptr, ForgetAfterFork);
  ACE_Log_Msg::msg_backend(bridge);
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
  SetLogSink(bridge);
  return 0;
}

void NoteClientOptions(const char* options) {
  if (g_bridge == nullptr || options == nullptr) return;
  const char* p = options;
  while (*p != '\0') {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* end = p;
    while (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (end - p == 6 && strncasecmp(p, "-debug", 6) == 0) g_bridge->DebugRequested();
    p = end;
  }
  g_bridge->Refresh();
}

void CheckLogLevels() {
  if (g_bridge != nullptr && g_bridge->LevelsChanged()) g_bridge->Refresh();
}

void FlushLogLines() {
  if (g_bridge != nullptr) g_bridge->Flush();
}

}  // namespace py
}  // namespace zl
