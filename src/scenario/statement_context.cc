#include "scenario/statement_context.h"

#include <algorithm>
#include <cstdarg>
#include <optional>

#include "common/text_utils.h"

namespace zl {
namespace {

// What a line reports by its mark, the two characters after the stamp's tab.
std::optional<ScenarioLineKind> KindByMark(const std::string& text) {
  const std::size_t tab = text.find('\t');
  if (tab == std::string::npos) return std::nullopt;
  const std::string mark = text.substr(tab + 1, 2);
  if (mark == "**") return ScenarioLineKind::kFailure;
  if (mark == "__" || mark == "##") return ScenarioLineKind::kError;
  return std::nullopt;
}

// The line as a report names it: the text after the stamp's tab without its
// mark, leading blanks and line ends.
std::string Message(const std::string& text) {
  const std::size_t tab = text.find('\t');
  std::size_t begin = tab == std::string::npos ? 0 : tab + 1;
  const std::string mark = text.substr(begin, 2);
  if (mark == "**" || mark == "__" || mark == "##") begin += 2;
  begin = std::min(text.find_first_not_of(' ', begin), text.size());
  std::size_t end = text.find_last_not_of("\r\n");
  end = end == std::string::npos || end < begin ? begin : end + 1;
  return text.substr(begin, end - begin);
}

}  // namespace

StatementContext::StatementContext(ZEMR::ZelvikDatabase_ptr database, const Clock* clock)
    : db_(ZEMR::ZelvikDatabase::_duplicate(database)), clock_(clock) {}

void StatementContext::Write(const std::string& text, std::optional<ScenarioLineKind> kind) {
  const unsigned line = test_log_.Write(text);
  if (kind) ReportScenarioLine(*kind, Message(text), *place_, line);
}

void StatementContext::Log(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const std::string text = FormatV(format, ap);
  va_end(ap);
  Write(text, KindByMark(text));
}

void StatementContext::StatementError(const char* format, ...) {
  ++counters_.errors;
  va_list ap;
  va_start(ap, format);
  const std::string text = FormatV(format, ap);
  va_end(ap);
  Write(text, ScenarioLineKind::kError);
}

void StatementContext::StopLine(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const std::string text = FormatV(format, ap);
  va_end(ap);
  Write(text, ScenarioLineKind::kStopped);
}

}  // namespace zl
