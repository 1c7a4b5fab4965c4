// Tag command statements: set values, drive digital points, change raw
// ranges, modes and forcing. Each handler gets the statement context (the
// server, the test log, the options) and the statement's operands, nothing
// else. Silent when they succeed; each failure writes its own test log line
// and counts one statement error. A missing tag is reported and survived;
// every other server exception escapes (server_calls.h).
//
// Threads: the scenario's worker.
#ifndef ZL_SCENARIO_TAG_STATEMENTS_H_
#define ZL_SCENARIO_TAG_STATEMENTS_H_

#include "scenario/statement_context.h"
#include "scenario/statement_line.h"

namespace zl {

// TOGGLE tag: percent value 0 when it is above REL_TOL, else 1.
void Toggle(StatementContext& ctx, StatementLine& line);
// EDGE tag value: ends at the target state (1 when value >= REL_TOL), first
// spending one second (a clock sleep) in the other state when already there.
void Edge(StatementContext& ctx, StatementLine& line);
// OPEN tag: percent value 0. CLOSE tag: percent value 1; silent without a tag.
void Open(StatementContext& ctx, StatementLine& line);
void Close(StatementContext& ctx, StatementLine& line);

// Which value SetValue writes.
enum class SetKind { kPV, kPVE, kRawLo, kRawHi };
// SETPV | SETPVE | SETRAWLO | SETRAWHI tag value.
void SetValue(StatementContext& ctx, StatementLine& line, SetKind kind);
// SETMAN tag | SETAUTO tag: the tag's mode; silent without a tag.
void SetMode(StatementContext& ctx, StatementLine& line, bool manual);
// FORCE tag | UNFORCE tag; silent without a tag. A server without forcing
// (BAD_OPERATION) is a statement error.
void Force(StatementContext& ctx, StatementLine& line, bool force);

}  // namespace zl

#endif  // ZL_SCENARIO_TAG_STATEMENTS_H_
