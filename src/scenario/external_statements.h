// External action statements: commands to the log sets (ZLCMD) and to the
// host (TOOLBOOK, TB_POST), point enables for the plant's drivers by UDP
// datagram (PT_ENABLE, PT_DISABLE), operating-system commands (SYSTEM) and
// stored tag values (STOREVALS, COMPAREVALS). Each handler gets the
// statement context, the statement's operands and what it acts through (the
// owner, the point socket), nothing else.
//
// Threads: the scenario's worker; SYSTEM and the host commands block it
// until they return.
#ifndef ZL_SCENARIO_EXTERNAL_STATEMENTS_H_
#define ZL_SCENARIO_EXTERNAL_STATEMENTS_H_

#include "scenario/point_socket.h"
#include "scenario/statement_context.h"
#include "scenario/statement_line.h"

namespace zl {

class ScenarioOwner;

// ZLCMD text: one log set command line. Its reply ("Ok" or an error text) is
// not reported: the log set commands log their own errors. Nothing without
// an owner.
void ZlCmd(StatementContext& ctx, StatementLine& line, ScenarioOwner* owner);
// TOOLBOOK [text] | TB_POST [text]: the keyword and text as a host command,
// unless the host's Toolbook window is alive; a refusal is written to the
// test log. Nothing without an owner.
void HostCommand(StatementContext& ctx, StatementLine& line, ScenarioOwner* owner);

// Opens `socket` for the point enables; says so in the test log when it
// cannot.
void OpenPointSocket(StatementContext& ctx, PointSocket& socket);
// PT_ENABLE tag | PT_DISABLE tag: sends "<WORD>\t<point>\t<raw>\n" and its
// zero byte through `socket` to the remote address of the tag's driver.
// Server failures are written to the process log only.
void PointEnable(StatementContext& ctx, StatementLine& line, PointSocket& socket, bool enable);

// SYSTEM command: runs it through /bin/sh -c and waits for it; a failure
// (exit status not 0) is written to the test log.
void System(StatementContext& ctx, StatementLine& line);
// STOREVALS [stem[;| ]pattern[=field]]: one record per selected tag into
// "zy<stem>.tmp" in the current directory (docs/stored-values.md). Without
// operands the stem is "tlgcmp" and every tag is selected.
void StoreVals(StatementContext& ctx, StatementLine& line);
// COMPAREVALS: not available; says so in the test log.
void CompareVals(StatementContext& ctx);

}  // namespace zl

#endif  // ZL_SCENARIO_EXTERNAL_STATEMENTS_H_
