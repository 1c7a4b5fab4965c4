// Small text helpers of the stand-in server: case-insensitive comparison,
// trimming, tab splitting and number conversion that refuses partial or
// non-finite input. Stateless; safe from any thread.
#ifndef ZL_SIM_TEXT_H_
#define ZL_SIM_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace zl::sim {

std::string ToUpper(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// `text` without leading and trailing blanks, tabs, carriage returns and
// line feeds.
std::string_view Trim(std::string_view text);

// One field of a split line: its text and its byte offset in the line.
struct Field {
  std::string_view text;
  size_t offset;
};

// Splits at every `separator`; n separators give n + 1 fields (empty ones
// included).
std::vector<Field> Split(std::string_view line, char separator);

// Reads the whole of `text` (blanks around it allowed) as a finite decimal
// number. False for empty text, trailing garbage, NaN and infinities.
bool ParseDouble(std::string_view text, double* value);

// Reads the whole of `text` as a decimal integer in [lo, hi].
bool ParseLong(std::string_view text, long long lo, long long hi, long long* value);

// The shortest "%.*g" text (15 to 17 digits) that reads back as exactly
// `value`.
std::string FormatDouble(double value);

}  // namespace zl::sim

#endif  // ZL_SIM_TEXT_H_
