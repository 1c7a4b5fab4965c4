// The keyword table of the statement language: one row per statement, with
// its keyword, how the keyword matches, whether a timed block collects it,
// its operand shape (operand_shape.h), a one-line description and its
// handler. The statement loop
// runs a line by its row; the static check (scenario_check.h) reads the same
// rows, so one row says what a statement takes for both.
//
// Stateless: a constant table (scenario_keywords.cc).
#ifndef ZL_SCENARIO_KEYWORD_TABLE_H_
#define ZL_SCENARIO_KEYWORD_TABLE_H_

#include <string>

#include "scenario/operand_shape.h"

namespace zl {

class CZLScenario;

struct KeywordRow {
  const char* name;  // upper case
  bool prefix;       // matches every keyword that begins with `name`
  bool timed;        // a timed block collects the line (IsTimedLine)
  OperandShape shape;
  // What the statement does, in one line: what editors show beside the
  // keyword's form (KeywordForm) in completion and hover help.
  const char* help;
  // Calls the statement's handler with exactly the parts of the scenario it
  // uses; the handler reads its operands by `shape`.
  void (*handler)(CZLScenario&);
};

// The rows in matching order; the row after the last has a null name.
const KeywordRow* KeywordRows();
// The first row that `keyword` (upper case, as the line gives it) matches,
// or null for an unknown keyword.
const KeywordRow* FindKeyword(const char* keyword);
// The statement's form as a line gives it: the keyword and its operands
// by role ("VERIFY taglist value", "TVERIFY taglist value [start [end]]",
// "SAFETY [check ...]"), from the row's shape (ShapeForm).
std::string KeywordForm(const KeywordRow& row);
// True when the first word of `line` (upper-cased, after leading blanks) is
// exactly the name of a timed row. Prefix rows are never timed.
bool IsTimedLine(const char* line);

}  // namespace zl

#endif  // ZL_SCENARIO_KEYWORD_TABLE_H_
