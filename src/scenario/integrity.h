// Integrity checks at the close of a level: the stored "#$CHECK:" checksum of
// each scenario file against the one computed when it was opened, and at the
// end of a run the database-change check and the version lines. Both write
// only when SAFETY turned them on and the test log is open.
//
// Threads: the scenario's worker.
#ifndef ZL_SCENARIO_INTEGRITY_H_
#define ZL_SCENARIO_INTEGRITY_H_

#include <array>
#include <string>

#include "scenario/levels.h"
#include "scenario/statement_context.h"

namespace zl {

// What the checks compare: per nest level, the checksum the file's
// "#$CHECK:" line stores (empty: none read yet) and the one computed when
// the file was opened; the server's database change count at the start.
struct IntegrityState {
  std::array<std::string, kNestLevels> stored;
  std::array<std::string, kNestLevels> computed;
  unsigned changes_at_start = 0;
};

// The checksum of scenario file `name`: `stored` (empty: none stored) against
// `computed`. A missing or invalid one is a statement error.
void ValidateChecksum(StatementContext& ctx, const std::string& stored, const std::string& computed,
                      const char* name);
// Whether the server database changed since its change count was
// `changes_at_start`, and the client's and server's versions. Server
// exceptions escape to the worker.
void ReportVersions(StatementContext& ctx, unsigned changes_at_start);

}  // namespace zl

#endif  // ZL_SCENARIO_INTEGRITY_H_
