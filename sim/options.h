// The zelvik-sim command line. Stateless parsing; see docs/zelvik-sim.md.
#ifndef ZL_SIM_OPTIONS_H_
#define ZL_SIM_OPTIONS_H_

#include <string>
#include <vector>

namespace zl::sim {

struct Options {
  std::vector<std::string> databases;  // default {"SIM"}
  std::string host;                    // default: gethostname
  std::vector<std::string> tag_files;
  std::string ior_dir;
  bool legacy = false;
  std::string event_service;
  int control_port = 0;  // 0: a free port
  bool verbose = false;
  std::vector<std::string> orb_args;  // passed to ORB_init as they are
};

// Parses argv[1..]. False, with a reason in `error`, for an unknown option,
// a missing value or a bad port. Words beginning with "-ORB" go to the ORB
// with their value.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// The usage text.
const char* Usage();

}  // namespace zl::sim

#endif  // ZL_SIM_OPTIONS_H_
