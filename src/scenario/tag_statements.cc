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
  char tag[80];
  if (!line.TakeTag(tag)) {
    ctx.StatementError("%8s\t__TOGGLE keyword with no tag\n", ctx.Stamp().c_str());
    return;
  }
  OnTag(ctx, tag, "TOGGLE", [&] {
    const double pv = ctx.server()->PV(tag);
    ctx.server()->SetPV(tag, pv > ctx.options().rel_tol ? 0.0 : 1.0);
  });
}

void Edge(StatementContext& ctx, StatementLine& line) {
  char tag[80];
  if (!line.TakeTag(tag)) {
    ACE_DEBUG((LM_ERROR, "Scenario: EDGE what tag??\n"));
    ctx.StatementError("%s\t__Incomplete EDGE command\n", ctx.Stamp().c_str());
    return;
  }
  const char* token = line.TakeValue();
  if (token == nullptr) {
    ACE_DEBUG((LM_ERROR, "Scenario: EDGE tag to what??\n"));
    ctx.StatementError("%s\t__Value not found for EDGE %s\n", ctx.Stamp().c_str(), tag);
    return;
  }
  double target = 0;
  if (!NumericOperand(ctx, line, "value", token, OperandForm::kNumber, &target)) return;
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
  char tag[80];
  if (!line.TakeTag(tag)) {
    ctx.StatementError("%8s\t__OPEN keyword with no tag\n", ctx.Stamp().c_str());
    return;
  }
  OnTag(ctx, tag, "OPEN", [&] { ctx.server()->SetPV(tag, 0.0); });
}

void Close(StatementContext& ctx, StatementLine& line) {
  char tag[80];
  if (!line.TakeTag(tag)) return;
  OnTag(ctx, tag, "CLOSE", [&] { ctx.server()->SetPV(tag, 1.0); });
}

void SetValue(StatementContext& ctx, StatementLine& line, SetKind kind) {
  struct Texts {
    const char* no_tag_log;
    const char* keyword;
    const char* no_value_log;
    const char* name;  // in the value and not-found lines
  };
  static const Texts kTexts[] = {
      {"Scenario: SETPV(E) what??\n", "SETPV", "Scenario: SetPV(E) tag to what??\n", "SETPV"},
      {"Scenario: SETPV(E) what??\n", "SETPVE", "Scenario: SetPV(E) tag to what??\n", "SETPVE"},
      {"Scenario: SETRAWLOW what??\n", "SETRAWLO", "Scenario: Set RawLow tag to what??\n",
       "SETRAWLO"},
      {"Scenario: SETRAWHI what??\n", "SETRAWHI", "Scenario: Set RawHi tag to what??\n",
       "SetRawHi"},
  };
  const Texts& t = kTexts[static_cast<int>(kind)];
  char tag[80];
  if (!line.TakeTag(tag)) {
    ACE_DEBUG((LM_ERROR, "%s", t.no_tag_log));
    ctx.StatementError("%s\t__Incomplete %s command\n", ctx.Stamp().c_str(), t.keyword);
    return;
  }
  const char* token = line.TakeValue();
  if (token == nullptr) {
    ACE_DEBUG((LM_ERROR, "%s", t.no_value_log));
    ctx.StatementError("%s\t__Value not found for %s %s\n", ctx.Stamp().c_str(), t.name, tag);
    return;
  }
  double value = 0;
  if (!NumericOperand(ctx, line, "value", token, OperandForm::kNumber, &value)) return;
  OnTag(ctx, tag, t.name, [&] {
    switch (kind) {
      case SetKind::kPV: ctx.server()->SetPV(tag, value); break;
      case SetKind::kPVE: ctx.server()->SetPVE(tag, value); break;
      case SetKind::kRawLo: ctx.server()->SetRawLo(tag, value); break;
      case SetKind::kRawHi: ctx.server()->SetRawHi(tag, value); break;
    }
  });
}

void SetMode(StatementContext& ctx, StatementLine& line, bool manual) {
  char tag[80];
  if (!line.TakeTag(tag)) return;
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
  char tag[80];
  if (!line.TakeTag(tag)) return;
  try {
    ctx.server()->SetForce(tag, force);
  } catch (const ZEMR::ZLTagNotFound&) {
    TagNotFound(ctx, tag, name);
  } catch (const CORBA::BAD_OPERATION& e) {
    ACE_DEBUG((LM_ERROR, "Caught Exception in %s, %s\n", name, ExceptionText(e).c_str()));
    ctx.StatementError("%s\t__Exception from %s command, server does not have that functionality\n",
                       ctx.Stamp().c_str(), name);
  }
}

}  // namespace zl
