// A virtual clock for running the scenario engine without real waits: it
// starts at the real time of its construction, and each Sleep advances it at
// once, so DELAY, EDGE, SIMWAIT steps, timed blocks and question time-outs
// take no real time. Used by the statement tests and the scenario fuzz
// target; a subclass may follow the clock's moves (PlantClock runs the
// in-process server's plant on the virtual time).
//
// Threads: any thread may read it; the scenario's worker sleeps on it. The
// time is guarded by mu_.
#ifndef ZL_TESTS_SUPPORT_VIRTUAL_CLOCK_H_
#define ZL_TESTS_SUPPORT_VIRTUAL_CLOCK_H_

#include <ace/Time_Value.h>

#include <mutex>

#include "scenario/clock.h"

namespace zl::testing {

class VirtualClock : public Clock {
 public:
  // When the sleeps have advanced the clock by more than `budget_seconds`,
  // the sleeping thread is asked to stop (a cancellation in the thread
  // manager, which the scenario loop obeys) and later sleeps return at once.
  // A budget of 0 or less means no budget.
  explicit VirtualClock(double budget_seconds = 0);
  ~VirtualClock() override = default;

  ACE_Time_Value Now() const override;
  void Sleep(const ACE_Time_Value& duration) const override;

  // Moves the clock forward by `duration` without sleeping (a test's host
  // thread answering late, for example).
  void Advance(const ACE_Time_Value& duration);
  // The sum of all sleeps and advances so far.
  ACE_Time_Value Elapsed() const;

 protected:
  // Called after each move of the clock (a Sleep or an Advance) with the
  // time it moved, on the thread that moved it, without mu_ held.
  virtual void Moved(const ACE_Time_Value& moved) const {}

 private:
  const ACE_Time_Value start_;
  const ACE_Time_Value budget_;  // zero: none
  mutable std::mutex mu_;
  mutable ACE_Time_Value now_;       // guarded by mu_
  mutable bool over_budget_ = false;  // guarded by mu_
};

}  // namespace zl::testing

#endif  // ZL_TESTS_SUPPORT_VIRTUAL_CLOCK_H_
