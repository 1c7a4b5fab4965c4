// Flow and timing statements: they set what the wait phase waits for, jump
// to labels, write comments and set run-wide options. Runs on the worker.
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
#include "scenario/scenario.h"

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

// DELAY ms [condition] | DELAYSECS s [condition]: a wall-clock wait that a
// true condition ends early.
void CZLScenario::Delay(long unit_ms) {
  const char* operand = tokens_.Next(kBlanks, true);
  if (operand == nullptr) {
    ctx_.StatementError("%s\t__DELAY not executed\n", ctx_.Stamp().c_str());
    return;
  }
  double number = 0;
  if (!NumericOperand("delay", operand, OperandForm::kNumber, &number)) return;
  // A wait beyond the limit waits as long as the limit, so that the clock
  // plus the wait always fits a time value. The fraction is cut: DELAY 1.9
  // waits 1 ms.
  const long limit = kMaxDelaySeconds * (unit_ms == 1 ? 1000 : 1);
  long n = static_cast<long>(std::clamp(number, -static_cast<double>(limit),
                                        static_cast<double>(limit)));
  if (n < 0) {
    ACE_DEBUG((LM_ERROR, "[SCEN] (%P/%t) DELAY time must be non-negative\n"));
    n = 0;
  }
  const ACE_Time_Value delay = unit_ms == 1 ? ACE_Time_Value(n / 1000, (n % 1000) * 1000)
                                            : ACE_Time_Value(n);
  wait_deadline_ = ctx_.clock().Now() + delay;
  if (const char* condition = tokens_.Next(kLineEnd)) wait_condition_ = condition;
}

void CZLScenario::DoDelay() { Delay(1); }
void CZLScenario::DoDelaySecs() { Delay(1000); }

// SIMWAIT duration [condition]: waits for simulation time ("h:m:s", "m:s" or
// seconds) to pass.
void CZLScenario::DoSimWait() {
  const char* operand = tokens_.Next(kBlanks, true);
  if (operand == nullptr) {
    ctx_.StatementError("%s\t__SIMWAIT not executed\n", ctx_.Stamp().c_str());
    return;
  }
  // The expanded operand is printed as the server's groups gave it.
  double duration = 0;
  std::string expanded;
  if (!NumericOperand("duration", operand, OperandForm::kDuration, &duration, &expanded)) return;
  CORBA::String_var elapsed_text = ctx_.server()->HelloZL("$KERNEL.ElapsedSimTime");
  const double elapsed = std::atof(elapsed_text.in());
  ctx_.Log("%s\t  SIMWAIT %s started at elapsedServerTime = %s\n", ctx_.Stamp().c_str(),
           expanded.c_str(), SimTimeText(elapsed).c_str());
  sim_target_ = elapsed + duration;
  if (const char* condition = tokens_.Next(kLineEnd)) wait_condition_ = condition;
}

bool CZLScenario::SimWaitStep() {
  CORBA::String_var elapsed_text = ctx_.server()->HelloZL("$KERNEL.ElapsedSimTime");
  const double elapsed = std::atof(elapsed_text.in());
  CheckAllMonitors();
  if (sim_target_ <= elapsed) {
    ctx_.Log("%s\t  SIMWAIT completed %f SIMsecs late; elapsedServerTime = %s\n",
             ctx_.Stamp().c_str(), elapsed - sim_target_, SimTimeText(elapsed).c_str());
    sim_target_ = 0;
    return true;
  }
  ctx_.clock().Sleep(ACE_Time_Value(0, 250000));
  return false;
}

// GOTO :label [condition]: jumps within the current file when the condition
// is absent or true; unknown labels are ignored.
void CZLScenario::DoGoto() {
  const char* label = tokens_.Next(kBlanks);
  if (label == nullptr) return;
  const std::string target(label);
  const char* condition = tokens_.Next(kLineEnd);
  if (condition != nullptr && ctx_.Expr(condition) == 0) return;
  GotoLabel(target.c_str());
}

// COMMENT text: a comment line in the test log.
void CZLScenario::DoComment() {
  const char* text = tokens_.Next(kLineEnd);
  if (text == nullptr) return;
  ctx_.Log("%s\t# %s\n", ctx_.Stamp().c_str(), EvaluateParentheses(text).c_str());
}

// AUTODELETE [flag]: delete the scenario file at a normal end.
void CZLScenario::DoAutoDelete() {
  const char* flag = tokens_.Next(kBlanks);
  if (flag == nullptr || std::strchr("1TtYy", flag[0]) != nullptr) {
    ctx_.options().flags |= ScenarioOptions::kAutoDelete;
  } else {
    ctx_.options().flags &= ~ScenarioOptions::kAutoDelete;
  }
}

// USELOG name: the log set that later statements record into.
void CZLScenario::DoUseLog() {
  const char* name = tokens_.Next(kBlanks);
  if (name == nullptr) return;
  if (owner_ == nullptr || owner_->FindLogSet(name) == nullptr) {
    ctx_.StatementError("%s\t__Logset <%s> not found for USELOG\n", ctx_.Stamp().c_str(), name);
  }
}

// REL_TOL number: relative tolerance of "=" comparisons (kept below 1e-14).
void CZLScenario::DoRelTol() {
  const char* operand = tokens_.Next(kBlanks);
  if (operand == nullptr) return;
  double value = 0;
  if (!NumericOperand("tolerance", operand, OperandForm::kPlainNumber, &value)) return;
  if (value >= 1e-14) ctx_.options().rel_tol = value;
}

// ABS_TOL number: absolute tolerance of "=" comparisons.
void CZLScenario::DoAbsTol() {
  const char* operand = tokens_.Next(kBlanks);
  if (operand == nullptr) return;
  double value = 0;
  if (!NumericOperand("tolerance", operand, OperandForm::kPlainNumber, &value)) return;
  ctx_.options().abs_tol = value;
}

// SAFETY [VERSION] [VALID] [ALL] ...: the end-of-run checks.
void CZLScenario::DoSafety() {
  const char* operand = tokens_.Next(kBlanks);
  if (operand == nullptr) {
    ctx_.options().safety_version = true;
    ctx_.options().safety_valid = true;
    return;
  }
  for (; operand != nullptr; operand = tokens_.Next(kBlanks)) {
    if (std::strncmp(operand, "VERSION", 7) == 0) {
      ctx_.options().safety_version = true;
    } else if (std::strncmp(operand, "VALID", 5) == 0) {
      ctx_.options().safety_valid = true;
    } else {
      ctx_.options().safety_version = true;
      if (std::strncmp(operand, "ALL", 3) == 0) ctx_.options().safety_valid = true;
    }
  }
}

}  // namespace zl
