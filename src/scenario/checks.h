// The comparison rule of verifications, assertions and monitors, shared with
// the timed statements. Stateless.
#ifndef ZL_SCENARIO_CHECKS_H_
#define ZL_SCENARIO_CHECKS_H_

namespace zl {

// What a check compares: "=" (VERIFY, ASSERT, MONITOR, TMONITOR and their
// timed forms), ">" (the _GT forms) or "<" (the _LT forms).
enum class Comparison { kEqual, kGreater, kLess };

// True when `value` passes `comparison` against `expected`: "=" within
// |expected * rel_tol| or else within |abs_tol|; ">" and "<" strict.
bool ComparePasses(Comparison comparison, double value, double expected, double rel_tol,
                   double abs_tol);

// The operator text of `comparison`: "=", ">" or "<".
const char* OperatorText(Comparison comparison);

}  // namespace zl

#endif  // ZL_SCENARIO_CHECKS_H_
