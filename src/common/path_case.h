// Resolves paths whose letters were upper-cased by the command languages
// (log set FILE paths, subtest names, stored-value stems) on a file system
// that distinguishes case.
//
// Stateless; safe from any thread (reads the directories it walks).
#ifndef ZL_COMMON_PATH_CASE_H_
#define ZL_COMMON_PATH_CASE_H_

#include <string>

namespace zl {

// `path` with each component replaced by an existing entry of its parent
// directory whose name equals it ignoring case (an exact match wins; among
// several others the first in name order). From the first component that
// has no such entry on, the components stay as given, so that what is
// created later gets the name as written. "." and ".." and empty components
// (repeated or leading slashes) are kept. "" gives "".
std::string ResolvePathCase(const std::string& path);

}  // namespace zl

#endif  // ZL_COMMON_PATH_CASE_H_
