// A per-thread virtual clock for the scenario target: on a thread that has
// started it, the wall clock the scenario engine reads (gettimeofday) and
// its sleeps (nanosleep) use a virtual time that each sleep advances at
// once, so DELAY, EDGE, timed blocks and question time-outs take no real
// time. Every other thread (the fuzzer's, the ORB's) sees the real clock.
//
// The fuzz binary defines gettimeofday and nanosleep, which take precedence
// over the C library's for every caller in the process.
//
// Threads: all state is thread-local.
#ifndef ZL_FUZZ_VIRTUAL_CLOCK_H_
#define ZL_FUZZ_VIRTUAL_CLOCK_H_

namespace zl::fuzz {

// Starts virtual time on the calling thread at the real time now. When the
// sleeps of the thread have advanced it by more than `budget_seconds`, the
// thread is asked to stop (a cancellation in the thread manager, which the
// scenario loop obeys) and later sleeps return at once.
void StartVirtualClock(double budget_seconds);
// Back to the real clock on the calling thread.
void StopVirtualClock();

}  // namespace zl::fuzz

#endif  // ZL_FUZZ_VIRTUAL_CLOCK_H_
