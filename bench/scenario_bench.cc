// A scenario against the same server calls made from C++.
//
// BM_ScenarioAgainstLoop writes a scenario of kLines lines, SETPVE and
// VERIFY alternating on one benchmark tag. One iteration is one round: the
// scenario runs through the connected client's local database
// (StartScenario, then ListScenarios polled until no scenario is left), and
// the same server calls run from a C++ loop on ZLSim; which of the two goes
// first alternates from round to round. The same calls: a SETPVE line is one
// SetPVE; a VERIFY line has the server evaluate its value operand (ZLExpr)
// and then reads the tag (PVE), so the loop makes those two as well.
// Counters: the median wall time of each (ms) and the median of the rounds'
// ratios (scenario / loop), which is the cost of the interpreter, its test
// log and its thread hand-over per line; beside them the same for the
// client process's CPU time (`cpu_ratio`: every thread of the client, the
// ORB's included; the server runs in a process of its own). Pairing the two within a round is
// needed: measured one after the other they differ by more than the cost
// being measured, from the machine's load alone.
//
// BM_LogSetTick measures what the client timer's tick costs with kLogSets
// log sets of kLogSetTags benchmark tags each: one iteration forces a write
// of every log set (LSSNAP, with ALWAYS so that every item is read and
// written), which is the work of a tick at which all of them are due.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_client.h"
#include "support/local_db_access.h"

namespace zl::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLines = 10000;
// How long one scenario run may take before the benchmark gives up.
constexpr std::chrono::seconds kScenarioLimit(300);

// Writes the scenario to `path`; false when the file cannot be written.
bool WriteScenario(const std::string& path, const std::string& tag) {
  std::ofstream out(path, std::ios::trunc);
  for (int line = 0; line < kLines; line += 2) {
    const int value = line % 100;
    out << "SETPVE " << tag << ' ' << value << '\n';
    out << "VERIFY " << tag << ' ' << value << '\n';
  }
  return static_cast<bool>(out.flush());
}

// The median of `samples` (reordered); 0 for none.
double Median(std::vector<double>& samples) {
  if (samples.empty()) return 0.0;
  const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
  std::nth_element(samples.begin(), middle, samples.end());
  return *middle;
}

