// A connection to the stand-in server's control endpoint (a line protocol on
// 127.0.0.1, docs/zelvik-sim.md): commands go out one per line, each gets
// one reply line. The benchmarks use it to make the server publish messages
// and to read its counters.
//
// Threads: one user at a time; no lock of its own.
#ifndef ZL_BENCH_CONTROL_LINK_H_
#define ZL_BENCH_CONTROL_LINK_H_

#include <cstdint>
#include <string>
#include <vector>

namespace zl::bench {

class ControlLink {
 public:
  ControlLink() = default;
  ~ControlLink();
  ControlLink(const ControlLink&) = delete;
  ControlLink& operator=(const ControlLink&) = delete;

  // Connects to 127.0.0.1:`port`; a reply that takes longer than 30 s counts
  // as a failure. False, with the reason in `error`, when it cannot connect.
  bool Open(int port, std::string* error);

  // Sends `commands` in one write and reads their replies, in order. False
  // when the connection fails or a reply is missing; `replies` then holds
  // those that arrived.
  bool Send(const std::vector<std::string>& commands, std::vector<std::string>* replies);

  // One command, one reply ("" when none arrived).
  std::string Command(const std::string& command);

  // The value of `key=` in the reply to "status"; -1 when it is missing.
  int64_t StatusValue(const std::string& key);

 private:
  bool ReadLine(std::string* line);

  int fd_ = -1;
  std::string pending_;  // bytes received after the last complete line
};

}  // namespace zl::bench

#endif  // ZL_BENCH_CONTROL_LINK_H_
