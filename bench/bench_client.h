// The client the client benchmarks measure: one zl::ZLSim connected to the
// stand-in server named in $ZL_DATABASES through the Naming Service in
// $ZL_ORB_OPTIONS (tools/zl_services.py sets both), with the benchmark tags
// (bench_tags.h), and a link to the server's control endpoint
// ($ZL_CONTROL_PORT). One per process, set up once by main before any
// benchmark runs; used from the benchmark thread only.
#ifndef ZL_BENCH_BENCH_CLIENT_H_
#define ZL_BENCH_BENCH_CLIENT_H_

#include <memory>
#include <string>
#include <vector>

#include "bench_tags.h"
#include "broker/zl_sim.h"
#include "control_link.h"

namespace zl::bench {

class BenchClient {
 public:
  // Pins the client ORB to loopback (Zelvik_Interface=127.0.0.1), makes the
  // process's first ZLSim with the services' ORB options, connects it,
  // creates the benchmark tags and opens the control link. Gives false with
  // a message in `error` when any of that fails.
  static bool Connect(std::string* error);
  // Valid after a successful Connect.
  static BenchClient& Get();

  ZLSim& sim() { return *sim_; }
  ControlLink& control() { return control_; }
  const std::vector<std::string>& tags() const { return tags_; }

  // Disconnects and destroys the client; called once by main after the
  // benchmarks (the ORB itself is shut down by the library at exit).
  void Shutdown();

 private:
  std::unique_ptr<ZLSim> sim_;
  ControlLink control_;
  std::vector<std::string> tags_;
};

}  // namespace zl::bench

#endif  // ZL_BENCH_BENCH_CLIENT_H_
