// The checksum of a scenario file or of a test log section: the scenario
// digest over the file's statement lines. What it covers is described in
// docs/scenario-digest.md.
#ifndef ZL_COMMON_FILE_CHECKSUM_H_
#define ZL_COMMON_FILE_CHECKSUM_H_

#include <cstdio>
#include <string>

#include "common/digest.h"

namespace zl {

// The digest (32 lower-case hexadecimal digits) of the text of `file` from
// `start_offset` to its end, read in text mode (CR LF reads as LF) in pieces
// of a line each, at most 2047 characters; every piece whose first character
// is not '#' is fed, line feed included. The file must be open for reading;
// its position is restored afterwards. Gives "" when `file` is null, when its
// position cannot be read, or when it cannot be moved to `start_offset`.
// Not thread-safe for the same FILE.
std::string FileChecksum(std::FILE* file, long start_offset,
                         const DigestState& initial = kScenarioDigestState);

}  // namespace zl

#endif  // ZL_COMMON_FILE_CHECKSUM_H_
