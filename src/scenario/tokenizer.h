// The scenario line tokenizer and the two text expansions that need no
// server: argument substitution. One Tokenizer belongs to one scenario, so
// scenarios on different workers never share a scan position.
//
// Threads: a Tokenizer is used by its scenario's worker only; the free
// functions are stateless.
#ifndef ZL_SCENARIO_TOKENIZER_H_
#define ZL_SCENARIO_TOKENIZER_H_

#include <array>
#include <string>
#include <vector>

namespace zl {

// Delimiter sets of the statements.
constexpr const char kBlanks[] = " \t";   // words
constexpr const char kLineEnd[] = "\n";   // the rest of the line (newline removed)
constexpr const char kNoDelims[] = "";    // the rest of the line, for ZLCMD

class Tokenizer {
 public:
  // Starts scanning `line`, which the tokenizer edits in place (each token is
  // ended by overwriting its delimiter). `line` must outlive the scan.
  void Start(char* line) { pos_ = line; }
  // The next token, or null when nothing but delimiters remains. Leading
  // delimiters are skipped; a double quote toggles a quoted state in which
  // delimiters do not end the token; after a backslash the rest of the token
  // is scanned without quote or group handling; with `groups`, a '(' skips to
  // its matching ')' (nested pairs counted). Quotes and backslashes stay in
  // the token.
  char* Next(const char* delims, bool groups = false);
  // The text not scanned yet (null before Start).
  const char* position() const { return pos_; }

 private:
  char* pos_ = nullptr;
};

// `line` with "$1".."$8" replaced by `args[0]`..`args[7]`. "\$" gives "$",
// "\\" gives "\", a backslash before anything else is kept with that
// character; a "$" not followed by 1..8 is copied with its next character; a
// final "$" or "\" is copied as it is.
// An argument goes in as it is, unless it holds a control character (a line
// feed in it would end the statement early, and end the test log line that
// quotes it): such an argument is text from outside the scenario file and
// goes in escaped as a whole (EscapeOutsideText, outside_text.h).
// `origins`, when given, receives for each character of the result the offset
// in `line` it comes from (an argument's characters: its "$").
std::string SubstituteArguments(const char* line, const std::array<std::string, 8>& args,
                                std::vector<unsigned>* origins = nullptr);

// The arguments $1..$8 in the options text `options` (at most 255 characters
// of it): its words, split at blanks and tabs without quoting, in order, up
// to 8; with `top_level` (the scenario file's own arguments) a word that
// begins with "-skipuserq" (in any case) or "--" is an option, not an
// argument. The slots not given are empty; gives the number given.
int SplitArguments(const char* options, bool top_level, std::array<std::string, 8>* args);

}  // namespace zl

#endif  // ZL_SCENARIO_TOKENIZER_H_
