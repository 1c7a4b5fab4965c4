// The server benchmarks: connects to the services, then runs every
// registered benchmark (Google Benchmark's own options apply).
#include <benchmark/benchmark.h>

#include <iostream>
#include <string>

#include "bench_server.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string error;
  if (!zl::bench::BenchServer::Connect(&argc, argv, &error)) {
    std::cerr << "zl_server_bench: " << error << "\n";
    return 2;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  zl::bench::BenchServer::Get().Shutdown();
  return 0;
}
