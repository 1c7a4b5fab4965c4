// Long runs that must not grow: the process's resident set size (and, for
// log sets, its open file descriptors) sampled while each runs.
//
// BM_GotoLoopMemory/N runs the scenario
//     :LOOP
//     DELAY 0
//     GOTO :LOOP
// for N passes. The loop has no end of its own (a counter in the scenario
// would cost a server round trip per pass); the benchmark reads the
// scenario's line count (`sceLineNumber[0]` of ScenarioInfo: the label once,
// then two lines per pass) every few milliseconds and stops the scenario
// with StopScenario once N passes are done. Counters: RSS in kB before the
// start, at 10% and 50% of the passes, at the stop, its peak over all
// samples, after the scenario has ended, and passes per second.
//
// BM_LogSetHourMemory/N makes the forced writes of N ticks of one second:
// kHourSets log sets of kHourTags tags each (half of them with ALWAYS),
// files in a temporary directory that is removed at the end. Every tick
// first changes every tag (one SetMultiPVE), then writes each log set
// (LSSNAP); every 60th tick also queues a comment per log set. Counters:
// RSS in kB after the log sets were made, after the first 10% of the ticks
// (the ring of recent lines and the ORB's buffers are warm then), at 50%
// and at the end, its peak; the growth in kB per 1000 log set writes from
// the 10% sample to the end; open fds at the start and the end; the bytes
// written; ms per tick.
#include <benchmark/benchmark.h>
#include <stdlib.h>

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
#include "process_stats.h"
#include "support/local_db_access.h"

