#include "expression.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "text.h"

namespace zl::sim {
namespace {

// --- The function table -----------------------------------------------------

struct Function {
  const char* name;
  int min_args;
  int max_args;  // -1: no limit
  double (*apply)(const double* args, int argc);
};

double Abs(const double* a, int) { return std::fabs(a[0]); }
double Sqrt(const double* a, int) { return std::sqrt(a[0]); }
double Exp(const double* a, int) { return std::exp(a[0]); }
double Ln(const double* a, int) { return std::log(a[0]); }
double Log10(const double* a, int) { return std::log10(a[0]); }
double Sin(const double* a, int) { return std::sin(a[0]); }
double Cos(const double* a, int) { return std::cos(a[0]); }
double Min(const double* a, int n) {
  double m = a[0];
  for (int i = 1; i < n; ++i) m = std::fmin(m, a[i]);
  return m;
}
double Max(const double* a, int n) {
  double m = a[0];
  for (int i = 1; i < n; ++i) m = std::fmax(m, a[i]);
  return m;
}
double Limit(const double* a, int) { return std::fmin(std::fmax(a[0], a[1]), a[2]); }
double If(const double* a, int) { return a[0] != 0 ? a[1] : a[2]; }

const Function kFunctions[] = {
    {"ABS", 1, 1, Abs},     {"SQRT", 1, 1, Sqrt},   {"EXP", 1, 1, Exp},
    {"LN", 1, 1, Ln},       {"LOG10", 1, 1, Log10}, {"SIN", 1, 1, Sin},
    {"COS", 1, 1, Cos},     {"MIN", 1, -1, Min},    {"MAX", 1, -1, Max},
    {"LIMIT", 3, 3, Limit}, {"IF", 3, 3, If},
};

int FindFunction(std::string_view name) {
  for (size_t i = 0; i < sizeof kFunctions / sizeof kFunctions[0]; ++i) {
    if (EqualsIgnoreCase(name, kFunctions[i].name)) return static_cast<int>(i);
  }
  return -1;
}

// --- The scanner ------------------------------------------------------------

struct Token {
  enum Kind { kEnd, kNumber, kName, kLParen, kRParen, kComma, kOperator } kind;
  std::string_view text;
  size_t position;
  double number = 0;
};

bool IsNameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}
bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '.';
}

std::string At(size_t position) { return " at column " + std::to_string(position + 1); }

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  Token Next() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    const size_t start = pos_;
    if (pos_ >= text_.size()) return {Token::kEnd, {}, start};
    const char c = text_[pos_];
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && pos_ + 1 < text_.size() &&
         std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
      return ScanNumber(start);
    }
    if (IsNameStart(c)) {
      while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
      return {Token::kName, text_.substr(start, pos_ - start), start};
    }
    ++pos_;
    switch (c) {
      case '(': return {Token::kLParen, text_.substr(start, 1), start};
      case ')': return {Token::kRParen, text_.substr(start, 1), start};
      case ',': return {Token::kComma, text_.substr(start, 1), start};
      case '+': case '-': case '*': case '/': case '^':
        return {Token::kOperator, text_.substr(start, 1), start};
      case '<': case '>': case '=': case '!': case '&': case '|': {
        // Two-character operators: <= >= <> == != && ||
        if (pos_ < text_.size()) {
          const char d = text_[pos_];
          if ((d == '=' && c != '&' && c != '|') || (c == '<' && d == '>') ||
              (c == '&' && d == '&') || (c == '|' && d == '|')) {
            ++pos_;
            return {Token::kOperator, text_.substr(start, 2), start};
          }
        }
        if (c == '&' || c == '|') break;
        return {Token::kOperator, text_.substr(start, 1), start};
      }
      default: break;
    }
    throw ExpressionError(ExprErrorCode::kSyntax, start,
                          "unexpected character '" + std::string(1, c) + "'" + At(start));
  }

 private:
  Token ScanNumber(size_t start) {
    auto digits = [&] {
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    };
    digits();
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      digits();
    }
    bool bad = false;
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      const size_t exponent = pos_;
      digits();
      bad = pos_ == exponent;
    }
    // A number glued to a name ("2x", "1.5.3") is a malformed number.
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) {
      ++pos_;
      bad = true;
    }
    const std::string_view text = text_.substr(start, pos_ - start);
    Token token{Token::kNumber, text, start};
    if (bad || !ParseDouble(text, &token.number)) {
      throw ExpressionError(ExprErrorCode::kBadNumber, start,
                            "malformed number '" + std::string(text) + "'" + At(start));
    }
    return token;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

