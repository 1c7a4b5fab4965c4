#include "support/virtual_clock.h"

#include <ace/OS_NS_sys_time.h>
#include <ace/Thread.h>
#include <ace/Thread_Manager.h>

#include <cmath>

namespace zl::testing {
namespace {

ACE_Time_Value Seconds(double s) {
  if (!(s > 0)) return ACE_Time_Value::zero;
  const double whole = std::floor(s);
  return ACE_Time_Value(static_cast<time_t>(whole),
                        static_cast<suseconds_t>((s - whole) * 1e6));
}

}  // namespace

VirtualClock::VirtualClock(double budget_seconds)
    : start_(ACE_OS::gettimeofday()), budget_(Seconds(budget_seconds)), now_(start_) {}

ACE_Time_Value VirtualClock::Now() const {
  std::lock_guard<std::mutex> lock(mu_);
  return now_;
}

void VirtualClock::Sleep(const ACE_Time_Value& duration) const {
  if (!(duration > ACE_Time_Value::zero)) return;
  bool cancel = false;
  ACE_Time_Value moved;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (over_budget_) return;
    // A step longer than the budget ends the run at once, and keeps the sum
    // from overflowing.
    const bool too_long = budget_ != ACE_Time_Value::zero && duration > budget_;
    moved = too_long ? budget_ + ACE_Time_Value(0, 1) : duration;
    now_ += moved;
    if (budget_ != ACE_Time_Value::zero && now_ - start_ > budget_) {
      over_budget_ = true;
      cancel = true;
    }
  }
  Moved(moved);
  if (cancel) ACE_Thread_Manager::instance()->cancel(ACE_Thread::self());
}

void VirtualClock::Advance(const ACE_Time_Value& duration) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    now_ += duration;
  }
  if (duration > ACE_Time_Value::zero) Moved(duration);
}

ACE_Time_Value VirtualClock::Elapsed() const {
  std::lock_guard<std::mutex> lock(mu_);
  return now_ - start_;
}

}  // namespace zl::testing
