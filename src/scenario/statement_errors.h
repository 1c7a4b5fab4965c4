// The wording of the statement errors that both the run and the static check
// (scenario_check.h) report: the run writes each as a test log line
// "<stamp>\t__<text>\n" (StatementContext::StatementError), the check gives
// the same text as its diagnostic's message. Keeping the texts here makes
// the two word them alike by construction.
//
// Stateless; safe from any thread.
#ifndef ZL_SCENARIO_STATEMENT_ERRORS_H_
#define ZL_SCENARIO_STATEMENT_ERRORS_H_

#include <string>

#include "scenario/operand_shape.h"

namespace zl {

// "Unknown scenario keyword, '<KEYWORD>'"
std::string UnknownKeywordText(const char* keyword);
// "Subtest '<NAME>' not started": the subtest's file cannot be opened.
std::string SubtestNotStartedText(const char* name);
// "Test '<NAME>' not executed, nest level too deep"
std::string NestTooDeepText(const char* name);
// "Label '<LABEL>' not found for GOTO"
std::string LabelNotFoundText(const char* label);
// "No stored checksum for scenario: <NAME>"
std::string NoStoredChecksumText(const char* name);
// "Stored checksum, <STORED>, is invalid for scenario: <NAME>"
std::string InvalidChecksumText(const char* stored, const char* name);

// The error text of `spec`'s missing operand (Missing::text with its "%s"
// filled by the keyword or `previous`, the operand before as read).
std::string MissingOperandText(const OperandSpec& spec, const char* keyword, const char* previous);
// The error text of a number operand `token` (as the line gives it) that
// does not read: the spec's own text, or "Could not parse <role> '<token>'
// for <KEYWORD>".
std::string UnreadOperandText(const OperandSpec& spec, const char* token, const char* keyword);
// "Window end '<end>' is before its start '<start>' for <KEYWORD>"
std::string WindowReversedText(const char* end, const char* start, const char* keyword);

}  // namespace zl

#endif  // ZL_SCENARIO_STATEMENT_ERRORS_H_
