// The static check of a scenario file (scenario/scenario_check.h) on a file
// of kLines lines: what an editor or `zl check` waits for. Needs no server.
//
// BM_CheckScenario/0 checks without tags, /1 with a tag set of kTags names
// (every tag operand, list item and name in an expression looked up). The
// file mixes the statements of real scenarios: tag commands with groups,
// checks with tag lists and expressions, timed blocks, waits with
// conditions, labels and jumps, comments, and calls of a subtest of its own
// (a tenth of the lines) with arguments. Counters: the lines checked per
// second and the time per 10,000 lines (ms_per_10k).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scenario/scenario_check.h"

namespace zl::bench {
namespace {

constexpr int kLines = 10000;
constexpr int kTags = 2000;

std::string Tag(int i) { return "TAG" + std::to_string(i % kTags); }

// Writes the scenario and its subtest into `dir`; the scenario's path.
std::string WriteFiles(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  std::ofstream sub(dir / "sub.scn");
  for (int i = 0; i < kLines / 10; ++i) {
    sub << "SETPVE $1 (" << Tag(i) << " + " << i << ")\n" << "VERIFY $1 $2\n";
  }
  std::ofstream out(dir / "main.scn");
  int lines = 0;
  for (int i = 0; lines < kLines; ++i) {
    out << "# step " << i << "\n"
        << ":STEP" << i << "\n"
        << "SETPVE " << Tag(i) << " " << i % 100 << "\n"
        << "VERIFY " << Tag(i) << "," << Tag(i + 1) << " (" << Tag(i + 2) << " * 2)\n"
        << "TVERIFY_GT " << Tag(i) << " 10 0 15\n"
        << "TASSERT " << Tag(i + 3) << " 1 (" << Tag(i) << "/10) 30\n"
        << "BEND\n"
        << "DELAYSECS 10 (" << Tag(i) << " > 5 AND NOT " << Tag(i + 4) << ")\n"
        << "COMMENT step " << i << " at (" << Tag(i) << ")\n"
        << "GOTO :STEP" << i + 1 << " (" << Tag(i) << " < 0)\n";
    lines += 10;
  }
  out << ":STEP" << kLines / 10 << "\n@SUB.SCN " << Tag(7) << " 5\n";
  return (dir / "main.scn").string();
}

void BM_CheckScenario(benchmark::State& state) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("zl_check_bench_" + std::to_string(::getpid()));
  const std::string path = WriteFiles(dir);
  CheckOptions options;
  options.arguments = std::vector<std::string>{};
  if (state.range(0) != 0) {
    TagSet tags;
    for (int i = 0; i < kTags; ++i) tags.Add(Tag(i));
    options.tags = tags;
  }
  std::size_t found = 0;
  for (auto _ : state) {
    const std::vector<Diagnostic> diagnostics = CheckScenario(path, options);
    found = diagnostics.size();
    benchmark::DoNotOptimize(found);
  }
  std::filesystem::remove_all(dir);
  // The file is clean: a finding would mean the benchmark checks errors.
  if (found != 0) state.SkipWithError("the benchmark's scenario has findings");
  const double lines = static_cast<double>(kLines + kLines / 5);
  const double read = lines * static_cast<double>(state.iterations());
  state.counters["lines_per_s"] = benchmark::Counter(read, benchmark::Counter::kIsRate);
  state.counters["ms_per_10k"] = benchmark::Counter(
      read / 1e4 / 1e3, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CheckScenario)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zl::bench

BENCHMARK_MAIN();
