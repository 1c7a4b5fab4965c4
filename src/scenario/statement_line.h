// The operands of the statement being executed, as its handler reads them:
// the line's tokenizer, positioned after the keyword, the keyword itself and
// the keyword's row of the keyword table, whose operand shape says what the
// statement takes. Handlers read their operands with ReadOperands below (the
// shape's reading, operand_reader.h); EvaluateParentheses expands the groups
// of a text on the server.
//
// Threads: the scenario's worker only. A StatementLine is made once per
// scenario over its tokenizer and keyword buffer; it owns neither.
#ifndef ZL_SCENARIO_STATEMENT_LINE_H_
#define ZL_SCENARIO_STATEMENT_LINE_H_

#include <string>

#include "scenario/operand_reader.h"
#include "scenario/operand_shape.h"
#include "scenario/tokenizer.h"

namespace zl {

class StatementContext;
struct KeywordRow;

class StatementLine {
 public:
  // `tokens` and `keyword` are borrowed and outlive the view.
  StatementLine(Tokenizer* tokens, const char* keyword) : tokens_(tokens), keyword_(keyword) {}
  StatementLine(const StatementLine&) = delete;
  StatementLine& operator=(const StatementLine&) = delete;

  // The keyword as the line gives it (upper case); for a prefix row of the
  // keyword table the whole word, not the row's name.
  const char* keyword() const { return keyword_; }
  // The next operand (Tokenizer::Next); null when none is left.
  char* Next(const char* delims, bool groups = false) { return tokens_->Next(delims, groups); }
  // The text not taken yet ("" when none).
  const char* Rest() const {
    const char* p = tokens_->position();
    return p != nullptr ? p : "";
  }

  // The keyword's row: set by the statement loop for each statement. Unset
  // (a handler called on its own), the row is looked up by the keyword.
  void set_row(const KeywordRow* row) { row_ = row; }
  // The operand shape of the keyword's row; empty for a keyword without one.
  const OperandShape& shape() const;

 private:
  Tokenizer* const tokens_;
  const char* const keyword_;
  const KeywordRow* row_ = nullptr;
};

// Reads the statement's operands by its shape (ReadOperands of
// operand_reader.h) for the run: groups and kExpression operands are
// evaluated by the server, a missing operand writes the shape's process log
// line and statement error, a number that does not read "__Could not parse
// <role> '<token>' for <KEYWORD>" (or the shape's own text). False when the
// statement stops there. Server exceptions of the evaluations escape (they
// end the run).
bool ReadOperands(StatementContext& ctx, StatementLine& line, Operands* out);

// `token` with each balanced (...) group replaced by the server's value of
// it ("%lf"); "\x" gives x; an unbalanced group at the end is dropped.
// Server exceptions escape.
std::string EvaluateParentheses(StatementContext& ctx, const char* token);

}  // namespace zl

#endif  // ZL_SCENARIO_STATEMENT_LINE_H_
