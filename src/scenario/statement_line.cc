#include "scenario/statement_line.h"

#include <cstdio>

#include "common/text_utils.h"
#include "scenario/statement_context.h"

namespace zl {

bool StatementLine::TakeTag(char (&tag)[80]) {
  const char* token = Next(kBlanks);
  if (token == nullptr) return false;
  strncpyz(tag, token, sizeof tag);
  return true;
}

bool NumericOperand(StatementContext& ctx, const StatementLine& line, const char* role,
                    const char* token, OperandForm form, double* value, std::string* text) {
  bool ok = !HasUnbalancedGroup(token);
  if (ok) {
    const bool expand = form == OperandForm::kNumber || form == OperandForm::kDuration;
    const std::string read = expand ? EvaluateParentheses(ctx, token) : std::string(token);
    if (form == OperandForm::kExpression) {
      *value = ctx.Expr(token);
    } else {
      ok = ParseOperand(read.c_str(), form, value);
    }
    if (text != nullptr) *text = read;
  }
  if (!ok) {
    ctx.StatementError("%s\t__Could not parse %s '%s' for %s\n", ctx.Stamp().c_str(), role, token,
                       line.keyword());
  }
  return ok;
}

std::string EvaluateParentheses(StatementContext& ctx, const char* token) {
  std::string out;
  if (token == nullptr) return out;
  for (const char* p = token; *p != '\0'; ++p) {
    if (*p == '\\') {
      if (p[1] == '\0') break;
      out += *++p;
    } else if (*p == '(') {
      int depth = 0;
      const char* q = p;
      for (; *q != '\0'; ++q) {
        if (*q == '(') ++depth;
        if (*q == ')' && --depth == 0) break;
      }
      if (*q == '\0') break;  // unbalanced: dropped
      const std::string group(p, static_cast<std::size_t>(q - p + 1));
      char value[64];
      std::snprintf(value, sizeof value, "%lf", ctx.Expr(group.c_str()));
      out += value;
      p = q;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace zl
