#include "simulation_loop.h"

#include <cmath>
#include <string>

#include "tag_database.h"

namespace zl::sim {

using Clock = std::chrono::steady_clock;

SimulationLoop::SimulationLoop(TagDatabase* db) : db_(db) {}

SimulationLoop::~SimulationLoop() { Stop(); }

void SimulationLoop::Start() {
  std::lock_guard<std::mutex> lock(mu_);
  if (thread_.joinable() || stop_) return;
  thread_ = std::thread(&SimulationLoop::Run, this);
}

void SimulationLoop::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void SimulationLoop::Advance(Clock::duration elapsed) {
  std::unique_lock<std::mutex> lock(mu_);
  advanced_ += elapsed;
  for (;;) {
    const Clock::duration period = Period();
    if (advanced_ < period) return;
    advanced_ -= period;
    if (holds_ > 0) {
      advanced_ %= period;  // a hold skips every cycle it spans
      return;
    }
    const double dt = cycle_time_;
    lock.unlock();
    db_->RunCycle(dt, false);
    lock.lock();
  }
}

Clock::duration SimulationLoop::Period() const {
  const double seconds = std::fmax(cycle_time_ / warp_, 0.001);
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

double SimulationLoop::CycleTime() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cycle_time_;
}

bool SimulationLoop::SetCycleTime(double seconds) {
  if (!(seconds >= kMinCycleTime && seconds <= kMaxCycleTime)) return false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    cycle_time_ = seconds;
    changed_ = true;
    advanced_ = Clock::duration::zero();
  }
  cv_.notify_all();
  return true;
}

double SimulationLoop::Warp() const {
  std::lock_guard<std::mutex> lock(mu_);
  return warp_;
}

bool SimulationLoop::SetWarp(double factor) {
  if (!(factor >= kMinWarp && factor <= kMaxWarp)) return false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    warp_ = factor;
    changed_ = true;
    advanced_ = Clock::duration::zero();
  }
  cv_.notify_all();
  return true;
}

void SimulationLoop::Acquire() {
  std::lock_guard<std::mutex> lock(mu_);
  ++holds_;
  hold_touched_ = Clock::now();
}

void SimulationLoop::Release() {
  std::lock_guard<std::mutex> lock(mu_);
  if (holds_ > 0) --holds_;
  hold_touched_ = Clock::now();
}

bool SimulationLoop::Held() const {
  std::lock_guard<std::mutex> lock(mu_);
  return holds_ > 0;
}

void SimulationLoop::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  Clock::time_point last = Clock::now();
  while (!stop_) {
    const Clock::time_point next = last + Period();
    // Wakes for a stop or a timing change; a changed period applies from
    // the last cycle on.
    cv_.wait_until(lock, next, [this] { return stop_ || changed_; });
    if (stop_) break;
    if (changed_) {
      changed_ = false;
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (now < next) continue;
    // After a long stall (a stopped process, a busy machine) start afresh
    // instead of running a burst of late cycles.
    last = now - next > std::chrono::seconds(1) ? now : next;
    if (holds_ > 0) {
      if (now - hold_touched_ > kHoldLapse) {
        holds_ = 0;
        lock.unlock();
        db_->Notify(MessageType::kWarning, "AcquireLoop",
                    "Loop hold lapsed after " + std::to_string(kHoldLapse.count()) +
                        " s without ReleaseLoop");
        lock.lock();
      }
      continue;
    }
    const double dt = cycle_time_;
    lock.unlock();
    db_->RunCycle(dt, false);
    lock.lock();
  }
}

}  // namespace zl::sim
