#include "broker/caught_exception.h"

#include "common/exception_text.h"

namespace zl {
namespace {

CaughtException FromCorba(CaughtKind kind, const CORBA::Exception& e, const char* operation,
                          const char* tag) {
  CaughtException caught;
  caught.kind = kind;
  caught.text = ExceptionText(e);
  caught.failure = DescribeFailure(e, operation, tag);
  return caught;
}

}  // namespace

CaughtException DescribeCaught(const char* operation, const char* tag,
                               const std::string& other_text) {
  try {
    throw;
  } catch (const CORBA::UserException& e) {
    return FromCorba(CaughtKind::kUser, e, operation, tag);
  } catch (const CORBA::SystemException& e) {
    CaughtException caught = FromCorba(CaughtKind::kSystem, e, operation, tag);
    caught.minor = static_cast<int32_t>(e.minor());
    return caught;
  } catch (...) {
    CaughtException caught;
    caught.text = other_text;
    caught.failure = MakeFailure(FailureKind::kOther, operation, tag, other_text);
    return caught;
  }
}

}  // namespace zl
