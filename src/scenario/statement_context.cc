#include "scenario/statement_context.h"

#include <cstdarg>

namespace zl {

StatementContext::StatementContext(ZEMR::ZelvikDatabase_ptr database, const Clock* clock)
    : db_(ZEMR::ZelvikDatabase::_duplicate(database)), clock_(clock) {}

void StatementContext::Log(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  test_log_.LineV(format, ap);
  va_end(ap);
}

void StatementContext::StatementError(const char* format, ...) {
  ++counters_.errors;
  va_list ap;
  va_start(ap, format);
  test_log_.LineV(format, ap);
  va_end(ap);
}

}  // namespace zl