namespace zl::bench {
namespace {

using Clock = std::chrono::steady_clock;

// How long the loop may run before the benchmark gives up.
constexpr std::chrono::seconds kLoopLimit(900);

std::string TempBase() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp");
}

// The value of `key` ("key\tvalue" lines) in `info`; -1 when absent.
long InfoValue(const std::string& info, const std::string& key) {
  const std::string wanted = key + "\t";
  std::size_t at = 0;
  while (at < info.size()) {
    const std::size_t eol = info.find('\n', at);
    const std::string line = info.substr(at, eol == std::string::npos ? eol : eol - at);
    if (line.compare(0, wanted.size(), wanted) == 0) {
      return std::atol(line.c_str() + wanted.size());
    }
    if (eol == std::string::npos) break;
    at = eol + 1;
  }
  return -1;
}

bool NoScenarioLeft(ZLSim& sim) {
  CORBA::String_var running = testing::LocalDb(sim).ListScenarios();
  return std::string(running.in()).empty();
}

void BM_GotoLoopMemory(benchmark::State& state) {
  ZLSim& sim = BenchClient::Get().sim();
  const long passes_wanted = static_cast<long>(state.range(0));
  const std::string base = TempBase() + "/zl_goto_loop_bench";
  const std::string path = base + ".scn";
  const std::string test_log = base + ".tlg";
  {
    std::ofstream out(path, std::ios::trunc);
    out << ":LOOP\nDELAY 0\nGOTO :LOOP\n";
    if (!out.flush()) {
      state.SkipWithError(("cannot write " + path).c_str());
      return;
    }
  }
  std::string error;
  double rss_start = 0, rss_10 = 0, rss_50 = 0, rss_stop = 0, rss_peak = 0, rss_after = 0;
  double seconds = 0;
  long passes = 0;
  for (auto _ : state) {
    rss_start = rss_peak = ResidentKB();
    const auto start = Clock::now();
    const int id = testing::LocalDb(sim).StartScenario(path.c_str(), "");
    if (id < 0) {
      error = "cannot start the scenario " + path;
      break;
    }
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      const long lines = InfoValue(sim.ScenarioInfo(id), "sceLineNumber[0]");
      const double rss = ResidentKB();
      rss_peak = std::max(rss_peak, rss);
      if (lines < 0) {
        error = "the scenario ended by itself";
        break;
      }
      passes = lines > 0 ? (lines - 1) / 2 : 0;
      if (rss_10 == 0 && passes * 10 >= passes_wanted) rss_10 = rss;
      if (rss_50 == 0 && passes * 2 >= passes_wanted) rss_50 = rss;
      if (passes >= passes_wanted) {
        testing::LocalDb(sim).StopScenario(id);
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        rss_stop = rss;
        break;
      }
      if (Clock::now() - start > kLoopLimit) {
        testing::LocalDb(sim).StopScenario(id);
        error = "fewer passes than wanted within the limit";
        break;
      }
    }
    const auto stopped = Clock::now();
    while (!NoScenarioLeft(sim) && Clock::now() - stopped < std::chrono::seconds(10)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    rss_after = ResidentKB();
  }
  std::remove(path.c_str());
  if (!std::getenv("ZL_BENCH_KEEP_LOG")) std::remove(test_log.c_str());
  if (!error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  state.counters["passes"] = static_cast<double>(passes);
  state.counters["passes_per_s"] = seconds > 0 ? static_cast<double>(passes) / seconds : 0.0;
  state.counters["rss_start_kb"] = rss_start;
  state.counters["rss_10pct_kb"] = rss_10;
  state.counters["rss_50pct_kb"] = rss_50;
  state.counters["rss_stop_kb"] = rss_stop;
  state.counters["rss_peak_kb"] = rss_peak;
  state.counters["rss_after_kb"] = rss_after;
}
// One run each: a repetition would measure the same long run again.
BENCHMARK(BM_GotoLoopMemory)
    ->Arg(1000000)
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

constexpr int kHourSets = 4;
constexpr int kHourTags = 25;

// Sends one log set command; true when the reply is `want`.
bool Command(const std::string& command, const char* want, std::string* error) {
  CORBA::String_var reply = testing::LocalDb(BenchClient::Get().sim()).LSCmd(command.c_str());
  if (std::string(reply.in()) == want) return true;
  *error = command.substr(0, 60) + ": " + reply.in();
  return false;
}

void BM_LogSetHourMemory(benchmark::State& state) {
  ZLSim& sim = BenchClient::Get().sim();
  const std::vector<std::string>& tags = BenchClient::Get().tags();
  const long ticks = static_cast<long>(state.range(0));
  std::string dir_template = TempBase() + "/zl_logset_hour.XXXXXX";
  if (mkdtemp(dir_template.data()) == nullptr) {
    state.SkipWithError(("cannot make a directory like " + dir_template).c_str());
    return;
  }
  const std::filesystem::path dir(dir_template);

  std::string error;
  std::vector<std::string> names;
  std::vector<const char*> tag_names;
  for (int set = 0; set < kHourSets && error.empty(); ++set) {
    names.push_back("HOURSET" + std::to_string(set));
    const std::string& name = names.back();
    std::string items;
    for (int i = 0; i < kHourTags; ++i) {
      const std::string& tag = tags[static_cast<size_t>(set * kHourTags + i) % tags.size()];
      tag_names.push_back(tag.c_str());
      items += (i > 0 ? ", " : "") + tag;
    }
    const char* always = set % 2 == 0 ? "true" : "false";
    Command("LSCREATE " + name, "OK", &error) &&
        Command("LSSET " + name + " FILE " + (dir / (name + ".log")).string(), "OK", &error) &&
        Command("LSSET " + name + " ALWAYS " + always, "OK", &error) &&
        Command("LSADDTAGS " + name + " " + items, "OK", &error);
  }
  const int tag_count = static_cast<int>(tag_names.size());
  std::vector<double> values(tag_names.size());

  double rss_start = 0, rss_10 = 0, rss_50 = 0, rss_end = 0, rss_peak = 0;
  int fds_start = 0, fds_end = 0;
  long writes_at_10 = 0, writes = 0;
  double seconds = 0;
  for (auto _ : state) {
    if (!error.empty()) break;
    rss_start = rss_peak = ResidentKB();
    fds_start = OpenFds();
    const auto start = Clock::now();
    for (long tick = 1; tick <= ticks && error.empty(); ++tick) {
      for (int i = 0; i < tag_count; ++i) values[static_cast<size_t>(i)] = (tick + i) % 100;
      if (sim.SetMultiPVE(tag_names.data(), tag_count, values.data()) < 0) {
        error = "SetMultiPVE: " + sim.lastErrorText();
        break;
      }
      for (const std::string& name : names) {
        if (tick % 60 == 0 && !Command("LSCOMMENT " + name + " minute " + std::to_string(tick / 60),
                                       "", &error)) {
          break;
        }
        if (!Command("LSSNAP " + name, "OK", &error)) break;
        ++writes;
      }
      if (tick % 100 == 0 || tick == ticks) {
        const double rss = ResidentKB();
        rss_peak = std::max(rss_peak, rss);
        if (rss_10 == 0 && tick * 10 >= ticks) {
          rss_10 = rss;
          writes_at_10 = writes;
        }
        if (rss_50 == 0 && tick * 2 >= ticks) rss_50 = rss;
      }
    }
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    rss_end = ResidentKB();
    rss_peak = std::max(rss_peak, rss_end);
    fds_end = OpenFds();
  }

  std::uintmax_t bytes = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    bytes += std::filesystem::file_size(it->path(), ec);
  }
  for (const std::string& name : names) {
    CORBA::String_var reply = testing::LocalDb(sim).LSCmd(("LSDELETE " + name).c_str());
  }
  std::filesystem::remove_all(dir, ec);
  if (!error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  if (bytes == 0) {
    state.SkipWithError("the log sets wrote nothing");
    return;
  }
  const double later_writes = static_cast<double>(writes - writes_at_10);
  state.counters["writes"] = static_cast<double>(writes);
  state.counters["ms_per_tick"] = ticks > 0 ? seconds * 1e3 / static_cast<double>(ticks) : 0.0;
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["rss_start_kb"] = rss_start;
  state.counters["rss_10pct_kb"] = rss_10;
  state.counters["rss_50pct_kb"] = rss_50;
  state.counters["rss_end_kb"] = rss_end;
  state.counters["rss_peak_kb"] = rss_peak;
  state.counters["kb_per_1000_writes"] =
      later_writes > 0 ? (rss_end - rss_10) * 1000.0 / later_writes : 0.0;
  state.counters["fds_start"] = fds_start;
  state.counters["fds_end"] = fds_end;
}
BENCHMARK(BM_LogSetHourMemory)
    ->Arg(3600)
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace zl::bench
