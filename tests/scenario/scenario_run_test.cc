// Scenario files run end to end: a connected client starts each on its
// worker, and the test compares the test log it leaves behind (stamps, dates,
// run times and signatures masked) with the lines the statements must write.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <omniORB4/CORBA.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "broker/zl_sim.h"
#include "client/client_env.h"
#include "common/file_checksum.h"
#include "common/window_table.h"
#include "localdb/client_interface.h"
#include "scenario/scenario_fixture.h"

namespace zl {
namespace {

namespace fs = std::filesystem;
using testing::WaitFor;

using ScenarioRunTest = testing::ScenarioTest;

// Statements whose whole effect is test log lines, and the frame of a run.
TEST_F(ScenarioRunTest, StatementsWriteTheirTestLogLines) {
  struct Case {
    int line;
    std::string script;
    std::string options;
    std::vector<std::string> body;  // lines between the opening and closing lines
  };
  const std::vector<Case> cases = {
      // Comments are upper case and expand parenthesis groups.
      {__LINE__, "COMMENT hello (1+2) \\(x)\n", "", {"T\t# HELLO 3.000000 (X)"}},
      // A file comment writes nothing; a blank before "#" makes it a keyword.
      {__LINE__, "# not run\n  #X\n", "", {"T\t__Unknown scenario keyword, '#X'"}},
      {__LINE__, "FOO 1\n\n", "", {"T\t__Unknown scenario keyword, 'FOO'"}},
      // Missing operands of the waits are errors, with DELAY in both texts.
      {__LINE__, "DELAY\nDELAYSECS\nSIMWAIT\n", "",
       {"T\t__DELAY not executed", "T\t__DELAY not executed", "T\t__SIMWAIT not executed"}},
      {__LINE__, "USELOG nolog\n", "", {"T\t__Logset <NOLOG> not found for USELOG"}},
      // A condition true at once means no wait (a wait would outlast the
      // run's bounded wait for its end).
      {__LINE__, "DELAYSECS 60 (1 > 0)\nCOMMENT on\n", "", {"T\t# ON"}},
      // Arguments, escapes, and the -skipuserq and "--" options that are not arguments.
      {__LINE__, "COMMENT $1/$2/\\$1/$9\n", "-skipuserq a --x b", {"T\t# A/B/$1/$9"}},
      // GOTO: forward, a false condition falls through.
      {__LINE__, "GOTO :end\nCOMMENT skipped\n:END\nGOTO :a (0)\nCOMMENT fell\n:A\n", "",
       {"T\t# FELL"}},
      // A label the file does not have: an error, and the run goes on with
      // the next line (a label is a whole word: :DONE is no :DONEE).
      {__LINE__, "GOTO :donee\nCOMMENT next\n:DONE\n", "",
       {"T\t__Label ':DONEE' not found for GOTO", "T\t# NEXT"}},
      // A backward loop that ends by a condition.
      {__LINE__, "GOTO :B\n:A\nCOMMENT a\nGOTO :C\n:B\nCOMMENT b\nGOTO :a (1)\n:C\n", "",
       {"T\t# B", "T\t# A"}},
      // A line without a final newline still runs.
      {__LINE__, "COMMENT last", "", {"T\t# LAST"}},
      // A line longer than 2047 characters is read as two lines.
      {__LINE__, "COMMENT " + std::string(2039, 'x') + "FOO\n", "",
       {"T\t# " + std::string(2039, 'X'), "T\t__Unknown scenario keyword, 'FOO'"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string path = Run("case" + std::to_string(++n) + ".scn", c.script, c.options);
    std::vector<std::string> want = {"T\tStarting test '" + path + "' at DATE"};
    want.insert(want.end(), c.body.begin(), c.body.end());
    want.push_back("T\tClosing test log after M mins S secs at DATE");
    want.push_back("#$CHECK:SUM");
    EXPECT_EQ(want, Masked(TestLogOf(path)));
  }
}

// Tag commands reach the server; their errors are counted and reported.
TEST_F(ScenarioRunTest, TagCommandsSetTagsAndReportErrors) {
  ZLSim& c = *client_;
  struct Case {
    int line;
    std::string script;
    std::function<bool()> holds;  // the server state the script must leave
  };
  const std::vector<Case> cases = {
      // The value is a group the server evaluates, printed and read back.
      {__LINE__, "SETPVE FIC101 (2*40)\n", [&] { return c.PVE("FIC101") == 80; }},
      // A number in any decimal form; DELAY cuts the fraction (1 ms).
      {__LINE__, "SETPVE FIC101 +.7E2\nDELAY 1.9\n", [&] { return c.PVE("FIC101") == 70; }},
      // TOGGLE flips a state; TOGGLEX matches as TOGGLE does.
      {__LINE__, "CLOSE XV300\nTOGGLE XV300\n", [&] { return c.PV("XV300") == 0; }},
      {__LINE__, "OPEN XV300\nTOGGLEX xv300\n", [&] { return c.PV("XV300") == 1; }},
      {__LINE__, "CLOSE XV300\nOPENIT XV300\n", [&] { return c.PV("XV300") == 0; }},
      // An edge towards 0 with a target below REL_TOL, from 1 at once.
      {__LINE__, "CLOSE XV300\nEDGE XV300 0.0000001\n", [&] { return c.PV("XV300") == 0; }},
      {__LINE__, "SETMAN FIC101\n", [&] { return c.TagMode("FIC101") == c.TagMode("TIC200"); }},
      {__LINE__, "SETMAN FIC101\nSETAUTO FIC101\n",
       [&] { return c.TagMode("FIC101") != c.TagMode("TIC200"); }},
      // The stand-in server forces only tags in Manual mode.
      {__LINE__, "SETMAN FIC101\nFORCE FIC101\n", [&] { return c.IsForced("FIC101"); }},
      {__LINE__, "FORCE FIC101\nUNFORCE FIC101\nSETAUTO FIC101\n",
       [&] { return !c.IsForced("FIC101"); }},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    const std::string path = Run("tag" + std::to_string(++n) + ".scn", k.script);
    EXPECT_TRUE(k.holds());
    EXPECT_EQ(3u, Masked(TestLogOf(path)).size());  // silent on success
  }

  const std::string errors = Run("errors.scn",
                                 "TOGGLE\nOPEN\nCLOSE\nSETMAN\nSETAUTO\nFORCE\nUNFORCE\n"
                                 "EDGE\nEDGE XV300\nSETPV\nSETPVE\nSETPV FIC101\nSETPVE FIC101\n"
                                 "SETRAWLO\nSETRAWLO FIC101\nSETRAWHI\nSETRAWHI FIC101\n"
                                 "TOGGLE NOSUCH\nEDGE NOSUCH 1\nOPEN NOSUCH\nCLOSE NOSUCH\n"
                                 "SETPV NOSUCH 1\nSETPVE NOSUCH 1\nSETRAWLO NOSUCH 1\n"
                                 "SETRAWHI NOSUCH 1\nSETMAN NOSUCH\nSETAUTO NOSUCH\n"
                                 "FORCE NOSUCH\nUNFORCE NOSUCH\n");
  const std::vector<std::string> want = {
      "T\tStarting test '" + errors + "' at DATE",
      "T\t__TOGGLE keyword with no tag",
      "T\t__OPEN keyword with no tag",
      "T\t__Incomplete EDGE command",
      "T\t__Value not found for EDGE XV300",
      "T\t__Incomplete SETPV command",
      "T\t__Incomplete SETPVE command",
      "T\t__Value not found for SETPV FIC101",
      "T\t__Value not found for SETPVE FIC101",
      "T\t__Incomplete SETRAWLO command",
      "T\t__Value not found for SETRAWLO FIC101",
      "T\t__Incomplete SETRAWHI command",
      "T\t__Value not found for SetRawHi FIC101",
      "T\t__Tag <NOSUCH> not found for TOGGLE",
      "T\t__Tag <NOSUCH> not found for EDGE",
      "T\t__Tag <NOSUCH> not found for OPEN",
      "T\t__Tag <NOSUCH> not found for CLOSE",
      "T\t__Tag <NOSUCH> not found for SETPV",
      "T\t__Tag <NOSUCH> not found for SETPVE",
      "T\t__Tag <NOSUCH> not found for SETRAWLO",
      "T\t__Tag <NOSUCH> not found for SetRawHi",
      "T\t__Tag <NOSUCH> not found for SETMAN",
      "T\t__Tag <NOSUCH> not found for SETAUTO",
      "T\t__Tag <NOSUCH> not found for FORCE",
      "T\t__Tag <NOSUCH> not found for UNFORCE",
      "T\tClosing test log after M mins S secs at DATE",
      "#$CHECK:SUM",
  };
  EXPECT_EQ(want, Masked(TestLogOf(errors)));
}

// A numeric operand that does not read completely in its statement's form
// is a statement error: one line naming the statement and the operand,
// nothing sent to the server, and the run goes on. Each script is followed
// by a verification that FIC101 still holds 50.
TEST_F(ScenarioRunTest, OperandsThatDoNotConvertAreStatementErrors) {
  struct Case {
    int line;
    std::string script;
    std::string error;  // the line before the verification; empty: none
  };
  const std::vector<Case> cases = {
      // A missing parenthesis wrote 0 to the tag.
      {__LINE__, "SETPVE FIC101 (60\n", "T\t__Could not parse value '(60' for SETPVE"},
      // An unbalanced group is an error also where the rest reads as a number.
      {__LINE__, "SETPV FIC101 5(2\n", "T\t__Could not parse value '5(2' for SETPV"},
      {__LINE__, "SETPV FIC101 abc\n", "T\t__Could not parse value 'ABC' for SETPV"},
      {__LINE__, "SETPVE FIC101 (25*2)X\n", "T\t__Could not parse value '(25*2)X' for SETPVE"},
      {__LINE__, "SETRAWHI FIC101 1O\n", "T\t__Could not parse value '1O' for SETRAWHI"},
      {__LINE__, "EDGE XV300 on\n", "T\t__Could not parse value 'ON' for EDGE"},
      {__LINE__, "MONITOR FIC101 x\n", "T\t__Could not parse value 'X' for MONITOR"},
      // VERIFY's value is an expression of the server: its groups are checked here.
      {__LINE__, "VERIFY FIC101 (50\n", "T\t__Could not parse value '(50' for VERIFY"},
      {__LINE__, "TVERIFY FIC101 x\n", "T\t__Could not parse value 'X' for TVERIFY"},
      {__LINE__, "TASSERT FIC101 1 (2\n", "T\t__Could not parse start '(2' for TASSERT"},
      {__LINE__, "TVERIFY_GT FIC101 1 0 5s\n", "T\t__Could not parse end '5S' for TVERIFY_GT"},
      // A window that ends before it starts.
      {__LINE__, "TVERIFY FIC101 1 5 2\n", "T\t__Window end '2' is before its start '5' for TVERIFY"},
      {__LINE__, "TMONITOR FIC101 50 (1+2) 1\n",
       "T\t__Window end '1' is before its start '(1+2)' for TMONITOR"},
      {__LINE__, "BDELAY 2,5\n", "T\t__Could not parse delay '2,5' for BDELAY"},
      {__LINE__, "BDELAYSECS x\n", "T\t__Could not parse delay 'X' for BDELAYSECS"},
      {__LINE__, "DELAY abc\n", "T\t__Could not parse delay 'ABC' for DELAY"},
      {__LINE__, "DELAYSECS 1O\n", "T\t__Could not parse delay '1O' for DELAYSECS"},
      {__LINE__, "SIMWAIT banana\n", "T\t__Could not parse duration 'BANANA' for SIMWAIT"},
      {__LINE__, "SIMWAIT 1.5:30\n", "T\t__Could not parse duration '1.5:30' for SIMWAIT"},
      {__LINE__, "REL_TOL x\n", "T\t__Could not parse tolerance 'X' for REL_TOL"},
      {__LINE__, "ABS_TOL 0.1.2\n", "T\t__Could not parse tolerance '0.1.2' for ABS_TOL"},
      // ANSWER keeps its own line; "2X" was read as 2 minutes.
      {__LINE__, "ANSWER 2x Q\n", "T\t__Could not parse timeout for ANSWER"},
      // Missing operands and negative waits keep their results.
      {__LINE__, "REL_TOL\nREL_TOL 0\nABS_TOL\nDELAY -5\nBDELAY -1\nBEND\n", ""},
      {__LINE__, "TVERIFY FIC101 50 0\n", "T\t**Precheck Timed Verification !(<FIC101> = 50.000000) "
                                          "FAILED Value is 50.000000 after SPAN"},
  };
  ASSERT_EQ(1, client_->SetPVE("FIC101", 50));
  const std::string verified = "T\t  Verification <FIC101> = 50.000000 passed Value is 50.000000";
  std::string all;  // every script, run once more to count the errors
  long errors = 0;
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    const std::string path =
        Run("operand" + std::to_string(++n) + ".scn", k.script + "VERIFY FIC101 50\n");
    std::vector<std::string> want = {"T\tStarting test '" + path + "' at DATE"};
    if (!k.error.empty()) want.push_back(k.error);
    want.push_back(verified);
    want.push_back("T\tClosing test log after M mins S secs at DATE");
    want.push_back("#$CHECK:SUM");
    EXPECT_EQ(want, MaskedSpans(TestLogOf(path)));
    all += k.script;
    if (k.error.rfind("T\t__", 0) == 0) ++errors;
  }
  // One error for each statement: read while the run waits at its end.
  const double tic200 = client_->PVE("TIC200");
  const std::string path = Write("count.scn", all + "DELAYSECS 600 (TIC200 > 100000)\n");
  const CORBA::Long id = Start(path);
  ASSERT_GT(id, 0);
  const long last = static_cast<long>(std::count(all.begin(), all.end(), '\n')) + 1;
  ASSERT_TRUE(WaitFor([&] { return InfoCount(id, "sceLineNumber[0]") == last; }));
  EXPECT_EQ(errors, InfoCount(id, "sceErrors"));
  ASSERT_EQ(1, client_->SetPVE("TIC200", 200000));
  ASSERT_TRUE(WaitAllEnded());
  ASSERT_EQ(1, client_->SetPVE("TIC200", tic200));
}

// Verifications and assertions: the tolerance rule, both number formats,
// tag lists and the error lines.
TEST_F(ScenarioRunTest, VerificationsCompareAndReport) {
  struct Case {
    int line;
    double fic101;  // FIC101's value before the run
    std::string script;
    std::vector<std::string> body;
  };
  const std::vector<Case> cases = {
      // Within |100 * REL_TOL|.
      {__LINE__, 100.00005, "VERIFY FIC101 100\n",
       {"T\t  Verification <FIC101> = 100.000000 passed Value is 100.000050"}},
      {__LINE__, 100.0002, "VERIFY FIC101 100\n",
       {"T\t**Verification <FIC101> = 100.000000 FAILED Value is 100.000200"}},
      // ABS_TOL takes over where the relative tolerance is too small.
      {__LINE__, 100.0002, "ABS_TOL -0.0003\nVERIFY FIC101 (50*2)\n",
       {"T\t  Verification <FIC101> = 100.000000 passed Value is 100.000200"}},
      // Small expected values print in exponent form.
      {__LINE__, 0, "VERIFY FIC101 0\n",
       {"T\t  Verification <FIC101> = 0.00000E+00 passed Value is 0.00000E+00"}},
      // ">" is strict.
      {__LINE__, 5, "VERIFY_GT FIC101 5\nVERIFY_LT FIC101 6\n",
       {"T\t**Verification <FIC101> > 5.000000 FAILED Value is 5.000000",
        "T\t  Verification <FIC101> < 6.000000 passed Value is 5.000000"}},
      // A passing assertion is silent; a failing one says "Assertion".
      {__LINE__, 0, "ASSERT FIC101 0\nASSERT_GT FIC101 1\n",
       {"T\t**Assertion <FIC101> > 1.000000 FAILED Value is 0.000000"}},
      // The list ends at its first empty item.
      {__LINE__, 120, "VERIFY FIC101,TIC200,,XV300 120\n",
       {"T\t  Verification <FIC101> = 120.000000 passed Value is 120.000000",
        "T\t  Verification <TIC200> = 120.000000 passed Value is 120.000000"}},
      {__LINE__, 1, "VERIFY\nASSERT_LT\nVERIFY FIC101\nVERIFY NOSUCH,FIC101 1\n",
       {"T\t__Tag list not found for VERIFY VERIFY", "T\t__Tag list not found for VERIFY ASSERT_LT",
        "T\t__Value not found for VERIFY FIC101", "T\t__Tag <NOSUCH,FIC101> not found for VERIFY",
        "T\t  Verification <FIC101> = 1.000000 passed Value is 1.000000"}},
  };
  ASSERT_EQ(1, client_->SetPVE("TIC200", 120));
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_EQ(1, client_->SetPVE("FIC101", c.fic101));
    const std::string path = Run("verify" + std::to_string(++n) + ".scn", c.script);
    std::vector<std::string> want = {"T\tStarting test '" + path + "' at DATE"};
    want.insert(want.end(), c.body.begin(), c.body.end());
    want.push_back("T\tClosing test log after M mins S secs at DATE");
    want.push_back("#$CHECK:SUM");
    EXPECT_EQ(want, Masked(TestLogOf(path)));
  }
}

// Monitors write a line at each change of state, and PASSED for a level
// without failures.
TEST_F(ScenarioRunTest, MonitorsReportChangesWhileWaiting) {
  ASSERT_EQ(1, client_->SetPVE("FIC101", 3.5));
  const std::string drift =
      Run("drift.scn",
          "MONITOR FIC101 ?\nDELAY 600\nSETPVE FIC101 4\nDELAY 600\nSETPVE FIC101 3.5\n"
          "DELAY 600\nMON_CLEAR\n");
  EXPECT_EQ((std::vector<std::string>{
                "T\tStarting test '" + drift + "' at DATE",
                "T\t  Monitoring tag <FIC101> = 3.500000",
                "T\t**Monitor <FIC101> = 3.500000 FAILED Value is 4.000000",
                "T\t  Monitor <FIC101> = 3.500000 NORMAL Value is 3.500000",
                "T\tClosing test log after M mins S secs at DATE", "#$CHECK:SUM"}),
            Masked(TestLogOf(drift)));

  // Disabled monitors pass without reading; an unknown tag is skipped.
  const std::string quiet =
      Run("quiet.scn",
          "MONITOR\nMONITOR FIC101\nMONITOR NOSUCH 1\nMONITOR_GT FIC101,TIC200 1000\n"
          "MON_DISABLE\nDELAY 100\n");
  EXPECT_EQ((std::vector<std::string>{
                "T\tStarting test '" + quiet + "' at DATE",
                "T\t__Tag list not found for MONITOR MONITOR",
                "T\t__Value not found for MONITOR FIC101",
                "T\t__Tag <NOSUCH> not found for MONITOR",
                "T\t  Monitoring tag(s) <NOSUCH> = 1.000000",
                "T\t  Monitoring tag(s) <FIC101,TIC200> > 1000.000000",
                "T\t  Monitored tags PASSED at nest level 0",
                "T\tClosing test log after M mins S secs at DATE", "#$CHECK:SUM"}),
            Masked(TestLogOf(quiet)));
}

// The stored checksum covers statement lines only: edited comments still
// validate, an added blank line does not.
TEST_F(ScenarioRunTest, StoredChecksumValidatesStatementsOnly) {
  const std::string body = "SAFETY VALID\nCOMMENT x\n";
  const std::string probe = Write("probe.txt", body);
  std::FILE* f = std::fopen(probe.c_str(), "r");
  ASSERT_NE(nullptr, f);
  const std::string sum = FileChecksum(f, 0);
  std::fclose(f);
  struct Case {
    int line;
    std::string text;
    std::string want;  // the validation line, "%s" for the path
  };
  const std::vector<Case> cases = {
      {__LINE__, "#$CHECK:" + sum + "\n# approved\n" + body,
       "T\t  Stored checksum, " + sum + ", validates scenario: %s"},
      // An edited comment is no statement.
      {__LINE__, "# edited later\n" + body + "#$CHECK:" + sum + "\n",
       "T\t  Stored checksum, " + sum + ", validates scenario: %s"},
      // A blank line is.
      {__LINE__, "#$CHECK:" + sum + "\n\n" + body,
       "T\t__Stored checksum, " + sum + ", is invalid for scenario: %s"},
      {__LINE__, body, "T\t__No stored checksum for scenario: %s"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string path = Run("check" + std::to_string(++n) + ".scn", c.text);
    const std::vector<std::string> lines = Masked(TestLogOf(path));
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(std::regex_replace(c.want, std::regex("%s"), path), lines[2]);
  }
}

TEST_F(ScenarioRunTest, SafetyReportsVersionsAndDatabaseChanges) {
  const std::string path = Run("safe.scn", "SAFETY\n");
  const std::vector<std::string> lines = Masked(TestLogOf(path));
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ("T\t__No stored checksum for scenario: " + path, lines[1]);
  EXPECT_EQ("T\t  Server Database is the same since start of scenario", lines[2]);
  EXPECT_EQ("T\t# ZL Client version: 3.2.0.15", lines[3]);
  EXPECT_EQ(0u, lines[4].find("T\t# ZL Server version: "));
}

TEST_F(ScenarioRunTest, EmptyFileAndPathWithoutDot) {
  const std::string path = Run("plain", "");
  EXPECT_EQ((std::vector<std::string>{"T\tStarting test '" + path + "' at DATE",
                                      "T\tClosing test log after M mins S secs at DATE",
                                      "#$CHECK:SUM"}),
            Masked(path + ".tlg"));
}

TEST_F(ScenarioRunTest, SubtestsNestTo255AndRefuseDeeper) {
  Write("Sub.scn", "COMMENT in $1\n");  // found by "@sub.scn" ignoring case
  Write("R.SCN", "@R.SCN\n");
  const std::string path = Run("main.scn", "@sub.scn arg\n@none.scn\n@r.scn\nCOMMENT back\n");
  const std::vector<std::string> lines = Masked(TestLogOf(path));
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ("T\tSubtest 'SUB.SCN' started--nest level 1", lines[1]);
  EXPECT_EQ("T\t# IN ARG", lines[2]);
  EXPECT_EQ("T\tSubtest 'SUB.SCN' finished--was nest level 1", lines[3]);
  EXPECT_EQ("T\t__Subtest 'NONE.SCN' not started", lines[4]);
  int started = 0, finished = 0, refused = 0;
  for (const std::string& l : lines) {
    if (l.rfind("T\tSubtest 'R.SCN' started--nest level ", 0) == 0) ++started;
    if (l.rfind("T\tSubtest 'R.SCN' finished--was nest level ", 0) == 0) ++finished;
    if (l == "T\t__Test 'R.SCN' not executed, nest level too deep") ++refused;
  }
  EXPECT_EQ(255, started);
  EXPECT_EQ(255, finished);
  EXPECT_EQ(1, refused);
  EXPECT_EQ("T\t# BACK", lines[lines.size() - 3]);
}

TEST_F(ScenarioRunTest, SecondRunAppendsWithItsOwnSignature) {
  const std::string path = Run("twice.scn", "COMMENT run\n");
  const auto first_size = fs::file_size(TestLogOf(path));
  ASSERT_GT(testing::LocalDb(*client_).StartScenario(path.c_str(), ""), 0);
  ASSERT_TRUE(WaitAllEnded());
  const std::vector<std::string> lines = Masked(TestLogOf(path));
  ASSERT_EQ(10u, lines.size());
  EXPECT_EQ("", lines[4]);
  EXPECT_EQ("", lines[5]);
  EXPECT_EQ("T\tStarting test '" + path + "' at DATE", lines[6]);

  // The second signature covers exactly the second run's part.
  std::FILE* f = std::fopen(TestLogOf(path).c_str(), "r");
  ASSERT_NE(nullptr, f);
  const std::string sum = FileChecksum(f, static_cast<long>(first_size) + 2);
  std::fclose(f);
  std::ifstream in(TestLogOf(path));
  std::string line, last;
  while (std::getline(in, line)) last = line;
  EXPECT_EQ("#$CHECK:" + sum, last);
}

TEST_F(ScenarioRunTest, ManagerListsQueriesAndStops) {
  auto& db = testing::LocalDb(*client_);
  EXPECT_EQ(-1, db.StopScenario(0));  // nothing to stop
  EXPECT_EQ(-1, db.StartScenario((dir_ / "missing.scn").string().c_str(), ""));
  const std::string path = Write("wait.scn", "COMMENT waiting\nDELAYSECS 60\n");
  const std::string other = Write("other.scn", "DELAYSECS 60\n");
  // The failed start used up id 1.
  ASSERT_EQ(2, db.StartScenario(path.c_str(), ""));
  ASSERT_EQ(3, db.StartScenario(other.c_str(), ""));
  EXPECT_EQ("2 " + path + "\r\n3 " + other + "\r\n", List());
  ASSERT_TRUE(WaitFor([&] { return Info(2).find("sceLineNumber[0]\t2\n") != std::string::npos; }));
  EXPECT_EQ("sceID\t2\nsceFile\t" + path +
                "\nsceErrors\t0\ntotalVerifies\t0\nfailedVerifies\t0\n"
                "totalMonitorChecks\t0\nfailedMonitorChecks\t0\nsceLineNumber[0]\t2\n",
            Info(2));
  EXPECT_EQ("", Info(7));
  EXPECT_EQ(-1, db.StopScenario(7));
  // A stopped scenario leaves the list once its worker has noticed (within
  // one 500 ms wait slice).
  EXPECT_EQ(0, db.StopScenario(2));
  ASSERT_TRUE(WaitFor([&] { return List() == "3 " + other + "\r\n"; },
                      std::chrono::seconds(5)));
  EXPECT_EQ(0, db.StopScenario(0));
  ASSERT_TRUE(WaitAllEnded());
  // An aborted run has no closing or signature lines.
  EXPECT_EQ((std::vector<std::string>{"T\tStarting test '" + path + "' at DATE", "T\t# WAITING",
                                      "T\t  Scenario was aborted by StopScenario()", ""}),
            Masked(TestLogOf(path)));
  EXPECT_EQ((std::vector<std::string>{"T\tStarting test '" + other + "' at DATE",
                                      "T\t  Scenario was aborted by StopScenario()", ""}),
            Masked(TestLogOf(other)));
}

// An expression the server cannot evaluate ends the run. The run says where
// (the file, the line in it, and its text as written) and why (the
// exception, with the server's reason), in the test log before the abort
// line and in the process log.
TEST_F(ScenarioRunTest, AbortSaysWhereAndWhy) {
  const std::string bad_expression = "user exception, ID 'IDL:ZEMR/ZLBadExpression:1.0': ";
  struct Case {
    int line;
    std::string script;  // the file's name is substituted for "%s" in `where`
    std::string where;   // "line N of %s, "TEXT""
    std::string reason;
  };
  const std::vector<Case> cases = {
      {__LINE__, "COMMENT a\nDELAY 10 )(!\nCOMMENT never\n", "line 2 of %s, \"DELAY 10 )(!\"",
       bad_expression + "unbalanced ')' at column 1 (error 4)"},
      {__LINE__, "SETPVE FIC101 (NoSuch*2)\n", "line 1 of %s, \"SETPVE FIC101 (NoSuch*2)\"",
       bad_expression + "unknown tag 'NOSUCH' at column 2 (error 2)"},
      {__LINE__, "VERIFY FIC101 abc\n", "line 1 of %s, \"VERIFY FIC101 abc\"",
       bad_expression + "unknown tag 'ABC' at column 1 (error 2)"},
      // The line in the file, not the count of lines read: a GOTO back runs
      // line 2 twice before line 7 fails as the 8th line read.
      {__LINE__,
       ":A\nCOMMENT x\nGOTO :B (FIC101 > 0)\nSETPVE FIC101 1\nGOTO :A\n:B\nSETPVE FIC101 $1\n",
       "line 7 of %s, \"SETPVE FIC101 $1\"",
       bad_expression + "unknown tag 'NOSUCH' at column 2 (error 2)"},
      // In a subtest: its name as the statement gave it.
      {__LINE__, "@abort_sub.scn\n", "line 2 of ABORT_SUB.SCN, \"VERIFY FIC101 ?\"",
       bad_expression + "unexpected character '?' at column 1 (error 1)"},
  };
  Write("abort_sub.scn", "COMMENT in\nVERIFY FIC101 ?\n");
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    ASSERT_EQ(1, client_->SetPVE("FIC101", 0));
    testing::StderrCapture err;
    const std::string path =
        Run("abort" + std::to_string(++n) + ".scn", k.script, "(NOSUCH)");
    const std::string log = err.Take();
    const std::string where = std::regex_replace(k.where, std::regex("%s"), path);
    const std::vector<std::string> lines = Masked(TestLogOf(path));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ("T\t# Aborted at " + where + ": " + k.reason, lines[lines.size() - 3]);
    EXPECT_EQ("T\t__Unknown exception aborted scenario.", lines[lines.size() - 2]);
    EXPECT_EQ("", lines.back());
    EXPECT_NE(std::string::npos,
              log.find("Scenario " + path + " aborted at " + where + ": " + k.reason + "\n"))
        << log;
  }
  // The client stays usable.
  const std::string again = Run("good.scn", "COMMENT ok\n");
  EXPECT_EQ("T\t# OK", Masked(TestLogOf(again))[1]);
}

// scenarioinfo counts the lines read: the read that meets the end of the
// file is none, also while a timed block at the end still runs.
TEST_F(ScenarioRunTest, InfoKeepsTheLastLineReadAtTheEnd) {
  ASSERT_EQ(1, client_->SetPVE("FIC101", 50));
  const std::string path = Write("end.scn", "COMMENT a\nTVERIFY FIC101 1 0 1.5\n");
  const CORBA::Long id = Start(path);
  ASSERT_GT(id, 0);
  // The block starts at the end of the file; its precheck line is flushed
  // by the wait that follows.
  ASSERT_TRUE(WaitFor([&] {
    std::ifstream in(TestLogOf(path));
    std::stringstream text;
    text << in.rdbuf();
    return text.str().find("Precheck") != std::string::npos;
  }));
  EXPECT_EQ(2, InfoCount(id, "sceLineNumber[0]"));
  ASSERT_TRUE(WaitAllEnded());
}

TEST_F(ScenarioRunTest, TenScenariosAtOnce) {
  std::vector<std::string> paths;
  for (int i = 0; i < 10; ++i) {
    paths.push_back(Write("s" + std::to_string(i) + ".scn",
                          "COMMENT $1\nDELAY 200\nCOMMENT done $1\n"));
  }
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(i + 1, testing::LocalDb(*client_).StartScenario(paths[i].c_str(),
                                                              std::to_string(i).c_str()));
  }
  ASSERT_TRUE(WaitAllEnded());
  for (int i = 0; i < 10; ++i) {
    const std::vector<std::string> lines = Masked(TestLogOf(paths[i]));
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("T\t# DONE " + std::to_string(i), lines[2]);
  }
}

// Timed blocks: the block starts at the first line that is not a timed
// statement (or the end of the file) and that line waits for the whole block.
// Runs that report counters end in a wait on TIC200 that the test releases
// once it has read them.
TEST_F(ScenarioRunTest, TimedBlocksCheckWindowsAndCount) {
  ZLSim& c = *client_;
  const double tic200 = c.PVE("TIC200");
  struct Case {
    int line;
    std::string script;              // run after "SETPVE FIC101 50"
    std::vector<std::string> body;   // test log lines, intervals masked
    std::string counters;            // errors/total/failed; empty: not read
  };
  const std::vector<Case> cases = {
      // Start and end 0: precheck at the start, one more check, then failure.
      {__LINE__, "TVERIFY FIC101 1 0 0\n",
       {"T\t  Precheck Timed Verification !(<FIC101> = 1.000000) passed Value is 50.000000 "
        "after SPAN",
        "T\t**Timed Verification <FIC101> = 1.000000 FAILED to occur. Value is 50.000000 "
        "after SPAN"},
       "0/3/1"},
      // A condition that holds already fails the precheck, for either mark.
      {__LINE__, "TASSERT FIC101 50 0 5\n",
       {"T\t**Precheck Timed Assertion !(<FIC101> = 50.000000) FAILED Value is 50.000000 "
        "after SPAN"},
       "0/2/1"},
      {__LINE__, "TVERIFY_LT FIC101 100\n",
       {"T\t**Precheck Timed Verification !(<FIC101> < 100.000000) FAILED Value is 50.000000 "
        "after SPAN"},
       "0/2/1"},
      // A failing assertion reports; a passing one would be silent.
      {__LINE__, "TASSERT_GT FIC101 60 0 0\n",
       {"T\t**Timed Assertion <FIC101> > 60.000000 FAILED to occur. Value is 50.000000 "
        "after SPAN"},
       "0/3/1"},
      // TMONITOR has no precheck: it fails at the first poll that misses...
      {__LINE__, "TMONITOR FIC101 49 0 10\n",
       {"T\t**Timed Monitor <FIC101> = 49.000000 FAILED. Value is 50.000000 after SPAN"},
       "0/2/1"},
      // ...and passes at the window end (one count per poll on the way).
      {__LINE__, "TMONITOR FIC101 50 0 0.3\n",
       {"T\t  Timed Monitor <FIC101> = 50.000000 passed Value is 50.000000 after SPAN"}, ""},
      // A list makes one statement per tag; a missing tag errs but lets the
      // other statement run its course. The precheck that could not read
      // its tag neither passes nor counts.
      {__LINE__, "TVERIFY NOSUCH,FIC101 1 0 0\n",
       {"T\t__Tag <NOSUCH> not found for Timed Assertion",
        "T\t  Precheck Timed Verification !(<FIC101> = 1.000000) passed Value is 50.000000 "
        "after SPAN",
        "T\t**Timed Verification <FIC101> = 1.000000 FAILED to occur. Value is 50.000000 "
        "after SPAN"},
       "1/4/1"},
      // Missing operands.
      {__LINE__, "TVERIFY\nTMONITOR FIC101\nBDELAY\nBDELAY -1\n",
       {"T\t__Tag list not found for VERIFY TVERIFY", "T\t__Value not found for VERIFY FIC101",
        "T\t__BDELAY not executed"},
       "3/0/0"},
      // The SETPVE after the block runs only when the block has finished, so
      // the TVERIFY cannot see its change.
      {__LINE__, "TVERIFY FIC101 7 0 0.3\nSETPVE FIC101 7\nVERIFY FIC101 7\n",
       {"T\t  Precheck Timed Verification !(<FIC101> = 7.000000) passed Value is 50.000000 "
        "after SPAN",
        "T\t**Timed Verification <FIC101> = 7.000000 FAILED to occur. Value is 50.000000 "
        "after SPAN",
        "T\t  Verification <FIC101> = 7.000000 passed Value is 7.000000"},
       "0/4/1"},
      // COMMENT inside a block runs at once without starting it; BEND starts it.
      {__LINE__, "TVERIFY FIC101 1 0.2 0.2\nCOMMENT mid\nBEND\nCOMMENT after\n",
       {"T\t# MID",
        "T\t  Precheck Timed Verification !(<FIC101> = 1.000000) passed Value is 50.000000 "
        "after SPAN",
        "T\t**Timed Verification <FIC101> = 1.000000 FAILED to occur. Value is 50.000000 "
        "after SPAN",
        "T\t# AFTER"},
       "0/3/1"},
      // A block at the end of the file finishes before the file closes.
      {__LINE__, "TASSERT FIC101 50", {"T\t**Precheck Timed Assertion !(<FIC101> = 50.000000) "
                                       "FAILED Value is 50.000000 after SPAN"}, ""},
  };
  static const std::regex span(R"(after \d+:\d\d\.\d{3}$)");
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    ASSERT_EQ(1, c.SetPVE("TIC200", tic200));
    std::string script = "SETPVE FIC101 50\n" + k.script;
    if (!k.counters.empty()) {
      script += "\nBEND\nCOMMENT ready\nDELAYSECS 600 (TIC200 > 100000)\n";
    }
    const std::string path = Write("timed" + std::to_string(++n) + ".scn", script);
    const CORBA::Long id = testing::LocalDb(c).StartScenario(path.c_str(), "");
    ASSERT_GT(id, 0);
    if (!k.counters.empty()) {
      // The log is flushed when the final wait starts, after the block.
      ASSERT_TRUE(WaitFor([&] {
        std::ifstream in(TestLogOf(path));
        std::stringstream text;
        text << in.rdbuf();
        return text.str().find("# READY") != std::string::npos;
      }));
      const std::string info = Info(id);
      auto field = [&](const std::string& name) {
        const std::size_t at = info.find(name + "\t");
        return at == std::string::npos ? std::string("?")
                                       : info.substr(at + name.size() + 1,
                                                     info.find('\n', at) - at - name.size() - 1);
      };
      EXPECT_EQ(k.counters, field("sceErrors") + "/" + field("totalVerifies") + "/" +
                                field("failedVerifies"));
      ASSERT_EQ(1, c.SetPVE("TIC200", 200000));
    }
    ASSERT_TRUE(WaitAllEnded());
    std::vector<std::string> got = Masked(TestLogOf(path));
    for (std::string& line : got) line = std::regex_replace(line, span, "after SPAN");
    std::vector<std::string> want = {"T\tStarting test '" + path + "' at DATE"};
    want.insert(want.end(), k.body.begin(), k.body.end());
    if (!k.counters.empty()) want.push_back("T\t# READY");
    want.push_back("T\tClosing test log after M mins S secs at DATE");
    want.push_back("#$CHECK:SUM");
    EXPECT_EQ(want, got);
  }
  ASSERT_EQ(1, c.SetPVE("TIC200", tic200));
}

