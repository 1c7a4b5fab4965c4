#include "virtual_clock.h"

#include <ace/Thread.h>
#include <ace/Thread_Manager.h>
#include <sys/time.h>
#include <time.h>

#include <cerrno>
#include <cstdint>

namespace zl::fuzz {
namespace {

struct ClockState {
  bool active = false;
  bool cancelled = false;
  int64_t start_us = 0;
  int64_t now_us = 0;
  int64_t budget_us = 0;
};
thread_local ClockState t_clock;

int64_t RealMicros() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

}  // namespace

void StartVirtualClock(double budget_seconds) {
  t_clock = ClockState{};
  t_clock.start_us = t_clock.now_us = RealMicros();
  t_clock.budget_us = static_cast<int64_t>(budget_seconds * 1e6);
  t_clock.active = true;
}

void StopVirtualClock() { t_clock.active = false; }

}  // namespace zl::fuzz

using zl::fuzz::t_clock;

extern "C" int gettimeofday(struct timeval* tv, void*) {
  const int64_t us = t_clock.active ? t_clock.now_us : zl::fuzz::RealMicros();
  tv->tv_sec = static_cast<time_t>(us / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(us % 1000000);
  return 0;
}

extern "C" int nanosleep(const struct timespec* req, struct timespec* rem) {
  if (req == nullptr || req->tv_nsec < 0 || req->tv_nsec >= 1000000000 || req->tv_sec < 0) {
    errno = EINVAL;
    return -1;
  }
  if (!t_clock.active) {
    const int rc = clock_nanosleep(CLOCK_REALTIME, 0, req, rem);
    if (rc == 0) return 0;
    errno = rc;
    return -1;
  }
  if (rem != nullptr) *rem = timespec{};
  if (t_clock.cancelled) return 0;
  // Anything longer than the budget ends the run; this also keeps the sum
  // below from overflowing.
  const int64_t step = req->tv_sec > t_clock.budget_us / 1000000
                           ? t_clock.budget_us + 1
                           : static_cast<int64_t>(req->tv_sec) * 1000000 + req->tv_nsec / 1000;
  t_clock.now_us += step;
  if (t_clock.now_us - t_clock.start_us > t_clock.budget_us) {
    t_clock.cancelled = true;
    ACE_Thread_Manager::instance()->cancel(ACE_Thread::self());
  }
  return 0;
}
