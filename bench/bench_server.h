// The server the benchmarks measure: zelvik-sim reached through the Naming
// Service named in $ZL_ORB_OPTIONS (tools/zl_services.py sets it), with a
// set of plain tags (no algorithm, so only the benchmarks' writes change
// them). One per process, set up once by main before any benchmark runs and
// used read-only afterwards (from the benchmark thread and ORB threads).
#ifndef ZL_BENCH_BENCH_SERVER_H_
#define ZL_BENCH_BENCH_SERVER_H_

#include <omniORB4/CORBA.h>

#include <string>
#include <vector>

#include "bench_tags.h"
#include "zemr.hh"

namespace zl::bench {

class BenchServer {
 public:
  // Starts the ORB (on loopback, its POA active for consumer servants),
  // finds the database and creates the benchmark tags (bench_tags.h). Gives false with a
  // message in `error` when any of that fails.
  static bool Connect(int* argc, char** argv, std::string* error);
  // Valid after a successful Connect.
  static BenchServer& Get();

  CORBA::ORB_ptr orb() const { return orb_; }
  PortableServer::POA_ptr poa() const { return poa_; }
  ZEMR::ZelvikDatabase2_ptr db() const { return db_; }
  const std::vector<std::string>& tags() const { return tags_; }

  // Ends the ORB; called once by main after the benchmarks.
  void Shutdown();

 private:
  CORBA::ORB_var orb_;
  PortableServer::POA_var poa_;
  ZEMR::ZelvikDatabase2_var db_;
  std::vector<std::string> tags_;
};

}  // namespace zl::bench

#endif  // ZL_BENCH_BENCH_SERVER_H_
