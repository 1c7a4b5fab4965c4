// The statements on their own: each row is a tiny scenario run on a worker
// against zelvik-sim's database servant in-process (no naming service,
// event service or stand-in process) on a virtual clock that the plant
// follows, so waits take no real time and every stamp is exact. A row gives
// the test log lines between the opening and the closing line, and the
// counters the run leaves. Every keyword of the statement language has rows
// here, in its family's table; the server's exception policy for statements
// (src/scenario/server_calls.h) has rows with faults armed on the server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "scenario/in_process_run.h"
#include "support/in_process_server.h"
#include "support/log_capture.h"

namespace zl {
namespace {

using testing::InProcessServer;
using testing::Join;
using testing::Outcome;
using testing::RunSpec;
using testing::TestOwner;

ZEMR::ZelvikDatabase_ptr Server() { return InProcessServer::Instance().database(); }

// Arms `count` calls of `operation` to raise the system exception or ZEMR
// user exception `exception`.
void ArmFault(const std::string& operation, const std::string& exception, int count = 1) {
  sim::Fault fault;
  if (!sim::FaultTable::IsSystemException(exception, &fault.exception)) {
    ASSERT_TRUE(sim::FaultTable::IsUserException(exception, &fault.exception)) << exception;
    fault.kind = sim::Fault::kUser;
  }
  fault.count = count;
  InProcessServer::Instance().faults().Arm(operation, fault);
}

// Lets the next `count` calls of `operation` through (a delay of nothing), so
// that a fault armed after it meets the call after them.
void ArmPass(const std::string& operation, int count) {
  sim::Fault pass;
  pass.kind = sim::Fault::kDelay;
  pass.count = count;
  InProcessServer::Instance().faults().Arm(operation, pass);
}

struct Case {
  int line;
  std::string scenario;
  // The test log lines, each ending in "\n"; without a final "\n" the text
  // the log must begin with.
  std::string want;
  unsigned errors, verifies, failed;
  std::function<void()> setup = nullptr;  // after the server's Reset
  std::string options = "";               // the run's option string
  TestOwner* owner = nullptr;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    RunSpec spec;
    spec.text = c.scenario;
    spec.options = c.options;
    spec.setup = c.setup;
    spec.owner = c.owner;
    const Outcome got = testing::RunInProcess(spec);
    const std::string text = Join(got.body);
    if (!c.want.empty() && c.want.back() != '\n') {
      EXPECT_EQ(c.want, text.substr(0, c.want.size())) << text;
    } else {
      EXPECT_EQ(c.want, text);
    }
    EXPECT_EQ(c.errors, got.errors);
    EXPECT_EQ(c.verifies, got.verifies);
    EXPECT_EQ(c.failed, got.failed);
  }
}

TEST(StatementTableTest, TagCommands) {
  RunCases({
      {__LINE__, "SETPVE T1 40\nVERIFY T1 40\n",
       "00:00:00.000\t  Verification <T1> = 40.000000 passed Value is 40.000000\n", 0, 1, 0},
      // a missing tag is reported and counted; the run goes on
      {__LINE__, "SETPV NOPE 1\nSETMAN NOPE\n",
       "00:00:00.000\t__Tag <NOPE> not found for SETPV\n"
       "00:00:00.000\t__Tag <NOPE> not found for SETMAN\n",
       2, 0, 0},
      // missing operands, each with its own line
      {__LINE__, "SETPVE\nSETPVE T1\nTOGGLE\n",
       "00:00:00.000\t__Incomplete SETPVE command\n"
       "00:00:00.000\t__Value not found for SETPVE T1\n"
       "00:00:00.000\t__TOGGLE keyword with no tag\n",
       3, 0, 0},
      // an operand that does not convert writes nothing to the server
      {__LINE__, "SETPVE T1 (60\nVERIFY T1 50\n",
       "00:00:00.000\t__Could not parse value '(60' for SETPVE\n"
       "00:00:00.000\t  Verification <T1> = 50.000000 passed Value is 50.000000\n",
       1, 1, 0},
      // EDGE spends one second in the other state first
      {__LINE__, "EDGE D1 1\nCOMMENT after\n", "00:00:01.000\t# AFTER\n", 0, 0, 0},
      // Every tag command without its operands, and on a tag the server
      // does not know: one line each (CLOSE, SETMAN, SETAUTO, FORCE and
      // UNFORCE without a tag say nothing); SETRAWHI names itself SetRawHi.
      {__LINE__,
       "TOGGLE\nOPEN\nCLOSE\nSETMAN\nSETAUTO\nFORCE\nUNFORCE\n"
       "EDGE\nEDGE XV300\nSETPV\nSETPVE\nSETPV FIC101\nSETPVE FIC101\n"
       "SETRAWLO\nSETRAWLO FIC101\nSETRAWHI\nSETRAWHI FIC101\n"
       "TOGGLE NOSUCH\nEDGE NOSUCH 1\nOPEN NOSUCH\nCLOSE NOSUCH\n"
       "SETPV NOSUCH 1\nSETPVE NOSUCH 1\nSETRAWLO NOSUCH 1\n"
       "SETRAWHI NOSUCH 1\nSETMAN NOSUCH\nSETAUTO NOSUCH\n"
       "FORCE NOSUCH\nUNFORCE NOSUCH\n",
       "00:00:00.000\t__TOGGLE keyword with no tag\n"
       "00:00:00.000\t__OPEN keyword with no tag\n"
       "00:00:00.000\t__Incomplete EDGE command\n"
       "00:00:00.000\t__Value not found for EDGE XV300\n"
       "00:00:00.000\t__Incomplete SETPV command\n"
       "00:00:00.000\t__Incomplete SETPVE command\n"
       "00:00:00.000\t__Value not found for SETPV FIC101\n"
       "00:00:00.000\t__Value not found for SETPVE FIC101\n"
       "00:00:00.000\t__Incomplete SETRAWLO command\n"
       "00:00:00.000\t__Value not found for SETRAWLO FIC101\n"
       "00:00:00.000\t__Incomplete SETRAWHI command\n"
       "00:00:00.000\t__Value not found for SetRawHi FIC101\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for TOGGLE\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for EDGE\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for OPEN\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for CLOSE\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for SETPV\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for SETPVE\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for SETRAWLO\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for SetRawHi\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for SETMAN\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for SETAUTO\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for FORCE\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for UNFORCE\n",
       24, 0, 0},
  });
}

// Tag commands reach the server: each row is silent and leaves the server
// in the state it names.
TEST(StatementTableTest, TagCommandsLeaveTheServerState) {
  struct StateCase {
    int line;
    const char* scenario;
    std::function<bool()> holds;  // the server state the run must leave
  };
  auto pve = [](const char* tag) { return Server()->PVE(tag); };
  auto pv = [](const char* tag) { return Server()->PV(tag); };
  auto mode = [](const char* tag) {
    CORBA::String_var m = Server()->TagMode(tag);
    return std::string(m.in());
  };
  const StateCase cases[] = {
      // The value is a group the server evaluates, printed and read back.
      {__LINE__, "SETPVE FIC101 (2*40)\n", [&] { return pve("FIC101") == 80; }},
      // A number in any decimal form; DELAY cuts the fraction (1 ms).
      {__LINE__, "SETPVE FIC101 +.7E2\nDELAY 1.9\n", [&] { return pve("FIC101") == 70; }},
      {__LINE__, "SETPV FIC101 25\n", [&] { return pv("FIC101") == 25; }},
      // TOGGLE flips a state; TOGGLEX matches as TOGGLE does.
      {__LINE__, "CLOSE XV300\nTOGGLE XV300\n", [&] { return pv("XV300") == 0; }},
      {__LINE__, "OPEN XV300\nTOGGLEX xv300\n", [&] { return pv("XV300") == 1; }},
      {__LINE__, "CLOSE XV300\nOPENIT XV300\n", [&] { return pv("XV300") == 0; }},
      // An edge towards 0 with a target below REL_TOL, from 1 at once.
      {__LINE__, "CLOSE XV300\nEDGE XV300 0.0000001\n", [&] { return pv("XV300") == 0; }},
      {__LINE__, "SETMAN FIC101\n", [&] { return mode("FIC101") == mode("TIC200"); }},
      {__LINE__, "SETMAN FIC101\nSETAUTO FIC101\n",
       [&] { return mode("FIC101") != mode("TIC200"); }},
      // The stand-in server forces only tags in Manual mode.
      {__LINE__, "SETMAN FIC101\nFORCE FIC101\n", [&] { return Server()->IsForced("FIC101"); }},
      {__LINE__, "FORCE FIC101\nUNFORCE FIC101\nSETAUTO FIC101\n",
       [&] { return !Server()->IsForced("FIC101"); }},
      {__LINE__, "SETRAWLO FIC101 10\nSETRAWHI FIC101 90\n",
       [&] { return Server()->RawLo("FIC101") == 10 && Server()->RawHi("FIC101") == 90; }},
  };
  for (const StateCase& c : cases) {
    SCOPED_TRACE(c.line);
    const Outcome got = testing::RunInProcess(c.scenario);
    EXPECT_TRUE(c.holds());
    EXPECT_EQ("", Join(got.body));
    EXPECT_EQ(0u, got.errors);
  }
}

// A numeric operand that does not read completely in its statement's form
// is a statement error: one line naming the statement and the operand,
// nothing sent to the server, and the run goes on. Each script is followed
// by a verification that FIC101 still holds 50.
TEST(StatementTableTest, OperandsThatDoNotConvertAreStatementErrors) {
  struct OperandCase {
    int line;
    std::string script;
    std::string error;  // the line before the verification; empty: none
  };
  const std::vector<OperandCase> cases = {
      // A missing parenthesis wrote 0 to the tag.
      {__LINE__, "SETPVE FIC101 (60\n", "00:00:00.000\t__Could not parse value '(60' for SETPVE"},
      // An unbalanced group is an error also where the rest reads as a number.
      {__LINE__, "SETPV FIC101 5(2\n", "00:00:00.000\t__Could not parse value '5(2' for SETPV"},
      {__LINE__, "SETPV FIC101 abc\n", "00:00:00.000\t__Could not parse value 'ABC' for SETPV"},
      {__LINE__, "SETPVE FIC101 (25*2)X\n",
       "00:00:00.000\t__Could not parse value '(25*2)X' for SETPVE"},
      {__LINE__, "SETRAWHI FIC101 1O\n", "00:00:00.000\t__Could not parse value '1O' for SETRAWHI"},
      {__LINE__, "EDGE XV300 on\n", "00:00:00.000\t__Could not parse value 'ON' for EDGE"},
      {__LINE__, "MONITOR FIC101 x\n", "00:00:00.000\t__Could not parse value 'X' for MONITOR"},
      // VERIFY's value is an expression of the server: its groups are checked here.
      {__LINE__, "VERIFY FIC101 (50\n", "00:00:00.000\t__Could not parse value '(50' for VERIFY"},
      {__LINE__, "TVERIFY FIC101 x\n", "00:00:00.000\t__Could not parse value 'X' for TVERIFY"},
      {__LINE__, "TASSERT FIC101 1 (2\n",
       "00:00:00.000\t__Could not parse start '(2' for TASSERT"},
      {__LINE__, "TVERIFY_GT FIC101 1 0 5s\n",
       "00:00:00.000\t__Could not parse end '5S' for TVERIFY_GT"},
      // A window that ends before it starts.
      {__LINE__, "TVERIFY FIC101 1 5 2\n",
       "00:00:00.000\t__Window end '2' is before its start '5' for TVERIFY"},
      {__LINE__, "TMONITOR FIC101 50 (1+2) 1\n",
       "00:00:00.000\t__Window end '1' is before its start '(1+2)' for TMONITOR"},
      {__LINE__, "BDELAY 2,5\n", "00:00:00.000\t__Could not parse delay '2,5' for BDELAY"},
      {__LINE__, "BDELAYSECS x\n", "00:00:00.000\t__Could not parse delay 'X' for BDELAYSECS"},
      {__LINE__, "DELAY abc\n", "00:00:00.000\t__Could not parse delay 'ABC' for DELAY"},
      {__LINE__, "DELAYSECS 1O\n", "00:00:00.000\t__Could not parse delay '1O' for DELAYSECS"},
      {__LINE__, "SIMWAIT banana\n", "00:00:00.000\t__Could not parse duration 'BANANA' for SIMWAIT"},
      {__LINE__, "SIMWAIT 1.5:30\n", "00:00:00.000\t__Could not parse duration '1.5:30' for SIMWAIT"},
      {__LINE__, "REL_TOL x\n", "00:00:00.000\t__Could not parse tolerance 'X' for REL_TOL"},
      {__LINE__, "ABS_TOL 0.1.2\n", "00:00:00.000\t__Could not parse tolerance '0.1.2' for ABS_TOL"},
      // ANSWER keeps its own line; "2X" was read as 2 minutes.
      {__LINE__, "ANSWER 2x Q\n", "00:00:00.000\t__Could not parse timeout for ANSWER"},
      // Missing operands and negative waits keep their results.
      {__LINE__, "REL_TOL\nREL_TOL 0\nABS_TOL\nDELAY -5\nBDELAY -1\nBEND\n", ""},
      {__LINE__, "TVERIFY FIC101 50 0\n",
       "00:00:00.000\t**Precheck Timed Verification !(<FIC101> = 50.000000) "
       "FAILED Value is 50.000000 after 0:00.000"},
  };
  const std::string verified =
      "00:00:00.000\t  Verification <FIC101> = 50.000000 passed Value is 50.000000";
  std::string all;  // every script, run once more to count the errors
  unsigned errors = 0;
  for (const OperandCase& k : cases) {
    SCOPED_TRACE(k.line);
    const Outcome got = testing::RunInProcess(k.script + "VERIFY FIC101 50\n");
    std::vector<std::string> want;
    if (!k.error.empty()) want.push_back(k.error);
    want.push_back(verified);
    EXPECT_EQ(Join(want), Join(got.body));
    all += k.script;
    if (k.error.find("\t__") != std::string::npos) ++errors;
  }
  // One error for each statement.
  EXPECT_EQ(errors, testing::RunInProcess(all).errors);
}

// Verifications and assertions: the tolerance rule, both number formats,
// tag lists and the error lines.
TEST(StatementTableTest, Checks) {
  auto fic101 = [](double value) {
    return [value] {
      ASSERT_EQ(1, Server()->SetPVE("FIC101", value));
      ASSERT_EQ(1, Server()->SetPVE("TIC200", 120));
    };
  };
  RunCases({
      {__LINE__, "VERIFY_GT T1 (T1+1)\nASSERT_LT T1 0\nASSERT T1 50\n",
       "00:00:00.000\t**Verification <T1> > 51.000000 FAILED Value is 50.000000\n"
       // an expected value near 0 prints in exponent form
       "00:00:00.000\t**Assertion <T1> < 0.00000E+00 FAILED Value is 5.00000E+01\n",
       0, 3, 2},
      {__LINE__, "VERIFY NOPE 1\n", "00:00:00.000\t__Tag <NOPE> not found for VERIFY\n", 1, 0,
       0},
      {__LINE__, "VERIFY\nVERIFY T1\n",
       "00:00:00.000\t__Tag list not found for VERIFY VERIFY\n"
       "00:00:00.000\t__Value not found for VERIFY T1\n",
       2, 0, 0},
      // an expression the server rejects ends the run
      {__LINE__, "VERIFY T1 ABC\nCOMMENT never\n",
       "00:00:00.000\t# Aborted at line 1 of ",
       1, 0, 0},
      // Within |100 * REL_TOL|.
      {__LINE__, "VERIFY FIC101 100\n",
       "00:00:00.000\t  Verification <FIC101> = 100.000000 passed Value is 100.000050\n", 0, 1, 0,
       fic101(100.00005)},
      {__LINE__, "VERIFY FIC101 100\n",
       "00:00:00.000\t**Verification <FIC101> = 100.000000 FAILED Value is 100.000200\n", 0, 1, 1,
       fic101(100.0002)},
      // ABS_TOL takes over where the relative tolerance is too small.
      {__LINE__, "ABS_TOL -0.0003\nVERIFY FIC101 (50*2)\n",
       "00:00:00.000\t  Verification <FIC101> = 100.000000 passed Value is 100.000200\n", 0, 1, 0,
       fic101(100.0002)},
      // REL_TOL widens the relative band; one below 1e-14 is ignored.
      {__LINE__, "REL_TOL 0.001\nVERIFY FIC101 100\nREL_TOL 1e-15\nVERIFY FIC101 100.01\n",
       "00:00:00.000\t  Verification <FIC101> = 100.000000 passed Value is 100.050000\n"
       "00:00:00.000\t  Verification <FIC101> = 100.010000 passed Value is 100.050000\n",
       0, 2, 0, fic101(100.05)},
      // Small expected values print in exponent form.
      {__LINE__, "VERIFY FIC101 0\n",
       "00:00:00.000\t  Verification <FIC101> = 0.00000E+00 passed Value is 0.00000E+00\n", 0, 1,
       0, fic101(0)},
      // ">" is strict.
      {__LINE__, "VERIFY_GT FIC101 5\nVERIFY_LT FIC101 6\n",
       "00:00:00.000\t**Verification <FIC101> > 5.000000 FAILED Value is 5.000000\n"
       "00:00:00.000\t  Verification <FIC101> < 6.000000 passed Value is 5.000000\n",
       0, 2, 1, fic101(5)},
      // A passing assertion is silent; a failing one says "Assertion".
      {__LINE__, "ASSERT FIC101 0\nASSERT_GT FIC101 1\n",
       "00:00:00.000\t**Assertion <FIC101> > 1.000000 FAILED Value is 0.000000\n", 0, 2, 1,
       fic101(0)},
      // The list ends at its first empty item.
      {__LINE__, "VERIFY FIC101,TIC200,,XV300 120\n",
       "00:00:00.000\t  Verification <FIC101> = 120.000000 passed Value is 120.000000\n"
       "00:00:00.000\t  Verification <TIC200> = 120.000000 passed Value is 120.000000\n",
       0, 2, 0, fic101(120)},
      {__LINE__, "VERIFY\nASSERT_LT\nVERIFY FIC101\nVERIFY NOSUCH,FIC101 1\n",
       "00:00:00.000\t__Tag list not found for VERIFY VERIFY\n"
       "00:00:00.000\t__Tag list not found for VERIFY ASSERT_LT\n"
       "00:00:00.000\t__Value not found for VERIFY FIC101\n"
       "00:00:00.000\t__Tag <NOSUCH,FIC101> not found for VERIFY\n"
       "00:00:00.000\t  Verification <FIC101> = 1.000000 passed Value is 1.000000\n",
       4, 1, 0, fic101(1)},
  });
}

// Monitors write a line at each change of state while the run waits, and
// PASSED for a level without failures.
TEST(StatementTableTest, Monitors) {
  auto fic101 = [](double value) {
    return [value] { ASSERT_EQ(1, Server()->SetPVE("FIC101", value)); };
  };
  RunCases({
      {__LINE__,
       "MONITOR FIC101 ?\nDELAY 600\nSETPVE FIC101 4\nDELAY 600\nSETPVE FIC101 3.5\n"
       "DELAY 600\nMON_CLEAR\n",
       "00:00:00.000\t  Monitoring tag <FIC101> = 3.500000\n"
       "00:00:00.600\t**Monitor <FIC101> = 3.500000 FAILED Value is 4.000000\n"
       "00:00:01.200\t  Monitor <FIC101> = 3.500000 NORMAL Value is 3.500000\n",
       0, 0, 0, fic101(3.5)},
      // Disabled monitors pass without reading; an unknown tag is skipped.
      {__LINE__,
       "MONITOR\nMONITOR FIC101\nMONITOR NOSUCH 1\nMONITOR_GT FIC101,TIC200 1000\n"
       "MON_DISABLE\nDELAY 100\n",
       "00:00:00.000\t__Tag list not found for MONITOR MONITOR\n"
       "00:00:00.000\t__Value not found for MONITOR FIC101\n"
       "00:00:00.000\t__Tag <NOSUCH> not found for MONITOR\n"
       "00:00:00.000\t  Monitoring tag(s) <NOSUCH> = 1.000000\n"
       "00:00:00.000\t  Monitoring tag(s) <FIC101,TIC200> > 1000.000000\n"
       "00:00:00.100\t  Monitored tags PASSED at nest level 0\n",
       2, 0, 0},
      // MON_ENABLE takes the checks up again; MONITOR_LT compares below.
      {__LINE__, "MONITOR_LT FIC101 10\nMON_DISABLE\nDELAY 100\nMON_ENABLE\nDELAY 100\n",
       "00:00:00.000\t  Monitoring tag(s) <FIC101> < 10.000000\n"
       "00:00:00.100\t**Monitor <FIC101> < 10.000000 FAILED Value is 50.000000\n",
       0, 0, 0},
  });
}

// Timed blocks: the block starts at the first line that is not a timed
// statement (or the end of the file) and that line waits for the whole
// block; every statement is polled every 100 ms of its window.
TEST(StatementTableTest, TimedStatements) {
  RunCases({
      // the window passes at its end without the condition: FAILED to occur
      {__LINE__, "TVERIFY_GT T1 60 0 2\nBEND\n",
       "00:00:00.000\t  Precheck Timed Verification !(<T1> > 60.000000) passed Value is "
       "50.000000 after 0:00.000\n"
       "00:00:02.000\t**Timed Verification <T1> > 60.000000 FAILED to occur. Value is "
       "50.000000 after 0:02.000\n",
       0, 3, 1},
      // a missing tag: the error line, and the precheck that could not
      // read it is not counted
      {__LINE__, "TASSERT NOPE 1\nBEND\n",
       "00:00:00.000\t__Tag <NOPE> not found for Timed Assertion\n", 1, 1, 0},
      {__LINE__, "TVERIFY NOPE 3 0 1\nBEND\n",
       "00:00:00.000\t__Tag <NOPE> not found for Timed Assertion\n", 1, 1, 0},
      {__LINE__, "TVERIFY T1 1 2 1\n",
       "00:00:00.000\t__Window end '1' is before its start '2' for TVERIFY\n", 1, 0, 0},
      // BDELAY makes the block last; a COMMENT is collected and runs at once
      {__LINE__, "BDELAY 3\nCOMMENT in the block\nBEND\nCOMMENT after\n",
       "00:00:00.000\t# IN THE BLOCK\n00:00:03.000\t# AFTER\n", 0, 0, 0},
      {__LINE__, "BDELAYSECS 2\nBEND\nCOMMENT after\n", "00:00:02.000\t# AFTER\n", 0, 0, 0},
      // A change inside the window passes: T2 ramps up 1 per second.
      {__LINE__, "TVERIFY_GT T2 2.5 0 60\nBEND\n",
       "00:00:00.000\t  Precheck Timed Verification !(<T2> > 2.500000) passed Value is "
       "0.000000 after 0:00.000\n"
       "00:00:03.000\t  Timed Verification <T2> > 2.500000 passed Value is 3.000000 after "
       "0:03.000\n",
       0, 3, 0},
      // Start and end 0: precheck at the start, one more check at the next
      // poll, then failure.
      {__LINE__, "TVERIFY FIC101 1 0 0\n",
       "00:00:00.000\t  Precheck Timed Verification !(<FIC101> = 1.000000) passed Value is "
       "50.000000 after 0:00.000\n"
       "00:00:00.100\t**Timed Verification <FIC101> = 1.000000 FAILED to occur. Value is "
       "50.000000 after 0:00.100\n",
       0, 3, 1},
      // A condition that holds already fails the precheck, for either mark.
      {__LINE__, "TASSERT FIC101 50 0 5\n",
       "00:00:00.000\t**Precheck Timed Assertion !(<FIC101> = 50.000000) FAILED Value is "
       "50.000000 after 0:00.000\n",
       0, 2, 1},
      {__LINE__, "TVERIFY_LT FIC101 100\n",
       "00:00:00.000\t**Precheck Timed Verification !(<FIC101> < 100.000000) FAILED Value is "
       "50.000000 after 0:00.000\n",
       0, 2, 1},
      // A failing assertion reports; a passing one would be silent.
      {__LINE__, "TASSERT_GT FIC101 60 0 0\n",
       "00:00:00.100\t**Timed Assertion <FIC101> > 60.000000 FAILED to occur. Value is "
       "50.000000 after 0:00.100\n",
       0, 3, 1},
      {__LINE__, "TASSERT_LT FIC101 40 0 0\n",
       "00:00:00.100\t**Timed Assertion <FIC101> < 40.000000 FAILED to occur. Value is "
       "50.000000 after 0:00.100\n",
       0, 3, 1},
      {__LINE__, "TASSERT_GT T2 1.5 0 5\nBEND\nCOMMENT after\n", "00:00:02.000\t# AFTER\n",
       0, 3, 0},
      // TMONITOR has no precheck: it fails at the first poll that misses...
      {__LINE__, "TMONITOR FIC101 49 0 10\n",
       "00:00:00.000\t**Timed Monitor <FIC101> = 49.000000 FAILED. Value is 50.000000 after "
       "0:00.000\n",
       0, 2, 1},
      // ...and passes at the window end (one count per poll on the way).
      {__LINE__, "TMONITOR FIC101 50 0 0.3\n",
       "00:00:00.300\t  Timed Monitor <FIC101> = 50.000000 passed Value is 50.000000 after "
       "0:00.300\n",
       0, 5, 0},
      // A list makes one statement per tag; a missing tag errs but lets the
      // other statement run its course. The precheck that could not read its
      // tag neither passes nor counts.
      {__LINE__, "TVERIFY NOSUCH,FIC101 1 0 0\n",
       "00:00:00.000\t__Tag <NOSUCH> not found for Timed Assertion\n"
       "00:00:00.000\t  Precheck Timed Verification !(<FIC101> = 1.000000) passed Value is "
       "50.000000 after 0:00.000\n"
       "00:00:00.100\t**Timed Verification <FIC101> = 1.000000 FAILED to occur. Value is "
       "50.000000 after 0:00.100\n",
       1, 4, 1},
      // Missing operands.
      {__LINE__, "TVERIFY\nTMONITOR FIC101\nBDELAY\nBDELAY -1\n",
       "00:00:00.000\t__Tag list not found for VERIFY TVERIFY\n"
       "00:00:00.000\t__Value not found for VERIFY FIC101\n"
       "00:00:00.000\t__BDELAY not executed\n",
       3, 0, 0},
      // The SETPVE after the block runs only when the block has finished, so
      // the TVERIFY cannot see its change.
      {__LINE__, "TVERIFY FIC101 7 0 0.3\nSETPVE FIC101 7\nVERIFY FIC101 7\n",
       "00:00:00.000\t  Precheck Timed Verification !(<FIC101> = 7.000000) passed Value is "
       "50.000000 after 0:00.000\n"
       "00:00:00.300\t**Timed Verification <FIC101> = 7.000000 FAILED to occur. Value is "
       "50.000000 after 0:00.300\n"
       "00:00:00.300\t  Verification <FIC101> = 7.000000 passed Value is 7.000000\n",
       0, 4, 1},
      // COMMENT inside a block runs at once without starting it; BEND starts it.
      {__LINE__, "TVERIFY FIC101 1 0.2 0.2\nCOMMENT mid\nBEND\nCOMMENT after\n",
       "00:00:00.000\t# MID\n"
       "00:00:00.200\t  Precheck Timed Verification !(<FIC101> = 1.000000) passed Value is "
       "50.000000 after 0:00.200\n"
       "00:00:00.300\t**Timed Verification <FIC101> = 1.000000 FAILED to occur. Value is "
       "50.000000 after 0:00.300\n"
       "00:00:00.300\t# AFTER\n",
       0, 3, 1},
      // A block at the end of the file finishes before the file closes.
      {__LINE__, "TASSERT FIC101 50",
       "00:00:00.000\t**Precheck Timed Assertion !(<FIC101> = 50.000000) FAILED Value is "
       "50.000000 after 0:00.000\n",
       0, 2, 1},
  });
}

TEST(StatementTableTest, FlowStatements) {
  TestOwner owner;
  RunCases({
      {__LINE__, "DELAYSECS 5\nCOMMENT x\nDELAY 250\nCOMMENT y\n",
       "00:00:05.000\t# X\n00:00:05.250\t# Y\n", 0, 0, 0},
      {__LINE__, "DELAY abc\nSIMWAIT\nBOGUS 1\n",
       "00:00:00.000\t__Could not parse delay 'ABC' for DELAY\n"
       "00:00:00.000\t__SIMWAIT not executed\n"
       "00:00:00.000\t__Unknown scenario keyword, 'BOGUS'\n",
       3, 0, 0},
      // Missing operands of the waits are errors, with DELAY in both texts.
      {__LINE__, "DELAY\nDELAYSECS\nSIMWAIT\n",
       "00:00:00.000\t__DELAY not executed\n"
       "00:00:00.000\t__DELAY not executed\n"
       "00:00:00.000\t__SIMWAIT not executed\n",
       3, 0, 0},
      // A condition true at once means no wait; one that becomes true ends
      // the wait at the first look after it (T2 ramps up 1 per second).
      {__LINE__, "DELAYSECS 60 (1 > 0)\nCOMMENT on\n", "00:00:00.000\t# ON\n", 0, 0, 0},
      {__LINE__, "DELAYSECS 60 (T2 > 2)\nCOMMENT on\n", "00:00:03.000\t# ON\n", 0, 0, 0},
      // The condition is the rest of the line: it needs no parentheses.
      {__LINE__, "DELAYSECS 60 T2 > 2\nCOMMENT on\n", "00:00:03.000\t# ON\n", 0, 0, 0},
      // SIMWAIT counts simulation seconds: 20 of them at warp factor 4 take
      // 5 seconds, polled every 250 ms.
      {__LINE__, "SIMWAIT 20\nCOMMENT done\n",
       "00:00:00.000\t  SIMWAIT 20 started at elapsedServerTime = 00:00:00.000\n"
       "00:00:20.000\t  SIMWAIT completed 0.000000 SIMsecs late; elapsedServerTime = "
       "00:00:20.000\n"
       "00:00:20.000\t# DONE\n",
       0, 0, 0},
      {__LINE__, "SIMWAIT 20\nCOMMENT done\n",
       "00:00:00.000\t  SIMWAIT 20 started at elapsedServerTime = 00:00:00.000\n"
       "00:00:05.000\t  SIMWAIT completed 0.000000 SIMsecs late; elapsedServerTime = "
       "00:00:20.000\n"
       "00:00:05.000\t# DONE\n",
       0, 0, 0, [] { Server()->WarpFactor(4); }},
      // A condition ends a simulation-time wait early.
      {__LINE__, "SIMWAIT 60 (T2 > 1)\nCOMMENT done\n",
       "00:00:00.000\t  SIMWAIT 60 started at elapsedServerTime = 00:00:00.000\n"
       "00:00:02.000\t# DONE\n",
       0, 0, 0},
      // GOTO: forward, a false condition falls through.
      {__LINE__, "GOTO :END\nCOMMENT skipped\n:END\nCOMMENT (1+1)\n",
       "00:00:00.000\t# 2.000000\n", 0, 0, 0},
      {__LINE__, "GOTO :end\nCOMMENT skipped\n:END\nGOTO :a (0)\nCOMMENT fell\n:A\n",
       "00:00:00.000\t# FELL\n", 0, 0, 0},
      // A label the file does not have: an error, and the run goes on with
      // the next line (a label is a whole word: :DONE is no :DONEE).
      {__LINE__, "GOTO :donee\nCOMMENT next\n:DONE\n",
       "00:00:00.000\t__Label ':DONEE' not found for GOTO\n00:00:00.000\t# NEXT\n", 1, 0, 0},
      // A backward loop that ends by a condition.
      {__LINE__, "GOTO :B\n:A\nCOMMENT a\nGOTO :C\n:B\nCOMMENT b\nGOTO :a (1)\n:C\n",
       "00:00:00.000\t# B\n00:00:00.000\t# A\n", 0, 0, 0},
      // Comments are upper case and expand parenthesis groups.
      {__LINE__, "COMMENT hello (1+2) \\(x)\n", "00:00:00.000\t# HELLO 3.000000 (X)\n", 0, 0, 0},
      // A file comment writes nothing; a blank before "#" makes it a keyword.
      {__LINE__, "# not run\n  #X\n", "00:00:00.000\t__Unknown scenario keyword, '#X'\n", 1, 0,
       0},
      {__LINE__, "FOO 1\n\n", "00:00:00.000\t__Unknown scenario keyword, 'FOO'\n", 1, 0, 0},
      // Arguments, escapes, and the -skipuserq and "--" options that are not arguments.
      {__LINE__, "COMMENT $1/$2/\\$1/$9\n", "00:00:00.000\t# A/B/$1/$9\n", 0, 0, 0, nullptr,
       "-skipuserq a --x b"},
      // A line without a final newline still runs.
      {__LINE__, "COMMENT last", "00:00:00.000\t# LAST\n", 0, 0, 0},
      // A line longer than 2047 characters is read as two lines.
      {__LINE__, "COMMENT " + std::string(2039, 'x') + "FOO\n",
       "00:00:00.000\t# " + std::string(2039, 'X') +
           "\n00:00:00.000\t__Unknown scenario keyword, 'FOO'\n",
       1, 0, 0},
      // USELOG names a log set of the owner's.
      {__LINE__, "USELOG nolog\n", "00:00:00.000\t__Logset <NOLOG> not found for USELOG\n", 1, 0,
       0},
      {__LINE__, "ZLCMD LSCREATE RUNLOG\nUSELOG runlog\nZLCMD LSDELETE RUNLOG\n", "", 0, 0, 0,
       nullptr, "", &owner},
      {__LINE__, "SAFETY VALID\n", "00:00:00.000\t__No stored checksum for scenario: ", 1, 0, 0},
  });
}

// SAFETY reports at the end: the stored checksum, the database changes
// since the start and both versions.
TEST(StatementTableTest, SafetyReportsVersionsAndDatabaseChanges) {
  const Outcome plain = testing::RunInProcess("SAFETY\n");
  EXPECT_EQ("00:00:00.000\t__No stored checksum for scenario: " + plain.path + "\n" +
                "00:00:00.000\t  Server Database is the same since start of scenario\n"
                "00:00:00.000\t# ZL Client version: 3.2.0.15\n"
                "00:00:00.000\t# ZL Server version: zelvik-sim 1.0.0\n",
            Join(plain.body));
  EXPECT_EQ(1u, plain.errors);
}

// AUTODELETE removes the scenario file after a normal end.
TEST(StatementTableTest, AutoDeleteRemovesTheFileAtTheEnd) {
  struct DeleteCase {
    int line;
    const char* scenario;
    bool left;
  };
  const DeleteCase cases[] = {
      {__LINE__, "AUTODELETE\n", false},
      {__LINE__, "AUTODELETE yes\n", false},
      {__LINE__, "AUTODELETE 0\n", true},
      {__LINE__, "AUTODELETE\nAUTODELETE N\n", true},
      // an aborted scenario keeps its file: here an expression the server
      // cannot evaluate ends the run
      {__LINE__, "AUTODELETE\nCOMMENT (1 +)\n", true},
  };
  for (const DeleteCase& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.left, testing::RunInProcess(c.scenario).file_left);
  }
}

