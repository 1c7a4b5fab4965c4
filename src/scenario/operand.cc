#include "scenario/operand.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zl {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipDigits(const char* p) {
  while (IsDigit(*p)) ++p;
  return p;
}

// The end of the decimal number that starts at `p`, or `p` when none does.
const char* NumberEnd(const char* p) {
  const char* q = p;
  if (*q == '+' || *q == '-') ++q;
  const char* whole = q;
  q = SkipDigits(q);
  bool any_digit = q != whole;
  if (*q == '.') {
    const char* fraction = ++q;
    q = SkipDigits(q);
    any_digit = any_digit || q != fraction;
  }
  if (!any_digit) return p;
  if (*q == 'e' || *q == 'E') {
    const char* e = q + 1;
    if (*e == '+' || *e == '-') ++e;
    const char* digits = e;
    e = SkipDigits(e);
    if (e == digits) return p;  // an exponent without digits
    q = e;
  }
  return q;
}

// `text` as a whole number.
bool ReadNumber(const std::string& text, double* value) {
  const char* begin = text.c_str();
  if (text.empty() || NumberEnd(begin) != begin + text.size()) return false;
  const double v = std::strtod(begin, nullptr);
  if (!std::isfinite(v)) return false;
  *value = v;
  return true;
}

// `text` as a sign and digits within 32 bits.
bool ReadWhole(const std::string& text, long* value) {
  const char* begin = text.c_str();
  const char* digits = begin + ((text[0] == '+' || text[0] == '-') ? 1 : 0);
  if (!IsDigit(*digits) || SkipDigits(digits) != begin + text.size()) return false;
  errno = 0;
  const long long v = std::strtoll(begin, nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<long>(v);
  return true;
}

// "h:m:s", "m:s" or seconds.
bool ReadDuration(const std::string& text, double* value) {
  const std::string::size_type first = text.find(':');
  if (first == std::string::npos) return ReadNumber(text, value);
  const std::string::size_type second = text.find(':', first + 1);
  if (second != std::string::npos && text.find(':', second + 1) != std::string::npos) return false;
  long hours = 0, minutes = 0;
  double seconds = 0;
  bool ok;
  if (second == std::string::npos) {
    ok = ReadWhole(text.substr(0, first), &minutes) &&
         ReadNumber(text.substr(first + 1), &seconds);
  } else {
    ok = ReadWhole(text.substr(0, first), &hours) &&
         ReadWhole(text.substr(first + 1, second - first - 1), &minutes) &&
         ReadNumber(text.substr(second + 1), &seconds);
  }
  if (!ok) return false;
  const double total = (static_cast<double>(hours) * 60 + static_cast<double>(minutes)) * 60 + seconds;
  if (!std::isfinite(total)) return false;
  *value = total;
  return true;
}

}  // namespace

bool ParseOperand(const char* text, OperandForm form, double* value) {
  if (text == nullptr) return false;
  switch (form) {
    case OperandForm::kNumber:
    case OperandForm::kPlainNumber:
      return ReadNumber(text, value);
    case OperandForm::kDuration:
      return ReadDuration(text, value);
    case OperandForm::kExpression:
      break;
  }
  return false;
}

long long ToMilliseconds(double seconds) {
  if (seconds > kMaxOffsetSeconds) seconds = kMaxOffsetSeconds;
  if (seconds < -kMaxOffsetSeconds) seconds = -kMaxOffsetSeconds;
  return static_cast<long long>(seconds * 1000);
}

bool HasUnbalancedGroup(const char* token) {
  if (token == nullptr) return false;
  for (const char* p = token; *p != '\0'; ++p) {
    if (*p == '\\') {
      if (p[1] == '\0') break;
      ++p;
    } else if (*p == ')') {
      return true;
    } else if (*p == '(') {
      int depth = 0;
      for (; *p != '\0'; ++p) {
        if (*p == '(') ++depth;
        if (*p == ')' && --depth == 0) break;
      }
      if (*p == '\0') return true;
    }
  }
  return false;
}

}  // namespace zl
