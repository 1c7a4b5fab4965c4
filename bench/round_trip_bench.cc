// Round trips to the server: reading a tag's value (PVE) against TagCount,
// the cheapest operation the server has (no tag lookup, no text). Their
// difference is what the server spends on a PVE beyond the ORB's own cost.
#include <benchmark/benchmark.h>

#include "bench_server.h"

namespace zl::bench {
namespace {

void BM_RoundTripTagCount(benchmark::State& state) {
  ZEMR::ZelvikDatabase2_ptr db = BenchServer::Get().db();
  for (auto _ : state) benchmark::DoNotOptimize(db->TagCount());
}
BENCHMARK(BM_RoundTripTagCount)->UseRealTime();

void BM_RoundTripPVE(benchmark::State& state) {
  ZEMR::ZelvikDatabase2_ptr db = BenchServer::Get().db();
  const char* tag = BenchServer::Get().tags()[kBenchTagCount / 2].c_str();
  for (auto _ : state) benchmark::DoNotOptimize(db->PVE(tag));
}
BENCHMARK(BM_RoundTripPVE)->UseRealTime();

}  // namespace
}  // namespace zl::bench
