// Every operation of the client against the stand-in server: its result on
// success, when not connected, after its own user exception, after a user
// exception its server operation does not declare, and against a server
// that has died — with the line printed on standard error and the
// last-error record.
#include <gtest/gtest.h>
#include <omniORB4/CORBA.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>

#include "broker/zl_sim.h"
#include "client_env.h"
#include "support/log_capture.h"

namespace zl {
namespace {

using testing::ClientEnvironment;
using testing::ConnectedClient;
using testing::NewClient;
using testing::StderrCapture;

const char kTagNotFound[] = "user exception, ID 'IDL:ZEMR/ZLTagNotFound:1.0'\n";
const char kUnknownId[] = "IDL:omg.org/CORBA/UNKNOWN:1.0";
const char kTransientId[] = "IDL:omg.org/CORBA/TRANSIENT:1.0";

std::string Show(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}
std::string Show(int v) { return std::to_string(v); }
std::string Show(bool v) { return v ? "true" : "false"; }
std::string Show(const std::string& v) { return "'" + v + "'"; }

// One operation: `run` calls it with `arg` where it takes a tag name (or a
// definition, an expression, a selector) and renders its result ("" for
// operations that give nothing).
struct Op {
  int line;
  const char* server_op;  // the server operation it reaches; null: local only
  std::function<std::string(ZLSim&, const char*)> run;
  std::string not_connected;  // also the result after a caught exception
  const char* good;           // an argument that succeeds
  const char* want;           // its result; null: not fixed by this table
  const char* bad = nullptr;  // an argument that raises a user exception
  const char* raised = "";    // what that prints
  // What lastFailure() holds after `good`: a local operation may fail
  // without an exception.
  FailureKind good_failure = FailureKind::kNone;
};

#define CALL(expr) [](ZLSim& s, const char* a) { return Show(expr); }
#define VOID(expr) [](ZLSim& s, const char* a) { expr; return std::string(); }

const char* const kTwoNames[] = {"FIC101", "TIC200"};

// Rows run in order, on one client: later rows see earlier rows' changes.
const std::vector<Op>& Ops() {
  static const std::vector<Op> ops = {
      {__LINE__, "PVE", CALL(s.PVE(a)), "0", "FIC101", "50", "NO_SUCH_TAG", kTagNotFound},
      {__LINE__, "PV", CALL(s.PV(a)), "0", "FIC101", "25", "NO_SUCH_TAG", kTagNotFound},
      {__LINE__, "EUHi", CALL(s.EUHi(a)), "0", "FIC101", "200", "NO_SUCH_TAG", kTagNotFound},
      {__LINE__, "EULo", CALL(s.EULo(a)), "0", "FIC101", "0", "NO_SUCH_TAG", kTagNotFound},
      {__LINE__, "PVEStr", CALL(s.PVEStr(a)), "''", "FIC101", nullptr, "NO_SUCH_TAG",
       kTagNotFound},
      {__LINE__, "TagMode", CALL(s.TagMode(a)), "''", "TIC200", "'Manual'", "NO_SUCH_TAG",
       kTagNotFound},
      {__LINE__, "TagType", CALL(s.TagType(a)), "''", "XV300", "'Digital'"},
      {__LINE__, "TagExists", CALL(s.TagExists(a)), "false", "XV300", "true"},
      {__LINE__, "IsForced", CALL(s.IsForced(a)), "false", "FIC101", "false", "NO_SUCH_TAG",
       kTagNotFound},
      {__LINE__, "SetPVE", CALL(s.SetPVE(a, 60.0)), "0", "FIC101", "1", "NO_SUCH_TAG",
       kTagNotFound},
      {__LINE__, "SetPV", CALL(s.SetPV(a, 50.0)), "0", "FIC101", "1", "NO_SUCH_TAG",
       kTagNotFound},
      // The setters give true only when the server took the call.
      {__LINE__, "SetForce", CALL(s.SetForced(a, 0)), "false", "FIC101", "true", "NO_SUCH_TAG",
       kTagNotFound},
      {__LINE__, "SetAuto", CALL(s.SetAuto(a)), "false", "FIC101", "true", "NO_SUCH_TAG",
       kTagNotFound},
      {__LINE__, "SetMan", CALL(s.SetMan(a)), "false", "TIC200", "true", "NO_SUCH_TAG",
       kTagNotFound},
      {__LINE__, "InitPV", CALL(s.InitPV(a)), "-1", "FIC101", "1", "NO_SUCH_TAG", kTagNotFound},
      {__LINE__, "Upload", CALL(s.Upload(a)), "''", "XV300", nullptr, "NO_SUCH_TAG",
       kTagNotFound},
      {__LINE__, "Download", CALL(s.Download(a)), "0", "NEWTAG\t\t\tAnalog", "1",
       "1BAD\t\t\tAnalog", "user exception, ID 'IDL:ZEMR/ZLDownloadException:1.0'\n"},
      {__LINE__, "TagCount", CALL(s.TagCount()), "0", "", nullptr},
      {__LINE__, "DeleteTag", CALL(s.DeleteTag(a)), "false", "NEWTAG", "true"},
      {__LINE__, "SearchTags", CALL(s.SearchTags(a, "NAME")), "''", "FIC*", nullptr},
      {__LINE__, "TagStats", CALL(s.TagStats(a)), "''", "", nullptr},
      {__LINE__, "HelloZL", CALL(s.HelloZL(a)), "''", "$KERNEL.NAME", "'SIM'"},
      {__LINE__, "ZLExpr", CALL(s.ZLExpr(a)), "0", "1 + 2", "3", "1 +",
       "user exception, ID 'IDL:ZEMR/ZLBadExpression:1.0'\n"},
      {__LINE__, "AlgsAreRunning", CALL(s.AlgsRunning()), "false", "", nullptr},
      {__LINE__, "EnableAlgs", VOID(s.AlgsRunning(1)), "", "", ""},
      {__LINE__, "IOIsEnabled", CALL(s.IOEnabled()), "false", "", nullptr},
      {__LINE__, "EnableIO", VOID(s.IOEnabled(1)), "", "", ""},
      {__LINE__, "DoCalcsEvery", CALL(s.CycleTime()), "0", "", nullptr},
      {__LINE__, "DoCalcsEvery", VOID(s.CycleTime(0.5)), "", "", ""},
      {__LINE__, "WarpFactor", CALL(s.WarpFactor()), "0", "", nullptr},
      {__LINE__, "WarpFactor", VOID(s.WarpFactor(1.0)), "", "", ""},
      {__LINE__, "DoASingleCalcCycle", CALL(s.DoASingleCalcCycle(0.0)), "-1", "", "0"},
      {__LINE__, "GetMultiTag", [](ZLSim& s, const char*) {
         double values[2];
         int types[2], modes[2];
         return Show(s.GetMultiPVE(kTwoNames, 2, values, types, modes));
       }, "-1", "", "2"},
      {__LINE__, "SetMultiPVE", [](ZLSim& s, const char*) {
         const double values[] = {55.0, 130.0};
         return Show(s.SetMultiPVE(kTwoNames, 2, values));
       }, "-1", "", "2"},
      // SimInit empties the database: the test puts the tags back.
      {__LINE__, "SimInit", CALL(s.SimInit(a)), "-1", "", "0"},
      // Shutdown stops the server: its success is in ShutdownStopsTheServer.
      {__LINE__, "Shutdown", CALL(s.Shutdown(0, 0)), "-1", nullptr, nullptr},
      // Local operations: no server call of their own.
      {__LINE__, nullptr, CALL(s.StartScenario(a, "")), "0", "none.scn", nullptr},
      {__LINE__, nullptr, CALL(s.StopScenario(1)), "0", "", nullptr},
      {__LINE__, nullptr, CALL(s.ListScenarios()), "''", "", nullptr},
      {__LINE__, nullptr, CALL(s.ScenarioInfo(1)), "''", "", nullptr},
      {__LINE__, nullptr, CALL(s.SaveTags(a)), "-1", "/nonexistent/dir/x.tags", "0", nullptr, "",
       FailureKind::kOther},
      {__LINE__, nullptr, CALL(s.ReadTags(a)), "-1", "/nonexistent/dir/x.tags", "0", nullptr, "",
       FailureKind::kOther},
      {__LINE__, nullptr, CALL(s.MessagesExist(0)), "false", "", "false"},
      {__LINE__, nullptr, CALL(s.GetNextZLMessage(0)), "''", "", "''"},
      {__LINE__, nullptr, CALL(s.ZLFind("abc", a)), "false", "b", "true"},
  };
  return ops;
}

#undef CALL
#undef VOID

class ZLSimOpsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    services().Control("clear");
    testing::EnsureSimRunning();
  }
  static testing::Services& services() { return ClientEnvironment::services(); }

