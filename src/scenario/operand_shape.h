// What a statement takes after its keyword: its operand shape, one row of
// the keyword table each (keyword_table.h). A shape lists the operands in
// the order the line gives them and, for each one, how its text is taken
// from the line, what the text means, and what its absence does. The
// statement loop reads a statement's operands by its shape (ReadOperands,
// operand_reader.h) before the handler acts on them, and the static check
// (scenario_check.h) reads them by the same shape, so the two cannot
// disagree about what a line says.
//
// A statement stops reading after its last operand: whatever follows on the
// line is ignored, unless the last operand takes the rest of the line
// (kRest, kRawRest) or repeats (kRepeats).
//
// Stateless: shapes are constant tables.
#ifndef ZL_SCENARIO_OPERAND_SHAPE_H_
#define ZL_SCENARIO_OPERAND_SHAPE_H_

#include <cstddef>
#include <string>

#include "scenario/operand.h"

namespace zl {

// How an operand's text is taken from the line (the tokenizer's delimiter
// set, tokenizer.h).
enum class OperandSpan {
  kWord,         // up to the next blank or tab; quotes keep blanks inside
  kGroupedWord,  // a word in which parenthesis groups stay whole
  kRest,         // the rest of the line
  kRawRest,      // the rest of the line after the keyword's one delimiter (ZLCMD)
};

// What an operand's text means to its statement.
enum class OperandMeaning {
  kTag,            // one tag name
  kTagList,        // tag names separated by commas; the list ends at its first empty item
  kNumber,         // a number read in the operand's form (operand.h)
  kLabel,          // a label of the current file (":NAME")
  kCondition,      // an expression of the server, true when not 0
  kText,           // text written to the test log, its groups evaluated (COMMENT)
  kCommand,        // text handed on as it is: to the host, the shell, a log set
  kLogSetCommand,  // a log set command line (log_set_command.h)
  kName,           // a word the statement reads itself: a log set
  kFlag,           // yes or no: a word beginning with 1, T or Y is yes, any other no
  kSafetyWord,     // a word naming end-of-run checks (SAFETY; none: all of them)
  kQuestion,       // ANSWER's question (surrounding double quotes removed)
  kStoreSpec,      // STOREVALS: stem, pattern and field
};

// What the absence of an operand does.
enum class Absence {
  kOptional,  // the statement goes on without it (a later operand is absent too)
  kSilent,    // the statement does nothing, and says nothing
  kError,     // a statement error: `text` below
};

// What the text of a missing operand's error line fills its "%s" with.
enum class MissingArg {
  kNone,      // no "%s"
  kKeyword,   // the keyword as the line gives it
  kPrevious,  // the operand before, as read (a tag or tag list as cut)
};

// The rule for a missing operand.
struct Missing {
  Absence absence;
  // The statement error's text after its "__" mark, with at most one "%s"
  // (filled as `arg` says); null unless `absence` is kError.
  const char* text;
  MissingArg arg;
  // A process log line (error priority) written before it; null for none.
  const char* process_log;
  // Reported and counted only while the test log is open.
  bool needs_test_log;
};

constexpr Missing Optional() {
  return {Absence::kOptional, nullptr, MissingArg::kNone, nullptr, false};
}
constexpr Missing Silent() {
  return {Absence::kSilent, nullptr, MissingArg::kNone, nullptr, false};
}
constexpr Missing Required(const char* text, MissingArg arg = MissingArg::kNone,
                           const char* process_log = nullptr, bool needs_test_log = false) {
  return {Absence::kError, text, arg, process_log, needs_test_log};
}

// Flags of an operand.
enum OperandFlag : unsigned {
  kCut = 1u << 0,        // copied into an 80-byte buffer: at most 79 characters
  kOwnValue = 1u << 1,   // "?" (or "\?") instead of a number: the tag's own value (MONITOR)
  kWindowEnd = 1u << 2,  // a time that must not come before the operand before it
  kRepeats = 1u << 3,    // the last operand: every further word is one more of it
  kWhole = 1u << 4,      // the statement takes the number's whole part: the fraction is cut
  kAboveTiny = 1u << 5,  // a value below kTinyValue leaves the statement's setting as it was
};

// The smallest value a kAboveTiny operand takes (REL_TOL).
constexpr double kTinyValue = 1e-14;

struct OperandSpec {
  // The operand's name in an error line ("value", "start", "delay", ...)
  // and in the documentation of the shape.
  const char* role;
  OperandSpan span;
  OperandMeaning meaning;
  OperandForm form;  // kNumber only: how the number is read
  Missing missing;
  unsigned flags;
  // kNumber only: the text of the statement error of a number that does not
  // read, after its "__" mark, when the statement has its own (ANSWER); null
  // for the shared "Could not parse <role> '<text>' for <KEYWORD>".
  const char* unread_text;

