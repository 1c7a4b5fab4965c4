// Tag command statements (tag_statements.h). Runs on the worker.
#include "scenario/tag_statements.h"

#include <ace/Log_Msg.h>

#include "common/exception_text.h"
#include "scenario/server_calls.h"

namespace zl {
namespace {

// Counts and reports a ZLTagNotFound of `statement`.
void TagNotFound(StatementContext& ctx, const char* tag, const char* statement) {
  ctx.StatementError("%s\t__Tag <%s> not found for %s\n", ctx.Stamp().c_str(), tag, statement);
}

// Runs `call`, server calls on `tag` for `statement`, under the engine's
// exception policy (server_calls.h): a missing tag is reported with
// TagNotFound and gives false; anything else escapes.
template <class Call>
bool OnTag(StatementContext& ctx, const char* tag, const char* statement, Call&& call) {
  return TagCall(call, [&] { TagNotFound(ctx, tag, statement); });
}

}  // namespace

void Toggle(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* tag = ops.text[0];
  OnTag(ctx, tag, "TOGGLE", [&] {
    const double pv = ctx.server()->PV(tag);
    ctx.server()->SetPV(tag, pv > ctx.options().rel_tol ? 0.0 : 1.0);
  });
}

void Edge(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* tag = ops.text[0];
  const double target = ops.value[1];
  OnTag(ctx, tag, "EDGE", [&] {
    const double pv = ctx.server()->PV(tag);
    const bool up = target >= ctx.options().rel_tol;
    if (up ? pv != 0 : pv == 0) {
      ctx.server()->SetPV(tag, up ? 0.0 : 1.0);
      ctx.clock().Sleep(ACE_Time_Value(1));
    }
    ctx.server()->SetPV(tag, up ? 1.0 : 0.0);
  });
}

void Open(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* tag = ops.text[0];
  OnTag(ctx, tag, "OPEN", [&] { ctx.server()->SetPV(tag, 0.0); });
}

void Close(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* tag = ops.text[0];
  OnTag(ctx, tag, "CLOSE", [&] { ctx.server()->SetPV(tag, 1.0); });
}

void SetValue(StatementContext& ctx, StatementLine& line, SetKind kind) {
  // How the not-found line names each statement.
  static const char* const kNames[] = {"SETPV", "SETPVE", "SETRAWLO", "SetRawHi"};
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* tag = ops.text[0];
  const double value = ops.value[1];
  OnTag(ctx, tag, kNames[static_cast<int>(kind)], [&] {
    switch (kind) {
      case SetKind::kPV: ctx.server()->SetPV(tag, value); break;
      case SetKind::kPVE: ctx.server()->SetPVE(tag, value); break;
      case SetKind::kRawLo: ctx.server()->SetRawLo(tag, value); break;
      case SetKind::kRawHi: ctx.server()->SetRawHi(tag, value); break;
    }
  });
}

void SetMode(StatementContext& ctx, StatementLine& line, bool manual) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* tag = ops.text[0];
  OnTag(ctx, tag, manual ? "SETMAN" : "SETAUTO", [&] {
    if (manual) {
      ctx.server()->SetMan(tag);
    } else {
      ctx.server()->SetAuto(tag);
    }
  });
}

void Force(StatementContext& ctx, StatementLine& line, bool force) {
  const char* name = force ? "FORCE" : "UNFORCE";
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* tag = ops.text[0];
  // A server without forcing refuses with BAD_OPERATION: the statement's
  // own error, beside the policy's missing tag.
  try {
    OnTag(ctx, tag, name, [&] { ctx.server()->SetForce(tag, force); });
  } catch (const CORBA::BAD_OPERATION& e) {
    ACE_DEBUG((LM_ERROR, "Caught Exception in %s, %s\n", name, ExceptionText(e).c_str()));
    ctx.StatementError("%s\t__Exception from %s command, server does not have that functionality\n",
                       ctx.Stamp().c_str(), name);
  }
}

}  // namespace zl
