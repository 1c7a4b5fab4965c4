#include "common/fixed_format.h"

#include <gtest/gtest.h>

#include <limits>

namespace zl {
namespace {

TEST(FixedFormatTest, Values) {
  struct Case {
    int line;
    double value;
    int decimals;
    const char* want;
  };
  const double kNan = std::numeric_limits<double>::quiet_NaN();
  const double kInf = std::numeric_limits<double>::infinity();
  const Case kCases[] = {
      {__LINE__, 2.5, 3, "2.5"},        // trailing zeros trimmed
      {__LINE__, 12.0, 0, "12."},       // point after the last digit
      {__LINE__, 0.5, 1, "0.5"},        // leading "0." for decpt 0
      {__LINE__, 0.0, 2, "0.0"},        // zero keeps one digit after the point
      {__LINE__, 0.0, 0, "0."},         // zero gives no digits at all
      {__LINE__, 10.0, 2, "10.0"},      // trimming stops at the first decimal
      {__LINE__, 123.456, 1, "123.5"},
      {__LINE__, -2.5, 1, "-2.5"},
      {__LINE__, -0.001, 2, "-0.0"},    // rounds to zero, sign kept
      {__LINE__, 0.001, 2, "0.0"},      // no digits, decpt -2
      {__LINE__, 0.009, 2, "0.01"},     // a zero per negative decpt position
      {__LINE__, 0.05, 1, "0.1"},       // rounding from nothing to one digit
      {__LINE__, 0.4, 0, "0."},
      {__LINE__, 0.01, 0, "0.0"},       // decpt -1 still writes its zero
      {__LINE__, 2.5, 0, "3."},         // half away from zero, not to even
      {__LINE__, -2.5, 0, "-3."},
      {__LINE__, 0.125, 2, "0.13"},     // exact binary tie still rounds up
      {__LINE__, 1.005, 2, "1.0"},      // 1.005 is 1.00499999... in binary
      {__LINE__, 0.96, 1, "1.0"},       // carry out of the first digit
      {__LINE__, 9.999, 2, "10.0"},     // carry adds an integer digit
      {__LINE__, 1.0 / 3, 50, "0.33333333333333331"},  // 17 significant digits, cut at 40
      {__LINE__, 1e-50, 60, "0.0"},     // zeros cut at 40, then trimmed
      // Digits past the 17th significant one are zeros, not the binary value.
      {__LINE__, 1e38, 1, "99999999999999998000000000000000000000.0"},
      // 40-character limit: the point must fit.
      {__LINE__, 2e38, 1, "200000000000000000000000000000000000000."},   // 39 digits + point
      {__LINE__, -2e37, 1, "-19999999999999999000000000000000000000."},  // sign counts
      {__LINE__, -2e38, 1, "???"},
      {__LINE__, 5e39, 0, "???"},
      {__LINE__, 1234.5, -2, "???"},    // negative decimals drop the point
      // Conversion failures.
      {__LINE__, kNan, 2, "***"},
      {__LINE__, kInf, 2, "***"},
      {__LINE__, -kInf, 2, "***"},
      {__LINE__, 1.0, 347, "1.0"},      // 348 digits: the most the conversion gives
      {__LINE__, 1.0, 348, "***"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, FormatFixed(c.value, c.decimals));
  }
}

}  // namespace
}  // namespace zl
