// What a timed block (timed_statements.h) holds: statements that take time,
// counted from the block's starting moment, and that the statement loop
// polls every 100 ms until each has finished. A timed check (TVERIFY and its
// family) is one kind; a plain wait (BDELAY) another; a timed action would
// be a third. Each kind says only what it does at a poll.
//
// Threads: a statement belongs to one scenario's worker and is created,
// polled and destroyed only by it.
#ifndef ZL_SCENARIO_TIMED_STATEMENT_H_
#define ZL_SCENARIO_TIMED_STATEMENT_H_

#include <ace/Time_Value.h>

namespace zl {

// Where a timed statement is.
enum class TimedState {
  kCreated,       // not started: its block has not been polled yet
  kBeforeWindow,  // started; a check's precheck waits for the window's start
  kInWindow,      // running
  kPassed,        // finished: held, or the wait is over
  kFailed,
  kError,  // a check's tag is missing or the server failed
};

class TimedStatement {
 public:
  virtual ~TimedStatement() = default;
  TimedStatement(const TimedStatement&) = delete;
  TimedStatement& operator=(const TimedStatement&) = delete;

  // Advances the statement to `now` and returns its state. The block's
  // first poll starts it (kCreated: `now` is the block's starting moment);
  // a finished statement only returns its state.
  virtual TimedState Poll(const ACE_Time_Value& now) = 0;

  TimedState state() const { return state_; }
  bool active() const {
    return state_ == TimedState::kBeforeWindow || state_ == TimedState::kInWindow;
  }
  bool finished() const {
    return state_ == TimedState::kPassed || state_ == TimedState::kFailed ||
           state_ == TimedState::kError;
  }

 protected:
  TimedStatement() = default;
  // Ends the statement in `state` (a final one) at `now`.
  void Finish(TimedState state, const ACE_Time_Value& now) {
    state_ = state;
    finished_at_ = now;
  }

  TimedState state_ = TimedState::kCreated;
  ACE_Time_Value finished_at_;
};

}  // namespace zl

#endif  // ZL_SCENARIO_TIMED_STATEMENT_H_