  // A client connected to "SIM" whose tags are as kTestTags defines them,
  // whatever earlier tests of the program changed.
  static std::unique_ptr<ZLSim> Fresh() {
    auto sim = ConnectedClient();
    EXPECT_EQ(0, sim->SimInit(""));
    EXPECT_EQ(4, sim->Download(testing::kTestTags));
    return sim;
  }

  testing::LogCapture log_;  // keeps the ACE log off standard error
};

TEST_F(ZLSimOpsTest, NotConnected) {
  auto sim = NewClient();
  ASSERT_FALSE(sim->connected());
  for (const Op& op : Ops()) {
    SCOPED_TRACE(op.line);
    const int32_t status = sim->lastErrorStatus();
    const std::string text = sim->lastErrorText();
    StderrCapture err;
    EXPECT_EQ(op.not_connected, op.run(*sim, op.good != nullptr ? op.good : "FIC101"));
    EXPECT_EQ("", err.Take());
    // Only ZLExpr records that the client is not connected.
    const bool expr = op.server_op != nullptr && std::string(op.server_op) == "ZLExpr";
    EXPECT_EQ(expr ? -1 : status, sim->lastErrorStatus());
    EXPECT_EQ(expr ? "not connected" : text, sim->lastErrorText());
    EXPECT_EQ(FailureKind::kNotConnected, sim->lastFailure().kind);
    EXPECT_EQ("not connected", sim->lastFailure().reason);
  }
}

