// Flow and timing statements: they set what the wait phase waits for, jump
// to labels, write comments and set run-wide options. Each handler gets the
// statement context, the statement's operands and the part of the scenario
// it changes (the wait, the current file and its labels, the owner),
// nothing else.
//
// Threads: the scenario's worker.
#ifndef ZL_SCENARIO_FLOW_STATEMENTS_H_
#define ZL_SCENARIO_FLOW_STATEMENTS_H_

#include "scenario/label_table.h"
#include "scenario/statement_context.h"
#include "scenario/statement_line.h"
#include "scenario/wait_state.h"

namespace zl {

class ScenarioOwner;

// DELAY ms [condition] | DELAYSECS s [condition]: a wall-clock wait (`unit_ms`
// 1 or 1000 per unit) that a true condition ends early. Negative waits are
// 0, waits beyond about 31 years that long; the fraction is cut.
void Delay(StatementContext& ctx, StatementLine& line, WaitState& wait, long unit_ms);
// SIMWAIT duration [condition]: waits for simulation time ("h:m:s", "m:s" or
// seconds) to pass; says when it started.
void SimWait(StatementContext& ctx, StatementLine& line, WaitState& wait);
// The server's elapsed simulation time, in seconds.
double ElapsedSimTime(StatementContext& ctx);
// One step of a SIMWAIT at `elapsed` simulation seconds: when the target is
// met, says so and clears it; true then.
bool FinishSimWait(StatementContext& ctx, WaitState& wait, double elapsed);

// GOTO :label [condition]: jumps within the current file (`labels` and
// `cursor` are its) when the condition is absent or true. A label the file
// does not have is a statement error; the run goes on with the next line.
void Goto(StatementContext& ctx, StatementLine& line, const LabelTable& labels, FileCursor cursor);
// COMMENT text: a comment line in the test log, groups evaluated.
void Comment(StatementContext& ctx, StatementLine& line);
// AUTODELETE [flag]: delete the scenario file at a normal end.
void AutoDelete(StatementContext& ctx, StatementLine& line);
// USELOG name: the log set that later statements record into; an unknown one
// (or no owner) is a statement error.
void UseLog(StatementContext& ctx, StatementLine& line, ScenarioOwner* owner);
// REL_TOL number: relative tolerance of "=" comparisons; a number below
// kTinyValue (operand_shape.h) leaves the one in force.
void RelTol(StatementContext& ctx, StatementLine& line);
// ABS_TOL number: absolute tolerance of "=" comparisons.
void AbsTol(StatementContext& ctx, StatementLine& line);
// SAFETY [VERSION] [VALID] [ALL] ...: the end-of-run checks; without a word
// all of them, else each word by ApplySafetyWord.
void Safety(StatementContext& ctx, StatementLine& line);
// One word of SAFETY, compared by its first letters: VERSION turns on the
// version report, VALID the checksum validation, ALL both, any other word
// the version report.
void ApplySafetyWord(const char* word, ScenarioOptions& options);

}  // namespace zl

#endif  // ZL_SCENARIO_FLOW_STATEMENTS_H_