TEST(StatementTableTest, ExternalStatements) {
  TestOwner refusing("REC");
  refusing.refusal = "no Toolbook here";
  RunCases({
      {__LINE__, "PT_ENABLE\nCOMPAREVALS\n",
       "00:00:00.000\t__PT_ENABLE not executed (missing tagname)\n"
       "00:00:00.000\t## COMAPREVALS not implemented yet.\n",
       1, 0, 0},
      {__LINE__, "PT_DISABLE\n", "00:00:00.000\t__PT_DISABLE not executed (missing tagname)\n", 1,
       0, 0},
      {__LINE__, "ANSWER\nANSWER X Q\nANSWER 5\n",
       "00:00:00.000\t__Timeout and question not found for ANSWER\n"
       "00:00:00.000\t__Could not parse timeout for ANSWER\n"
       "00:00:00.000\t__There is no question for ANSWER\n",
       3, 0, 0},
      // The shell sees the upper-cased command: EXIT is no builtin.
      {__LINE__, "SYSTEM :\nSYSTEM exit 3\nSYSTEM\n",
       "00:00:00.000\tSystem cmd failed with error=127, EXIT 3\n", 0, 0, 0},
      // Without an owner, host and log set commands do nothing.
      {__LINE__, "TOOLBOOK go on\nTB_POST\nZLCMD LSLIST\nZLCMD\n", "", 0, 0, 0},
      // A host that refuses is reported with its reason.
      {__LINE__, "TOOLBOOK go on\nTB_POST\n",
       "00:00:00.000\t##Client cmd, TOOLBOOK, could not be executed because no Toolbook here\n"
       "00:00:00.000\t##Client cmd, TB_POST, could not be executed because no Toolbook here\n",
       0, 0, 0, nullptr, "", &refusing},
      // "zyNODIR/X.tmp": no such directory.
      {__LINE__, "STOREVALS nodir/x;FIC101\nCOMMENT next\n",
       "00:00:00.000\t## Could not open file to store tag values\n00:00:00.000\t# NEXT\n", 0, 0,
       0},
  });
}

