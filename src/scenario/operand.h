// The strict reading of a statement's numeric operand. An operand is used
// only when it holds no unbalanced parenthesis group and its text (after its
// statement expanded the groups) reads completely in its statement's form;
// anything else is a statement error, never a silent 0. The operand reader
// (operand_reader.h) is the one caller: the statements' numbers are read, and
// their errors reported, by their operand shapes.
//
// Threads: stateless; safe from any thread.
#ifndef ZL_SCENARIO_OPERAND_H_
#define ZL_SCENARIO_OPERAND_H_

namespace zl {

// How a statement reads one numeric operand.
enum class OperandForm {
  // Groups evaluated by the server, then a number (SETPV and the other value
  // setters, EDGE, MONITOR, the timed statements, BDELAY, DELAY, DELAYSECS).
  kNumber,
  // Groups evaluated, then "h:m:s", "m:s" or a number of seconds (SIMWAIT).
  kDuration,
  // A number as written; nothing is evaluated (REL_TOL, ABS_TOL, ANSWER).
  kPlainNumber,
  // The whole operand is an expression the server evaluates (the VERIFY and
  // ASSERT families); only its parentheses are checked here.
  kExpression,
};

// Reads `text` completely into `*value`. A number is decimal: an optional
// sign, digits with an optional point (at least one digit on either side of
// it), an optional exponent ("e" or "E", optional sign, digits), and a finite
// value; no blanks, no "inf", "nan" or hexadecimal. A duration (kDuration) is
// also "h:m:s" or "m:s" with whole hours and minutes (sign and digits, within
// 32 bits) and seconds a number; it gives (h * 60 + m) * 60 + s seconds.
// False, with `*value` untouched, for anything else (the empty text
// included). kExpression texts are never read here: false.
bool ParseOperand(const char* text, OperandForm form, double* value);

// True when `token` holds a "(" without its ")" or a ")" without its "(".
// A backslash makes the next character literal outside groups, as in the
// expansion of groups; inside a group only parentheses count.
bool HasUnbalancedGroup(const char* token);

// The longest window offset or block delay, either sign (about 31 years):
// every offset from the clock then fits a time value.
constexpr double kMaxOffsetSeconds = 1e9;

// `seconds` (a window offset, a block delay) as whole milliseconds, cut
// toward zero; beyond kMaxOffsetSeconds either way they are cut to it.
long long ToMilliseconds(double seconds);

}  // namespace zl

#endif  // ZL_SCENARIO_OPERAND_H_
