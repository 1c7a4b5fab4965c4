// The server's expression language (ZLExpr, algorithm parameters): numbers,
// tag values, arithmetic, comparisons, AND/OR/NOT, functions and
// parentheses. The grammar and the error codes are documented in
// docs/zelvik-sim.md.
//
// An Expression is compiled once (to postfix code) and evaluated any number
// of times against a ValueSource. Compiled expressions are immutable and may
// be evaluated from several threads at once.
#ifndef ZL_SIM_EXPRESSION_H_
#define ZL_SIM_EXPRESSION_H_

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zl::sim {

// The exprError codes of ZLBadExpression.
enum class ExprErrorCode {
  kSyntax = 1,          // an unexpected token
  kUnknownName = 2,     // a tag (or tag field) that does not exist
  kDivisionByZero = 3,
  kParenthesis = 4,     // unbalanced parentheses
  kEmpty = 5,           // nothing to evaluate
  kBadFunction = 6,     // unknown function or wrong number of arguments
  kTooDeep = 7,         // nesting deeper than kMaxExpressionDepth
  kNotFinite = 8,       // a result that is infinite or not a number
  kBadNumber = 9,       // a malformed number such as "1e" or "2x"
};

constexpr int kMaxExpressionDepth = 64;

class ExpressionError : public std::runtime_error {
 public:
  ExpressionError(ExprErrorCode code, size_t position, const std::string& what)
      : std::runtime_error(what), code_(code), position_(position) {}
  ExprErrorCode code() const { return code_; }
  size_t position() const { return position_; }  // byte offset in the text

 private:
  ExprErrorCode code_;
  size_t position_;
};

// Where names in an expression get their values. `name` is the name as
// written (any case), possibly with a field suffix such as ".PVRAW".
class ValueSource {
 public:
  virtual ~ValueSource() = default;
  virtual bool Lookup(std::string_view name, double* value) const = 0;
};

class Expression {
 public:
  Expression() = default;
  // Throws ExpressionError for text that is not an expression.
  static Expression Compile(std::string_view text);

  // Throws ExpressionError for an unknown name, a division by zero or a
  // result that is not finite.
  double Evaluate(const ValueSource& source) const;

  const std::string& text() const { return text_; }
  // Whether the expression is one name and nothing else (a tag reference).
  bool IsSingleName() const;

  struct Op {
    enum Kind {
      kNumber, kName, kNeg, kNot, kAdd, kSub, kMul, kDiv, kPow,
      kLt, kLe, kGt, kGe, kEq, kNe, kAnd, kOr, kCall
    } kind = kNumber;
    double number = 0;   // kNumber
    std::string name;    // kName
    int function = 0;    // kCall: index in the function table
    int argc = 0;        // kCall
    size_t position = 0;
  };

 private:
  friend class ExpressionParser;
  std::string text_;
  std::vector<Op> code_;
};

// Compiles and evaluates in one step.
double EvaluateExpression(std::string_view text, const ValueSource& source);

}  // namespace zl::sim

#endif  // ZL_SIM_EXPRESSION_H_
