#include "scenario/statement_line.h"

#include <ace/Log_Msg.h>

#include "scenario/keyword_table.h"
#include "scenario/statement_context.h"

namespace zl {
namespace {

// The run's operand site: the server evaluates, the test log hears of errors.
class RunSite : public OperandSite {
 public:
  explicit RunSite(StatementContext& ctx) : ctx_(ctx) {}

  std::optional<double> Evaluate(const char* text, std::size_t size) override {
    if (text[size] == '\0') return ctx_.Expr(text);
    return ctx_.Expr(std::string(text, size).c_str());
  }

  void Error(OperandError kind, const OperandSpec& spec, const std::string& text,
             const char*) override {
    if (kind == OperandError::kMissing) {
      if (spec.missing.process_log != nullptr) {
        ACE_DEBUG((LM_ERROR, "%s", spec.missing.process_log));
      }
      if (spec.missing.needs_test_log && !ctx_.test_log().is_open()) return;
    }
    ctx_.StatementError("%s\t__%s\n", ctx_.Stamp().c_str(), text.c_str());
  }

 private:
  StatementContext& ctx_;
};

}  // namespace

const OperandShape& StatementLine::shape() const {
  static const OperandShape kNone;
  const KeywordRow* row = row_ != nullptr ? row_ : FindKeyword(keyword_);
  return row != nullptr ? row->shape : kNone;
}

bool ReadOperands(StatementContext& ctx, StatementLine& line, Operands* out) {
  RunSite site(ctx);
  return ReadOperands(line.shape(), line, site, out);
}

std::string EvaluateParentheses(StatementContext& ctx, const char* token) {
  RunSite site(ctx);
  return ExpandGroups(token, site);
}

}  // namespace zl
