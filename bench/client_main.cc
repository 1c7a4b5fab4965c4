// The client benchmarks: connects a simulator client to the services, then
// runs every registered benchmark (Google Benchmark's own options apply).
#include <benchmark/benchmark.h>

#include <iostream>
#include <string>

#include "bench_client.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string error;
  if (!zl::bench::BenchClient::Connect(&error)) {
    std::cerr << "zl_client_bench: " << error << "\n";
    return 2;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  zl::bench::BenchClient::Get().Shutdown();
  return 0;
}
