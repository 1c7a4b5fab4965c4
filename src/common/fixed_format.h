// Fixed-point number text for values written to log set files.
// Stateless; safe from any thread (every call returns its own string).
#ifndef ZL_COMMON_FIXED_FORMAT_H_
#define ZL_COMMON_FIXED_FORMAT_H_

#include <string>

namespace zl {

// `value` with `decimals` digits after the point, rounded half away from
// zero on its 17 significant decimal digits, then trailing zeros trimmed down
// to one digit after the point: 2.5 with 3 decimals gives "2.5", 10.0 with 2
// gives "10.0", 0.5 with 1 gives "0.5", 12.0 with 0 gives "12." (the point
// stays), -0.001 with 2 gives "-0.0" (the sign is the value's sign bit).
// The text is at most 40 characters; when the digits before the point do not
// fit, the result is "???". A value that cannot be converted (not finite, or
// more than 348 digits requested) gives "***".
std::string FormatFixed(double value, int decimals);

}  // namespace zl

#endif  // ZL_COMMON_FIXED_FORMAT_H_