// STOREVALS writes one record per tag: the name's length with its zero
// byte, the name, the value, little-endian.
TEST(StatementTableTest, StoreValsWritesTheTagValues) {
  const std::string stem = "ZLSV" + std::to_string(::getpid());
  RunSpec spec;
  spec.text = "STOREVALS " + stem + ";FIC101\n";
  spec.setup = [] { ASSERT_EQ(1, Server()->SetPVE("FIC101", 42.5)); };
  const Outcome got = testing::RunInProcess(spec);
  EXPECT_EQ("", Join(got.body));
  const std::string file = "zy" + stem + ".tmp";
  std::ifstream in(file, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  in.close();
  std::remove(file.c_str());
  const double value = 42.5;
  std::string want("\x07\x00" "FIC101\x00", 9);
  for (int i = 0; i < 8; ++i) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    want += static_cast<char>((bits >> (8 * i)) & 0xff);
  }
  EXPECT_EQ(want, bytes.str());
}

// User questions: answered, answered wrong, unanswered, and -skipuserq.
TEST(StatementTableTest, AnswerAsksTheHost) {
  struct AnswerCase {
    int line;
    const char* scenario;
    const char* options;
    const char* answer;  // the host's answer; "": none
    std::string want;
    unsigned errors;
  };
  const AnswerCase cases[] = {
      // The first character decides a yes/no answer. An answer is reported
      // at the wait's first look after it, one 500 ms slice on.
      {__LINE__, "ANSWER 1 \"is it ok\"\n", "", "yes",
       "00:00:00.500\t  User Question 'IS IT OK' passed. Answer from HOST is 'yes'\n", 0},
      {__LINE__, "ANSWER 1 OK?\n", "", "NO",
       "00:00:00.500\t**User Question 'OK?' FAILED. Answer from HOST is 'NO'\n", 0},
      // No answer within the timeout (0.02 minutes: one whole second).
      {__LINE__, "ANSWER 0.02 OK?\nCOMMENT next\n", "", "",
       "00:00:01.000\t**User Question 'OK?' FAILED. No answer from HOST\n"
       "00:00:01.000\t# NEXT\n",
       0},
      {__LINE__, "ANSWER 1 A\nANSWER 1 B\n", "-skipuserq", "yes",
       "00:00:00.000\t  User Question 'A' not asked because of -skipuserq option\n"
       "00:00:00.000\t  User Question 'B' not asked because of -skipuserq option\n"
       "00:00:00.000\t**Failure indicated because 2 questions skipped by -skipuserq option\n",
       0},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.line);
    TestOwner host;
    host.answer = c.answer;
    RunSpec spec;
    spec.text = c.scenario;
    spec.options = c.options;
    spec.owner = &host;
    const Outcome got = testing::RunInProcess(spec);
    EXPECT_EQ(c.want, Join(got.body));
    EXPECT_EQ(c.errors, got.errors);
    if (std::string(c.answer).empty() || std::string(c.options) == "-skipuserq") {
      EXPECT_TRUE(host.Taken().empty());
    } else {
      EXPECT_EQ(std::vector<bool>{true}, host.Taken());
    }
  }
}

