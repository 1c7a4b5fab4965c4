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

bool ComparePasses(Comparison comparison, double value, double expected, double rel_tol,
                   double abs_tol) {
  switch (comparison) {
    case Comparison::kGreater: return value > expected;
    case Comparison::kLess: return expected > value;
    case Comparison::kEqual: break;
  }
  const double d = std::fabs(value - expected);
  return std::fabs(expected * rel_tol) >= d || std::fabs(abs_tol) >= d;
}

const char* OperatorText(Comparison comparison) {
  switch (comparison) {
    case Comparison::kGreater: return ">";
    case Comparison::kLess: return "<";
    case Comparison::kEqual: break;
  }
  return "=";
}

// The operands every check statement starts with: a tag list (cut to 79
// characters) and a value token. A missing one is counted as an error and
// logged with the statement's family and keyword; false then.
bool CZLScenario::TakeTagListAndValue(const char* family, const char* keyword, char (&list)[80],
                                      const char** value) {
  const char* list_token = tokens_.Next(kBlanks);
  if (list_token == nullptr) {
    ctx_.StatementError("%s\t__Tag list not found for %s %s\n", ctx_.Stamp().c_str(), family,
                        keyword);
    return false;
  }
  strncpyz(list, list_token, sizeof list);
  *value = tokens_.Next(kBlanks, true);
  if (*value == nullptr) {
    ctx_.StatementError("%s\t__Value not found for %s %s\n", ctx_.Stamp().c_str(), family, list);
    return false;
  }
  return true;
}

// VERIFY | VERIFY_GT | VERIFY_LT | ASSERT | ASSERT_GT | ASSERT_LT taglist value:
// checks each tag once against the server's value of `value`.
void CZLScenario::Verify(Comparison comparison, bool verification, const char* keyword) {
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
      value = ctx_.server()->PVE(tag.c_str());
    } catch (const ZEMR::ZLTagNotFound&) {
      ACE_DEBUG((LM_ERROR, "Scenario: Tag <%s> not found\n", list));
      ctx_.StatementError("%s\t__Tag <%s> not found for VERIFY\n", ctx_.Stamp().c_str(), list);
      continue;
    }
    const bool passed =
        ComparePasses(comparison, value, expected, ctx_.options().rel_tol, ctx_.options().abs_tol);
    ++ctx_.counters().total_verifies;
    if (!passed) ++ctx_.counters().failed_verifies;
    const bool small = std::fabs(expected) < 1e-5;
    const char* op = OperatorText(comparison);
    if (!passed) {
      ctx_.Log(small ? "%s\t**%s <%s> %s %.5E FAILED Value is %.5E\n"
                     : "%s\t**%s <%s> %s %lf FAILED Value is %lf\n",
               ctx_.Stamp().c_str(), verification ? "Verification" : "Assertion", tag.c_str(), op,
               expected, value);
    } else if (verification) {
      ctx_.Log(small ? "%s\t  Verification <%s> %s %.5E passed Value is %.5E\n"
                     : "%s\t  Verification <%s> %s %lf passed Value is %lf\n",
               ctx_.Stamp().c_str(), tag.c_str(), op, expected, value);
    }
  }
}

void CZLScenario::DoVerify() { Verify(Comparison::kEqual, true, "VERIFY"); }
void CZLScenario::DoVerifyGt() { Verify(Comparison::kGreater, true, "VERIFY_GT"); }
void CZLScenario::DoVerifyLt() { Verify(Comparison::kLess, true, "VERIFY_LT"); }
void CZLScenario::DoAssert() { Verify(Comparison::kEqual, false, "ASSERT"); }
void CZLScenario::DoAssertGt() { Verify(Comparison::kGreater, false, "ASSERT_GT"); }
void CZLScenario::DoAssertLt() { Verify(Comparison::kLess, false, "ASSERT_LT"); }

// MONITOR | MONITOR_GT | MONITOR_LT taglist value|?: registers each tag at
// the current level, to be checked while the scenario waits.
void CZLScenario::Monitor(Comparison comparison, const char* keyword) {
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
    if (!ctx_.server()->TagExists(tag.c_str())) {
      ctx_.Log("%s\t__Tag <%s> not found for MONITOR\n", ctx_.Stamp().c_str(), tag.c_str());
      continue;
    }
    MonitorItem item;
    item.tag = tag;
    item.comparison = comparison;
    item.expected = expected;
    if (own_value) {
      try {
        item.expected = ctx_.server()->PVE(tag.c_str());
      } catch (const CORBA::SystemException&) {
        ctx_.Log("%s\t__Tag <%s> not available for MONITOR\n", ctx_.Stamp().c_str(), tag.c_str());
        continue;
      }
      ctx_.Log("%s\t  Monitoring tag <%s> %s %lf\n", ctx_.Stamp().c_str(), tag.c_str(),
               OperatorText(comparison), item.expected);
    }
    monitors_[level_].items.push_front(item);
  }
  if (!own_value) {
    ctx_.Log("%s\t  Monitoring tag(s) <%s> %s %lf\n", ctx_.Stamp().c_str(), list,
             OperatorText(comparison), expected);
  }
}

void CZLScenario::DoMonitor() { Monitor(Comparison::kEqual, "MONITOR"); }
void CZLScenario::DoMonitorGt() { Monitor(Comparison::kGreater, "MONITOR_GT"); }
void CZLScenario::DoMonitorLt() { Monitor(Comparison::kLess, "MONITOR_LT"); }

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
    item.last_value = ctx_.server()->PVE(item.tag.c_str());
    item.result = ComparePasses(item.comparison, item.last_value, item.expected,
                                ctx_.options().rel_tol, ctx_.options().abs_tol);
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
    ++ctx_.counters().total_monitor_checks;
    if (!passed) {
      ++ctx_.counters().failed_monitor_checks;
      list.failed = true;
    }
    if (passed != item.previous_result) {
      item.previous_result = passed;
      ctx_.Log(passed ? "%s\t  Monitor <%s> %s %lf NORMAL Value is %lf\n"
                      : "%s\t**Monitor <%s> %s %lf FAILED Value is %lf\n",
               ctx_.Stamp().c_str(), item.tag.c_str(), OperatorText(item.comparison), item.expected,
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
    ctx_.Log("%s\t  Monitored tags PASSED at nest level %d\n", ctx_.Stamp().c_str(), level);
  }
}

}  // namespace zl
