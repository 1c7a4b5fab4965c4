// Small text helpers shared by the simulator client, the scenario engine and
// the log sets: field extraction, a bounded copy, case conversion and quote
// stripping. Texts are 8-bit character strings; "absent" is a null pointer.
// Stateless; safe from any thread.
#ifndef ZL_COMMON_TEXT_UTILS_H_
#define ZL_COMMON_TEXT_UTILS_H_

#include <cstdarg>
#include <string>

namespace zl {

// The `n`-th (1-based) field of `src` split at `delim`: leading space
// characters skipped, trailing spaces, carriage returns and line feeds
// removed (tabs are kept at both ends). Gives "" when the field is empty or
// blank, when `src` has fewer than `n` fields, and when `n` < 1. An absent
// `src` logs "Null source pointer passed to ExtractItem" at LM_ERROR, with
// the source position, and gives "".
std::string ExtractItem(const char* src, int n, char delim);

// Copies `src` into the buffer `dst` of `size` bytes like strncpy (the rest
// of the first `size` bytes filled with zeros) and, when `size` > 0, puts a
// terminating zero in the last byte: `dst` is always terminated and holds at
// most `size` - 1 characters. `size` 0 (or negative) writes nothing. An
// absent `src` copies as the empty text. An absent `dst` logs "Null dst
// pointer passed to strncpyz" at LM_ERROR, with the source position, and
// writes nothing. Returns `dst`.
char* strncpyz(char* dst, const char* src, int size);

// A copy of `text` with every lower-case letter made upper case (toupper in
// the current locale); "" for an absent text.
std::string ToUpperCopy(const char* text);

// A copy of `text` with every character made lower case (tolower in the
// current locale); "" for an absent text.
std::string ToLowerCopy(const char* text);

// `text` without its enclosing double quotes when it is at least two
// characters long and begins and ends with '"'; otherwise `text` unchanged.
// "" for an absent text.
std::string StripQuotes(const char* text);

// What vprintf would print for `format` and `ap`, as a string of any length
// ("" when the format cannot be printed).
std::string FormatV(const char* format, va_list ap) __attribute__((format(printf, 1, 0)));

}  // namespace zl

#endif  // ZL_COMMON_TEXT_UTILS_H_
