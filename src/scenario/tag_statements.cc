// Tag command statements: set values, drive digital points, change raw
// ranges, modes and forcing. Silent when they succeed; each failure writes
// its own test log line. Runs on the worker.
#include <ace/Log_Msg.h>

#include <string>

#include "common/exception_text.h"
#include "common/text_utils.h"
#include "scenario/scenario.h"

namespace zl {

bool CZLScenario::TakeTag(char (&tag)[80]) {
  const char* token = tokens_.Next(kBlanks);
  if (token == nullptr) return false;
  strncpyz(tag, token, sizeof tag);
  return true;
}

const char* CZLScenario::TakeValue() { return tokens_.Next(kBlanks, true); }

void CZLScenario::TagNotFound(const char* tag, const char* statement) {
  ctx_.StatementError("%s\t__Tag <%s> not found for %s\n", ctx_.Stamp().c_str(), tag, statement);
}

// TOGGLE tag: 0 when the percent value is above REL_TOL, else 1.
void CZLScenario::DoToggle() {
  char tag[80];
  if (!TakeTag(tag)) {
    ctx_.StatementError("%8s\t__TOGGLE keyword with no tag\n", ctx_.Stamp().c_str());
    return;
  }
  OnTag(tag, "TOGGLE", [&] {
    const double pv = ctx_.server()->PV(tag);
    ctx_.server()->SetPV(tag, pv > ctx_.options().rel_tol ? 0.0 : 1.0);
  });
}

// EDGE tag value: ends at the target state (1 when value >= REL_TOL), first
// spending one second in the other state when already there.
void CZLScenario::DoEdge() {
  char tag[80];
  if (!TakeTag(tag)) {
    ACE_DEBUG((LM_ERROR, "Scenario: EDGE what tag??\n"));
    ctx_.StatementError("%s\t__Incomplete EDGE command\n", ctx_.Stamp().c_str());
    return;
  }
  const char* token = TakeValue();
  if (token == nullptr) {
    ACE_DEBUG((LM_ERROR, "Scenario: EDGE tag to what??\n"));
    ctx_.StatementError("%s\t__Value not found for EDGE %s\n", ctx_.Stamp().c_str(), tag);
    return;
  }
  double target = 0;
  if (!NumericOperand("value", token, OperandForm::kNumber, &target)) return;
  OnTag(tag, "EDGE", [&] {
    const double pv = ctx_.server()->PV(tag);
    const bool up = target >= ctx_.options().rel_tol;
    if (up ? pv != 0 : pv == 0) {
      ctx_.server()->SetPV(tag, up ? 0.0 : 1.0);
      ctx_.clock().Sleep(ACE_Time_Value(1));
    }
    ctx_.server()->SetPV(tag, up ? 1.0 : 0.0);
  });
}

// OPEN tag: percent value 0.
void CZLScenario::DoOpen() {
  char tag[80];
  if (!TakeTag(tag)) {
    ctx_.StatementError("%8s\t__OPEN keyword with no tag\n", ctx_.Stamp().c_str());
    return;
  }
  OnTag(tag, "OPEN", [&] { ctx_.server()->SetPV(tag, 0.0); });
}

// CLOSE tag: percent value 1; silent without a tag.
void CZLScenario::DoClose() {
  char tag[80];
  if (!TakeTag(tag)) return;
  OnTag(tag, "CLOSE", [&] { ctx_.server()->SetPV(tag, 1.0); });
}

// SETPV | SETPVE | SETRAWLO | SETRAWHI tag value.
void CZLScenario::SetValue(SetKind kind) {
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
  if (!TakeTag(tag)) {
    ACE_DEBUG((LM_ERROR, "%s", t.no_tag_log));
    ctx_.StatementError("%s\t__Incomplete %s command\n", ctx_.Stamp().c_str(), t.keyword);
    return;
  }
  const char* token = TakeValue();
  if (token == nullptr) {
    ACE_DEBUG((LM_ERROR, "%s", t.no_value_log));
    ctx_.StatementError("%s\t__Value not found for %s %s\n", ctx_.Stamp().c_str(), t.name, tag);
    return;
  }
  double value = 0;
  if (!NumericOperand("value", token, OperandForm::kNumber, &value)) return;
  OnTag(tag, t.name, [&] {
    switch (kind) {
      case SetKind::kPV: ctx_.server()->SetPV(tag, value); break;
      case SetKind::kPVE: ctx_.server()->SetPVE(tag, value); break;
      case SetKind::kRawLo: ctx_.server()->SetRawLo(tag, value); break;
      case SetKind::kRawHi: ctx_.server()->SetRawHi(tag, value); break;
    }
  });
}

void CZLScenario::DoSetPV() { SetValue(SetKind::kPV); }
void CZLScenario::DoSetPVE() { SetValue(SetKind::kPVE); }
void CZLScenario::DoSetRawLo() { SetValue(SetKind::kRawLo); }
void CZLScenario::DoSetRawHi() { SetValue(SetKind::kRawHi); }

// SETMAN tag | SETAUTO tag: the tag's mode; silent without a tag.
void CZLScenario::DoSetMan() {
  char tag[80];
  if (!TakeTag(tag)) return;
  OnTag(tag, "SETMAN", [&] { ctx_.server()->SetMan(tag); });
}

void CZLScenario::DoSetAuto() {
  char tag[80];
  if (!TakeTag(tag)) return;
  OnTag(tag, "SETAUTO", [&] { ctx_.server()->SetAuto(tag); });
}

// FORCE tag | UNFORCE tag; a server without forcing raises BAD_OPERATION.
void CZLScenario::Force(bool force) {
  const char* name = force ? "FORCE" : "UNFORCE";
  char tag[80];
  if (!TakeTag(tag)) return;
  try {
    ctx_.server()->SetForce(tag, force);
  } catch (const ZEMR::ZLTagNotFound&) {
    TagNotFound(tag, name);
  } catch (const CORBA::BAD_OPERATION& e) {
    ACE_DEBUG((LM_ERROR, "Caught Exception in %s, %s\n", name, ExceptionText(e).c_str()));
    ctx_.StatementError(
        "%s\t__Exception from %s command, server does not have that functionality\n",
        ctx_.Stamp().c_str(), name);
  }
}

void CZLScenario::DoForce() { Force(true); }
void CZLScenario::DoUnforce() { Force(false); }

}  // namespace zl
