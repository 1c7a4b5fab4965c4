// The static check of a scenario file: what a run of it would report as a
// statement error, found without running it and without a server, and what
// a run cannot say (lines that never run, a signature that no longer
// matches, arguments that were not given, subtests that call themselves,
// tags that do not exist when the caller knows the tags), and, as warnings,
// lines that run but do not do what they seem to say (words the statement
// ignores, a tag list that ends early, a number that is cut or changed): the
// engine's reading stays as it is, and each warning says what the run does.
//
// The check cannot disagree with the run where the run needs no server: it
// reads each file as the statement loop does (fgets pieces, PrepareLine of
// scenario_line.h), finds each keyword's row in the keyword table
// (keyword_table.h) and reads the operands by the row's shape with the
// engine's own reader (ReadOperands, operand_reader.h); the errors it
// reports in common with the run have the run's wording (statement_errors.h).
// It follows "@" subtests the way the run opens them, with their arguments,
// and keeps the run's per-depth arguments and SAFETY state in the order a
// run without jumps would meet the lines.
//
// What it leaves to the run: every value of the server. A parenthesis group
// or an expression is read for its balance and the tag names in it, never
// evaluated; a number that reads only with some values of its groups is
// taken as fine; a conditional GOTO may go either way.
//
// Threads: CheckScenario keeps no state between calls and may run on any
// thread; it reads files and the current directory, nothing else.
#ifndef ZL_SCENARIO_SCENARIO_CHECK_H_
#define ZL_SCENARIO_SCENARIO_CHECK_H_

#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace zl {

enum class Severity { kError, kWarning };

// The stable codes of the diagnostics.
namespace check_code {
// Errors a run reports as statement errors, worded as the run words them.
inline constexpr char kUnknownKeyword[] = "unknown-keyword";  // Unknown scenario keyword, 'X'
inline constexpr char kMissingOperand[] = "missing-operand";  // the statement's own line
inline constexpr char kBadNumber[] = "bad-number";            // Could not parse ...
inline constexpr char kWindowOrder[] = "window-order";        // Window end ... before its start
inline constexpr char kMissingLabel[] = "missing-label";      // Label ':X' not found for GOTO
inline constexpr char kMissingSubtest[] = "missing-subtest";  // Subtest 'X' not started
inline constexpr char kNestTooDeep[] = "nest-too-deep";       // Test 'X' not executed, nest ...
inline constexpr char kNoChecksum[] = "no-checksum";          // No stored checksum (SAFETY VALID)
inline constexpr char kBadChecksum[] = "bad-checksum";        // Stored checksum ... is invalid
// Errors a run reports otherwise, or not at all.
inline constexpr char kUnknownTag[] = "unknown-tag";  // a tag the given tag set lacks
inline constexpr char kBadExpression[] =
    "bad-expression";  // a condition whose parentheses do not pair
inline constexpr char kSubtestCycle[] = "subtest-cycle";        // a subtest that calls itself
inline constexpr char kMissingArgument[] = "missing-argument";  // $n beyond the arguments given
inline constexpr char kLogSetCommand[] = "logset-command";      // a malformed ZLCMD line
inline constexpr char kUnreadable[] = "unreadable";  // the scenario file cannot be opened
// Warnings.
inline constexpr char kUnreachable[] = "unreachable";       // after an unconditional GOTO
inline constexpr char kStaleChecksum[] = "stale-checksum";  // #$CHECK: that does not match
inline constexpr char kIncomplete[] = "incomplete";         // subtests not followed: too many lines
// Warnings of lines that run but do not do what they seem to say, one rule
// per property of the operand shapes (operand_shape.h).
inline constexpr char kExtraOperand[] = "extra-operand";    // text after the last operand
inline constexpr char kTagListComma[] = "tag-list-comma";   // a blank beside a list's comma
inline constexpr char kTagListGap[] = "tag-list-gap";       // an empty item ends a tag list
inline constexpr char kCutOperand[] = "cut-operand";        // a kCut operand of 80 or more
inline constexpr char kNoEffect[] = "no-effect";            // a kSilent operand missing
inline constexpr char kGluedGroup[] = "glued-group";        // a group right after a number's digit
inline constexpr char kFractionCut[] = "fraction-cut";      // a kWhole number with a fraction
inline constexpr char kIgnoredValue[] = "ignored-value";    // a kAboveTiny number below it
inline constexpr char kFlagWord[] = "flag-word";            // a kFlag word that is neither yes nor no
inline constexpr char kSafetyWord[] = "safety-word";        // a SAFETY word of no check
inline constexpr char kCarriageReturn[] = "carriage-return";  // a CR LF line's CR in its last word
}  // namespace check_code

// One finding.
struct Diagnostic {
  // The file as a run names it: the path checked, or a subtest's file joined
  // to that path's directory.
  std::string file;
  // 1-based line of the file (a line longer than 2047 characters is still
  // one line here) and 1-based column (in bytes) of the word concerned: the
  // operand, the tag, the keyword of a statement that lacks an operand.
  // Findings about a file as a whole point at its first line.
  unsigned line = 1;
  unsigned column = 1;
  Severity severity = Severity::kError;
  const char* code = "";  // one of check_code
  std::string message;
};

// Tag names, matched without regard to case.
class TagSet {
 public:
  TagSet() = default;
  explicit TagSet(const std::vector<std::string>& names);
  void Add(const std::string& name);
  bool Contains(const std::string& name) const;
  std::size_t size() const { return names_.size(); }

 private:
  std::unordered_set<std::string> names_;  // upper case
};

struct CheckOptions {
  // $1..$8 of the scenario file, in order; nullopt when they are not known:
  // an operand, keyword or subtest call that holds one is then not read.
  // ArgumentsOfOptions gives them from the options text of a run.
  std::optional<std::vector<std::string>> arguments;
  // The tags that exist; nullopt when not known (no tag is looked up).
  std::optional<TagSet> tags;
  // Reads the file at `path` (as resolved) into `*text`; false when it
  // cannot. Unset: the file system. An editor hands its unsaved buffers.
  std::function<bool(const std::string& path, std::string* text)> read_file;
};

// One statement line the check read, in the order a run without jumps
// would run it.
struct CheckedLine {
  std::string file;          // as Diagnostic::file
  unsigned line;             // as the run counts it: a piece of a long line counts
  unsigned file_line;        // as Diagnostic::line
  std::string keyword;       // its first word as the run takes it (upper case)
  bool conditional = false;  // it has a condition (GOTO, DELAY, SIMWAIT)
};

// Checks the scenario at `path` (named as a run would be started with it)
// and the subtests it calls. The diagnostics come in the order a run without
// jumps would meet them, each once. A file that cannot be read gives one
// error naming it (code "missing-subtest" for a subtest, "unreadable" for
// `path` itself). `walked`, when given, receives every statement line read.
std::vector<Diagnostic> CheckScenario(const std::string& path, const CheckOptions& options,
                                      std::vector<CheckedLine>* walked = nullptr);

// The arguments $1..$8 that a run started with the options text `options`
// gets (the words that are not "-skipuserq..." or "--..." options).
std::vector<std::string> ArgumentsOfOptions(const char* options);

}  // namespace zl

#endif  // ZL_SCENARIO_SCENARIO_CHECK_H_
