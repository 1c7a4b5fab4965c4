// The operands of the statement being executed, as its handler reads them:
// the line's tokenizer, positioned after the keyword, and the keyword
// itself. With it the shared readings every family uses: a tag, a value
// token, a numeric operand (the one conversion and its error line) and the
// expansion of parenthesis groups.
//
// Threads: the scenario's worker only. A StatementLine is made once per
// scenario over its tokenizer and keyword buffer; it owns neither.
#ifndef ZL_SCENARIO_STATEMENT_LINE_H_
#define ZL_SCENARIO_STATEMENT_LINE_H_

#include <string>

#include "scenario/operand.h"
#include "scenario/tokenizer.h"

namespace zl {

class StatementContext;

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
  // The tag operand into `tag` (at most 79 characters); false without one.
  bool TakeTag(char (&tag)[80]);
  // The value operand token (parenthesis groups kept together); null
  // without one.
  const char* TakeValue() { return Next(kBlanks, true); }

 private:
  Tokenizer* const tokens_;
  const char* const keyword_;
};

// The one conversion of a numeric operand, for every statement. `token` is
// the operand as the line gives it; `role` names it in the error line
// ("value", "start", "delay", ...). The operand converts when it holds no
// unbalanced group and, with the groups evaluated (forms kNumber and
// kDuration) or as written (kPlainNumber), reads completely in `form`
// (ParseOperand); kExpression operands are evaluated whole by the server.
// Otherwise the statement fails: one statement error, the test log line
// "__Could not parse <role> '<token>' for <keyword>", and false, after which
// the statement does nothing more. Server exceptions of the evaluation
// escape (they end the run). `text`, when given, receives the text that was
// read (the expansion, or the token as written).
bool NumericOperand(StatementContext& ctx, const StatementLine& line, const char* role,
                    const char* token, OperandForm form, double* value,
                    std::string* text = nullptr);

// `token` with each balanced (...) group replaced by the server's value of
// it ("%lf"); "\x" gives x; an unbalanced group at the end is dropped.
// Server exceptions escape.
std::string EvaluateParentheses(StatementContext& ctx, const char* token);

}  // namespace zl

#endif  // ZL_SCENARIO_STATEMENT_LINE_H_
