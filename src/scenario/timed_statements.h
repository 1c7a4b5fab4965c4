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

namespace zl {

class CZLScenario;

// One timed verification, assertion or monitor of one tag.
// States: 0 created, 1 before the window (precheck pending), 2 in the
// window, 3 passed, 4 failed, 5 error (tag missing, communication failure).
class CScenarioStatementAsync {
 public:
  // `kind` 0..6 (6 TMONITOR); `verification` set for TVERIFY keywords and
  // TMONITOR; the offsets count from the block's starting moment.
  CScenarioStatementAsync(CZLScenario* scenario, std::string tag, int kind, double expected,
                          bool verification, const ACE_Time_Value& start_offset,
                          const ACE_Time_Value& end_offset);
  virtual ~CScenarioStatementAsync();
  CScenarioStatementAsync(const CScenarioStatementAsync&) = delete;
  CScenarioStatementAsync& operator=(const CScenarioStatementAsync&) = delete;

  // Advances the statement to `now`; returns the state.
  virtual int Poll(const ACE_Time_Value& now);
  // Reads the tag and compares; true when the condition holds. A missing tag
  // or a communication failure sets state 5, counts and reports it.
  virtual bool Check();

  int state() const { return state_; }
  bool active() const { return state_ == 1 || state_ == 2; }
  bool finished() const { return state_ >= 3; }

 protected:
  // The "after %s" interval text from the start to `now`.
  std::string After(const ACE_Time_Value& now) const;

  std::string tag_;
  int kind_ = 0;
  double expected_ = 0;
  unsigned char verification_ = 0;
  ACE_Time_Value start_offset_;
  ACE_Time_Value end_offset_;
  std::string operator_text_;
  CZLScenario* scenario_ = nullptr;
  double last_value_ = 0;
  int state_ = 0;
  int previous_state_ = 0;
  ACE_Time_Value started_at_;
  ACE_Time_Value window_start_;
  ACE_Time_Value window_end_;
  ACE_Time_Value finished_at_;
};

// A plain wait of the block (BDELAY): passes when its delay has run out.
class CScenarioStmtWaitAsync : public CScenarioStatementAsync {
 public:
  CScenarioStmtWaitAsync(CZLScenario* scenario, const ACE_Time_Value& delay);
  int Poll(const ACE_Time_Value& now) override;
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

}  // namespace zl

#endif  // ZL_SCENARIO_TIMED_STATEMENTS_H_
