// Renders a CORBA exception as one line of text for logs and the last-error
// record. Stateless; safe from any thread.
#ifndef ZL_COMMON_EXCEPTION_TEXT_H_
#define ZL_COMMON_EXCEPTION_TEXT_H_

#include <omniORB4/CORBA.h>

#include <string>

namespace zl {

// "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'" for a user exception;
// "system exception, ID 'IDL:omg.org/CORBA/TRANSIENT:1.0', minor code =
// 0x41540002 (TRANSIENT_ConnectFailed), completed = NO" for a system
// exception (the name in parentheses only where the ORB knows the minor code).
std::string ExceptionText(const CORBA::Exception& e);

}  // namespace zl

#endif  // ZL_COMMON_EXCEPTION_TEXT_H_