// --- The parser -------------------------------------------------------------
//
//   expr    := and { (OR | "||") and }
//   and     := not { (AND | "&&") not }
//   not     := (NOT | "!") not | compare
//   compare := sum { ("<" | "<=" | ">" | ">=" | "=" | "==" | "<>" | "!=") sum }
//   sum     := product { ("+" | "-") product }
//   product := unary { ("*" | "/") unary }
//   unary   := ("-" | "+") unary | power
//   power   := primary [ "^" unary ]
//   primary := NUMBER | NAME | FUNCTION "(" expr { "," expr } ")" | "(" expr ")"
//
// Keywords and function names are matched without regard to case; a
// function name is one only when "(" follows it.
class ExpressionParser {
 public:
  ExpressionParser(std::string_view text, std::vector<Expression::Op>* code)
      : scanner_(text), code_(code) {
    Advance();
  }

  void Parse() {
    if (token_.kind == Token::kEnd) {
      throw ExpressionError(ExprErrorCode::kEmpty, 0, "empty expression");
    }
    ParseOr();
    if (token_.kind == Token::kRParen) {
      throw ExpressionError(ExprErrorCode::kParenthesis, token_.position,
                            "unbalanced ')'" + At(token_.position));
    }
    if (token_.kind != Token::kEnd) Unexpected();
  }

 private:
  void Advance() { token_ = scanner_.Next(); }

  bool IsKeyword(const char* word) const {
    return token_.kind == Token::kName && EqualsIgnoreCase(token_.text, word);
  }
  bool IsOperator(const char* op) const {
    return token_.kind == Token::kOperator && token_.text == op;
  }

  [[noreturn]] void Unexpected() const {
    if (token_.kind == Token::kEnd) {
      throw ExpressionError(ExprErrorCode::kSyntax, token_.position,
                            "unexpected end of expression" + At(token_.position));
    }
    throw ExpressionError(ExprErrorCode::kSyntax, token_.position,
                          "unexpected '" + std::string(token_.text) + "'" + At(token_.position));
  }

  void Emit(Expression::Op::Kind kind, size_t position) {
    Expression::Op op;
    op.kind = kind;
    op.position = position;
    code_->push_back(std::move(op));
  }

  // Bounds the recursion of nested groups, unary operators and NOT.
  struct Depth {
    explicit Depth(ExpressionParser* p) : parser(p) {
      if (++parser->depth_ > kMaxExpressionDepth) {
        throw ExpressionError(ExprErrorCode::kTooDeep, parser->token_.position,
                              "expression nested too deeply" + At(parser->token_.position));
      }
    }
    ~Depth() { --parser->depth_; }
    ExpressionParser* parser;
  };

  void ParseOr() {
    ParseAnd();
    while (IsKeyword("OR") || IsOperator("||")) {
      const size_t at = token_.position;
      Advance();
      ParseAnd();
      Emit(Expression::Op::kOr, at);
    }
  }

  void ParseAnd() {
    ParseNot();
    while (IsKeyword("AND") || IsOperator("&&")) {
      const size_t at = token_.position;
      Advance();
      ParseNot();
      Emit(Expression::Op::kAnd, at);
    }
  }

