// Reading a statement's operands by its shape (operand_shape.h): the one
// reader of the statement loop and of the static check. Where the two
// differ, the reader asks its OperandSite: the run's site evaluates groups
// and expressions on the server and writes statement errors to the test log;
// the check's site evaluates nothing and turns the errors into diagnostics.
//
// Threads: the reader is stateless; a site and the Operands it fills belong
// to the thread that reads (the scenario's worker, or the check's caller).
#ifndef ZL_SCENARIO_OPERAND_READER_H_
#define ZL_SCENARIO_OPERAND_READER_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "scenario/operand_shape.h"

namespace zl {

class StatementLine;

// What went wrong with an operand.
enum class OperandError {
  kMissing,         // absent where its shape requires it
  kUnread,          // a number that does not read in its form (or holds an unbalanced group)
  kWindowReversed,  // a window end before its start
};

// Where the reader takes values from and reports errors to.
class OperandSite {
 public:
  virtual ~OperandSite() = default;
  // The value of the expression `text` (`size` characters of the line: a
  // parenthesis group with its parentheses, or a whole kExpression operand),
  // or nullopt when it cannot be told here. The run's site asks the server
  // (ZLExpr); its exceptions escape the reader.
  virtual std::optional<double> Evaluate(const char* text, std::size_t size) = 0;
  // True when `token` holds text the site cannot see (the check's arguments
  // that were not given): such an operand is taken as it is, unread.
  virtual bool Opaque(const char* token) const { return false; }
  // A statement error of operand `spec`: `kind`, its wording `text`
  // (statement_errors.h), and the operand concerned (null when missing).
  virtual void Error(OperandError kind, const OperandSpec& spec, const std::string& text,
                     const char* token) = 0;
};

// The operands of one statement as its shape read them; index i is the
// shape's i-th operand.
struct Operands {
  static constexpr int kMax = 4;  // the longest shape

  // Each operand as read, null when absent. A kCut operand points into
  // `cut`, any other into the statement's line.
  const char* text[kMax] = {};
  // Where each operand begins in the statement's line (null when absent).
  const char* at[kMax] = {};
  // A number's value (0 when absent or unread).
  double value[kMax] = {};
  // A number's text as read: its groups expanded (kNumber, kDuration), else
  // as written.
  std::string read[kMax];
  // A number given as "?" where the shape allows it (kOwnValue).
  bool own_value[kMax] = {};
  // False when a number's value could not be told (the check: a group, an
  // argument not given); the run knows every value.
  bool known[kMax] = {true, true, true, true};
  // A repeating operand's words (kRepeats), in order, the first included.
  std::vector<const char*> words;
  // The text after the last operand read: what the statement ignores
  // (empty when its shape reads the line to its end).
  const char* rest = nullptr;
  char cut[kMax][80] = {};

  bool has(int i) const { return text[i] != nullptr; }
};

// Reads the operands of `shape` from `line` (positioned after its keyword),
// in order, into `*out`. Numbers are read as they come, in the operand's
// form (ParseOperand, operand.h), after the site evaluated their groups
// (kNumber, kDuration) or the whole operand (kExpression). True when the
// statement has what it needs (an optional operand may be absent: those
// after it are absent too). False when it stops: a kSilent operand missing
// (nothing said), a kError operand missing, a number that does not read or
// a window that ends before it starts (each reported to `site` once).
bool ReadOperands(const OperandShape& shape, StatementLine& line, OperandSite& site, Operands* out);

// `token` with each balanced (...) group replaced by the site's value of it
// ("%lf"); "\x" gives x; an unbalanced group at the end is dropped. A group
// whose value the site cannot tell reads as 1.000000 and clears `*known`
// (when given).
std::string ExpandGroups(const char* token, OperandSite& site, bool* known = nullptr);

}  // namespace zl

#endif  // ZL_SCENARIO_OPERAND_READER_H_
