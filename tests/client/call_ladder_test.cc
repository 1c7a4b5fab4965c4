// The catch ladder on its own: each kind of thrown exception against the
// line it prints and what it leaves in the last-error record; with a log
// sink installed, where its lines go and what they are about.
#include "broker/call_ladder.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "zemr.hh"

namespace zl {
namespace {

const char kTagNotFound[] = "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'\n";
const char kTransient[] =
    "system exception, ID 'IDL:omg.org/CORBA/TRANSIENT:1.0', minor code = 0x41540002 "
    "(TRANSIENT_ConnectFailed), completed = NO";

TEST(CallLadderTest, Rungs) {
  struct Case {
    int line;
    std::function<void()> call;
    bool returned;        // CallLadder's result
    std::string printed;  // standard error
    int32_t status;       // the record afterwards (it starts as {7, "before"})
    std::string text;
  };
  const Case kCases[] = {
      // A call that returns prints nothing and keeps the record.
      {__LINE__, [] {}, true, "", 7, "before"},
      // The operation's own user exception is printed, not recorded.
      {__LINE__, [] { throw ZEMR::ZLTagNotFound(); }, false, kTagNotFound, 7, "before"},
      // Another user exception: the same.
      {__LINE__, [] { throw ZEMR::ZLBadExpression(3, "1 +"); }, false,
       "user exception, ID 'IDL:ZEMR/ZLBadExpression:1.0'\n", 7, "before"},
      // A system exception is recorded (text and minor code) and printed.
      {__LINE__, [] { throw CORBA::TRANSIENT(0x41540002, CORBA::COMPLETED_NO); }, false,
       std::string(kTransient) + "\n", 0x41540002, kTransient},
      // Anything else names the operation.
      {__LINE__, [] { throw std::runtime_error("boom"); }, false, "Unknown Exception in PVE()\n", 7,
       "before"},
      {__LINE__, [] { throw 42; }, false, "Unknown Exception in PVE()\n", 7, "before"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    ErrorRecord record{7, "before"};
    ::testing::internal::CaptureStderr();
    const bool returned = CallLadder("PVE", record, c.call);
    EXPECT_EQ(c.printed, ::testing::internal::GetCapturedStderr());
    EXPECT_EQ(c.returned, returned);
    EXPECT_EQ(c.status, record.status);
    EXPECT_EQ(c.text, record.text);
  }
}

// What the ladder tells a host that raises errors of its own: the kind of
// failure decides the host's exception class, so each row is one decision.
TEST(CallLadderTest, DescribesWhatFailed) {
  struct Case {
    int line;
    std::function<void()> call;
    FailureKind kind;
    const char* exception;  // the exception's name
    std::string reason;
    uint32_t minor;
  };
  const Case kCases[] = {
      // A call that returns leaves no failure behind (the row before failed).
      {__LINE__, [] {}, FailureKind::kNone, "", "", 0},
      // The operation's own user exception has a class of its own.
      {__LINE__, [] { throw ZEMR::ZLTagNotFound(); }, FailureKind::kTagNotFound,
       "ZLTagNotFound", "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'", 0},
      // Other user exceptions are the server's errors, with their members.
      {__LINE__, [] { throw ZEMR::ZLBadExpression(3, "1 +"); }, FailureKind::kServerError,
       "ZLBadExpression",
       "user exception, ID 'IDL:ZEMR/ZLBadExpression:1.0': exprError 3, exprString '1 +'", 0},
      {__LINE__, [] { throw ZEMR::ZLDownloadException(99, 4); }, FailureKind::kServerError,
       "ZLDownloadException",
       "user exception, ID 'IDL:ZEMR/ZLDownloadException:1.0': zlErrorCode 99, zlStringPos 4", 0},
      // A time limit that ran out is not a lost server.
      {__LINE__, [] { throw CORBA::TIMEOUT(0x41540008, CORBA::COMPLETED_MAYBE); },
       FailureKind::kTimeout, "TIMEOUT",
       "system exception, ID 'IDL:omg.org/CORBA/TIMEOUT:1.0', minor code = 0x41540008 "
       "(TIMEOUT_CallTimedOutOnClient), completed = MAYBE",
       0x41540008},
      // The exceptions of a server that cannot be reached.
      {__LINE__, [] { throw CORBA::TRANSIENT(0x41540002, CORBA::COMPLETED_NO); },
       FailureKind::kCommunication, "TRANSIENT", kTransient, 0x41540002},
      {__LINE__, [] { throw CORBA::COMM_FAILURE(0, CORBA::COMPLETED_MAYBE); },
       FailureKind::kCommunication, "COMM_FAILURE",
       "system exception, ID 'IDL:omg.org/CORBA/COMM_FAILURE:1.0', minor code = 0x0, "
       "completed = MAYBE",
       0},
      {__LINE__, [] { throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO); },
       FailureKind::kCommunication, "OBJECT_NOT_EXIST",
       "system exception, ID 'IDL:omg.org/CORBA/OBJECT_NOT_EXIST:1.0', minor code = 0x0, "
       "completed = NO",
       0},
      // Any other system exception is the server's error: an undeclared user
      // exception arrives as UNKNOWN, a missing operation as NO_IMPLEMENT.
      {__LINE__, [] { throw CORBA::UNKNOWN(0, CORBA::COMPLETED_MAYBE); },
       FailureKind::kServerError, "UNKNOWN",
       "system exception, ID 'IDL:omg.org/CORBA/UNKNOWN:1.0', minor code = 0x0, "
       "completed = MAYBE",
       0},
      {__LINE__, [] { throw CORBA::NO_IMPLEMENT(7, CORBA::COMPLETED_NO); },
       FailureKind::kServerError, "NO_IMPLEMENT",
       "system exception, ID 'IDL:omg.org/CORBA/NO_IMPLEMENT:1.0', minor code = 0x7, "
       "completed = NO",
       7},
      // Anything else: the ladder's own line is the reason.
      {__LINE__, [] { throw std::runtime_error("boom"); }, FailureKind::kOther, "",
       "Unknown Exception in PVE()", 0},
  };
  CallFailure failure = MakeFailure(FailureKind::kOther, "Before", "X", "earlier");
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    ErrorRecord record;
    ::testing::internal::CaptureStderr();
    CallLadder({"PVE", "LEVEL"}, record, c.call, &failure);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.kind, failure.kind);
    EXPECT_EQ(c.exception, failure.exception);
    EXPECT_EQ(c.reason, failure.reason);
    EXPECT_EQ(c.minor, failure.minor);
    const bool failed = c.kind != FailureKind::kNone;
    EXPECT_EQ(failed ? "PVE" : "", failure.operation);
    EXPECT_EQ(failed ? "LEVEL" : "", failure.tag);
  }
}

