// Timed statements: checks that must come true within a time window, or hold
// throughout one, after the common starting moment of their timed block, and
// plain waits (BDELAY) that make a block last at least a given time.
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

namespace zl {

class StatementContext;

// What a timed statement does: verifies (TVERIFY, reported when it passes
// and when it fails), asserts (TASSERT, reported only when it fails) or
// monitors throughout its window (TMONITOR).
enum class TimedRole { kVerification, kAssertion, kMonitor };

// Where a timed statement is.
enum class TimedState {
  kCreated,       // not started: its block has not been polled yet
  kBeforeWindow,  // started; the precheck waits for the window's start
  kInWindow,      // in its window
  kPassed,
  kFailed,
  kError,  // its tag is missing or the server failed
};

// One timed verification, assertion or monitor of one tag.
class CScenarioStatementAsync {
 public:
  // The offsets count from the block's starting moment. `context` is
  // borrowed and outlives the statement; its place (the statement line that
  // makes this statement) is the place of what the statement reports.
  CScenarioStatementAsync(StatementContext* context, std::string tag, Comparison comparison,
                          TimedRole role, double expected, const ACE_Time_Value& start_offset,
                          const ACE_Time_Value& end_offset);
  virtual ~CScenarioStatementAsync();
  CScenarioStatementAsync(const CScenarioStatementAsync&) = delete;
  CScenarioStatementAsync& operator=(const CScenarioStatementAsync&) = delete;

  // Advances the statement to `now`; returns the state.
  virtual TimedState Poll(const ACE_Time_Value& now);
  // Reads the tag and compares; true when the condition holds. A missing tag
  // or a failing server (the exception policy of timed checks) sets kError,
  // counts and reports it.
  virtual bool Check();

  TimedState state() const { return state_; }
  bool active() const {
    return state_ == TimedState::kBeforeWindow || state_ == TimedState::kInWindow;
  }
  bool finished() const {
    return state_ == TimedState::kPassed || state_ == TimedState::kFailed ||
           state_ == TimedState::kError;
  }

 protected:
  // The "after %s" interval text from the start to `now`.
  std::string After(const ACE_Time_Value& now) const;
  // Ends the statement in `state` at `now`.
  void Finish(TimedState state, const ACE_Time_Value& now);

  StatementContext* const context_;
  const LogPlace place_;
  const std::string tag_;
  const Comparison comparison_;
  const TimedRole role_;
  const double expected_;
  const ACE_Time_Value start_offset_;
  const ACE_Time_Value end_offset_;
  double last_value_ = 0;
  TimedState state_ = TimedState::kCreated;
  ACE_Time_Value started_at_;
  ACE_Time_Value window_start_;
  ACE_Time_Value window_end_;
  ACE_Time_Value finished_at_;
};

// A plain wait of the block (BDELAY): passes when its delay has run out.
class CScenarioStmtWaitAsync : public CScenarioStatementAsync {
 public:
  CScenarioStmtWaitAsync(StatementContext* context, const ACE_Time_Value& delay);
  TimedState Poll(const ACE_Time_Value& now) override;
};

// The statements collected since the last non-timed line; they start
// together at the block's first poll.
class CScenarioTimedBlock {
 public:
  void Add(std::unique_ptr<CScenarioStatementAsync> statement);
  // Sets the start time at the first call; polls every statement with `now`
  // when `now` is not before the start time.
  void Poll(const ACE_Time_Value& now);
  bool AnyActive() const;
  bool AllFinished() const;  // true for an empty block
  bool Empty() const { return statements_.empty(); }
  void Clear();

 private:
  std::vector<std::unique_ptr<CScenarioStatementAsync>> statements_;
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
