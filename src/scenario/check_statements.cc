// Verifications, assertions and monitors (check_statements.h) and the
// comparison rule they share with the timed statements (checks.h). Runs on
// the worker.
#include "scenario/check_statements.h"

#include <ace/Log_Msg.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "common/text_utils.h"
#include "scenario/server_calls.h"

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

namespace {

// Checks one item; true when it passes. A tag the server reports missing
// fails from then on without being read again.
bool Check(StatementContext& ctx, MonitorItem& item) {
  if (!item.enabled) return true;
  if (!item.tag_valid) return false;
  TagCall(
      [&] {
        item.last_value = ctx.server()->PVE(item.tag.c_str());
        item.result = ComparePasses(item.comparison, item.last_value, item.expected,
                                    ctx.options().rel_tol, ctx.options().abs_tol);
      },
      [&] {
        ACE_DEBUG((LM_ERROR, "Scenario: Tag <%s> not found\n", item.tag.c_str()));
        item.tag_valid = false;
        item.result = false;
      });
  return item.result;
}

}  // namespace

void Verify(StatementContext& ctx, StatementLine& line, Comparison comparison, bool verification) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* list = ops.text[0];
  const double expected = ops.value[1];
  for (int i = 1;; ++i) {
    const std::string tag = ExtractItem(list, i, ',');
    if (tag.empty()) break;
    double value = 0;
    // A missing tag is reported by the whole list, and its check not counted.
    const bool read = TagCall([&] { value = ctx.server()->PVE(tag.c_str()); },
                              [&] {
                                ACE_DEBUG((LM_ERROR, "Scenario: Tag <%s> not found\n", list));
                                ctx.StatementError("%s\t__Tag <%s> not found for VERIFY\n",
                                                   ctx.Stamp().c_str(), list);
                              });
    if (!read) continue;
    const bool passed =
        ComparePasses(comparison, value, expected, ctx.options().rel_tol, ctx.options().abs_tol);
    ++ctx.counters().total_verifies;
    if (!passed) ++ctx.counters().failed_verifies;
    const bool small = std::fabs(expected) < 1e-5;
    const char* op = OperatorText(comparison);
    if (!passed) {
      ctx.Log(small ? "%s\t**%s <%s> %s %.5E FAILED Value is %.5E\n"
                    : "%s\t**%s <%s> %s %lf FAILED Value is %lf\n",
              ctx.Stamp().c_str(), verification ? "Verification" : "Assertion", tag.c_str(), op,
              expected, value);
    } else if (verification) {
      ctx.Log(small ? "%s\t  Verification <%s> %s %.5E passed Value is %.5E\n"
                    : "%s\t  Verification <%s> %s %lf passed Value is %lf\n",
              ctx.Stamp().c_str(), tag.c_str(), op, expected, value);
    }
  }
}

void Monitor(StatementContext& ctx, StatementLine& line, MonitorList& monitors,
             Comparison comparison) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* list = ops.text[0];
  // "?" (the only text whose expansion begins with "?") monitors each tag
  // against its own current value.
  const bool own_value = ops.own_value[1];
  const double expected = ops.value[1];
  for (int i = 1;; ++i) {
    const std::string tag = ExtractItem(list, i, ',');
    if (tag.empty()) break;
    if (!ctx.server()->TagExists(tag.c_str())) {
      ctx.Log("%s\t__Tag <%s> not found for MONITOR\n", ctx.Stamp().c_str(), tag.c_str());
      continue;
    }
    MonitorItem item;
    item.place = ctx.place();
    item.tag = tag;
    item.comparison = comparison;
    item.expected = expected;
    if (own_value) {
      try {
        item.expected = ctx.server()->PVE(tag.c_str());
      } catch (const CORBA::SystemException&) {
        ctx.Log("%s\t__Tag <%s> not available for MONITOR\n", ctx.Stamp().c_str(), tag.c_str());
        continue;
      }
      ctx.Log("%s\t  Monitoring tag <%s> %s %lf\n", ctx.Stamp().c_str(), tag.c_str(),
              OperatorText(comparison), item.expected);
    }
    monitors.items.push_front(item);
  }
  if (!own_value) {
    ctx.Log("%s\t  Monitoring tag(s) <%s> %s %lf\n", ctx.Stamp().c_str(), list,
            OperatorText(comparison), expected);
  }
}

void EnableMonitors(MonitorList& monitors, bool enabled) {
  for (MonitorItem& item : monitors.items) item.enabled = enabled;
}

void ClearMonitors(StatementContext& ctx, MonitorList& monitors, int level) {
  CheckMonitors(ctx, monitors);
  ReportMonitoredTags(ctx, monitors, level);
  monitors.items.clear();
}

void CheckMonitors(StatementContext& ctx, MonitorList& monitors) {
  for (MonitorItem& item : monitors.items) {
    StatementContext::PlaceScope place(ctx, item.place);
    const bool passed = Check(ctx, item);
    ++ctx.counters().total_monitor_checks;
    if (!passed) {
      ++ctx.counters().failed_monitor_checks;
      monitors.failed = true;
    }
    if (passed != item.previous_result) {
      item.previous_result = passed;
      ctx.Log(passed ? "%s\t  Monitor <%s> %s %lf NORMAL Value is %lf\n"
                     : "%s\t**Monitor <%s> %s %lf FAILED Value is %lf\n",
              ctx.Stamp().c_str(), item.tag.c_str(), OperatorText(item.comparison), item.expected,
              item.last_value);
    }
  }
}

void ReportMonitoredTags(StatementContext& ctx, const MonitorList& monitors, int level) {
  if (!monitors.items.empty() && !monitors.failed) {
    ctx.Log("%s\t  Monitored tags PASSED at nest level %d\n", ctx.Stamp().c_str(), level);
  }
}

}  // namespace zl