  void ParseNot() {
    if (IsKeyword("NOT") || IsOperator("!")) {
      Depth depth(this);
      const size_t at = token_.position;
      Advance();
      ParseNot();
      Emit(Expression::Op::kNot, at);
      return;
    }
    ParseCompare();
  }

  void ParseCompare() {
    ParseSum();
    while (token_.kind == Token::kOperator) {
      Expression::Op::Kind kind;
      const std::string_view op = token_.text;
      if (op == "<") kind = Expression::Op::kLt;
      else if (op == "<=") kind = Expression::Op::kLe;
      else if (op == ">") kind = Expression::Op::kGt;
      else if (op == ">=") kind = Expression::Op::kGe;
      else if (op == "=" || op == "==") kind = Expression::Op::kEq;
      else if (op == "<>" || op == "!=") kind = Expression::Op::kNe;
      else break;
      const size_t at = token_.position;
      Advance();
      ParseSum();
      Emit(kind, at);
    }
  }

  void ParseSum() {
    ParseProduct();
    while (IsOperator("+") || IsOperator("-")) {
      const auto kind = token_.text == "+" ? Expression::Op::kAdd : Expression::Op::kSub;
      const size_t at = token_.position;
      Advance();
      ParseProduct();
      Emit(kind, at);
    }
  }

  void ParseProduct() {
    ParseUnary();
    while (IsOperator("*") || IsOperator("/")) {
      const auto kind = token_.text == "*" ? Expression::Op::kMul : Expression::Op::kDiv;
      const size_t at = token_.position;
      Advance();
      ParseUnary();
      Emit(kind, at);
    }
  }

  void ParseUnary() {
    if (IsOperator("-") || IsOperator("+")) {
      Depth depth(this);
      const bool negate = token_.text == "-";
      const size_t at = token_.position;
      Advance();
      ParseUnary();
      if (negate) Emit(Expression::Op::kNeg, at);
      return;
    }
    ParsePower();
  }

  void ParsePower() {
    ParsePrimary();
    if (IsOperator("^")) {
      Depth depth(this);
      const size_t at = token_.position;
      Advance();
      ParseUnary();
      Emit(Expression::Op::kPow, at);
    }
  }

  void ParsePrimary() {
    switch (token_.kind) {
      case Token::kNumber: {
        Expression::Op op;
    op.kind = Expression::Op::kNumber;
        op.number = token_.number;
        op.position = token_.position;
        code_->push_back(std::move(op));
        Advance();
        return;
      }
      case Token::kName: {
        if (IsKeyword("AND") || IsKeyword("OR") || IsKeyword("NOT")) Unexpected();
        const Token name = token_;
        Advance();
        if (token_.kind == Token::kLParen) {
          ParseCall(name);
          return;
        }
        Expression::Op op;
    op.kind = Expression::Op::kName;
        op.name = std::string(name.text);
        op.position = name.position;
        code_->push_back(std::move(op));
        return;
      }
      case Token::kLParen: {
        Depth depth(this);
        const size_t open = token_.position;
        Advance();
        if (token_.kind == Token::kRParen) Unexpected();
        ParseOr();
        if (token_.kind != Token::kRParen) {
          if (token_.kind == Token::kEnd) {
            throw ExpressionError(ExprErrorCode::kParenthesis, open,
                                  "unbalanced '('" + At(open));
          }
          Unexpected();
        }
        Advance();
        return;
      }
      case Token::kRParen:
        throw ExpressionError(ExprErrorCode::kParenthesis, token_.position,
                              "unbalanced ')'" + At(token_.position));
      default:
        Unexpected();
    }
  }

