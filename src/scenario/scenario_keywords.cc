// The keyword table of the statement language: every statement keyword and
// its handler, in one place. Keywords are matched after the line has been
// upper-cased; "prefix" rows match every keyword that begins with the name.
// "timed" rows are the words that a timed block collects: a line that begins
// with any other word first runs the block collected before it.
#include <cctype>
#include <string>

#include "scenario/check_statements.h"
#include "scenario/external_statements.h"
#include "scenario/flow_statements.h"
#include "scenario/scenario.h"
#include "scenario/tag_statements.h"
#include "scenario/timed_statements.h"

namespace zl {

const CZLScenario::Keyword CZLScenario::kKeywords[] = {
    // name, prefix, timed, handler
    // Tag commands (tag_statements.cc).
    {"TOGGLE", true, false, [](CZLScenario& s) { Toggle(s.ctx_, s.statement_); }},
    {"EDGE", false, false, [](CZLScenario& s) { Edge(s.ctx_, s.statement_); }},
    {"OPEN", true, false, [](CZLScenario& s) { Open(s.ctx_, s.statement_); }},
    {"CLOSE", false, false, [](CZLScenario& s) { Close(s.ctx_, s.statement_); }},
    {"SETPV", false, false, [](CZLScenario& s) { SetValue(s.ctx_, s.statement_, SetKind::kPV); }},
    {"SETPVE", false, false, [](CZLScenario& s) { SetValue(s.ctx_, s.statement_, SetKind::kPVE); }},
    {"SETRAWLO", false, false,
     [](CZLScenario& s) { SetValue(s.ctx_, s.statement_, SetKind::kRawLo); }},
    {"SETRAWHI", false, false,
     [](CZLScenario& s) { SetValue(s.ctx_, s.statement_, SetKind::kRawHi); }},
    {"SETMAN", false, false, [](CZLScenario& s) { SetMode(s.ctx_, s.statement_, true); }},
    {"SETAUTO", false, false, [](CZLScenario& s) { SetMode(s.ctx_, s.statement_, false); }},
    {"FORCE", false, false, [](CZLScenario& s) { Force(s.ctx_, s.statement_, true); }},
    {"UNFORCE", false, false, [](CZLScenario& s) { Force(s.ctx_, s.statement_, false); }},
    // Verifications, assertions and monitors (check_statements.cc).
    {"VERIFY", false, false,
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kEqual, true); }},
    {"VERIFY_GT", false, false,
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kGreater, true); }},
    {"VERIFY_LT", false, false,
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kLess, true); }},
    {"ASSERT", false, false,
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kEqual, false); }},
    {"ASSERT_GT", false, false,
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kGreater, false); }},
    {"ASSERT_LT", false, false,
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kLess, false); }},
    {"MONITOR", false, false,
     [](CZLScenario& s) {
       Monitor(s.ctx_, s.statement_, s.monitors_[s.level_], Comparison::kEqual);
     }},
    {"MONITOR_GT", false, false,
     [](CZLScenario& s) {
       Monitor(s.ctx_, s.statement_, s.monitors_[s.level_], Comparison::kGreater);
     }},
    {"MONITOR_LT", false, false,
     [](CZLScenario& s) {
       Monitor(s.ctx_, s.statement_, s.monitors_[s.level_], Comparison::kLess);
     }},
    {"MON_ENABLE", false, false,
     [](CZLScenario& s) { EnableMonitors(s.monitors_[s.level_], true); }},
    {"MON_DISABLE", false, false,
     [](CZLScenario& s) { EnableMonitors(s.monitors_[s.level_], false); }},
    {"MON_CLEAR", false, false,
     [](CZLScenario& s) { ClearMonitors(s.ctx_, s.monitors_[s.level_], s.level_); }},
    // Timed statements (timed_statements.cc).
    {"TVERIFY", false, true,
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kEqual,
                   TimedRole::kVerification);
     }},
    {"TVERIFY_GT", false, true,
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kGreater,
                   TimedRole::kVerification);
     }},
    {"TVERIFY_LT", false, true,
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kLess,
                   TimedRole::kVerification);
     }},
    {"TASSERT", false, true,
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kEqual, TimedRole::kAssertion);
     }},
    {"TASSERT_GT", false, true,
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kGreater,
                   TimedRole::kAssertion);
     }},
    {"TASSERT_LT", false, true,
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kLess, TimedRole::kAssertion);
     }},
    {"TMONITOR", false, true,
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kEqual, TimedRole::kMonitor);
     }},
    {"BDELAY", false, true,
     [](CZLScenario& s) { BlockDelay(s.ctx_, s.statement_, s.timed_block_); }},
    {"BDELAYSECS", false, false,
     [](CZLScenario& s) { BlockDelay(s.ctx_, s.statement_, s.timed_block_); }},
    // BEND does nothing itself: as a line that is not timed it has the loop
    // run the collected block to its end first.
    {"BEND", false, false, [](CZLScenario&) {}},
    // Flow and timing statements (flow_statements.cc).
    {"DELAY", false, false, [](CZLScenario& s) { Delay(s.ctx_, s.statement_, s.wait_, 1); }},
    {"DELAYSECS", false, false, [](CZLScenario& s) { Delay(s.ctx_, s.statement_, s.wait_, 1000); }},
    {"SIMWAIT", false, false, [](CZLScenario& s) { SimWait(s.ctx_, s.statement_, s.wait_); }},
    {"GOTO", false, false,
     [](CZLScenario& s) { Goto(s.ctx_, s.statement_, s.labels_[s.level_], s.cursor()); }},
    {"COMMENT", false, true, [](CZLScenario& s) { Comment(s.ctx_, s.statement_); }},
    {"AUTODELETE", false, false, [](CZLScenario& s) { AutoDelete(s.ctx_, s.statement_); }},
    {"USELOG", false, false, [](CZLScenario& s) { UseLog(s.ctx_, s.statement_, s.owner_); }},
    {"REL_TOL", false, false, [](CZLScenario& s) { RelTol(s.ctx_, s.statement_); }},
    {"ABS_TOL", false, false, [](CZLScenario& s) { AbsTol(s.ctx_, s.statement_); }},
    {"SAFETY", false, false, [](CZLScenario& s) { Safety(s.ctx_, s.statement_); }},
    // External action statements (external_statements.cc).
    {"ZLCMD", false, false, [](CZLScenario& s) { ZlCmd(s.statement_, s.owner_); }},
    {"TOOLBOOK", false, false, [](CZLScenario& s) { HostCommand(s.ctx_, s.statement_, s.owner_); }},
    {"TB_POST", false, false, [](CZLScenario& s) { HostCommand(s.ctx_, s.statement_, s.owner_); }},
    {"PT_ENABLE", false, false,
     [](CZLScenario& s) { PointEnable(s.ctx_, s.statement_, s.point_socket_, true); }},
    {"PT_DISABLE", false, false,
     [](CZLScenario& s) { PointEnable(s.ctx_, s.statement_, s.point_socket_, false); }},
    {"SYSTEM", false, false, [](CZLScenario& s) { System(s.ctx_, s.statement_); }},
    {"STOREVALS", false, false, [](CZLScenario& s) { StoreVals(s.ctx_, s.statement_); }},
    {"COMPAREVALS", false, false, [](CZLScenario& s) { CompareVals(s.ctx_); }},
    {"ANSWER", false, false,
     [](CZLScenario& s) {
       Answer(s.ctx_, s.statement_, s.question_, s.wait_, s.owner_, s.id_,
              s.scenario_file_.c_str());
     }},
    {nullptr, false, false, nullptr},
};

bool CZLScenario::IsTimedLine(const char* line) {
  while (*line == ' ' || *line == '\t') ++line;
  std::string word;
  while (*line != '\0' && *line != ' ' && *line != '\t' && *line != '\n' && *line != '\r') {
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(*line)));
    ++line;
  }
  for (const Keyword* k = kKeywords; k->name != nullptr; ++k) {
    if (k->timed && word == k->name) return true;
  }
  return false;
}

}  // namespace zl
