// Text that reaches a test log from outside the scenario file: an
// operator's answer, an argument $1..$8 that holds a control character, a
// text of the server (its version, a driver's address, the reason of an
// exception) or of the host (its interface's name, why it refused a
// command), and the scenario path the run was started with. Such text may
// hold any bytes; written as it came, a line feed in it would end the line
// and let the rest pass for lines of the engine's own, under the run's
// signature. Every such text is written through EscapeOutsideText, so that
// one line of a test log is always one line the engine meant to write.
// docs/scenarios.md ("Text from outside the scenario file") gives the rule
// with examples.
//
// Lines the engine writes from the scenario file itself are not outside
// text: they keep their bytes as the file gives them.
//
// Stateless; safe from any thread.
#ifndef ZL_SCENARIO_OUTSIDE_TEXT_H_
#define ZL_SCENARIO_OUTSIDE_TEXT_H_

#include <string>
#include <string_view>

namespace zl {

// `text` with every control character written as an escape and each
// backslash doubled, so that the result holds no control character and the
// text can be read back unambiguously:
//   backslash -> "\\"   TAB -> "\t"   line feed -> "\n"   carriage return -> "\r"
//   any other byte 0x00-0x1F, and DEL (0x7F) -> "\x" and two lower-case hex digits
// Every other byte (printable ASCII, and the bytes of UTF-8 or any other
// 8-bit text) is kept as it is.
std::string EscapeOutsideText(std::string_view text);

// Whether `text` holds a control character (0x00-0x1F or DEL), one that
// EscapeOutsideText writes as an escape.
bool HasControlCharacter(std::string_view text);

}  // namespace zl

#endif  // ZL_SCENARIO_OUTSIDE_TEXT_H_
