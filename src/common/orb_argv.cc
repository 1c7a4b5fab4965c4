#include "common/orb_argv.h"

#include <strings.h>

namespace zl {

bool NamesOrbEndpoint(const std::vector<std::string>& words) {
  for (const std::string& w : words) {
    if (strcasecmp(w.c_str(), "-ORBendPoint") == 0 ||
        strcasecmp(w.c_str(), "-ORBendPointNoPublish") == 0) {
      return true;
    }
  }
  return false;
}

void AddOrbEndpoint(std::vector<std::string>* words, const std::string& endpoint) {
  words->push_back("-ORBendPoint");
  words->push_back(endpoint);
}

CORBA::ORB_ptr InitOrbWithWords(const std::vector<std::string>& words) {
  std::vector<std::string> copy = words;
  std::vector<char*> argv;
  for (std::string& w : copy) argv.push_back(&w[0]);
  int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);
  // omniORB accepts no other ORB identifier (any other raises INITIALIZE).
  return CORBA::ORB_init(argc, argv.data(), "omniORB4");
}

}  // namespace zl
