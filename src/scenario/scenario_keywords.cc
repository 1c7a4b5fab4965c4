// The keyword table of the statement language: every statement keyword and
// its handler, in one place. Keywords are matched after the line has been
// upper-cased; "prefix" rows match every keyword that begins with the name.
// "timed" rows are the words that a timed block collects: a line that begins
// with any other word first runs the block collected before it.
#include "scenario/scenario.h"

namespace zl {

const CZLScenario::Keyword CZLScenario::kKeywords[] = {
    // name, prefix, timed, handler
    // Tag commands (tag_statements.cc).
    {"TOGGLE", true, false, &CZLScenario::DoToggle},
    {"EDGE", false, false, &CZLScenario::DoEdge},
    {"OPEN", true, false, &CZLScenario::DoOpen},
    {"CLOSE", false, false, &CZLScenario::DoClose},
    {"SETPV", false, false, &CZLScenario::DoSetPV},
    {"SETPVE", false, false, &CZLScenario::DoSetPVE},
    {"SETRAWLO", false, false, &CZLScenario::DoSetRawLo},
    {"SETRAWHI", false, false, &CZLScenario::DoSetRawHi},
    {"SETMAN", false, false, &CZLScenario::DoSetMan},
    {"SETAUTO", false, false, &CZLScenario::DoSetAuto},
    {"FORCE", false, false, &CZLScenario::DoForce},
    {"UNFORCE", false, false, &CZLScenario::DoUnforce},
    // Verifications, assertions and monitors (check_statements.cc).
    {"VERIFY", false, false, &CZLScenario::DoVerify},
    {"VERIFY_GT", false, false, &CZLScenario::DoVerifyGt},
    {"VERIFY_LT", false, false, &CZLScenario::DoVerifyLt},
    {"ASSERT", false, false, &CZLScenario::DoAssert},
    {"ASSERT_GT", false, false, &CZLScenario::DoAssertGt},
    {"ASSERT_LT", false, false, &CZLScenario::DoAssertLt},
    {"MONITOR", false, false, &CZLScenario::DoMonitor},
    {"MONITOR_GT", false, false, &CZLScenario::DoMonitorGt},
    {"MONITOR_LT", false, false, &CZLScenario::DoMonitorLt},
    {"MON_ENABLE", false, false, &CZLScenario::DoMonEnable},
    {"MON_DISABLE", false, false, &CZLScenario::DoMonDisable},
    {"MON_CLEAR", false, false, &CZLScenario::DoMonClear},
    // Timed statements (timed_statements.cc).
    {"TVERIFY", false, true, &CZLScenario::DoTVerify},
    {"TVERIFY_GT", false, true, &CZLScenario::DoTVerifyGt},
    {"TVERIFY_LT", false, true, &CZLScenario::DoTVerifyLt},
    {"TASSERT", false, true, &CZLScenario::DoTAssert},
    {"TASSERT_GT", false, true, &CZLScenario::DoTAssertGt},
    {"TASSERT_LT", false, true, &CZLScenario::DoTAssertLt},
    {"TMONITOR", false, true, &CZLScenario::DoTMonitor},
    {"BDELAY", false, true, &CZLScenario::DoBDelay},
    {"BDELAYSECS", false, false, &CZLScenario::DoBDelay},
    {"BEND", false, false, &CZLScenario::DoBEnd},
    // Flow and timing statements (flow_statements.cc).
    {"DELAY", false, false, &CZLScenario::DoDelay},
    {"DELAYSECS", false, false, &CZLScenario::DoDelaySecs},
    {"SIMWAIT", false, false, &CZLScenario::DoSimWait},
    {"GOTO", false, false, &CZLScenario::DoGoto},
    {"COMMENT", false, true, &CZLScenario::DoComment},
    {"AUTODELETE", false, false, &CZLScenario::DoAutoDelete},
    {"USELOG", false, false, &CZLScenario::DoUseLog},
    {"REL_TOL", false, false, &CZLScenario::DoRelTol},
    {"ABS_TOL", false, false, &CZLScenario::DoAbsTol},
    {"SAFETY", false, false, &CZLScenario::DoSafety},
    // External action statements (external_statements.cc).
    {"ZLCMD", false, false, &CZLScenario::DoZlCmd},
    {"TOOLBOOK", false, false, &CZLScenario::DoToolbook},
    {"TB_POST", false, false, &CZLScenario::DoTbPost},
    {"PT_ENABLE", false, false, &CZLScenario::DoPtEnable},
    {"PT_DISABLE", false, false, &CZLScenario::DoPtDisable},
    {"SYSTEM", false, false, &CZLScenario::DoSystem},
    {"STOREVALS", false, false, &CZLScenario::DoStoreVals},
    {"COMPAREVALS", false, false, &CZLScenario::DoCompareVals},
    {"ANSWER", false, false, &CZLScenario::DoAnswer},
    {nullptr, false, false, nullptr},
};

}  // namespace zl
