// Exception texts and the "(File %s;Line %d) CORBA %s\n" log line.
#include "common/exception_text.h"

#include <gtest/gtest.h>

#include "common/log.h"
#include "support/log_capture.h"
#include "zemr.hh"

namespace zl {
namespace {

TEST(ExceptionTextTest, Texts) {
  EXPECT_EQ("user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'",
            ExceptionText(ZEMR::ZLTagNotFound()));
  EXPECT_EQ("system exception, ID 'IDL:omg.org/CORBA/TRANSIENT:1.0', minor code = 0x41540002 "
            "(TRANSIENT_ConnectFailed), completed = NO",
            ExceptionText(CORBA::TRANSIENT(omni::TRANSIENT_ConnectFailed, CORBA::COMPLETED_NO)));
  // a minor code the ORB has no name for: the number alone
  EXPECT_EQ("system exception, ID 'IDL:omg.org/CORBA/TIMEOUT:1.0', minor code = 0x7, "
            "completed = MAYBE",
            ExceptionText(CORBA::TIMEOUT(7, CORBA::COMPLETED_MAYBE)));
}

TEST(ExceptionTextTest, LogLineNamesTheRepositoryFile) {
  testing::LogCapture log;
  const int line = __LINE__ + 1;
  ZL_LOG_CORBA(LM_ERROR, ZEMR::ZLBadExpression(1, "x"));
  const std::string want = "(File tests/idl/exception_text_test.cc;Line " + std::to_string(line) +
                           ") CORBA user exception, ID 'IDL:ZEMR/ZLBadExpression:1.0'\n";
  EXPECT_TRUE(log.Has(LM_ERROR, want)) << (log.Lines().empty() ? "" : log.Lines()[0].text);
}

}  // namespace
}  // namespace zl
