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
#include <sstream>
#include <string>
#include <vector>

#include "scenario/scenario.h"
#include "support/in_process_server.h"
#include "support/virtual_clock.h"

namespace zl {
namespace {

struct Outcome {
  std::vector<std::string> lines;  // without the opening, closing and signature lines
  unsigned errors, verifies, failed;
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

// Runs `text` as scenario file "s.scn" in a fresh directory, on a worker.
Outcome Run(const std::string& text) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() /
                       ("zl_stmt_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string path = (dir / "s.scn").string();
  std::ofstream(path, std::ios::binary) << text;

  testing::InProcessServer::Instance().Reset();
  testing::VirtualClock clock;
  Outcome out{};
  {
    CZLScenario scenario(testing::InProcessServer::Instance().database(), &clock);
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
      {__LINE__, "TASSERT NOPE 1\nBEND\n",
       "00:00:00.000\t__Tag <NOPE> not found for Timed Assertion\n", 1, 2, 0},
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

}  // namespace
}  // namespace zl
