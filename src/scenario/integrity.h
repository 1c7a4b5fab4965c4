// Integrity checks at the close of a level: the stored "#$CHECK:" checksum of
// each scenario file against the one computed when it was opened, and at the
// end of a run the database-change check and the version lines. Both write
// only when SAFETY turned them on and the test log is open.
//
// Threads: the scenario's worker.
#ifndef ZL_SCENARIO_INTEGRITY_H_
#define ZL_SCENARIO_INTEGRITY_H_

#include <string>

#include "scenario/statement_context.h"

namespace zl {

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
