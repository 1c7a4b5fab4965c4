// The expression language: values of small expressions, and the error code
// and position of bad ones.
#include "expression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "text.h"

namespace zl::sim {
namespace {

class FakeValues : public ValueSource {
 public:
  bool Lookup(std::string_view name, double* value) const override {
    auto it = values_.find(ToUpper(name));
    if (it == values_.end()) return false;
    *value = it->second;
    return true;
  }

 private:
  std::map<std::string, double> values_ = {
      {"A", 2}, {"B", 3}, {"ZERO", 0}, {"T.PVRAW", 12.5}, {"$SIMTIME", 90}, {"MAX", 7}};
};

TEST(ExpressionTest, Values) {
  struct Case {
    int line;
    const char* text;
    double want;
  };
  const Case kCases[] = {
      {__LINE__, "42", 42},
      {__LINE__, " .5 ", 0.5},            // leading dot
      {__LINE__, "1e3", 1000},            // exponent
      {__LINE__, "2.5E-1", 0.25},
      {__LINE__, "1 + 2 * 3", 7},         // * before +
      {__LINE__, "(1 + 2) * 3", 9},       // parentheses
      {__LINE__, "10 - 4 - 3", 3},        // left associative
      {__LINE__, "24 / 4 / 2", 3},
      {__LINE__, "2 ^ 3 ^ 2", 512},       // ^ right associative
      {__LINE__, "-2 ^ 2", -4},           // unary minus binds looser than ^
      {__LINE__, "--3", 3},
      {__LINE__, "+A", 2},
      {__LINE__, "a * b", 6},             // names without regard to case
      {__LINE__, "T.PVRAW", 12.5},        // field suffix is part of the name
      {__LINE__, "$SIMTIME / 60", 1.5},
      {__LINE__, "A < B", 1},
      {__LINE__, "A >= B", 0},
      {__LINE__, "A = 2", 1},
      {__LINE__, "A == 2", 1},
      {__LINE__, "A <> 2", 0},
      {__LINE__, "A != 3", 1},
      {__LINE__, "1 < 2 = 1", 1},         // comparisons chain left to right
      {__LINE__, "A > 1 AND B > 1", 1},
      {__LINE__, "A > 1 and ZERO", 0},    // keywords without regard to case
      {__LINE__, "ZERO OR A", 1},
      {__LINE__, "NOT ZERO", 1},
      {__LINE__, "NOT A > 5", 1},         // NOT binds looser than comparisons
      {__LINE__, "!A", 0},
      {__LINE__, "1 || 0 && 0", 1},       // AND before OR
      {__LINE__, "A + 1 > 2 AND NOT (B < 1)", 1},
      {__LINE__, "ABS(-4)", 4},
      {__LINE__, "sqrt(16)", 4},
      {__LINE__, "MIN(3, A, 5)", 2},
      {__LINE__, "MAX(1, 9)", 9},
      {__LINE__, "MAX + 1", 8},           // a function name is a tag without "("
      {__LINE__, "LIMIT(150, 0, 100)", 100},
      {__LINE__, "IF(A > 1, 10, 20)", 10},
      {__LINE__, "(((1)))", 1},
  };
  const FakeValues values;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_DOUBLE_EQ(c.want, EvaluateExpression(c.text, values)) << c.text;
  }
}

TEST(ExpressionTest, Errors) {
  struct Case {
    int line;
    std::string text;
    ExprErrorCode code;
    size_t position;
  };
  const Case kCases[] = {
      {__LINE__, "", ExprErrorCode::kEmpty, 0},
      {__LINE__, "   ", ExprErrorCode::kEmpty, 0},
      {__LINE__, "1 +", ExprErrorCode::kSyntax, 3},          // operand missing at the end
      {__LINE__, "1 2", ExprErrorCode::kSyntax, 2},          // two operands
      {__LINE__, "(1 + 2", ExprErrorCode::kParenthesis, 0},  // points at the open "("
      {__LINE__, "1 + 2)", ExprErrorCode::kParenthesis, 5},
      {__LINE__, "()", ExprErrorCode::kSyntax, 1},
      {__LINE__, "2x", ExprErrorCode::kBadNumber, 0},
      {__LINE__, "1e", ExprErrorCode::kBadNumber, 0},
      {__LINE__, "1.2.3", ExprErrorCode::kBadNumber, 0},
      {__LINE__, "A # B", ExprErrorCode::kSyntax, 2},
      {__LINE__, "A & B", ExprErrorCode::kSyntax, 2},        // single & is no operator
      {__LINE__, "FOO(1)", ExprErrorCode::kBadFunction, 0},
      {__LINE__, "MAX()", ExprErrorCode::kBadFunction, 0},
      {__LINE__, "LIMIT(1, 2)", ExprErrorCode::kBadFunction, 0},
      {__LINE__, "AND 1", ExprErrorCode::kSyntax, 0},
      {__LINE__, "1 AND", ExprErrorCode::kSyntax, 5},
      {__LINE__, "NOPE + 1", ExprErrorCode::kUnknownName, 0},
      {__LINE__, "A + T.PV", ExprErrorCode::kUnknownName, 4},
      {__LINE__, "A / ZERO", ExprErrorCode::kDivisionByZero, 2},
      {__LINE__, "SQRT(-1)", ExprErrorCode::kNotFinite, 0},
      {__LINE__, "10 ^ 400", ExprErrorCode::kNotFinite, 3},
      {__LINE__, std::string(100, '(') + "1" + std::string(100, ')'), ExprErrorCode::kTooDeep, 64},
      {__LINE__, std::string(100, '-') + "1", ExprErrorCode::kTooDeep, 64},
  };
  const FakeValues values;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    try {
      EvaluateExpression(c.text, values);
      ADD_FAILURE() << "no error for '" << c.text << "'";
    } catch (const ExpressionError& e) {
      EXPECT_EQ(c.code, e.code()) << c.text << ": " << e.what();
      EXPECT_EQ(c.position, e.position()) << c.text << ": " << e.what();
      if (c.code != ExprErrorCode::kEmpty) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("column")) << e.what();
      }
    }
  }
}

TEST(ExpressionTest, CompiledOnceEvaluatedAgain) {
  class Counter : public ValueSource {
   public:
    bool Lookup(std::string_view, double* value) const override {
      *value = ++n;
      return true;
    }
    mutable int n = 0;
  } counter;
  const Expression e = Expression::Compile("X * 10");
  EXPECT_EQ(10, e.Evaluate(counter));
  EXPECT_EQ(20, e.Evaluate(counter));  // names are looked up at every evaluation
  EXPECT_FALSE(e.IsSingleName());
  EXPECT_TRUE(Expression::Compile(" X.PV ").IsSingleName());
}

}  // namespace
}  // namespace zl::sim
