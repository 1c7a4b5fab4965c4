// The statements on their own: each row is a tiny scenario run on the test
// thread against the in-process fake server (no naming service, event
// service or stand-in) on a virtual clock, so waits take no real time and
// every stamp is exact. A row gives the test log lines between the opening
// and the closing line, and the counters the run leaves.
#include <ace/Thread_Manager.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "scenario/scenario.h"
#include "scenario/scenario_owner.h"
#include "support/fake_server.h"
#include "support/virtual_clock.h"

namespace zl {
namespace {

struct Outcome {
  std::vector<std::string> lines;  // without the opening, closing and signature lines
  unsigned errors, verifies, failed;
  std::string path;  // the scenario file's (gone after the run)
};

// The worker: the statement loop and its clean-up, as the scenario manager
// runs them.
void* Worker(void* arg) {
  CZLScenario* scenario = static_cast<CZLScenario*>(arg);
  try {
    scenario->RunScenario();
  } catch (...) {
    scenario->ReportUnknownException();
  }
  scenario->CloseTestLogFile();
  return nullptr;
}

// Runs `text` as scenario file "s.scn" in a fresh directory, on a worker,
// with the options text `arguments` and the host `owner` (none when null).
Outcome Run(const std::string& text, const std::string& arguments = "",
            ScenarioOwner* owner = nullptr, CZLScenario** running = nullptr) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() /
                       ("zl_stmt_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string path = (dir / "s.scn").string();
  std::ofstream(path, std::ios::binary) << text;

  testing::FakeServer::Instance().Reset();
  testing::VirtualClock clock;
  Outcome out{};
  {
    CZLScenario scenario(testing::FakeServer::Instance().database(), &clock);
    if (running != nullptr) *running = &scenario;
    scenario.set_owner(owner);
    scenario.SetArguments(arguments.c_str(), 0);
    EXPECT_EQ(0, scenario.OpenScenario(path.c_str()));
    scenario.ResetCounters();
    ACE_thread_t tid{};
    EXPECT_NE(-1, ACE_Thread_Manager::instance()->spawn(Worker, &scenario,
                                                        THR_NEW_LWP | THR_JOINABLE, &tid));
    scenario.set_thread_id(tid);
    ACE_Thread_Manager::instance()->join(tid);
    out.errors = scenario.errors();
    out.verifies = scenario.total_verifies();
    out.failed = scenario.failed_verifies();
    out.path = path;
  }
  std::ifstream in(dir / "s.tlg");
  for (std::string line; std::getline(in, line);) {
    if (line.find("\tStarting test '") != std::string::npos ||
        line.find("\tClosing test log after ") != std::string::npos ||
        line.rfind("#$CHECK:", 0) == 0 || line.empty()) {
      continue;
    }
    out.lines.push_back(line);
  }
  fs::remove_all(dir);
  return out;
}

std::string Join(const std::vector<std::string>& lines) {
  std::ostringstream s;
  for (const std::string& l : lines) s << l << "\n";
  return s.str();
}

struct Case {
  int line;
  const char* scenario;
  // The test log lines, each ending in "\n"; without a final "\n" the text
  // the log must begin with.
  const char* want;
  unsigned errors, verifies, failed;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Outcome got = Run(c.scenario);
    const std::string want = c.want;
    const std::string text = Join(got.lines);
    if (!want.empty() && want.back() != '\n') {
      EXPECT_EQ(want, text.substr(0, want.size())) << text;
    } else {
      EXPECT_EQ(want, text);
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
  });
}

TEST(StatementTableTest, Checks) {
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
  });
}

TEST(StatementTableTest, TimedStatementsOnTheVirtualClock) {
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
  });
}

TEST(StatementTableTest, FlowStatements) {
  RunCases({
      {__LINE__, "DELAYSECS 5\nCOMMENT x\nDELAY 250\nCOMMENT y\n",
       "00:00:05.000\t# X\n00:00:05.250\t# Y\n", 0, 0, 0},
      {__LINE__, "DELAY abc\nSIMWAIT\nBOGUS 1\n",
       "00:00:00.000\t__Could not parse delay 'ABC' for DELAY\n"
       "00:00:00.000\t__SIMWAIT not executed\n"
       "00:00:00.000\t__Unknown scenario keyword, 'BOGUS'\n",
       3, 0, 0},
      {__LINE__, "GOTO :END\nCOMMENT skipped\n:END\nCOMMENT (1+1)\n",
       "00:00:00.000\t# 2.000000\n", 0, 0, 0},
      {__LINE__, "SAFETY VALID\n",
       "00:00:00.000\t__No stored checksum for scenario: ", 1, 0, 0},
  });
}

TEST(StatementTableTest, ExternalStatements) {
  RunCases({
      {__LINE__, "PT_ENABLE\nCOMPAREVALS\n",
       "00:00:00.000\t__PT_ENABLE not executed (missing tagname)\n"
       "00:00:00.000\t## COMAPREVALS not implemented yet.\n",
       1, 0, 0},
      {__LINE__, "ANSWER\nANSWER X Q\nANSWER 5\n",
       "00:00:00.000\t__Timeout and question not found for ANSWER\n"
       "00:00:00.000\t__Could not parse timeout for ANSWER\n"
       "00:00:00.000\t__There is no question for ANSWER\n",
       3, 0, 0},
  });
}

// The keywords not shown above, one family at a time: each runs where a
// scenario runs it, against the fake server's plant.
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

// A host that answers each question at once with `answer` and refuses each
// command with `refusal`.
class AnsweringHost : public ScenarioOwner {
 public:
  AnsweringHost(std::string name, std::string answer, std::string refusal)
      : name_(std::move(name)), answer_(std::move(answer)), refusal_(std::move(refusal)) {}
  ZEMR::ZelvikDatabase_ptr database() const override {
    return testing::FakeServer::Instance().database();
  }
  void ScenarioEnded(CORBA::ULong, const char*) override {}
  bool ClientCmd(const char*, const char*, std::string& result) override {
    result = refusal_;
    return false;
  }
  void AskQuestion(CORBA::Long, CORBA::ULong number, const char*, const char*) override {
    scenario->TakeAnswer(number, answer_.c_str());
  }
  std::string ClientInterfaceName() const override { return name_; }
  std::string RunLogSetCommand(const char*) override { return ""; }
  std::shared_ptr<CZLLogObj> FindLogSet(const char*) override { return nullptr; }
  WindowHandle toolbook_window() const override { return WindowHandle{}; }
  unsigned tbm_evaluate() const override { return 0; }
  unsigned tbm_execute() const override { return 0; }

  CZLScenario* scenario = nullptr;  // the scenario that runs, set by Run

 private:
  const std::string name_, answer_, refusal_;
};

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
    AnsweringHost host("h\tst", "Yes'\n00:00:09.000\t  Verification <SP> = 9 passed",
                       "no\r\n#x");
    const Outcome got = zl::Run(r.scenario, r.arguments, &host, &host.scenario);
    std::string want = r.want;
    const std::string::size_type at = want.find("<path>");
    if (at != std::string::npos) want.replace(at, 6, got.path);
    EXPECT_EQ(want, Join(got.lines));
    EXPECT_EQ(r.errors, got.errors);
  }
}

}  // namespace
}  // namespace zl
