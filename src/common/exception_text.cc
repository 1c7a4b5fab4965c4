#include "common/exception_text.h"

#include <cstdio>

namespace zl {
namespace {

const char* CompletionName(CORBA::CompletionStatus status) {
  switch (status) {
    case CORBA::COMPLETED_YES: return "YES";
    case CORBA::COMPLETED_NO: return "NO";
    default: return "MAYBE";
  }
}

}  // namespace

std::string ExceptionText(const CORBA::Exception& e) {
  const auto* sys = CORBA::SystemException::_downcast(&e);
  if (sys == nullptr) {
    return std::string("user exception, ID '") + e._rep_id() + "'";
  }
  char minor[32];
  std::snprintf(minor, sizeof minor, "0x%lx", static_cast<unsigned long>(sys->minor()));
  std::string text = std::string("system exception, ID '") + e._rep_id() + "', minor code = " + minor;
  if (const char* name = sys->NP_minorString()) {
    text += std::string(" (") + name + ")";
  }
  text += std::string(", completed = ") + CompletionName(sys->completed());
  return text;
}

}  // namespace zl