// TOOLBOOK and TB_POST do nothing while the host's Toolbook window lives;
// once it is gone they go to the host.
TEST(StatementTableTest, ToolbookWindowAliveTakesNoCommands) {
  struct WindowCase {
    int line;
    bool window_alive;
    std::vector<std::string> commands;  // what the host received
  };
  const WindowCase cases[] = {
      {__LINE__, true, {}},
      // A handle whose window was destroyed no longer counts.
      {__LINE__, false, {"TOOLBOOK|GO ON", "TB_POST|"}},
  };
  const std::string title = "ZL TOOLBOOK " + std::to_string(::getpid());
  for (const WindowCase& c : cases) {
    SCOPED_TRACE(c.line);
    TestOwner host;
    host.window = RegisterWindow(title);
    if (!c.window_alive) DestroyWindow(host.window);
    RunSpec spec;
    spec.text = "TOOLBOOK go on\nTB_POST\nCOMMENT after\n";
    spec.owner = &host;
    const Outcome got = testing::RunInProcess(spec);
    if (c.window_alive) DestroyWindow(host.window);
    EXPECT_EQ("00:00:00.000\t# AFTER\n", Join(got.body));
    EXPECT_EQ(c.commands, host.Commands());
  }
}

// PT_ENABLE and PT_DISABLE send one datagram with its zero byte from the
// scenario's socket to the address the server holds for the tag's driver.
TEST(StatementTableTest, PointEnableSendsADatagramToTheDriver) {
  const int rx = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(rx, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(rx, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  socklen_t len = sizeof addr;
  ASSERT_EQ(0, ::getsockname(rx, reinterpret_cast<sockaddr*>(&addr), &len));
  const int port = ntohs(addr.sin_port);
  timeval tv{5, 0};
  ::setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  RunSpec spec;
  spec.text = "PT_ENABLE pttag\nPT_DISABLE PTTAG\nPT_ENABLE\n";
  spec.setup = [port] {
    InProcessServer::Instance().db().SetDriverAddress("PLCT", "127.0.0.1:" + std::to_string(port));
    Server()->Download("PTTAG\tPLCT\tN7:1\tAnalog\tPoint\t0\t100\t0\t100\tAuto\tNONE\t\t25\n");
  };
  const Outcome got = testing::RunInProcess(spec);
  std::vector<std::string> datagrams;
  for (int i = 0; i < 2; ++i) {
    char buf[256];
    const ssize_t n = ::recv(rx, buf, sizeof buf, 0);
    ASSERT_GT(n, 0);
    datagrams.emplace_back(buf, static_cast<std::size_t>(n));
  }
  ::close(rx);
  char raw[64];
  std::snprintf(raw, sizeof raw, "%f", Server()->PVE("PTTAG.PVRAW"));
  EXPECT_EQ((std::vector<std::string>{std::string("ENABLE\tN7:1\t") + raw + "\n" + '\0',
                                      std::string("DISABLE\tN7:1\t") + raw + "\n" + '\0'}),
            datagrams);
  EXPECT_EQ("00:00:00.000\t__PT_ENABLE not executed (missing tagname)\n", Join(got.body));
}

// A datagram that cannot be sent is reported and counted; a tag the server
// does not know, or a server fault, goes to the process log only. The
// scenario goes on after each.
TEST(StatementTableTest, PointEnableReportsWhatCannotBeSent) {
  struct PointCase {
    int line;
    std::function<void()> setup;  // after the tags below are downloaded
    std::string scenario;         // followed by "COMMENT next"
    std::string body;             // the test log line before "# NEXT"; empty: none
    std::string process_log;      // a record the process log must hold; empty: not checked
  };
  auto driver = [](const char* name, const char* address) {
    return [=] { InProcessServer::Instance().db().SetDriverAddress(name, address); };
  };
  const std::vector<PointCase> cases = {
      // Port 0 on loopback: the send itself fails.
      {__LINE__, driver("PLCZ", "127.0.0.1:0"), "PT_ENABLE ptzero\n",
       "00:00:00.000\t__PT_ENABLE not sent to 127.0.0.1:0 (network error)", ""},
      // The address after "=" is the one reported.
      {__LINE__, driver("PLCQ", "ADDR=127.0.0.1:0"), "PT_DISABLE PTNAMED\n",
       "00:00:00.000\t__PT_DISABLE not sent to 127.0.0.1:0 (network error)", ""},
      // A driver without an address.
      {__LINE__, nullptr, "PT_ENABLE PTNONE\n",
       "00:00:00.000\t__PT_ENABLE not sent to  (network error)", ""},
      // The server does not know the tag: not in the test log.
      {__LINE__, nullptr, "PT_DISABLE NOSUCH\n", "", "Caught Exception in PT_DISABLE\n"},
      // A communication failure names the exception.
      {__LINE__, [] { ArmFault("Upload", "COMM_FAILURE"); }, "PT_ENABLE PTNONE\n", "",
       "Caught Exception in PT_ENABLE, COMM_FAILURE\n"},
  };
  for (const PointCase& k : cases) {
    SCOPED_TRACE(k.line);
    testing::LogCapture log;
    RunSpec spec;
    spec.text = k.scenario + "COMMENT next\n";
    spec.setup = [&] {
      Server()->Download("PTZERO\tPLCZ\tN7:2\tAnalog\n"
                         "PTNAMED\tPLCQ\tN7:3\tAnalog\n"
                         "PTNONE\tPLCN\tN7:4\tAnalog\n");
      if (k.setup) k.setup();
    };
    const Outcome got = testing::RunInProcess(spec);
    std::vector<std::string> want;
    if (!k.body.empty()) want.push_back(k.body);
    want.push_back("00:00:00.000\t# NEXT");
    EXPECT_EQ(Join(want), Join(got.body));
    EXPECT_EQ(k.body.empty() ? 0u : 1u, got.errors);
    if (!k.process_log.empty()) {
      bool found = false;
      for (const testing::LogLine& l : log.Lines()) found = found || l.text == k.process_log;
      EXPECT_TRUE(found) << k.process_log;
    }
  }
}

// The exception policy of a statement's server calls (server_calls.h), with
// the fault armed on the server: a tag the server does not find is reported
// and the run goes on; a refusal the statement names is reported; anything
// else ends the run with where and why.
TEST(StatementTableTest, ServerFaultsFollowTheStatementPolicy) {
  RunCases({
      // ZLTagNotFound on a tag that exists is reported like a missing tag.
      {__LINE__, "SETPVE FIC101 1\nCOMMENT next\n",
       "00:00:00.000\t__Tag <FIC101> not found for SETPVE\n00:00:00.000\t# NEXT\n", 1, 0, 0,
       [] { ArmFault("SetPVE", "ZLTagNotFound"); }},
      {__LINE__, "VERIFY FIC101 1\nCOMMENT next\n",
       "00:00:00.000\t__Tag <FIC101> not found for VERIFY\n00:00:00.000\t# NEXT\n", 1, 0, 0,
       [] { ArmFault("PVE", "ZLTagNotFound"); }},
      // A server that cannot force says so with BAD_OPERATION.
      {__LINE__, "FORCE FIC101\nCOMMENT next\n",
       "00:00:00.000\t__Exception from FORCE command, server does not have that "
       "functionality\n00:00:00.000\t# NEXT\n",
       1, 0, 0, [] { ArmFault("SetForce", "BAD_OPERATION"); }},
      // A system exception ends the run: where and why, then the abort line.
      {__LINE__, "COMMENT a\nSETPVE FIC101 10\nCOMMENT never\n",
       "00:00:00.000\t# A\n"
       "00:00:00.000\t# Aborted at line 2 of ",
       1, 0, 0, [] { ArmFault("SetPVE", "TRANSIENT"); }},
      {__LINE__, "MONITOR FIC101 50\nDELAY 100\nCOMMENT never\n",
       "00:00:00.000\t  Monitoring tag(s) <FIC101> = 50.000000\n"
       "00:00:00.000\t# Aborted at line 2 of ",
       1, 0, 0, [] { ArmFault("PVE", "COMM_FAILURE"); }},
      // So does another user exception than ZLTagNotFound.
      {__LINE__, "SETPVE FIC101 10\n", "00:00:00.000\t# Aborted at line 1 of ", 1, 0, 0,
       [] { ArmFault("SetPVE", "ZLBadExpression"); }},
      // A timed check survives a system exception: the statement ends in
      // error and the block goes on. Inside the window the error ends the
      // verification without a "FAILED to occur" line.
      {__LINE__, "TVERIFY FIC101 1 0 60\nBEND\nCOMMENT after\n",
       "00:00:00.000\t  Precheck Timed Verification !(<FIC101> = 1.000000) passed Value is "
       "50.000000 after 0:00.000\n"
       "00:00:00.100\t__Communication error reading 'FIC101' during Timed Assertion\n"
       "00:00:00.100\t# AFTER\n",
       1, 2, 0, [] { ArmPass("PVE", 1); ArmFault("PVE", "COMM_FAILURE", 1000); }},
      // A monitor fails at the error with the last value it read.
      {__LINE__, "TMONITOR FIC101 50 0 60\nBEND\nCOMMENT after\n",
       "00:00:00.100\t__Communication error reading 'FIC101' during Timed Assertion\n"
       "00:00:00.100\t**Timed Monitor <FIC101> = 50.000000 FAILED. Value is 50.000000 after "
       "0:00.100\n"
       "00:00:00.100\t# AFTER\n",
       1, 3, 1, [] { ArmPass("PVE", 1); ArmFault("PVE", "COMM_FAILURE", 1000); }},
      // An error at the precheck is the statement's only line: a check
      // that read no value never passes.
      {__LINE__, "TVERIFY FIC101 1 3 60\nBEND\nCOMMENT after\n",
       "00:00:03.000\t__Communication error reading 'FIC101' during Timed Assertion\n"
       "00:00:03.000\t# AFTER\n",
       1, 1, 0, [] { ArmFault("PVE", "COMM_FAILURE", 1000); }},
  });
}

// Text from outside the scenario file (arguments, answers, texts of the host
// and the server) reaches the test log escaped, so that it never makes a
// line of its own; the file's own text keeps its bytes.
TEST(StatementTableTest, OutsideTextCannotWriteLinesOfItsOwn) {
  struct Row {
    int line;
    const char* scenario;
    const char* arguments;
    const char* want;  // the test log lines, "<path>" for the scenario path
    unsigned errors;
  };
  const Row rows[] = {
      // An argument's line feed split the tag's error line in two; the
      // escape keeps its lower-case letters though the line is upper-cased.
      {__LINE__, "VERIFY $1 50\n", "t1\nforged\x1b",
       "00:00:00.000\t__Tag <T1\\nFORGED\\x1b> not found for VERIFY\n", 1},
      // Ordinary arguments as before: upper-cased, a backslash not doubled
      // (COMMENT reads "\X" as X).
      {__LINE__, "SETPVE $1 $2\nVERIFY $1 $2\nCOMMENT $3\n", "t1 40 c:\\x",
       "00:00:00.000\t  Verification <T1> = 40.000000 passed Value is 40.000000\n"
       "00:00:00.000\t# C:X\n",
       0},
      // The reported forgery: an answer that adds a passed check line.
      {__LINE__, "ANSWER 1 \"OK?\"\n", "",
       "00:00:00.500\t  User Question 'OK?' passed. Answer from h\\tst is "
       "'Yes'\\n00:00:09.000\\t  Verification <SP> = 9 passed'\n",
       0},
      // The host's reason for refusing a command.
      {__LINE__, "TOOLBOOK GO\n", "",
       "00:00:00.000\t##Client cmd, TOOLBOOK, could not be executed because no\\r\\n#x\n", 0},
      // The server's reason quotes a character of the expression; the
      // statement as the file gives it keeps its bytes.
      {__LINE__, "SETPVE T1 (1\x01)\n", "",
       "00:00:00.000\t# Aborted at line 1 of <path>, \"SETPVE T1 (1\x01)\": user exception, ID "
       "'IDL:ZEMR/ZLBadExpression:1.0': unexpected character '\\x01' at column 3 (error 1)\n"
       "00:00:00.000\t__Unknown exception aborted scenario.\n",
       1},
      // The file's own control characters are its author's: kept.
      {__LINE__, "COMMENT a\x01b\n", "", "00:00:00.000\t# A\x01B\n", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    TestOwner host("h\tst");
    host.answer = "Yes'\n00:00:09.000\t  Verification <SP> = 9 passed";
    host.refusal = "no\r\n#x";
    RunSpec spec;
    spec.text = r.scenario;
    spec.options = r.arguments;
    spec.owner = &host;
    const Outcome got = RunInProcess(spec);
    std::string want = r.want;
    const std::string::size_type at = want.find("<path>");
    if (at != std::string::npos) want.replace(at, 6, got.path);
    EXPECT_EQ(want, Join(got.body));
    EXPECT_EQ(r.errors, got.errors);
  }
}

// The keywords not shown above, one family at a time: each runs where a
// scenario runs it, against the in-process server's plant.
TEST(StatementTableTest, KeywordsOfEveryFamily) {
  RunCases({
      // OPEN writes 0, CLOSE 1; the raw range, the mode and forcing are silent
      {__LINE__, "OPEN D1\nVERIFY D1 0\nCLOSE D1\nVERIFY D1 1\n",
       "00:00:00.000\t  Verification <D1> = 0.00000E+00 passed Value is 0.00000E+00\n"
       "00:00:00.000\t  Verification <D1> = 1.000000 passed Value is 1.000000\n",
       0, 2, 0},
      {__LINE__, "SETRAWLO T1 0\nSETRAWHI T1 30\nSETMAN M1\nFORCE M1\nUNFORCE M1\nSETAUTO M1\n",
       "", 0, 0, 0},
      {__LINE__, "VERIFY_LT T1 60\nASSERT_GT T1 60\n",
       "00:00:00.000\t  Verification <T1> < 60.000000 passed Value is 50.000000\n"
       "00:00:00.000\t**Assertion <T1> > 60.000000 FAILED Value is 50.000000\n",
       0, 2, 1},
      // disabled monitors pass without a line; enabled, each failing one
      // says so once, newest first; MON_CLEAR's last check has no PASSED
      // line for a level that failed
      {__LINE__,
       "MONITOR T1 50\nMONITOR_GT T1 60\nMONITOR_LT T1 40\nMON_DISABLE\nDELAY 600\nMON_ENABLE\n"
       "DELAY 600\nMON_CLEAR\n",
       "00:00:00.000\t  Monitoring tag(s) <T1> = 50.000000\n"
       "00:00:00.000\t  Monitoring tag(s) <T1> > 60.000000\n"
       "00:00:00.000\t  Monitoring tag(s) <T1> < 40.000000\n"
       "00:00:00.600\t**Monitor <T1> < 40.000000 FAILED Value is 50.000000\n"
       "00:00:00.600\t**Monitor <T1> > 60.000000 FAILED Value is 50.000000\n",
       0, 0, 0},
      {__LINE__,
       "TVERIFY_LT T1 40 0 1\nTASSERT_GT T1 60 0 1\nTASSERT_LT T1 60 0 1\nTMONITOR T1 50 0 1\n"
       "BEND\n",
       "00:00:00.000\t  Precheck Timed Verification !(<T1> < 40.000000) passed Value is 50.000000 "
       "after 0:00.000\n"
       "00:00:00.000\t**Precheck Timed Assertion !(<T1> < 60.000000) FAILED Value is 50.000000 "
       "after 0:00.000\n"
       "00:00:01.000\t**Timed Verification <T1> < 40.000000 FAILED to occur. Value is 50.000000 "
       "after 0:01.000\n"
       "00:00:01.000\t**Timed Assertion <T1> > 60.000000 FAILED to occur. Value is 50.000000 "
       "after 0:01.000\n"
       "00:00:01.000\t  Timed Monitor <T1> = 50.000000 passed Value is 50.000000 after 0:01.000\n",
       0, 20, 3},
      // BDELAYSECS starts a block of its own
      {__LINE__, "BDELAYSECS 2\nBEND\nCOMMENT after\n", "00:00:02.000\t# AFTER\n", 0, 0, 0},
      // 50 is within half of 40 (REL_TOL), and within 45 of 5 (ABS_TOL)
      {__LINE__, "AUTODELETE 0\nUSELOG NOLOG\nREL_TOL 0.5\nVERIFY T1 40\nABS_TOL 45\nVERIFY T1 5\n",
       "00:00:00.000\t__Logset <NOLOG> not found for USELOG\n"
       "00:00:00.000\t  Verification <T1> = 40.000000 passed Value is 50.000000\n"
       "00:00:00.000\t  Verification <T1> = 5.000000 passed Value is 50.000000\n",
       1, 2, 0},
      // without a host ZLCMD and TB_POST do nothing; ":" is the shell's no-op
      {__LINE__, "ZLCMD LSLIST\nTB_POST X\nPT_DISABLE\nSYSTEM :\nSTOREVALS /NO/SUCH\n",
       "00:00:00.000\t__PT_DISABLE not executed (missing tagname)\n"
       "00:00:00.000\t## Could not open file to store tag values\n",
       1, 0, 0},
  });
}

}  // namespace
}  // namespace zl
