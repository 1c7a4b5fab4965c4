// The time source of the scenario engine: every stamp, deadline and wait of
// a scenario asks a Clock, so that tests and fuzzing can run the engine on a
// virtual time in which waits take no real time.
//
// Threads: RealClock is stateless and shared by every worker. A virtual
// clock (tests/support) belongs to the one worker that runs its scenario.
#ifndef ZL_SCENARIO_CLOCK_H_
#define ZL_SCENARIO_CLOCK_H_

#include <ace/Time_Value.h>

namespace zl {

class Clock {
 public:
  virtual ~Clock() = default;
  // The wall-clock time now.
  virtual ACE_Time_Value Now() const = 0;
  // Blocks the calling worker for `duration` (nothing for a duration of
  // zero or less). A stop request is seen by the caller afterwards.
  virtual void Sleep(const ACE_Time_Value& duration) const = 0;
};

// The system clock and real sleeps; what every scenario uses unless told
// otherwise.
class RealClock : public Clock {
 public:
  // The one shared instance.
  static const RealClock* Instance();
  ACE_Time_Value Now() const override;
  void Sleep(const ACE_Time_Value& duration) const override;
};

}  // namespace zl

#endif  // ZL_SCENARIO_CLOCK_H_
