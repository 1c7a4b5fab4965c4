// How the statement loop turns one line read from a scenario file into a
// statement, shared by the run (CZLScenario::ExecuteLine) and the static
// check (scenario_check.h): the arguments go in, a "#" in the first column
// makes a comment, the line is upper-cased (its arguments too) and split
// into its first word and the rest.
//
// Stateless; the caller owns every buffer.
#ifndef ZL_SCENARIO_SCENARIO_LINE_H_
#define ZL_SCENARIO_SCENARIO_LINE_H_

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "scenario/tokenizer.h"

namespace zl {

// The size of the line buffer: a longer line is read in pieces of at most
// kLineSize - 1 characters, each a line of its own.
constexpr std::size_t kLineSize = 2048;

// What a line is once prepared.
enum class LineKind {
  kChecksum,   // a comment "#$CHECK:<checksum>": the file's stored checksum
  kComment,    // any other line whose first character is "#" (arguments in)
  kEmpty,      // nothing but blanks and tabs
  kLabel,      // a first word that begins with ":": not executed
  kSubtest,    // a first word that begins with "@": a subtest call
  kStatement,  // any other first word: a keyword
};

// Prepares `line` (a piece as read, line end included, NUL-terminated, in a
// buffer of kLineSize bytes) in place with the arguments `args` ($1..$8):
//  - kChecksum: `*checksum` receives the text after "#$CHECK:" (arguments
//    in, in their own case) without its line end;
//  - kSubtest, kStatement: the line is the upper-cased statement without its
//    final line feed, `keyword` holds its first word (cut to 79 characters),
//    and `tokens` stands after it.
// `origins`, when given, receives for each character of the prepared line the
// offset in the piece as read that it comes from.
LineKind PrepareLine(char* line, const std::array<std::string, 8>& args, Tokenizer& tokens,
                     char (&keyword)[80], std::string* checksum,
                     std::vector<unsigned>* origins = nullptr);

}  // namespace zl

#endif  // ZL_SCENARIO_SCENARIO_LINE_H_
