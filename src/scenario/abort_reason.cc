#include "scenario/abort_reason.h"

#include <omniORB4/CORBA.h>

#include "common/exception_text.h"
#include "zemr.hh"

namespace zl {

std::string AbortReason(const std::exception_ptr& error) {
  if (!error) return "no exception";
  try {
    std::rethrow_exception(error);
  } catch (const ZEMR::ZLBadExpression& e) {
    return ExceptionText(e) + ": " + e.exprString.in() + " (error " +
           std::to_string(e.exprError) + ")";
  } catch (const ZEMR::ZLDownloadException& e) {
    return ExceptionText(e) + ": error " + std::to_string(e.zlErrorCode) + " at " +
           std::to_string(e.zlStringPos);
  } catch (const ZEMR::FileError_Result& e) {
    return ExceptionText(e) + ": status " + std::to_string(e.status);
  } catch (const CORBA::Exception& e) {
    return ExceptionText(e);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return "an exception of unknown type";
}

}  // namespace zl
