// The comparison rule of verifications, assertions and monitors, shared with
// the timed statements. Stateless.
#ifndef ZL_SCENARIO_CHECKS_H_
#define ZL_SCENARIO_CHECKS_H_

namespace zl {

// Comparison kinds: 0 VERIFY/MONITOR "=", 1 ">" , 2 "<", 3..5 the ASSERT
// forms of 0..2, 6 TMONITOR "=".
// True when `value` passes the check of `kind` against `expected`: "="
// within |expected * rel_tol| or else within |abs_tol|; ">" and "<" strict.
bool ComparePasses(int kind, double value, double expected, double rel_tol, double abs_tol);

// The operator text of `kind`: ">", "<" or "=".
const char* OperatorText(int kind);

}  // namespace zl

#endif  // ZL_SCENARIO_CHECKS_H_
