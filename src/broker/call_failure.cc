#include "broker/call_failure.h"

#include "common/exception_text.h"
#include "zemr.hh"

namespace zl {
namespace {

// The members of the ZEMR user exceptions that carry any, as "name value"
// pairs; "" for the others.
std::string UserExceptionMembers(const CORBA::UserException& e) {
  if (const auto* x = ZEMR::ZLBadExpression::_downcast(&e)) {
    return "exprError " + std::to_string(x->exprError) + ", exprString '" +
           (x->exprString.in() != nullptr ? x->exprString.in() : "") + "'";
  }
  if (const auto* x = ZEMR::ZLDownloadException::_downcast(&e)) {
    return "zlErrorCode " + std::to_string(x->zlErrorCode) + ", zlStringPos " +
           std::to_string(x->zlStringPos);
  }
  if (const auto* x = ZEMR::FileError_Result::_downcast(&e)) {
    return "status " + std::to_string(x->status);
  }
  return std::string();
}

// The system exceptions after which the server cannot be reached at all.
bool IsCommunicationFailure(const CORBA::SystemException& e) {
  return CORBA::TRANSIENT::_downcast(&e) != nullptr ||
         CORBA::COMM_FAILURE::_downcast(&e) != nullptr ||
         CORBA::OBJECT_NOT_EXIST::_downcast(&e) != nullptr ||
         CORBA::INV_OBJREF::_downcast(&e) != nullptr;
}

}  // namespace

void CallFailure::Clear() {
  kind = FailureKind::kNone;
  operation.clear();
  tag.clear();
  exception.clear();
  reason.clear();
  minor = 0;
}

CallFailure MakeFailure(FailureKind kind, const char* operation, const char* tag,
                        std::string reason) {
  CallFailure f;
  f.kind = kind;
  f.operation = operation != nullptr ? operation : "";
  f.tag = tag != nullptr ? tag : "";
  f.reason = std::move(reason);
  return f;
}

CallFailure DescribeFailure(const CORBA::Exception& e, const char* operation, const char* tag) {
  CallFailure f = MakeFailure(FailureKind::kServerError, operation, tag, ExceptionText(e));
  f.exception = e._name();
  if (const auto* sys = CORBA::SystemException::_downcast(&e)) {
    f.minor = static_cast<uint32_t>(sys->minor());
    if (CORBA::TIMEOUT::_downcast(sys) != nullptr) {
      f.kind = FailureKind::kTimeout;
    } else if (IsCommunicationFailure(*sys)) {
      f.kind = FailureKind::kCommunication;
    }
    return f;
  }
  const auto* user = CORBA::UserException::_downcast(&e);
  if (user != nullptr && ZEMR::ZLTagNotFound::_downcast(user) != nullptr) {
    f.kind = FailureKind::kTagNotFound;
  }
  const std::string members = user != nullptr ? UserExceptionMembers(*user) : std::string();
  if (!members.empty()) f.reason += ": " + members;
  return f;
}

}  // namespace zl