// Records the ladder's lines, each with the thread's context as it logs.
class RecordingSink : public LogSink {
 public:
  void ErrorLine(const std::string& text) override {
    const LogContext& c = CurrentLogContext();
    lines.push_back(text + " @" + (c.operation ? c.operation : "-") + "/" + (c.tag ? c.tag : "-"));
  }
  void ProcessMaskSet() override {}
  void DebugRequested() override {}
  std::vector<std::string> lines;
};

TEST(CallLadderTest, SinkTakesTheLinesWithOperationAndTag) {
  RecordingSink sink;
  SetLogSink(&sink);
  ErrorRecord record;
  std::string during;
  ::testing::internal::CaptureStderr();
  CallLadder({"PVE", "LEVEL"}, record, [&] {
    during = CurrentLogContext().operation;
    throw ZEMR::ZLTagNotFound();
  });
  CallLadder("TagCount", record, [] { throw 42; });
  const std::string printed = ::testing::internal::GetCapturedStderr();
  SetLogSink(nullptr);
  EXPECT_EQ("", printed);  // nothing bypasses the sink
  EXPECT_EQ("PVE", during);
  const std::vector<std::string> want = {
      "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0' @PVE/LEVEL",
      "Unknown Exception in TagCount() @TagCount/-"};
  EXPECT_EQ(want, sink.lines);
  EXPECT_EQ(nullptr, CurrentLogContext().operation);  // restored after the call
}

}  // namespace
}  // namespace zl
