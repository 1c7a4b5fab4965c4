// The keyword table of the statement language: every statement keyword and
// its handler, in one place. Keywords are matched after the line has been
// upper-cased; "prefix" rows match every keyword that begins with the name.
#include "scenario/scenario.h"

namespace zl {

const CZLScenario::Keyword CZLScenario::kKeywords[] = {
    // Tag commands (tag_statements.cc).
    {"TOGGLE", true, &CZLScenario::DoToggle},
    {"EDGE", false, &CZLScenario::DoEdge},
    {"OPEN", true, &CZLScenario::DoOpen},
    {"CLOSE", false, &CZLScenario::DoClose},
    {"SETPV", false, &CZLScenario::DoSetPV},
    {"SETPVE", false, &CZLScenario::DoSetPVE},
    {"SETRAWLO", false, &CZLScenario::DoSetRawLo},
    {"SETRAWHI", false, &CZLScenario::DoSetRawHi},
    {"SETMAN", false, &CZLScenario::DoSetMan},
    {"SETAUTO", false, &CZLScenario::DoSetAuto},
    {"FORCE", false, &CZLScenario::DoForce},
    {"UNFORCE", false, &CZLScenario::DoUnforce},
    // Verifications, assertions and monitors (check_statements.cc).
    {"VERIFY", false, &CZLScenario::DoVerify},
    {"VERIFY_GT", false, &CZLScenario::DoVerifyGt},
    {"VERIFY_LT", false, &CZLScenario::DoVerifyLt},
    {"ASSERT", false, &CZLScenario::DoAssert},
    {"ASSERT_GT", false, &CZLScenario::DoAssertGt},
    {"ASSERT_LT", false, &CZLScenario::DoAssertLt},
    {"MONITOR", false, &CZLScenario::DoMonitor},
    {"MONITOR_GT", false, &CZLScenario::DoMonitorGt},
    {"MONITOR_LT", false, &CZLScenario::DoMonitorLt},
    {"MON_ENABLE", false, &CZLScenario::DoMonEnable},
    {"MON_DISABLE", false, &CZLScenario::DoMonDisable},
    {"MON_CLEAR", false, &CZLScenario::DoMonClear},
    // Timed statements (timed_statements.cc).
    {"TVERIFY", false, &CZLScenario::DoTVerify},
    {"TVERIFY_GT", false, &CZLScenario::DoTVerifyGt},
    {"TVERIFY_LT", false, &CZLScenario::DoTVerifyLt},
    {"TASSERT", false, &CZLScenario::DoTAssert},
    {"TASSERT_GT", false, &CZLScenario::DoTAssertGt},
    {"TASSERT_LT", false, &CZLScenario::DoTAssertLt},
    {"TMONITOR", false, &CZLScenario::DoTMonitor},
    {"BDELAY", false, &CZLScenario::DoBDelay},
    {"BDELAYSECS", false, &CZLScenario::DoBDelay},
    {"BEND", false, &CZLScenario::DoBEnd},
    // Flow and timing statements (flow_statements.cc).
    {"DELAY", false, &CZLScenario::DoDelay},
    {"DELAYSECS", false, &CZLScenario::DoDelaySecs},
    {"SIMWAIT", false, &CZLScenario::DoSimWait},
    {"GOTO", false, &CZLScenario::DoGoto},
    {"COMMENT", false, &CZLScenario::DoComment},
    {"AUTODELETE", false, &CZLScenario::DoAutoDelete},
    {"USELOG", false, &CZLScenario::DoUseLog},
    {"REL_TOL", false, &CZLScenario::DoRelTol},
    {"ABS_TOL", false, &CZLScenario::DoAbsTol},
    {"SAFETY", false, &CZLScenario::DoSafety},
    // External action statements (external_statements.cc).
    {"ZLCMD", false, &CZLScenario::DoZlCmd},
    {"TOOLBOOK", false, &CZLScenario::DoToolbook},
    {"TB_POST", false, &CZLScenario::DoTbPost},
    {"PT_ENABLE", false, &CZLScenario::DoPtEnable},
    {"PT_DISABLE", false, &CZLScenario::DoPtDisable},
    {"SYSTEM", false, &CZLScenario::DoSystem},
    {"STOREVALS", false, &CZLScenario::DoStoreVals},
    {"COMPAREVALS", false, &CZLScenario::DoCompareVals},
    {"ANSWER", false, &CZLScenario::DoAnswer},
    {nullptr, false, nullptr},
};

}  // namespace zl