TEST_F(ZLSimOpsTest, Success) {
  auto sim = Fresh();
  for (const Op& op : Ops()) {
    if (op.good == nullptr) continue;
    SCOPED_TRACE(op.line);
    StderrCapture err;
    const std::string result = op.run(*sim, op.good);
    EXPECT_EQ("", err.Take());
    if (op.want != nullptr) {
      EXPECT_EQ(op.want, result);
    }
    EXPECT_EQ(0, sim->lastErrorStatus());
    EXPECT_EQ(op.good_failure, sim->lastFailure().kind) << sim->lastFailure().reason;
  }
}

TEST_F(ZLSimOpsTest, OwnUserException) {
  auto sim = Fresh();
  for (const Op& op : Ops()) {
    if (op.bad == nullptr) continue;
    SCOPED_TRACE(op.line);
    StderrCapture err;
    EXPECT_EQ(op.not_connected, op.run(*sim, op.bad));
    EXPECT_EQ(op.raised, err.Take());
    EXPECT_EQ(0, sim->lastErrorStatus());  // user exceptions are not recorded
    // ZLTagNotFound has a kind of its own; the others are the server's errors.
    const bool not_found = std::string(op.raised) == kTagNotFound;
    EXPECT_EQ(not_found ? FailureKind::kTagNotFound : FailureKind::kServerError,
              sim->lastFailure().kind);
    EXPECT_EQ(op.raised, sim->lastFailure().reason.substr(0, std::strlen(op.raised) - 1) + "\n");
  }
}

