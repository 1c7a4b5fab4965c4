// Flow and timing statements (flow_statements.h). Runs on the worker.
#include "scenario/flow_statements.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/text_utils.h"
#include "common/time_format.h"
#include "scenario/scenario_owner.h"

namespace zl {
namespace {

// The longest DELAY or DELAYSECS wait (about 31 years).
constexpr long kMaxDelaySeconds = 1000000000;

// Simulation seconds printed like the elapsed-time stamp.
std::string SimTimeText(double seconds) {
  const double whole = std::floor(seconds);
  return FormatDuration(ACE_Time_Value(static_cast<time_t>(whole),
                                       static_cast<suseconds_t>((seconds - whole) * 1000) * 1000));
}

}  // namespace

void Delay(StatementContext& ctx, StatementLine& line, WaitState& wait, long unit_ms) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const double number = ops.value[0];
  // A wait beyond the limit waits as long as the limit, so that the clock
  // plus the wait always fits a time value. The fraction is cut: DELAY 1.9
  // waits 1 ms.
  const long limit = kMaxDelaySeconds * (unit_ms == 1 ? 1000 : 1);
  long n = static_cast<long>(
      std::clamp(number, -static_cast<double>(limit), static_cast<double>(limit)));
  if (n < 0) {
    ACE_DEBUG((LM_ERROR, "[SCEN] (%P/%t) DELAY time must be non-negative\n"));
    n = 0;
  }
  const ACE_Time_Value delay =
      unit_ms == 1 ? ACE_Time_Value(n / 1000, (n % 1000) * 1000) : ACE_Time_Value(n);
  wait.deadline = ctx.clock().Now() + delay;
  if (const char* condition = ops.text[1]) wait.condition = condition;
}

void SimWait(StatementContext& ctx, StatementLine& line, WaitState& wait) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const double duration = ops.value[0];
  // The expanded operand is printed as the server's groups gave it.
  const std::string& expanded = ops.read[0];
  const double elapsed = ElapsedSimTime(ctx);
  ctx.Log("%s\t  SIMWAIT %s started at elapsedServerTime = %s\n", ctx.Stamp().c_str(),
          expanded.c_str(), SimTimeText(elapsed).c_str());
  wait.sim_target = elapsed + duration;
  if (const char* condition = ops.text[1]) wait.condition = condition;
}

double ElapsedSimTime(StatementContext& ctx) {
  CORBA::String_var elapsed_text = ctx.server()->HelloZL("$KERNEL.ElapsedSimTime");
  return std::atof(elapsed_text.in());
}

bool FinishSimWait(StatementContext& ctx, WaitState& wait, double elapsed) {
  if (wait.sim_target <= elapsed) {
    ctx.Log("%s\t  SIMWAIT completed %f SIMsecs late; elapsedServerTime = %s\n",
            ctx.Stamp().c_str(), elapsed - wait.sim_target, SimTimeText(elapsed).c_str());
    wait.sim_target = 0;
    return true;
  }
  return false;
}

void Goto(StatementContext& ctx, StatementLine& line, const LabelTable& labels, FileCursor cursor) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const std::string target(ops.text[0]);
  const char* condition = ops.text[1];
  if (condition != nullptr && ctx.Expr(condition) == 0) return;
  if (!labels.Jump(target.c_str(), cursor)) {
    // The run goes on with the next line, so the lines the jump was meant to
    // skip run: say so.
    ctx.StatementError("%s\t__Label '%s' not found for GOTO\n", ctx.Stamp().c_str(),
                       target.c_str());
  }
}

void Comment(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  ctx.Log("%s\t# %s\n", ctx.Stamp().c_str(), EvaluateParentheses(ctx, ops.text[0]).c_str());
}

void AutoDelete(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  ReadOperands(ctx, line, &ops);
  const char* flag = ops.text[0];
  if (flag == nullptr || std::strchr("1TtYy", flag[0]) != nullptr) {
    ctx.options().flags |= ScenarioOptions::kAutoDelete;
  } else {
    ctx.options().flags &= ~ScenarioOptions::kAutoDelete;
  }
}

void UseLog(StatementContext& ctx, StatementLine& line, ScenarioOwner* owner) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* name = ops.text[0];
  if (owner == nullptr || owner->FindLogSet(name) == nullptr) {
    ctx.StatementError("%s\t__Logset <%s> not found for USELOG\n", ctx.Stamp().c_str(), name);
  }
}

void RelTol(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const double value = ops.value[0];
  if (value >= kTinyValue) ctx.options().rel_tol = value;
}

void AbsTol(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  ctx.options().abs_tol = ops.value[0];
}

void ApplySafetyWord(const char* word, ScenarioOptions& options) {
  if (std::strncmp(word, "VERSION", 7) == 0) {
    options.safety_version = true;
  } else if (std::strncmp(word, "VALID", 5) == 0) {
    options.safety_valid = true;
  } else {
    options.safety_version = true;
    if (std::strncmp(word, "ALL", 3) == 0) options.safety_valid = true;
  }
}

void Safety(StatementContext& ctx, StatementLine& line) {
  Operands ops;
  ReadOperands(ctx, line, &ops);
  if (ops.words.empty()) {
    ctx.options().safety_version = true;
    ctx.options().safety_valid = true;
    return;
  }
  for (const char* word : ops.words) ApplySafetyWord(word, ctx.options());
}

}  // namespace zl
