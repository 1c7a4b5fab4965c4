// A scenario against the same server calls made from C++.
//
// BM_ScenarioAgainstLoop writes a scenario of kLines lines, SETPVE and
// VERIFY alternating on one benchmark tag, runs it through the connected
// client's local database (StartScenario, then polls ListScenarios until no
// scenario is left) and times that; then it makes the same kLines server
// calls (SetPVE and PVE alternating) from a C++ loop on ZLSim. Counters: both
// times in milliseconds and their ratio (scenario / loop), which is the cost
// of the interpreter, its output and its thread hand-over per line.
//
// BM_LogSetTick measures what the client timer's tick costs with kLogSets
// log sets of kLogSetTags benchmark tags each: one iteration forces a write
// of every log set (LSSNAP, with ALWAYS so that every item is read and
// written), which is the work of a tick at which all of them are due.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench_client.h"

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
  double scenario_ms = 0.0, loop_ms = 0.0;
  for (auto _ : state) {
    auto start = Clock::now();
    if (sim.localDb().StartScenario(path.c_str(), "") < 0) {
      state.SkipWithError(("cannot start the scenario " + path).c_str());
      std::remove(path.c_str());
      return;
    }
    for (;;) {
      CORBA::String_var running = sim.localDb().ListScenarios();
      if (std::string(running.in()).empty()) break;
      if (Clock::now() - start > kScenarioLimit) {
        state.SkipWithError("scenario still running after the limit");
        std::remove(path.c_str());
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    scenario_ms += std::chrono::duration<double, std::milli>(Clock::now() - start).count();

    start = Clock::now();
    for (int line = 0; line < kLines; line += 2) {
      benchmark::DoNotOptimize(sim.SetPVE(tag.c_str(), line % 100));
      benchmark::DoNotOptimize(sim.PVE(tag.c_str()));
    }
    loop_ms += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  std::remove(path.c_str());
  if (!std::getenv("ZL_BENCH_KEEP_LOG")) std::remove(test_log.c_str());
  if (sim.lastErrorStatus() != 0) {
    state.SkipWithError(sim.lastErrorText().c_str());
    return;
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["scenario_ms"] = scenario_ms / runs;
  state.counters["loop_ms"] = loop_ms / runs;
  state.counters["ratio"] = loop_ms > 0 ? scenario_ms / loop_ms : 0.0;
}
BENCHMARK(BM_ScenarioAgainstLoop)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr int kLogSets = 10;
constexpr int kLogSetTags = 100;

// Sends one log set command; false (and the benchmark skipped) unless the
// reply is `OK`.
bool Command(benchmark::State& state, const std::string& command) {
  CORBA::String_var reply = BenchClient::Get().sim().localDb().LSCmd(command.c_str());
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
    CORBA::String_var reply = BenchClient::Get().sim().localDb().LSCmd(("LSDELETE " + name).c_str());
  }
  std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_LogSetTick)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zl::bench
