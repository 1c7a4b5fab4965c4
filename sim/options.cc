#include "options.h"

#include "text.h"

namespace zl::sim {

const char* Usage() {
  return "usage: zelvik-sim [--db NAME]... [--host NAME] [--tags FILE]... [--ior-dir DIR]\n"
         "                  [--legacy] [--event-service REF] [--control PORT] [--verbose]\n"
         "                  [ORB options...]\n";
}

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  Options out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return false;
      }
      *into = args[++i];
      return true;
    };
    std::string v;
    if (a == "--db") {
      if (!value(&v)) return false;
      if (v.empty()) {
        *error = "--db needs a non-empty name";
        return false;
      }
      out.databases.push_back(v);
    } else if (a == "--host") {
      if (!value(&out.host)) return false;
    } else if (a == "--tags") {
      if (!value(&v)) return false;
      out.tag_files.push_back(v);
    } else if (a == "--ior-dir") {
      if (!value(&out.ior_dir)) return false;
    } else if (a == "--legacy") {
      out.legacy = true;
    } else if (a == "--verbose") {
      out.verbose = true;
    } else if (a == "--event-service") {
      if (!value(&out.event_service)) return false;
    } else if (a == "--control") {
      if (!value(&v)) return false;
      long long port = 0;
      if (!ParseLong(v, 0, 65535, &port)) {
        *error = "--control needs a port number from 0 to 65535, not '" + v + "'";
        return false;
      }
      out.control_port = static_cast<int>(port);
    } else if (a.compare(0, 4, "-ORB") == 0) {
      out.orb_args.push_back(a);
      // Every ORB option of omniORB takes one value.
      if (i + 1 < args.size()) out.orb_args.push_back(args[++i]);
    } else {
      *error = "unknown option '" + a + "'";
      return false;
    }
  }
  if (out.databases.empty()) out.databases.push_back("SIM");
  *options = std::move(out);
  return true;
}

}  // namespace zl::sim