// A change inside the window passes the timed verification; a BDELAY makes
// the block last at least its time.
TEST_F(ScenarioRunTest, TimedVerificationSeesAChangeInItsWindow) {
  ZLSim& c = *client_;
  const std::string path =
      Write("change.scn", "SETPVE FIC101 0\nTVERIFY_GT FIC101 10 0 60\nBDELAY 0.4\nBEND\n"
                          "COMMENT done\n");
  const auto started = std::chrono::steady_clock::now();
  ASSERT_GT(testing::LocalDb(c).StartScenario(path.c_str(), ""), 0);
  ASSERT_TRUE(WaitFor([&] {
    std::ifstream in(TestLogOf(path));
    std::stringstream text;
    text << in.rdbuf();
    return text.str().find("Precheck") != std::string::npos;
  }));
  ASSERT_EQ(1, c.SetPVE("FIC101", 20));
  ASSERT_TRUE(WaitAllEnded());
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
  static const std::regex span(R"(after \d+:\d\d\.\d{3}$)");
  std::vector<std::string> got = Masked(TestLogOf(path));
  for (std::string& line : got) line = std::regex_replace(line, span, "after SPAN");
  EXPECT_EQ((std::vector<std::string>{
                "T\tStarting test '" + path + "' at DATE",
                "T\t  Precheck Timed Verification !(<FIC101> > 10.000000) passed Value is "
                "0.000000 after SPAN",
                "T\t  Timed Verification <FIC101> > 10.000000 passed Value is 20.000000 "
                "after SPAN",
                "T\t# DONE", "T\tClosing test log after M mins S secs at DATE", "#$CHECK:SUM"}),
            got);
}

