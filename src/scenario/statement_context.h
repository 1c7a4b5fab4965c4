// What a statement handler may use of its scenario, and nothing more: the
// server database (under the exception policy of server_calls.h), the clock,
// the test log, the result counters, the run's options and the place (file
// and line) of the statement at work. The statement
// loop and the nested files stay with CZLScenario; a family's own state
// (labels, monitors, the timed block, the wait, the question) is handed to
// its handlers beside the context.
//
// Threads: the scenario's worker uses all of it; the counters are atomics
// that the scenario manager reads from host threads. The options and the
// place are written on the worker only.
#ifndef ZL_SCENARIO_STATEMENT_CONTEXT_H_
#define ZL_SCENARIO_STATEMENT_CONTEXT_H_

#include <ace/Time_Value.h>

#include <atomic>
#include <optional>
#include <string>

#include "common/log.h"
#include "scenario/clock.h"
#include "scenario/test_log.h"
#include "zemr.hh"

namespace zl {

// The result counters the manager reports ("sceErrors", "totalVerifies",
// "failedVerifies", "totalMonitorChecks", "failedMonitorChecks").
struct ResultCounters {
  std::atomic<unsigned> errors{0};  // statement errors
  std::atomic<unsigned> total_verifies{0};
  std::atomic<unsigned> failed_verifies{0};
  std::atomic<unsigned> total_monitor_checks{0};
  std::atomic<unsigned> failed_monitor_checks{0};

  void Reset() {
    errors = 0;
    total_verifies = 0;
    failed_verifies = 0;
    total_monitor_checks = 0;
    failed_monitor_checks = 0;
  }
};

// The options statements set and read during a run.
struct ScenarioOptions {
  static constexpr unsigned kAutoDelete = 1;  // flags bit 0
  static constexpr unsigned kSkipUserQ = 2;   // flags bit 1

  unsigned flags = 0;
  double rel_tol = 1e-6;        // "=" comparisons; also the 0/1 threshold of TOGGLE, EDGE
  double abs_tol = 0;           // "=" comparisons
  bool safety_version = false;  // SAFETY: the version lines at the end
  bool safety_valid = false;    // SAFETY: the stored checksums at each end
};

class StatementContext {
 public:
  // Duplicates `database`; `clock` is borrowed and outlives the context.
  StatementContext(ZEMR::ZelvikDatabase_ptr database, const Clock* clock);
  StatementContext(const StatementContext&) = delete;
  StatementContext& operator=(const StatementContext&) = delete;

  // The server database. Its exceptions follow server_calls.h.
  ZEMR::ZelvikDatabase_ptr server() const { return db_.in(); }
  // The server's value of expression `text`; its exceptions escape.
  double Expr(const char* text) { return db_->ZLExpr(text); }

  const Clock& clock() const { return *clock_; }
  TestLog& test_log() { return test_log_; }
  const TestLog& test_log() const { return test_log_; }
  // The elapsed-time stamp "HH:MM:SS.mmm" of a test log line.
  std::string Stamp() const { return test_log_.Stamp(); }
  // One formatted test log line; nothing when the test log is closed. A
  // failure ("**" after the stamp's tab) or error ("__", "##") line is also
  // reported with the current place (ReportScenarioLine), open test log or
  // not.
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A statement error: counts one error and writes the line (a "__" line;
  // nothing when the test log is closed), reported as Log reports it.
  void StatementError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The line of a run that a stop request ended, reported as a stop.
  void StopLine(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Where the statement at work comes from: what the reported lines and the
  // process log lines logged meanwhile carry. The statement loop sets it for
  // each statement (set_place); a check that runs later on behalf of an
  // earlier statement (a timed check, a monitor) lends its own (PlaceScope).
  const LogPlace& place() const { return *place_; }
  // The place of the statement about to run; its address is stable, so the
  // worker points its thread's log place at it once (statement_place()).
  void set_place(LogPlace place) { statement_place_ = std::move(place); }
  const LogPlace* statement_place() const { return &statement_place_; }

  // Makes `place` the context's and the calling thread's place for its
  // lifetime. `place` outlives the scope.
  class PlaceScope {
   public:
    PlaceScope(StatementContext& ctx, const LogPlace& place)
        : ctx_(ctx), saved_(ctx.place_), thread_(&place) {
      ctx.place_ = &place;
    }
    ~PlaceScope() { ctx_.place_ = saved_; }
    PlaceScope(const PlaceScope&) = delete;
    PlaceScope& operator=(const PlaceScope&) = delete;

   private:
    StatementContext& ctx_;
    const LogPlace* const saved_;
    ScopedLogPlace thread_;
  };

  ResultCounters& counters() { return counters_; }
  const ResultCounters& counters() const { return counters_; }
  ScenarioOptions& options() { return options_; }
  const ScenarioOptions& options() const { return options_; }

 private:
  ZEMR::ZelvikDatabase_var db_;
  const Clock* const clock_;
  TestLog test_log_{clock_};
  ResultCounters counters_;
  ScenarioOptions options_;
  // Worker only.
  LogPlace statement_place_;
  const LogPlace* place_ = &statement_place_;

  // Writes `text` to the test log and, with a kind, reports it.
  void Write(const std::string& text, std::optional<ScenarioLineKind> kind);
};

}  // namespace zl

#endif  // ZL_SCENARIO_STATEMENT_CONTEXT_H_