  void ParseCall(const Token& name) {
    Depth depth(this);
    const size_t open = token_.position;
    const int function = FindFunction(name.text);
    if (function < 0) {
      throw ExpressionError(ExprErrorCode::kBadFunction, name.position,
                            "unknown function '" + std::string(name.text) + "'" + At(name.position));
    }
    Advance();  // "("
    int argc = 0;
    if (token_.kind != Token::kRParen) {
      while (true) {
        ParseOr();
        ++argc;
        if (token_.kind == Token::kComma) {
          Advance();
          continue;
        }
        break;
      }
    }
    if (token_.kind != Token::kRParen) {
      if (token_.kind == Token::kEnd) {
        throw ExpressionError(ExprErrorCode::kParenthesis, open, "unbalanced '('" + At(open));
      }
      Unexpected();
    }
    Advance();
    const Function& f = kFunctions[function];
    if (argc < f.min_args || (f.max_args >= 0 && argc > f.max_args)) {
      throw ExpressionError(ExprErrorCode::kBadFunction, name.position,
                            std::string("wrong number of arguments for ") + f.name +
                                At(name.position));
    }
    Expression::Op op;
    op.kind = Expression::Op::kCall;
    op.function = function;
    op.argc = argc;
    op.position = name.position;
    code_->push_back(std::move(op));
  }

  Scanner scanner_;
  Token token_{Token::kEnd, {}, 0};
  std::vector<Expression::Op>* code_;
  int depth_ = 0;
};

Expression Expression::Compile(std::string_view text) {
  Expression e;
  e.text_ = std::string(text);
  ExpressionParser parser(e.text_, &e.code_);
  parser.Parse();
  return e;
}

bool Expression::IsSingleName() const {
  return code_.size() == 1 && code_[0].kind == Op::kName;
}

double Expression::Evaluate(const ValueSource& source) const {
  if (code_.empty()) throw ExpressionError(ExprErrorCode::kEmpty, 0, "empty expression");
  std::vector<double> stack;
  stack.reserve(code_.size());
  for (const Op& op : code_) {
    double result = 0;
    switch (op.kind) {
      case Op::kNumber:
        result = op.number;
        break;
      case Op::kName:
        if (!source.Lookup(op.name, &result)) {
          throw ExpressionError(ExprErrorCode::kUnknownName, op.position,
                                "unknown tag '" + op.name + "'" + At(op.position));
        }
        break;
      case Op::kNeg:
        result = -stack.back();
        stack.pop_back();
        break;
      case Op::kNot:
        result = stack.back() == 0 ? 1 : 0;
        stack.pop_back();
        break;
      case Op::kCall: {
        const size_t first = stack.size() - static_cast<size_t>(op.argc);
        result = kFunctions[op.function].apply(stack.data() + first, op.argc);
        stack.resize(first);
        break;
      }
      default: {
        const double b = stack.back();
        stack.pop_back();
        const double a = stack.back();
        stack.pop_back();
        switch (op.kind) {
          case Op::kAdd: result = a + b; break;
          case Op::kSub: result = a - b; break;
          case Op::kMul: result = a * b; break;
          case Op::kDiv:
            if (b == 0) {
              throw ExpressionError(ExprErrorCode::kDivisionByZero, op.position,
                                    "division by zero" + At(op.position));
            }
            result = a / b;
            break;
          case Op::kPow: result = std::pow(a, b); break;
          case Op::kLt: result = a < b; break;
          case Op::kLe: result = a <= b; break;
          case Op::kGt: result = a > b; break;
          case Op::kGe: result = a >= b; break;
          case Op::kEq: result = a == b; break;
          case Op::kNe: result = a != b; break;
          case Op::kAnd: result = (a != 0 && b != 0); break;
          case Op::kOr: result = (a != 0 || b != 0); break;
          default: break;
        }
      }
    }
    if (!std::isfinite(result)) {
      throw ExpressionError(ExprErrorCode::kNotFinite, op.position,
                            "result is not a finite number" + At(op.position));
    }
    stack.push_back(result);
  }
  return stack.back();
}

double EvaluateExpression(std::string_view text, const ValueSource& source) {
  return Expression::Compile(text).Evaluate(source);
}

}  // namespace zl::sim
