#include "scenario/clock.h"

#include <ace/OS_NS_sys_time.h>
#include <ace/OS_NS_unistd.h>

namespace zl {

const RealClock* RealClock::Instance() {
  static const RealClock clock;
  return &clock;
}

ACE_Time_Value RealClock::Now() const { return ACE_OS::gettimeofday(); }

void RealClock::Sleep(const ACE_Time_Value& duration) const {
  if (duration > ACE_Time_Value::zero) ACE_OS::sleep(duration);
}

}  // namespace zl