// Statements that reach outside the scenario: the operating system, the
// host without a client interface, and the stored-values file (one that
// cannot be created, one that is written).
TEST_F(ScenarioRunTest, ExternalStatementsReportAndStoreValues) {
  ASSERT_EQ(1, client_->SetPVE("FIC101", 42.5));
  const std::string stem = "ZLSV" + std::to_string(::getpid());
  const std::string path =
      Run("ext.scn", "SYSTEM :\nSYSTEM exit 3\nSYSTEM\nCOMPAREVALS\nTOOLBOOK go on\nTB_POST\n"
                     "ZLCMD LSLIST\nSTOREVALS nodir/x;FIC101\nSTOREVALS " + stem + ";FIC101\n");
  EXPECT_EQ((std::vector<std::string>{
                "T\tStarting test '" + path + "' at DATE",
                // The shell sees the upper-cased command: EXIT is no builtin.
                "T\tSystem cmd failed with error=127, EXIT 3",
                "T\t## COMAPREVALS not implemented yet.",
                "T\t##Client cmd, TOOLBOOK, could not be executed because Client interface not "
                "registered, cmd=TOOLBOOK",
                "T\t##Client cmd, TB_POST, could not be executed because Client interface not "
                "registered, cmd=TB_POST",
                // "zyNODIR/X.tmp": no such directory; the next STOREVALS still runs.
                "T\t## Could not open file to store tag values",
                "T\tClosing test log after M mins S secs at DATE", "#$CHECK:SUM"}),
            Masked(TestLogOf(path)));
  // One record: name length with its zero byte, the name, the value.
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

// A host that answers each question at once with its fixed answer, or
// leaves it unanswered when that is empty.
class AnsweringHost : public ZLClientInterface {
 public:
  AnsweringHost(ZLSim& client, std::string answer)
      : ZLClientInterface("HOST"), client_(client), answer_(std::move(answer)) {}
  void AskQuestion(CORBA::Long id, CORBA::ULong number, const char*, const char*) override {
    if (!answer_.empty()) {
      took_ = testing::LocalDb(client_).AnswerQuestion(id, number, answer_.c_str());
    }
  }
  CORBA::Long took_ = -1;

 private:
  ZLSim& client_;
  std::string answer_;
};

// User questions: answered, answered wrong, unanswered, refused operands and
// -skipuserq.
TEST_F(ScenarioRunTest, AnswerAsksTheHostAndReports) {
  struct Case {
    int line;
    std::string script;
    std::string options;
    const char* host_answer;  // null: no client interface
    std::vector<std::string> body;
  };
  const std::vector<Case> cases = {
      // Without a client interface the local database answers for it.
      {__LINE__, "ANSWER 1 \"is it ok\"\n", "", nullptr,
       {"T\t**User Question 'IS IT OK' FAILED. Answer from none is 'No questions handled by "
        "client'"}},
      // The first character decides a yes/no answer.
      {__LINE__, "ANSWER 1 \"is it ok\"\n", "", "yes",
       {"T\t  User Question 'IS IT OK' passed. Answer from HOST is 'yes'"}},
      {__LINE__, "ANSWER 1 OK?\n", "", "NO",
       {"T\t**User Question 'OK?' FAILED. Answer from HOST is 'NO'"}},
      // No answer within the timeout (0.02 minutes: one whole second).
      {__LINE__, "ANSWER 0.02 OK?\nCOMMENT next\n", "", "",
       {"T\t**User Question 'OK?' FAILED. No answer from HOST", "T\t# NEXT"}},
      {__LINE__, "ANSWER\nANSWER X Q\nANSWER 5\n", "", nullptr,
       {"T\t__Timeout and question not found for ANSWER",
        "T\t__Could not parse timeout for ANSWER", "T\t__There is no question for ANSWER"}},
      {__LINE__, "ANSWER 1 A\nANSWER 1 B\n", "-skipuserq", "yes",
       {"T\t  User Question 'A' not asked because of -skipuserq option",
        "T\t  User Question 'B' not asked because of -skipuserq option",
        "T\t**Failure indicated because 2 questions skipped by -skipuserq option"}},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    std::unique_ptr<AnsweringHost> host;
    if (k.host_answer != nullptr) {
      host = std::make_unique<AnsweringHost>(*client_, k.host_answer);
      testing::LocalDb(*client_).SetClientInterface(host.get(), false);
    }
    const std::string path = Run("q" + std::to_string(++n) + ".scn", k.script, k.options);
    testing::LocalDb(*client_).SetClientInterface(nullptr, false);
    if (host != nullptr && !std::string(k.host_answer).empty() && k.options.empty()) {
      EXPECT_EQ(1, host->took_);
    }
    std::vector<std::string> want = {"T\tStarting test '" + path + "' at DATE"};
    want.insert(want.end(), k.body.begin(), k.body.end());
    want.push_back("T\tClosing test log after M mins S secs at DATE");
    want.push_back("#$CHECK:SUM");
    EXPECT_EQ(want, Masked(TestLogOf(path)));
  }
}

// A question waiting for its answer shows in ScenarioInfo; the answer must
// carry the question's number.
TEST_F(ScenarioRunTest, WaitingQuestionShowsAndTakesItsAnswer) {
  struct Recorder : ZLClientInterface {
    Recorder() : ZLClientInterface("REC") {}
    void AskQuestion(CORBA::Long, CORBA::ULong n, const char*, const char*) override {
      number = n;
    }
    std::atomic<CORBA::ULong> number{0};
  } host;
  auto& db = testing::LocalDb(*client_);
  db.SetClientInterface(&host, false);
  const std::string path = Write("wait.scn", "ANSWER 10 \"go on\"\n");
  const CORBA::Long id = db.StartScenario(path.c_str(), "");
  ASSERT_GT(id, 0);
  ASSERT_TRUE(WaitFor([&] { return host.number != 0; }));
  EXPECT_NE(std::string::npos, Info(id).find("\nsceQuestion\tGO ON\n"));
  EXPECT_EQ(0, db.AnswerQuestion(id, host.number + 1, "y"));
  EXPECT_EQ(0, db.AnswerQuestion(id + 1, host.number, "y"));
  EXPECT_EQ(1, db.AnswerQuestion(id, host.number, "t"));
  EXPECT_EQ(0, db.AnswerQuestion(id, host.number, "t"));  // no longer pending
  ASSERT_TRUE(WaitAllEnded());
  db.SetClientInterface(nullptr, false);
  EXPECT_EQ((std::vector<std::string>{"T\tStarting test '" + path + "' at DATE",
                                      "T\t  User Question 'GO ON' passed. Answer from REC is 't'",
                                      "T\tClosing test log after M mins S secs at DATE",
                                      "#$CHECK:SUM"}),
            Masked(TestLogOf(path)));
}

// PT_ENABLE and PT_DISABLE send one datagram with its zero byte from the
// scenario's socket to the address the server holds for the tag's driver.
TEST_F(ScenarioRunTest, PointEnableSendsADatagramToTheDriver) {
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
  EXPECT_EQ("OK", testing::ClientEnvironment::services().Control("driver PLCT 127.0.0.1:" +
                                                         std::to_string(port)));
  ZEMR::ZelvikDatabase_var db = ZEMR::ZelvikDatabase::_duplicate(client_->database());
  db->Download("PTTAG\tPLCT\tN7:1\tAnalog\tPoint\t0\t100\t0\t100\tAuto\tNONE\t\t25\n");
  const std::string path = Run("pt.scn", "PT_ENABLE pttag\nPT_DISABLE PTTAG\nPT_ENABLE\n");
  std::vector<std::string> got;
  for (int i = 0; i < 2; ++i) {
    char buf[256];
    const ssize_t n = ::recv(rx, buf, sizeof buf, 0);
    ASSERT_GT(n, 0);
    got.emplace_back(buf, static_cast<std::size_t>(n));
  }
  ::close(rx);
  char raw[64];
  std::snprintf(raw, sizeof raw, "%f", client_->PVE("PTTAG.PVRAW"));
  EXPECT_EQ((std::vector<std::string>{std::string("ENABLE\tN7:1\t") + raw + "\n" + '\0',
                                      std::string("DISABLE\tN7:1\t") + raw + "\n" + '\0'}),
            got);
  EXPECT_EQ((std::vector<std::string>{"T\tStarting test '" + path + "' at DATE",
                                      "T\t__PT_ENABLE not executed (missing tagname)",
                                      "T\tClosing test log after M mins S secs at DATE",
                                      "#$CHECK:SUM"}),
            Masked(TestLogOf(path)));
}

// A datagram that cannot be sent is reported and counted; a tag the server
// does not know, or a server fault, goes to the process log only. The
// scenario goes on after each.
TEST_F(ScenarioRunTest, PointEnableReportsWhatCannotBeSent) {
  ZEMR::ZelvikDatabase_var db = ZEMR::ZelvikDatabase::_duplicate(client_->database());
  db->Download("PTZERO\tPLCZ\tN7:2\tAnalog\n"
               "PTNAMED\tPLCQ\tN7:3\tAnalog\n"
               "PTNONE\tPLCN\tN7:4\tAnalog\n");
  struct Case {
    int line;
    std::string control;            // sent to the server's control endpoint first
    std::string script;             // followed by "COMMENT next"
    std::string body;               // the test log line before "# NEXT"; empty: none
    std::string process_log;        // a text the process log must hold; empty: not checked
  };
  const std::vector<Case> cases = {
      // Port 0 on loopback: the send itself fails.
      {__LINE__, "driver PLCZ 127.0.0.1:0", "PT_ENABLE ptzero\n",
       "T\t__PT_ENABLE not sent to 127.0.0.1:0 (network error)", ""},
      // The address after "=" is the one reported.
      {__LINE__, "driver PLCQ ADDR=127.0.0.1:0", "PT_DISABLE PTNAMED\n",
       "T\t__PT_DISABLE not sent to 127.0.0.1:0 (network error)", ""},
      // A driver without an address.
      {__LINE__, "", "PT_ENABLE PTNONE\n", "T\t__PT_ENABLE not sent to  (network error)", ""},
      // The server does not know the tag: not in the test log.
      {__LINE__, "", "PT_DISABLE NOSUCH\n", "", "Caught Exception in PT_DISABLE\n"},
      // A communication failure names the exception.
      {__LINE__, "fail Upload COMM_FAILURE", "PT_ENABLE PTZERO\n", "",
       "Caught Exception in PT_ENABLE, COMM_FAILURE\n"},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    if (!k.control.empty()) {
      EXPECT_EQ("OK", testing::ClientEnvironment::services().Control(k.control));
    }
    testing::StderrCapture err;
    const std::string path =
        Run("ptfail" + std::to_string(++n) + ".scn", k.script + "COMMENT next\n");
    const std::string log = err.Take();
    std::vector<std::string> want = {"T\tStarting test '" + path + "' at DATE"};
    if (!k.body.empty()) want.push_back(k.body);
    want.push_back("T\t# NEXT");
    want.push_back("T\tClosing test log after M mins S secs at DATE");
    want.push_back("#$CHECK:SUM");
    EXPECT_EQ(want, Masked(TestLogOf(path)));
    if (!k.process_log.empty()) {
      EXPECT_NE(std::string::npos, log.find(k.process_log)) << log;
    }
  }
  EXPECT_EQ("OK", testing::ClientEnvironment::services().Control("clear"));
}

// TOOLBOOK and TB_POST do nothing while the host's Toolbook window lives; once
// it is gone they go to the client interface.
TEST_F(ScenarioRunTest, ToolbookWindowAliveTakesNoCommands) {
  struct Host : ZLClientInterface {
    Host() : ZLClientInterface("REC") {}
    bool HandleCmd(const char* cmd, const char* arg, std::string& result) override {
      std::lock_guard<std::mutex> lock(mu);
      commands.push_back(std::string(cmd) + "|" + arg);
      result = "done";
      return true;
    }
    std::mutex mu;
    std::vector<std::string> commands;  // guarded by mu
  };
  struct Case {
    int line;
    bool window_alive;                   // destroyed after it was named otherwise
    bool host;                           // a client interface is registered
    std::vector<std::string> body;       // test log lines before "# AFTER"
    std::vector<std::string> commands;   // what the host received
  };
  const std::vector<Case> cases = {
      // A live window takes the commands: the host sees nothing.
      {__LINE__, true, true, {}, {}},
      // ...and without a client interface nothing is refused either.
      {__LINE__, true, false, {}, {}},
      // A handle whose window was destroyed no longer counts.
      {__LINE__, false, true, {}, {"TOOLBOOK|GO ON", "TB_POST|"}},
      {__LINE__, false, false,
       {"T\t##Client cmd, TOOLBOOK, could not be executed because Client interface not "
        "registered, cmd=TOOLBOOK",
        "T\t##Client cmd, TB_POST, could not be executed because Client interface not "
        "registered, cmd=TB_POST"},
       {}},
  };
  const std::string title = "ZL TOOLBOOK " + std::to_string(::getpid());
  auto& db = testing::LocalDb(*client_);
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    const WindowHandle window = RegisterWindow(title);
    ASSERT_EQ(0, db.SetOption("ToolbookHWND", title.c_str()));
    if (!k.window_alive) DestroyWindow(window);
    Host host;
    if (k.host) db.SetClientInterface(&host, false);
    const std::string path =
        Run("tb" + std::to_string(++n) + ".scn", "TOOLBOOK go on\nTB_POST\nCOMMENT after\n");
    db.SetClientInterface(nullptr, false);
    if (k.window_alive) DestroyWindow(window);
    db.SetOption("ToolbookHWND", "");
    std::vector<std::string> want = {"T\tStarting test '" + path + "' at DATE"};
    want.insert(want.end(), k.body.begin(), k.body.end());
    want.push_back("T\t# AFTER");
    want.push_back("T\tClosing test log after M mins S secs at DATE");
    want.push_back("#$CHECK:SUM");
    EXPECT_EQ(want, Masked(TestLogOf(path)));
    std::lock_guard<std::mutex> lock(host.mu);
    EXPECT_EQ(k.commands, host.commands);
  }
}

}  // namespace
}  // namespace zl