// CPU time of the whole process, in ms.
double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Runs the scenario at `path` once and waits until it has ended; its wall
// time in ms, or a negative value (with `error` set) when it cannot start or
// is still running after kScenarioLimit.
double RunScenarioOnce(ZLSim& sim, const std::string& path, std::string* error) {
  const auto start = Clock::now();
  if (testing::LocalDb(sim).StartScenario(path.c_str(), "") < 0) {
    *error = "cannot start the scenario " + path;
    return -1.0;
  }
  for (;;) {
    CORBA::String_var running = testing::LocalDb(sim).ListScenarios();
    if (std::string(running.in()).empty()) break;
    if (Clock::now() - start > kScenarioLimit) {
      *error = "scenario still running after the limit";
      return -1.0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The scenario's server calls from C++; wall time in ms. `values` holds the
// texts of the values 0..99 that the VERIFY lines give.
double RunLoopOnce(ZLSim& sim, const std::string& tag, const std::vector<std::string>& values) {
  const auto start = Clock::now();
  for (int line = 0; line < kLines; line += 2) {
    const int value = line % 100;
    benchmark::DoNotOptimize(sim.SetPVE(tag.c_str(), value));
    benchmark::DoNotOptimize(sim.ZLExpr(values[static_cast<size_t>(value)].c_str()));
    benchmark::DoNotOptimize(sim.PVE(tag.c_str()));
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_ScenarioAgainstLoop(benchmark::State& state) {
  ZLSim& sim = BenchClient::Get().sim();
  const std::string& tag = BenchClient::Get().tags()[0];
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/zl_scenario_bench";
  const std::string path = base + ".scn";
  const std::string test_log = base + ".tlg";  // the scenario's test log
  if (!WriteScenario(path, tag)) {
    state.SkipWithError(("cannot write " + path).c_str());
    return;
  }
  std::vector<std::string> values;
  for (int value = 0; value < 100; ++value) values.push_back(std::to_string(value));
  std::vector<double> scenario_ms, loop_ms, ratios, scenario_cpu_ms, loop_cpu_ms, cpu_ratios;
  bool scenario_first = false;
  std::string error;
  for (auto _ : state) {
    scenario_first = !scenario_first;
    double scenario = 0.0, loop = 0.0, scenario_cpu = 0.0, loop_cpu = 0.0;
    for (int turn = 0; turn < 2 && error.empty(); ++turn) {
      const double cpu_start = ProcessCpuMs();
      if ((turn == 0) == scenario_first) {
        scenario = RunScenarioOnce(sim, path, &error);
        scenario_cpu = ProcessCpuMs() - cpu_start;
      } else {
        loop = RunLoopOnce(sim, tag, values);
        loop_cpu = ProcessCpuMs() - cpu_start;
      }
    }
    if (!error.empty()) break;
    scenario_ms.push_back(scenario);
    loop_ms.push_back(loop);
    ratios.push_back(loop > 0 ? scenario / loop : 0.0);
    scenario_cpu_ms.push_back(scenario_cpu);
    loop_cpu_ms.push_back(loop_cpu);
    cpu_ratios.push_back(loop_cpu > 0 ? scenario_cpu / loop_cpu : 0.0);
  }
  std::remove(path.c_str());
  if (!std::getenv("ZL_BENCH_KEEP_LOG")) std::remove(test_log.c_str());
  if (!error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  if (sim.lastErrorStatus() != 0) {
    state.SkipWithError(sim.lastErrorText().c_str());
    return;
  }
  state.counters["scenario_ms"] = Median(scenario_ms);
  state.counters["loop_ms"] = Median(loop_ms);
  state.counters["ratio"] = Median(ratios);
  state.counters["scenario_cpu_ms"] = Median(scenario_cpu_ms);
  state.counters["loop_cpu_ms"] = Median(loop_cpu_ms);
  state.counters["cpu_ratio"] = Median(cpu_ratios);
}
BENCHMARK(BM_ScenarioAgainstLoop)->Iterations(15)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr int kLogSets = 10;
constexpr int kLogSetTags = 100;

// Sends one log set command; false (and the benchmark skipped) unless the
// reply is `OK`.
bool Command(benchmark::State& state, const std::string& command) {
  CORBA::String_var reply = testing::LocalDb(BenchClient::Get().sim()).LSCmd(command.c_str());
  if (std::string(reply.in()) == "OK") return true;
  state.SkipWithError((command.substr(0, 60) + ": " + reply.in()).c_str());
  return false;
}

void BM_LogSetTick(benchmark::State& state) {
  const std::vector<std::string>& tags = BenchClient::Get().tags();
  const char* tmp = std::getenv("TMPDIR");
  const std::filesystem::path dir =
      std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / "zl_logset_bench";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::vector<std::string> names;
  bool ready = true;
  for (int set = 0; set < kLogSets && ready; ++set) {
    names.push_back("BENCHSET" + std::to_string(set));
    const std::string& name = names.back();
    std::string items;
    for (int i = 0; i < kLogSetTags; ++i) {
      if (i > 0) items += ", ";
      items += tags[static_cast<size_t>(set * kLogSetTags + i) % tags.size()];
    }
    ready = Command(state, "LSCREATE " + name) &&
            Command(state, "LSSET " + name + " FILE " + (dir / (name + ".log")).string()) &&
            Command(state, "LSSET " + name + " ALWAYS true") &&
            Command(state, "LSADDTAGS " + name + " " + items);
  }
  if (ready) {
    for (auto _ : state) {
      for (const std::string& name : names) {
        if (!Command(state, "LSSNAP " + name)) break;
      }
    }
  }
  for (const std::string& name : names) {
    CORBA::String_var reply =
        testing::LocalDb(BenchClient::Get().sim()).LSCmd(("LSDELETE " + name).c_str());
  }
  std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_LogSetTick)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zl::bench
