// Whole scenario files without services: the frame of a test log (opening,
// closing, signature, a second run appended), subtests and their nesting,
// stored checksums, a file of garbage, and the report of a run that a
// server exception ends. Each runs on a worker against zelvik-sim's
// database servant in-process on a virtual clock (in_process_run.h); the
// test log is compared with its dates, run times and signatures masked.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/file_checksum.h"
#include "scenario/in_process_run.h"
#include "support/in_process_server.h"
#include "support/log_capture.h"

namespace zl {
namespace {

namespace fs = std::filesystem;
using testing::InProcessServer;
using testing::Outcome;
using testing::RunInProcess;
using testing::RunSpec;

// The test log's lines with dates, run times and signatures masked (the
// stamps are exact on the virtual clock).
std::vector<std::string> Masked(const std::string& log) {
  static const std::regex date(R"( at \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}$)");
  static const std::regex after(R"(after \d+ mins \d+\.\d secs)");
  static const std::regex check(R"(^#\$CHECK:[0-9a-f]{32}$)");
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    line = std::regex_replace(line, date, " at DATE");
    line = std::regex_replace(line, after, "after M mins S secs");
    line = std::regex_replace(line, check, "#$CHECK:SUM");
    lines.push_back(line);
  }
  return lines;
}

// A folder of the test's own, removed at the end.
class ScenarioFileTest : public ::testing::Test {
 protected:
  ScenarioFileTest()
      : dir_(fs::temp_directory_path() /
             ("zl_file_" + std::to_string(::getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~ScenarioFileTest() override { fs::remove_all(dir_); }

  Outcome Run(const std::string& name, const std::string& text,
              const std::string& options = "") {
    RunSpec spec;
    spec.name = name;
    spec.text = text;
    spec.options = options;
    spec.dir = dir_;
    return RunInProcess(spec);
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  const fs::path dir_;
};

TEST_F(ScenarioFileTest, EmptyFileAndPathWithoutDot) {
  const Outcome got = Run("plain", "");
  EXPECT_TRUE(fs::exists(got.path + ".tlg"));
  EXPECT_EQ((std::vector<std::string>{
                "00:00:00.000\tStarting test '" + got.path + "' at DATE",
                "00:00:00.000\tClosing test log after M mins S secs at DATE", "#$CHECK:SUM"}),
            Masked(got.log));
}

TEST_F(ScenarioFileTest, SecondRunAppendsWithItsOwnSignature) {
  const Outcome first = Run("twice.scn", "COMMENT run\n");
  const std::string tlg = (dir_ / "twice.tlg").string();
  const auto first_size = fs::file_size(tlg);
  const Outcome second = Run("twice.scn", "COMMENT run\n");
  const std::vector<std::string> lines = Masked(second.log);
  ASSERT_EQ(10u, lines.size());
  EXPECT_EQ("", lines[4]);
  EXPECT_EQ("", lines[5]);
  EXPECT_EQ("00:00:00.000\tStarting test '" + second.path + "' at DATE", lines[6]);

  // The second signature covers exactly the second run's part.
  std::FILE* f = std::fopen(tlg.c_str(), "r");
  ASSERT_NE(nullptr, f);
  const std::string sum = FileChecksum(f, static_cast<long>(first_size) + 2);
  std::fclose(f);
  std::istringstream in(second.log);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  EXPECT_EQ("#$CHECK:" + sum, last);
}

TEST_F(ScenarioFileTest, SubtestsNestTo255AndRefuseDeeper) {
  Write("Sub.scn", "COMMENT in $1\n");  // found by "@sub.scn" ignoring case
  Write("R.SCN", "@R.SCN\n");
  const Outcome got = Run("main.scn", "@sub.scn arg\n@none.scn\n@r.scn\nCOMMENT back\n");
  const std::vector<std::string>& lines = got.body;
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ("00:00:00.000\tSubtest 'SUB.SCN' started--nest level 1", lines[0]);
  EXPECT_EQ("00:00:00.000\t# IN ARG", lines[1]);
  EXPECT_EQ("00:00:00.000\tSubtest 'SUB.SCN' finished--was nest level 1", lines[2]);
  EXPECT_EQ("00:00:00.000\t__Subtest 'NONE.SCN' not started", lines[3]);
  int started = 0, finished = 0, refused = 0;
  for (const std::string& l : lines) {
    if (l.rfind("00:00:00.000\tSubtest 'R.SCN' started--nest level ", 0) == 0) ++started;
    if (l.rfind("00:00:00.000\tSubtest 'R.SCN' finished--was nest level ", 0) == 0) ++finished;
    if (l == "00:00:00.000\t__Test 'R.SCN' not executed, nest level too deep") ++refused;
  }
  EXPECT_EQ(255, started);
  EXPECT_EQ(255, finished);
  EXPECT_EQ(1, refused);
  EXPECT_EQ("00:00:00.000\t# BACK", lines.back());
  EXPECT_TRUE(got.closed);
}

// The stored checksum covers statement lines only: edited comments still
// validate, an added blank line does not.
TEST_F(ScenarioFileTest, StoredChecksumValidatesStatementsOnly) {
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
       "00:00:00.000\t  Stored checksum, " + sum + ", validates scenario: %s"},
      // An edited comment is no statement.
      {__LINE__, "# edited later\n" + body + "#$CHECK:" + sum + "\n",
       "00:00:00.000\t  Stored checksum, " + sum + ", validates scenario: %s"},
      // A blank line is.
      {__LINE__, "#$CHECK:" + sum + "\n\n" + body,
       "00:00:00.000\t__Stored checksum, " + sum + ", is invalid for scenario: %s"},
      {__LINE__, body, "00:00:00.000\t__No stored checksum for scenario: %s"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Outcome got = Run("check" + std::to_string(++n) + ".scn", c.text);
    ASSERT_EQ(2u, got.body.size());
    EXPECT_EQ("00:00:00.000\t# X", got.body[0]);
    EXPECT_EQ(std::regex_replace(c.want, std::regex("%s"), got.path), got.body[1]);
  }
}

// A file of every byte value and no newline runs to its end.
TEST_F(ScenarioFileTest, BinaryGarbageFile) {
  std::string bytes;
  for (int round = 0; round < 4; ++round) {
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  }
  const Outcome got = Run("garbage.scn", bytes);
  EXPECT_TRUE(got.closed);
  EXPECT_GT(got.errors, 0u);
}

// A server exception ends the run. The run says where (the file, the line
// in it, and its text as written) and why (the exception, with the server's
// reason), in the test log before the abort line and in the process log,
// and writes neither closing line nor signature.
TEST_F(ScenarioFileTest, AbortSaysWhereAndWhy) {
  const std::string bad_expression = "user exception, ID 'IDL:ZEMR/ZLBadExpression:1.0': ";
  struct Case {
    int line;
    std::string script;  // the file's name is substituted for "%s" in `where`
    std::string where;   // "line N of %s, "TEXT""
    std::string reason;
    const char* fail = nullptr;  // an operation whose next call raises TRANSIENT
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
      // A system exception of the server: the exception's own text.
      {__LINE__, "COMMENT a\nSETPVE FIC101 10\n", "line 2 of %s, \"SETPVE FIC101 10\"",
       "system exception, ID 'IDL:omg.org/CORBA/TRANSIENT:1.0', minor code = 0x0, completed = NO",
       "SetPVE"},
  };
  Write("abort_sub.scn", "COMMENT in\nVERIFY FIC101 ?\n");
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    testing::LogCapture log;
    RunSpec spec;
    spec.name = "abort" + std::to_string(++n) + ".scn";
    spec.text = k.script;
    spec.options = "(NOSUCH)";
    spec.dir = dir_;
    spec.setup = [&] {
      ASSERT_EQ(1, InProcessServer::Instance().database()->SetPVE("FIC101", 0));
      if (k.fail != nullptr) {
        sim::Fault fault;
        fault.exception = "TRANSIENT";
        InProcessServer::Instance().faults().Arm(k.fail, fault);
      }
    };
    const Outcome got = RunInProcess(spec);
    const std::string where = std::regex_replace(k.where, std::regex("%s"), got.path);
    const std::vector<std::string> lines = Masked(got.log);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ("00:00:00.000\t# Aborted at " + where + ": " + k.reason, lines[lines.size() - 3]);
    EXPECT_EQ("00:00:00.000\t__Unknown exception aborted scenario.", lines[lines.size() - 2]);
    EXPECT_EQ("", lines.back());
    EXPECT_FALSE(got.closed);
    EXPECT_EQ(1u, got.errors);
    bool logged = false;
    for (const testing::LogLine& l : log.Lines()) {
      logged = logged || (l.priority == LM_ERROR &&
                          l.text == "Scenario " + got.path + " aborted at " + where + ": " +
                                        k.reason + "\n");
    }
    EXPECT_TRUE(logged) << where;
  }
}

}  // namespace
}  // namespace zl
