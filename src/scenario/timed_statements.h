// Timed statements (timed_statement.h): checks that must come true within a
// time window, or hold throughout one, after the common starting moment of
// their timed block, and plain waits (BDELAY) that make a block last at least
// a given time; the block that collects them, and their handlers.
//
// Threads: a block and its statements belong to one scenario's worker and
// are created, polled and destroyed only by it. `Check` calls the server from
// that worker.
#ifndef ZL_SCENARIO_TIMED_STATEMENTS_H_
#define ZL_SCENARIO_TIMED_STATEMENTS_H_

#include <ace/Time_Value.h>

#include <memory>
#include <string>
#include <vector>

#include "common/log.h"
#include "scenario/checks.h"
#include "scenario/statement_line.h"
#include "scenario/timed_statement.h"

namespace zl {

class StatementContext;

// What a timed check does: verifies (TVERIFY, reported when it passes and
// when it fails), asserts (TASSERT, reported only when it fails) or
// monitors throughout its window (TMONITOR).
enum class TimedRole { kVerification, kAssertion, kMonitor };

// One timed verification, assertion or monitor of one tag: a check that must
// come true within its window (after a precheck at the window's start that
// it does not hold yet), or hold throughout it (TMONITOR).
class CScenarioStatementAsync : public TimedStatement {
 public:
  // The offsets count from the block's starting moment. `context` is
  // borrowed and outlives the statement; its place (the statement line that
  // makes this statement) is the place of what the statement reports.
  CScenarioStatementAsync(StatementContext* context, std::string tag, Comparison comparison,
                          TimedRole role, double expected, const ACE_Time_Value& start_offset,
                          const ACE_Time_Value& end_offset);

  TimedState Poll(const ACE_Time_Value& now) override;
  // Reads the tag and compares; true when the condition holds. A missing tag
  // or a failing server (the exception policy of timed checks) sets kError,
  // counts and reports it.
  bool Check();

 private:
  // The "after %s" interval text from the start to `now`.
  std::string After(const ACE_Time_Value& now) const;

  StatementContext* const context_;
  const LogPlace place_;
  const std::string tag_;
  const Comparison comparison_;
  const TimedRole role_;
  const double expected_;
  const ACE_Time_Value start_offset_;
  const ACE_Time_Value end_offset_;
  double last_value_ = 0;
  ACE_Time_Value started_at_;
  ACE_Time_Value window_start_;
  ACE_Time_Value window_end_;
};

// A plain wait of the block (BDELAY): passes when its delay has run out. No
// lines, no counting.
class CScenarioStmtWaitAsync : public TimedStatement {
 public:
  explicit CScenarioStmtWaitAsync(const ACE_Time_Value& delay) : delay_(delay) {}
  TimedState Poll(const ACE_Time_Value& now) override;

 private:
  const ACE_Time_Value delay_;
  ACE_Time_Value end_;
};

// The statements collected since the last non-timed line; they start
// together at the block's first poll.
class CScenarioTimedBlock {
 public:
  void Add(std::unique_ptr<TimedStatement> statement);
  // Sets the start time at the first call; polls every statement with `now`
  // when `now` is not before the start time.
  void Poll(const ACE_Time_Value& now);
  bool AnyActive() const;
  bool AllFinished() const;  // true for an empty block
  bool Empty() const { return statements_.empty(); }
  void Clear();

 private:
  std::vector<std::unique_ptr<TimedStatement>> statements_;
  ACE_Time_Value start_;
};

// The timed statements' handlers: each gets the statement context (which
// its statements keep, borrowed), the statement's operands and the block it
// adds to.

// TVERIFY | TVERIFY_GT | TVERIFY_LT | TASSERT | TASSERT_GT | TASSERT_LT |
// TMONITOR taglist value [start [end]]: one timed statement per tag, added to
// `block` and counted as a verification. A missing start or end is 0; an end
// before the start is a statement error.
void TimedVerify(StatementContext& ctx, StatementLine& line, CScenarioTimedBlock& block,
                 Comparison comparison, TimedRole role);
// BDELAY seconds | BDELAYSECS seconds: `block` lasts at least this long.
void BlockDelay(StatementContext& ctx, StatementLine& line, CScenarioTimedBlock& block);

}  // namespace zl

#endif  // ZL_SCENARIO_TIMED_STATEMENTS_H_
