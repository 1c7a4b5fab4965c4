// Verifications, assertions and monitors: check tag values (engineering
// units) against expected values and count and report the outcome. Runs on
// the worker.
#include <ace/Log_Msg.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "common/text_utils.h"
#include "scenario/checks.h"
#include "scenario/scenario.h"

namespace zl {

bool ComparePasses(int kind, double value, double expected, double rel_tol, double abs_tol) {
  switch (kind) {
    case 1:
    case 4:
      return value > expected;
    case 2:
    case 5:
      return expected > value;
    default: {
      const double d = std::fabs(value - expected);
      return std::fabs(expected * rel_tol) >= d || std::fabs(abs_tol) >= d;
    }
  }
}

const char* OperatorText(int kind) {
  if (kind == 1 || kind == 4) return ">";
  if (kind == 2 || kind == 5) return "<";
  return "=";
}

// The operands every check statement starts with: a tag list (cut to 79
// characters) and a value token. A missing one is counted as an error and
// logged with the statement's family and keyword; false then.
bool CZLScenario::TakeTagListAndValue(const char* family, const char* keyword, char (&list)[80],
                                      const char** value) {
  const char* list_token = tokens_.Next(kBlanks);
  if (list_token == nullptr) {
    ++sceErrors_;
    Log("%s\t__Tag list not found for %s %s\n", Stamp().c_str(), family, keyword);
    return false;
  }
  strncpyz(list, list_token, sizeof list);
  *value = tokens_.Next(kBlanks, true);
  if (*value == nullptr) {
    ++sceErrors_;
    Log("%s\t__Value not found for %s %s\n", Stamp().c_str(), family, list);
    return false;
  }
  return true;
}

// VERIFY | VERIFY_GT | VERIFY_LT | ASSERT | ASSERT_GT | ASSERT_LT taglist value:
// checks each tag once against the server's value of `value`.
void CZLScenario::Verify(int kind, const char* keyword) {
  const bool verification = kind < 3;
  char list[80];
  const char* value_token = nullptr;
  if (!TakeTagListAndValue("VERIFY", keyword, list, &value_token)) return;
  double expected = 0;
  if (!NumericOperand("value", value_token, OperandForm::kExpression, &expected)) return;
  for (int i = 1;; ++i) {
    const std::string tag = ExtractItem(list, i, ',');
    if (tag.empty()) break;
    double value = 0;
    try {
      value = db_->PVE(tag.c_str());
    } catch (const ZEMR::ZLTagNotFound&) {
      ++sceErrors_;
      ACE_DEBUG((LM_ERROR, "Scenario: Tag <%s> not found\n", list));
      Log("%s\t__Tag <%s> not found for VERIFY\n", Stamp().c_str(), list);
      continue;
    }
    const bool passed = ComparePasses(kind, value, expected, rel_tol_, abs_tol_);
    ++totalVerifies_;
    if (!passed) ++failedVerifies_;
    const bool small = std::fabs(expected) < 1e-5;
    const char* op = OperatorText(kind);
    if (!passed) {
      Log(small ? "%s\t**%s <%s> %s %.5E FAILED Value is %.5E\n"
                : "%s\t**%s <%s> %s %lf FAILED Value is %lf\n",
          Stamp().c_str(), verification ? "Verification" : "Assertion", tag.c_str(), op, expected,
          value);
    } else if (verification) {
      Log(small ? "%s\t  Verification <%s> %s %.5E passed Value is %.5E\n"
                : "%s\t  Verification <%s> %s %lf passed Value is %lf\n",
          Stamp().c_str(), tag.c_str(), op, expected, value);
    }
  }
}

void CZLScenario::DoVerify() { Verify(0, "VERIFY"); }
void CZLScenario::DoVerifyGt() { Verify(1, "VERIFY_GT"); }
void CZLScenario::DoVerifyLt() { Verify(2, "VERIFY_LT"); }
void CZLScenario::DoAssert() { Verify(3, "ASSERT"); }
void CZLScenario::DoAssertGt() { Verify(4, "ASSERT_GT"); }
void CZLScenario::DoAssertLt() { Verify(5, "ASSERT_LT"); }

// MONITOR | MONITOR_GT | MONITOR_LT taglist value|?: registers each tag at
// the current level, to be checked while the scenario waits.
void CZLScenario::Monitor(int kind, const char* keyword) {
  char list[80];
  const char* value_token = nullptr;
  if (!TakeTagListAndValue("MONITOR", keyword, list, &value_token)) return;
  // "?" (the only text whose expansion begins with "?") monitors each tag
  // against its own current value.
  const bool own_value =
      value_token[0] == '?' || (value_token[0] == '\\' && value_token[1] == '?');
  double expected = 0;
  if (!own_value && !NumericOperand("value", value_token, OperandForm::kNumber, &expected)) {
    return;
  }
  for (int i = 1;; ++i) {
    const std::string tag = ExtractItem(list, i, ',');
    if (tag.empty()) break;
    if (!db_->TagExists(tag.c_str())) {
      Log("%s\t__Tag <%s> not found for MONITOR\n", Stamp().c_str(), tag.c_str());
      continue;
    }
    MonitorItem item;
    item.tag = tag;
    item.kind = kind;
    item.expected = expected;
    if (own_value) {
      try {
        item.expected = db_->PVE(tag.c_str());
      } catch (const CORBA::SystemException&) {
        Log("%s\t__Tag <%s> not available for MONITOR\n", Stamp().c_str(), tag.c_str());
        continue;
      }
      Log("%s\t  Monitoring tag <%s> %s %lf\n", Stamp().c_str(), tag.c_str(), OperatorText(kind),
          item.expected);
    }
    monitors_[level_].items.push_front(item);
  }
  if (!own_value) {
    Log("%s\t  Monitoring tag(s) <%s> %s %lf\n", Stamp().c_str(), list, OperatorText(kind),
        expected);
  }
}

void CZLScenario::DoMonitor() { Monitor(0, "MONITOR"); }
void CZLScenario::DoMonitorGt() { Monitor(1, "MONITOR_GT"); }
void CZLScenario::DoMonitorLt() { Monitor(2, "MONITOR_LT"); }

void CZLScenario::DoMonEnable() {
  for (MonitorItem& item : monitors_[level_].items) item.enabled = true;
}

void CZLScenario::DoMonDisable() {
  for (MonitorItem& item : monitors_[level_].items) item.enabled = false;
}

// MON_CLEAR: a last check and report of the current level, then its
// monitors end. The level's failed mark stays.
void CZLScenario::DoMonClear() {
  CheckMonitors(level_);
  ReportMonitoredTags(level_);
  monitors_[level_].items.clear();
}

bool CZLScenario::Check(MonitorItem& item) {
  if (!item.enabled) return true;
  if (!item.tag_valid) return false;
  try {
    item.last_value = db_->PVE(item.tag.c_str());
    item.result = ComparePasses(item.kind, item.last_value, item.expected, rel_tol_, abs_tol_);
  } catch (const ZEMR::ZLTagNotFound&) {
    ACE_DEBUG((LM_ERROR, "Scenario: Tag <%s> not found\n", item.tag.c_str()));
    item.tag_valid = false;
    item.result = false;
  }
  return item.result;
}

void CZLScenario::CheckMonitors(int level) {
  MonitorList& list = monitors_[level];
  for (MonitorItem& item : list.items) {
    const bool passed = Check(item);
    ++totalMonitorChecks_;
    if (!passed) {
      ++failedMonitorChecks_;
      list.failed = true;
    }
    if (passed != item.previous_result) {
      item.previous_result = passed;
      Log(passed ? "%s\t  Monitor <%s> %s %lf NORMAL Value is %lf\n"
                 : "%s\t**Monitor <%s> %s %lf FAILED Value is %lf\n",
          Stamp().c_str(), item.tag.c_str(), OperatorText(item.kind), item.expected,
          item.last_value);
    }
  }
}

void CZLScenario::CheckAllMonitors() {
  for (int l = 0; l <= level_; ++l) CheckMonitors(l);
}

void CZLScenario::ReportMonitoredTags(int level) {
  const MonitorList& list = monitors_[level];
  if (!list.items.empty() && !list.failed) {
    Log("%s\t  Monitored tags PASSED at nest level %d\n", Stamp().c_str(), level);
  }
}

}  // namespace zl
