// What the memory benchmarks sample of their own process: the resident set
// size (/proc/self/statm) and the number of open file descriptors
// (/proc/self/fd). Header only; stateless; callable from any thread.
#ifndef ZL_BENCH_PROCESS_STATS_H_
#define ZL_BENCH_PROCESS_STATS_H_

#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace zl::bench {

// The resident set size in kB; 0 when /proc cannot be read.
inline double ResidentKB() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0.0;
  unsigned long size = 0, resident = 0;
  const int n = std::fscanf(f, "%lu %lu", &size, &resident);
  std::fclose(f);
  if (n != 2) return 0.0;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

// The open file descriptors (the directory listing's own one included);
// 0 when /proc cannot be read.
inline int OpenFds() {
  std::error_code ec;
  int n = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end;
       it.increment(ec)) {
    ++n;
  }
  return n;
}

}  // namespace zl::bench

#endif  // ZL_BENCH_PROCESS_STATS_H_
