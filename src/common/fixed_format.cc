#include "common/fixed_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zl {
namespace {

// Longest text FormatFixed gives.
constexpr std::size_t kMaxText = 40;
// Most digits the conversion produces; beyond this it fails, as the
// runtime's conversion buffer (349 bytes with the terminator) does.
constexpr long long kMaxDigits = 348;

// The fixed-point digit conversion FormatFixed is built on, with the results
// of the Windows runtime's `_fcvt`:
//  - The value is first taken to 17 significant decimal digits ("mantissa",
//    value = 0.mantissa x 10^decpt). Zero has the mantissa "0" and decpt 0.
//  - The result holds decpt + decimals digits: mantissa digits, padded with
//    '0' past the 17th. When that count is 0 or more, the next mantissa
//    digit rounds half away from zero ('5' or more adds one to the last kept
//    digit, carrying); a carry out of the first digit gives a leading "1" and
//    decpt + 1. When the count is negative nothing is rounded.
//  - So the digit string carries no leading zeros and can be empty:
//      0.5,  1 -> "5"  decpt 0        0.05, 1 -> "1"  decpt 0 (rounded up)
//      0.001,2 -> ""   decpt -2       0.009,2 -> "1"  decpt -1
//      0.0,  2 -> "00" decpt 0        0.0,  0 -> ""   decpt 0
//      12.0, 0 -> "12" decpt 2        2.5,  0 -> "3"  decpt 1
//      0.96, 1 -> "10" decpt 1
//  - The sign is the sign bit of the value.
// Returns false when the value is not finite or the digit count is too large.
bool FixedDigits(double value, int decimals, std::string* digits, int* decpt,
                 bool* negative) {
  if (!std::isfinite(value)) return false;
  *negative = std::signbit(value);

  std::string mantissa;
  long long point = 0;
  if (value == 0.0) {
    mantissa = "0";
  } else {
    // "d.dddddddddddddddde[+-]x": the 17 significant digits, correctly rounded.
    char sci[40];
    std::snprintf(sci, sizeof sci, "%.16e", std::fabs(value));
    mantissa.push_back(sci[0]);
    mantissa.append(sci + 2, 16);
    point = std::strtol(std::strchr(sci, 'e') + 1, nullptr, 10) + 1;
  }

  const long long count = point + decimals;
  if (count > kMaxDigits) return false;

  // out[0] is the overflow position for a carry out of the first digit.
  std::string out = "0";
  std::size_t next = 0;  // the mantissa digit after the last one kept
  for (long long i = 0; i < count; ++i) {
    out.push_back(next < mantissa.size() ? mantissa[next++] : '0');
  }
  if (count >= 0 && next < mantissa.size() && mantissa[next] >= '5') {
    std::size_t i = out.size() - 1;
    while (out[i] == '9') out[i--] = '0';
    ++out[i];
  }
  if (out[0] == '1') {
    ++point;
  } else {
    out.erase(0, 1);
  }
  *digits = out;
  *decpt = static_cast<int>(point);
  return true;
}

}  // namespace

std::string FormatFixed(double value, int decimals) {
  std::string digits;
  int decpt = 0;
  bool negative = false;
  if (!FixedDigits(value, decimals, &digits, &decpt, &negative)) return "***";

  std::string text;
  auto put = [&text](char c) {
    if (text.size() < kMaxText) text.push_back(c);
  };
  if (negative) put('-');
  if (decpt <= 0) {
    put('0');
    put('.');
  }
  for (int i = decpt; i < 0 && text.size() < kMaxText; ++i) put('0');
  // The point goes before the digit at index decpt; after the last digit
  // when decpt equals their count ("12.").
  for (std::size_t i = 0; i <= digits.size() && text.size() < kMaxText; ++i) {
    if (decpt >= 1 && i == static_cast<std::size_t>(decpt)) put('.');
    if (i < digits.size()) put(digits[i]);
  }

  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) return "???";
  // Trim trailing zeros, keeping the first digit after the point and the
  // first three characters.
  while (text.size() > 3 && text.size() - 1 > dot + 1 && text.back() == '0') {
    text.pop_back();
  }
  return text;
}

}  // namespace zl