TEST_F(ZLSimOpsTest, UndeclaredUserException) {
  auto sim = Fresh();
  for (const Op& op : Ops()) {
    if (op.server_op == nullptr) continue;
    SCOPED_TRACE(op.line);
    ASSERT_EQ("OK", services().Control(std::string("fail ") + op.server_op + " undeclared"));
    StderrCapture err;
    EXPECT_EQ(op.not_connected, op.run(*sim, op.good != nullptr ? op.good : "FIC101"));
    const std::string printed = err.Take();
    // The call reached the operation the row names and consumed the fault.
    EXPECT_EQ("OK 0", services().Control("faults"));
    EXPECT_EQ(static_cast<int32_t>(omni::UNKNOWN_UserException), sim->lastErrorStatus());
    EXPECT_NE(std::string::npos, sim->lastErrorText().find(kUnknownId));
    EXPECT_EQ(sim->lastErrorText() + "\n", printed);
    EXPECT_EQ(FailureKind::kServerError, sim->lastFailure().kind);
    EXPECT_EQ("UNKNOWN", sim->lastFailure().exception);
  }
}

TEST_F(ZLSimOpsTest, DeadServer) {
  auto sim = ConnectedClient();
  ASSERT_TRUE(services().KillSim()) << services().LastError();
  bool first = true;
  for (const Op& op : Ops()) {
    if (op.server_op == nullptr) continue;
    SCOPED_TRACE(op.line);
    StderrCapture err;
    EXPECT_EQ(op.not_connected, op.run(*sim, op.good != nullptr ? op.good : "FIC101"));
    const std::string printed = err.Take();
    EXPECT_EQ(sim->lastErrorText() + "\n", printed);
    EXPECT_EQ(FailureKind::kCommunication, sim->lastFailure().kind);
    EXPECT_EQ(sim->lastErrorText(), sim->lastFailure().reason);
    // The first call finds the connection it had broken; every later one
    // is refused.
    if (first && sim->lastErrorStatus() == static_cast<int32_t>(omni::COMM_FAILURE_WaitingForReply)) {
      EXPECT_NE(std::string::npos, sim->lastErrorText().find("IDL:omg.org/CORBA/COMM_FAILURE:1.0"));
    } else {
      EXPECT_EQ(static_cast<int32_t>(omni::TRANSIENT_ConnectFailed), sim->lastErrorStatus());
      EXPECT_NE(std::string::npos, sim->lastErrorText().find(kTransientId));
    }
    first = false;
  }
  // The client stays usable: a new Connect after the restart attaches again.
  ASSERT_TRUE(services().StartSim()) << services().LastError();
  EXPECT_EQ(0, sim->Connect("SIM"));
  EXPECT_EQ("'SIM'", Show(sim->HelloZL("$KERNEL.NAME")));
}

TEST_F(ZLSimOpsTest, HangingServerTimesOut) {
  auto sim = Fresh();
  omniORB::setClientCallTimeout(sim->database(), 300);
  ASSERT_EQ("OK", services().Control("delay PVE 3000"));
  StderrCapture err;
  EXPECT_EQ(0.0, sim->PVE("FIC101"));
  const std::string printed = err.Take();
  EXPECT_NE(std::string::npos, sim->lastErrorText().find("IDL:omg.org/CORBA/TIMEOUT:1.0"));
  EXPECT_EQ(static_cast<int32_t>(omni::TIMEOUT_CallTimedOutOnClient), sim->lastErrorStatus());
  EXPECT_EQ(sim->lastErrorText() + "\n", printed);
  EXPECT_EQ(FailureKind::kTimeout, sim->lastFailure().kind);
  EXPECT_EQ("PVE", sim->lastFailure().operation);
  EXPECT_EQ("FIC101", sim->lastFailure().tag);
}

