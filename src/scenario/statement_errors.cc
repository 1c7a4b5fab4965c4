#include "scenario/statement_errors.h"

namespace zl {
namespace {

std::string Quoted(const char* text) { return std::string("'") + (text ? text : "") + "'"; }

}  // namespace

std::string UnknownKeywordText(const char* keyword) {
  return "Unknown scenario keyword, " + Quoted(keyword);
}

std::string SubtestNotStartedText(const char* name) {
  return "Subtest " + Quoted(name) + " not started";
}

std::string NestTooDeepText(const char* name) {
  return "Test " + Quoted(name) + " not executed, nest level too deep";
}

std::string LabelNotFoundText(const char* label) {
  return "Label " + Quoted(label) + " not found for GOTO";
}

std::string NoStoredChecksumText(const char* name) {
  return std::string("No stored checksum for scenario: ") + name;
}

std::string InvalidChecksumText(const char* stored, const char* name) {
  return std::string("Stored checksum, ") + stored + ", is invalid for scenario: " + name;
}

std::string MissingOperandText(const OperandSpec& spec, const char* keyword, const char* previous) {
  std::string text = spec.missing.text != nullptr ? spec.missing.text : "";
  const std::string::size_type at = text.find("%s");
  if (at != std::string::npos) {
    const char* fill = spec.missing.arg == MissingArg::kKeyword ? keyword : previous;
    text.replace(at, 2, fill != nullptr ? fill : "");
  }
  return text;
}

std::string UnreadOperandText(const OperandSpec& spec, const char* token, const char* keyword) {
  if (spec.unread_text != nullptr) return spec.unread_text;
  return std::string("Could not parse ") + spec.role + " " + Quoted(token) + " for " + keyword;
}

std::string WindowReversedText(const char* end, const char* start, const char* keyword) {
  return "Window end " + Quoted(end) + " is before its start " + Quoted(start) + " for " + keyword;
}

}  // namespace zl