  bool has(OperandFlag f) const { return (flags & f) != 0; }
};

// A statement's operands in order.
struct OperandShape {
  const OperandSpec* operands = nullptr;
  std::size_t count = 0;

  const OperandSpec* begin() const { return operands; }
  const OperandSpec* end() const { return operands + count; }
  // True when the statement reads its line to the end; false when what
  // follows its last operand is ignored.
  bool ReadsToLineEnd() const {
    if (count == 0) return false;
    const OperandSpec& last = operands[count - 1];
    return last.span == OperandSpan::kRest || last.span == OperandSpan::kRawRest ||
           last.has(kRepeats);
  }
};

// The operands of `shape` as a statement's form writes them, each by its
// role: a tag list as "taglist", a label as ":label", an optional operand
// and the ones after it in brackets ("value [start [end]]"), a repeated
// word followed by "..." ("[check ...]"); "" for no operands.
std::string ShapeForm(const OperandShape& shape);

// A short stable name of what an operand means ("tag", "taglist",
// "number", "label", "condition", ...): how editors tell what to offer at
// an operand.
const char* MeaningName(OperandMeaning meaning);

template <std::size_t N>
constexpr OperandShape ShapeOf(const OperandSpec (&operands)[N]) {
  return OperandShape{operands, N};
}

// The operand kinds the keyword table is written with.

// One tag name, a word cut to 79 characters.
constexpr OperandSpec TagOperand(Missing missing) {
  return {"tag",  OperandSpan::kWord, OperandMeaning::kTag, OperandForm::kNumber, missing, kCut,
          nullptr};
}
// One tag name, a word taken whole.
constexpr OperandSpec TagWordOperand(Missing missing) {
  return {"tag",  OperandSpan::kWord, OperandMeaning::kTag, OperandForm::kNumber, missing, 0,
          nullptr};
}
// A comma-separated tag list, a word cut to 79 characters.
constexpr OperandSpec TagListOperand(Missing missing) {
  return {
      "tag list", OperandSpan::kWord, OperandMeaning::kTagList, OperandForm::kNumber, missing, kCut,
      nullptr};
}
// A number in `form`, a word whose groups stay whole.
constexpr OperandSpec NumberOperand(const char* role, OperandForm form, Missing missing,
                                    unsigned flags = 0) {
  return {role, OperandSpan::kGroupedWord, OperandMeaning::kNumber, form, missing, flags, nullptr};
}
// A number as written, a plain word; `unread_text` as in OperandSpec.
constexpr OperandSpec PlainNumberOperand(const char* role, Missing missing,
                                         const char* unread_text = nullptr) {
  return {role, OperandSpan::kWord, OperandMeaning::kNumber, OperandForm::kPlainNumber, missing,
          0,    unread_text};
}
// A plain word meaning `meaning`.
constexpr OperandSpec WordOperand(const char* role, OperandMeaning meaning, Missing missing,
                                  unsigned flags = 0) {
  return {role, OperandSpan::kWord, meaning, OperandForm::kNumber, missing, flags, nullptr};
}
// The rest of the line, meaning `meaning`.
constexpr OperandSpec RestOperand(const char* role, OperandMeaning meaning, Missing missing) {
  return {role, OperandSpan::kRest, meaning, OperandForm::kNumber, missing, 0, nullptr};
}
// The rest of the line as ZLCMD takes it.
constexpr OperandSpec RawRestOperand(const char* role, OperandMeaning meaning, Missing missing) {
  return {role, OperandSpan::kRawRest, meaning, OperandForm::kNumber, missing, 0, nullptr};
}

}  // namespace zl

#endif  // ZL_SCENARIO_OPERAND_SHAPE_H_
