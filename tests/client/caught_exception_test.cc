// The translation of a caught exception on its own: each kind of thrown
// exception against its rung, its line, its minor code and the failure a
// host reads. The sites that file their own lines (CreateServer's "UsrEx",
// "SysEx" and "General Exception") decide by the rung alone.
#include "broker/caught_exception.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "zemr.hh"

namespace zl {
namespace {

TEST(DescribeCaughtTest, Rungs) {
  struct Case {
    int line;
    std::function<void()> raise;
    CaughtKind kind;
    std::string text;
    int32_t minor;
    FailureKind failure;
  };
  const Case kCases[] = {
      // A user exception: its text, no minor code (a caller that records it
      // chooses its own status).
      {__LINE__, [] { throw ZEMR::ZLTagNotFound(); }, CaughtKind::kUser,
       "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'", 0, FailureKind::kTagNotFound},
      // A system exception carries its minor code, also one above 2^31.
      {__LINE__, [] { throw CORBA::TRANSIENT(0x41540002, CORBA::COMPLETED_NO); },
       CaughtKind::kSystem,
       "system exception, ID 'IDL:omg.org/CORBA/TRANSIENT:1.0', minor code = 0x41540002 "
       "(TRANSIENT_ConnectFailed), completed = NO",
       0x41540002, FailureKind::kCommunication},
      {__LINE__, [] { throw CORBA::BAD_PARAM(0x80000001u, CORBA::COMPLETED_YES); },
       CaughtKind::kSystem,
       "system exception, ID 'IDL:omg.org/CORBA/BAD_PARAM:1.0', minor code = 0x80000001, "
       "completed = YES",
       static_cast<int32_t>(0x80000001u), FailureKind::kServerError},
      // Anything else, also a standard exception with a text of its own, is
      // the caller's text: the ladder's lines do not show what() either.
      {__LINE__, [] { throw std::runtime_error("boom"); }, CaughtKind::kOther, "General Exception",
       0, FailureKind::kOther},
      {__LINE__, [] { throw 42; }, CaughtKind::kOther, "General Exception", 0, FailureKind::kOther},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    CaughtException caught;
    try {
      c.raise();
    } catch (...) {
      caught = DescribeCaught("CreateServer", nullptr, "General Exception");
    }
    EXPECT_EQ(c.kind, caught.kind);
    EXPECT_EQ(c.text, caught.text);
    EXPECT_EQ(c.minor, caught.minor);
    EXPECT_EQ(c.failure, caught.failure.kind);
    EXPECT_EQ("CreateServer", caught.failure.operation);
    EXPECT_EQ("", caught.failure.tag);
    if (c.kind == CaughtKind::kOther) {
      EXPECT_EQ(c.text, caught.failure.reason);
    }
  }
}

}  // namespace
}  // namespace zl
