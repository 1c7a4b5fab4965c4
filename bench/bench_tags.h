// The tags every benchmark works on: plain analog tags (no algorithm, so only
// the benchmarks' writes change them) named BENCH0000, BENCH0001, ...
// Header only; stateless.
#ifndef ZL_BENCH_BENCH_TAGS_H_
#define ZL_BENCH_BENCH_TAGS_H_

#include <cstdio>
#include <string>
#include <vector>

namespace zl::bench {

constexpr int kBenchTagCount = 1000;

// The names, in order.
inline std::vector<std::string> BenchTagNames() {
  std::vector<std::string> names;
  for (int i = 0; i < kBenchTagCount; ++i) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "BENCH%04d", i);
    names.emplace_back(tag);
  }
  return names;
}

// Tag definition lines for Download: name, no driver, no address, type
// (docs/zelvik-sim.md).
inline std::string BenchTagDefinitions(const std::vector<std::string>& names) {
  std::string definitions;
  for (const std::string& name : names) definitions += name + "\t\t\tAnalog\n";
  return definitions;
}

}  // namespace zl::bench

#endif  // ZL_BENCH_BENCH_TAGS_H_
