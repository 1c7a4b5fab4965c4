#include "common/log.h"

#include "common/exception_text.h"

namespace zl {

void LogCorbaException(ACE_Log_Priority priority, const char* file, int line,
                       const CORBA::Exception& e) {
  const std::string text = ExceptionText(e);
  ACE_DEBUG((priority, "(File %s;Line %d) CORBA %s\n", file, line, text.c_str()));
}

}  // namespace zl
