// The calculation loop of one database: a thread that runs a calculation
// cycle of `cycle time` simulation seconds every cycle time / warp factor
// real seconds (at most one cycle per millisecond), unless a client holds
// the loop (AcquireLoop) or the loop is stopped.
//
// Thread-safe: mu_ guards the timing parameters and the hold; the loop
// thread calls the database without holding mu_.
#ifndef ZL_SIM_SIMULATION_LOOP_H_
#define ZL_SIM_SIMULATION_LOOP_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zl::sim {

class TagDatabase;

class SimulationLoop {
 public:
  static constexpr double kMinCycleTime = 0.001;
  static constexpr double kMaxCycleTime = 3600;
  static constexpr double kMinWarp = 0.001;
  static constexpr double kMaxWarp = 10000;
  // A hold with no AcquireLoop or ReleaseLoop for this long lapses (its
  // client has most likely gone).
  static constexpr std::chrono::seconds kHoldLapse{60};

  // `db` must outlive the loop.
  explicit SimulationLoop(TagDatabase* db);
  ~SimulationLoop();  // stops the thread
  SimulationLoop(const SimulationLoop&) = delete;
  SimulationLoop& operator=(const SimulationLoop&) = delete;

  void Start();
  // Ends the thread and waits for it; idempotent.
  void Stop();

  // For a loop whose thread was never started: runs, on the caller's
  // thread, the cycles that `elapsed` of real time would have run on the
  // thread (none while a client holds the loop), and carries the rest of a
  // period over to the next call; a new cycle time or warp factor starts a
  // new period. Tests drive a plant from a virtual clock with it.
  void Advance(std::chrono::steady_clock::duration elapsed);

  double CycleTime() const;
  // Sets the cycle time when it lies in [kMinCycleTime, kMaxCycleTime];
  // gives false (and changes nothing) otherwise.
  bool SetCycleTime(double seconds);
  double Warp() const;
  bool SetWarp(double factor);

  void Acquire();
  void Release();
  bool Held() const;

 private:
  void Run();
  std::chrono::steady_clock::duration Period() const;  // mu_ held

  TagDatabase* const db_;

  mutable std::mutex mu_;
  std::condition_variable cv_;
  // Guarded by mu_:
  double cycle_time_ = 1.0;
  double warp_ = 1.0;
  int holds_ = 0;
  std::chrono::steady_clock::time_point hold_touched_;
  bool stop_ = false;
  bool changed_ = false;  // timing changed: the thread recomputes its deadline
  std::chrono::steady_clock::duration advanced_{};  // Advance: time not yet cycled

  std::thread thread_;  // started by Start, joined by Stop
};

}  // namespace zl::sim

#endif  // ZL_SIM_SIMULATION_LOOP_H_