// The setters change what the queries then give, and the queries give the
// state from before a change.
TEST_F(ZLSimOpsTest, SettersReachTheServer) {
  auto sim = Fresh();
  sim->SetForced("TIC200", 1);  // a tag in Manual mode
  EXPECT_TRUE(sim->IsForced("TIC200"));
  sim->SetForced("TIC200", 0);
  EXPECT_FALSE(sim->IsForced("TIC200"));
  sim->SetMan("FIC101");
  EXPECT_EQ("Manual", sim->TagMode("FIC101"));
  sim->SetAuto("FIC101");
  EXPECT_EQ("Auto", sim->TagMode("FIC101"));

  const bool algs = sim->AlgsRunning();
  sim->AlgsRunning(algs ? 0 : 1);
  EXPECT_EQ(!algs, sim->AlgsRunning());
  sim->AlgsRunning(algs ? 1 : 0);
  const bool io = sim->IOEnabled();
  sim->IOEnabled(io ? 0 : 1);
  EXPECT_EQ(!io, sim->IOEnabled());
  sim->IOEnabled(io ? 1 : 0);

  const double cycle = sim->CycleTime();
  sim->CycleTime(0.25);
  EXPECT_EQ(0.25, sim->CycleTime());
  sim->CycleTime(cycle);
  const double warp = sim->WarpFactor();
  sim->WarpFactor(4.0);
  EXPECT_EQ(4.0, sim->WarpFactor());
  sim->WarpFactor(warp);

  // A comma-separated list of names is the server's to expand.
  EXPECT_EQ(2, sim->SetPVE("FIC101,TIC200", 40.0));
  EXPECT_EQ(40.0, sim->PVE("TIC200"));

  ASSERT_EQ(1, sim->Download("GONE\t\t\tAnalog"));
  EXPECT_TRUE(sim->TagExists("GONE"));
  EXPECT_TRUE(sim->DeleteTag("GONE"));
  EXPECT_FALSE(sim->TagExists("GONE"));
  // The stand-in answers 0 for a name that matches no tag, and raises
  // nothing: the code is the server's, and the call worked.
  EXPECT_TRUE(sim->DeleteTag("GONE"));
  EXPECT_EQ(0, sim->lastErrorStatus());
}

TEST_F(ZLSimOpsTest, Batches) {
  auto sim = Fresh();
  const char* const names[] = {"FIC101", "XV300", "TIC200"};
  const double set[] = {12.5, 0.0, 300.0};
  // Exactly the count given is sent: the third name is not set.
  ASSERT_EQ(2, sim->SetMultiPVE(names, 2, set));
  EXPECT_EQ(12.5, sim->PVE("FIC101"));
  EXPECT_EQ(0.0, sim->PVE("XV300"));
  EXPECT_NE(300.0, sim->PVE("TIC200"));

  double values[3] = {-1, -1, -1};
  int types[3] = {-1, -1, -1};
  int modes[3] = {-1, -1, -1};
  ASSERT_EQ(3, sim->GetMultiPVE(names, 3, values, types, modes));
  EXPECT_EQ(12.5, values[0]);
  EXPECT_EQ(static_cast<int>(ZEMR::Analog), types[0]);
  EXPECT_EQ(static_cast<int>(ZEMR::Auto), modes[0]);
  EXPECT_EQ(0.0, values[1]);
  EXPECT_EQ(static_cast<int>(ZEMR::Digital), types[1]);
  EXPECT_EQ(static_cast<int>(ZEMR::AnalogIn), types[2]);
  EXPECT_EQ(static_cast<int>(ZEMR::Manual), modes[2]);

  // Bad input gives -1 without a call.
  EXPECT_EQ(-1, sim->GetMultiPVE(nullptr, 1, values, types, modes));
  EXPECT_EQ(-1, sim->GetMultiPVE(names, -1, values, types, modes));
  EXPECT_EQ(-1, sim->SetMultiPVE(names, 1, nullptr));
  EXPECT_EQ(-1, sim->SetMultiPVE(names, -1, set));
  // A step below 0 or not a number never reaches the server.
  ASSERT_EQ("OK", services().Control("fail DoASingleCalcCycle TRANSIENT"));
  EXPECT_EQ(-1, sim->DoASingleCalcCycle(-0.5));
  EXPECT_EQ(-1, sim->DoASingleCalcCycle(std::nan("")));
  EXPECT_EQ("OK 1", services().Control("faults"));
}

TEST_F(ZLSimOpsTest, ShutdownStopsTheServer) {
  auto sim = ConnectedClient();
  const pid_t pid = services().sim_pid();
  ASSERT_GT(pid, 0);
  EXPECT_EQ(0, sim->Shutdown(0, 0));
  EXPECT_TRUE(testing::WaitFor([&] { return services().Control("ping", 500) != "OK"; }));
  // TearDown starts it again.
}

}  // namespace
}  // namespace zl
