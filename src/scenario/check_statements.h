// Verifications, assertions and monitors: check tag values (engineering
// units) against expected values and count and report the outcome. The
// monitors are the family's state: a list per nest level, registered by
// MONITOR and checked while the scenario waits. Each handler gets the
// statement context, the statement's operands and the monitor list it works
// on, nothing else.
//
// Threads: the scenario's worker.
#ifndef ZL_SCENARIO_CHECK_STATEMENTS_H_
#define ZL_SCENARIO_CHECK_STATEMENTS_H_

#include <forward_list>
#include <limits>
#include <string>

#include "scenario/checks.h"
#include "scenario/statement_context.h"
#include "scenario/statement_line.h"

namespace zl {

// One monitored tag.
struct MonitorItem {
  std::string tag;
  Comparison comparison = Comparison::kEqual;
  double expected = 0;
  double last_value = std::numeric_limits<double>::quiet_NaN();
  bool tag_valid = true;
  bool enabled = true;
  bool result = true;
  bool previous_result = true;
  LogPlace place;  // the MONITOR line: where what its checks report belongs
};

// The monitors of one nest level.
struct MonitorList {
  std::forward_list<MonitorItem> items;  // newest first
  bool failed = false;                   // a check of this level failed
};

// VERIFY | VERIFY_GT | VERIFY_LT (`verification`) | ASSERT | ASSERT_GT |
// ASSERT_LT taglist value: checks each tag once against the server's value of
// the expression `value`. A missing tag is a statement error; the other tags
// are still checked.
void Verify(StatementContext& ctx, StatementLine& line, Comparison comparison, bool verification);

// MONITOR | MONITOR_GT | MONITOR_LT taglist value|?: adds each tag to
// `monitors` (the current level's), to be checked while the scenario waits.
void Monitor(StatementContext& ctx, StatementLine& line, MonitorList& monitors,
             Comparison comparison);
// MON_ENABLE | MON_DISABLE: switches every monitor of the list on or off.
void EnableMonitors(MonitorList& monitors, bool enabled);
// MON_CLEAR: a last check and report of `monitors` (of nest level `level`),
// then its monitors end. The list's failed mark stays.
void ClearMonitors(StatementContext& ctx, MonitorList& monitors, int level);

// Checks every monitor of the list, counting the checks and reporting each
// change of state.
void CheckMonitors(StatementContext& ctx, MonitorList& monitors);
// The PASSED line of nest level `level`, when its list has monitors and none
// failed.
void ReportMonitoredTags(StatementContext& ctx, const MonitorList& monitors, int level);

}  // namespace zl

#endif  // ZL_SCENARIO_CHECK_STATEMENTS_H_
