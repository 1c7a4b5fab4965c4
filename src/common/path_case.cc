#include "common/path_case.h"

#include <strings.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace zl {
namespace {

namespace fs = std::filesystem;

// The entry of `dir` named `name` ignoring case; "" when none.
std::string FindEntry(const std::string& dir, const std::string& name) {
  std::error_code ec;
  const fs::path base = dir.empty() ? fs::path(".") : fs::path(dir);
  if (fs::exists(base / name, ec)) return name;
  std::string best;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (strcasecmp(entry.c_str(), name.c_str()) == 0 && (best.empty() || entry < best))
      best = entry;
  }
  return best;
}

}  // namespace

std::string ResolvePathCase(const std::string& path) {
  std::string out;
  bool resolving = true;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(start, slash - start);
    if (resolving && !part.empty() && part != "." && part != "..") {
      const std::string found = FindEntry(out, part);
      if (found.empty()) resolving = false;
      else part = found;
    }
    out += part;
    if (slash < path.size()) out += '/';
    start = slash + 1;
  }
  return out;
}

}  // namespace zl
