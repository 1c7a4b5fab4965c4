// The statement families called directly, each handler with only what its
// signature asks for: a statement context on zelvik-sim's database servant
// run in-process and a virtual clock, the operands of one line, and the
// family's own state. What a whole scenario cannot show is checked here: the
// wait a statement sets, the exact file position of a jump, a monitor list
// between checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/text_utils.h"
#include "scenario/check_statements.h"
#include "scenario/flow_statements.h"
#include "scenario/label_table.h"
#include "scenario/statement_context.h"
#include "scenario/statement_line.h"
#include "support/in_process_server.h"

namespace zl {
namespace {

// One statement line split as the statement loop splits it: the keyword,
// then the operands.
struct Statement {
  explicit Statement(const char* text) {
    strncpyz(buf, text, sizeof buf);
    tokens.Start(buf);
    strncpyz(keyword, tokens.Next(kBlanks), sizeof keyword);
  }
  char buf[2048];
  Tokenizer tokens;
  char keyword[80];
  StatementLine line{&tokens, keyword};
};

// A statement context on the in-process server with its test log open in a
// temporary file.
class StatementFamilyTest : public ::testing::Test {
 protected:
  StatementFamilyTest()
      : path_((std::filesystem::temp_directory_path() /
               ("zl_family_" + std::to_string(::getpid()) + ".tlg"))
                  .string()) {
    testing::InProcessServer::Instance().Reset();
    std::filesystem::remove(path_);
    EXPECT_TRUE(ctx_.test_log().Open(path_));
    ctx_.test_log().StartClock(clock_.Now());
  }
  ~StatementFamilyTest() override {
    ctx_.test_log().Close();
    std::filesystem::remove(path_);
  }

  // The test log lines written since the last call.
  std::string NewLines() {
    ctx_.test_log().Flush();
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    const std::string fresh = text.substr(std::min(read_, text.size()));
    read_ = text.size();
    return fresh;
  }

  // Writes `text` as a statement writes a line: as a statement error, or
  // as any other line.
  void LogLine(const char* text, bool error) {
    if (error) {
      ctx_.StatementError("%s", text);
    } else {
      ctx_.Log("%s", text);
    }
  }

  const std::string path_;
  testing::PlantClock clock_;
  StatementContext ctx_{testing::InProcessServer::Instance().database(), &clock_};
  std::size_t read_ = 0;
};

TEST_F(StatementFamilyTest, DelaySetsTheWaitItAsksFor) {
  struct Case {
    int line;
    const char* text;
    long long want_ms;  // the deadline after now; -1: no wait set
    const char* want_condition;
    unsigned want_errors;
  };
  const Case cases[] = {
      {__LINE__, "DELAY 250", 250, "", 0},
      {__LINE__, "DELAY 1.9", 1, "", 0},  // the fraction is cut
      {__LINE__, "DELAY -5", 0, "", 0},   // a negative wait is none
      {__LINE__, "DELAY (T1/10)", 5, "", 0},
      {__LINE__, "DELAYSECS 2 T1 > 10", 2000, "T1 > 10", 0},
      {__LINE__, "DELAYSECS 1e12", 1000000000LL * 1000, "", 0},  // the limit
      {__LINE__, "DELAY", -1, "", 1},
      {__LINE__, "DELAY (T1", -1, "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ctx_.counters().Reset();
    Statement s(c.text);
    WaitState wait;
    Delay(ctx_, s.line, wait, std::string(s.keyword) == "DELAY" ? 1 : 1000);
    if (c.want_ms < 0) {
      EXPECT_EQ(ACE_Time_Value::zero, wait.deadline);
    } else {
      const ACE_Time_Value after = wait.deadline - clock_.Now();
      EXPECT_EQ(c.want_ms, static_cast<long long>(after.sec()) * 1000 + after.usec() / 1000);
    }
    EXPECT_EQ(c.want_condition, wait.condition);
    EXPECT_EQ(c.want_errors, ctx_.counters().errors.load());
  }
}

TEST(LabelTableTest, JumpsAfterTheLabelLineAndCountsLikeTheLoop) {
  const std::string long_line(3000, 'x');  // read as two pieces, two lines
  struct Case {
    int line;
    std::string file;
    const char* label;
    bool want_found;
    unsigned want_line;  // the cursor's line after the jump (0: untouched)
    const char* want_next;
  };
  const Case cases[] = {
      {__LINE__, ":A\nx\n:B more\ny\n", ":b", true, 3, "y\n"},
      {__LINE__, ":A\nx\n:B more\ny\n", ":C", false, 0, ":A\n"},
      {__LINE__, ":A\nx\n", "A", false, 0, ":A\n"},  // the colon is part of the name
      {__LINE__, long_line + "\n:L\nz\n", ":L", true, 3, "z\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::FILE* f = std::tmpfile();
    ASSERT_NE(nullptr, f);
    std::fputs(c.file.c_str(), f);
    std::rewind(f);
    LabelTable table;
    table.Scan(f);
    unsigned line = 0;
    EXPECT_EQ(c.want_found, table.Jump(c.label, FileCursor{f, &line}));
    EXPECT_EQ(c.want_line, line);
    char next[4096] = {};
    ASSERT_NE(nullptr, std::fgets(next, sizeof next, f));
    EXPECT_STREQ(c.want_next, next);
    std::fclose(f);
  }
}

TEST_F(StatementFamilyTest, MonitorReportsOnlyChangesAndClearKeepsTheFailure) {
  MonitorList monitors;
  Statement s("MONITOR T1 50");
  Monitor(ctx_, s.line, monitors, Comparison::kEqual);
  EXPECT_EQ("00:00:00.000\t  Monitoring tag(s) <T1> = 50.000000\n", NewLines());
  struct Step {
    int line;
    double value;  // T1 before the check
    const char* want;
  };
  const Step steps[] = {
      {__LINE__, 50, ""},
      {__LINE__, 60, "00:00:00.000\t**Monitor <T1> = 50.000000 FAILED Value is 60.000000\n"},
      {__LINE__, 70, ""},
      {__LINE__, 50, "00:00:00.000\t  Monitor <T1> = 50.000000 NORMAL Value is 50.000000\n"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.line);
    ctx_.server()->SetPVE("T1", step.value);
    CheckMonitors(ctx_, monitors);
    EXPECT_EQ(step.want, NewLines());
  }
  EXPECT_EQ(4u, ctx_.counters().total_monitor_checks.load());
  EXPECT_EQ(2u, ctx_.counters().failed_monitor_checks.load());
  // A disabled monitor passes without looking at the tag.
  EnableMonitors(monitors, false);
  ctx_.server()->SetPVE("T1", 99);
  CheckMonitors(ctx_, monitors);
  EXPECT_EQ("", NewLines());
  EXPECT_EQ(2u, ctx_.counters().failed_monitor_checks.load());
  // MON_CLEAR: a last check, no PASSED line after a failure, no monitors left.
  EnableMonitors(monitors, true);
  ClearMonitors(ctx_, monitors, 0);
  EXPECT_EQ("00:00:00.000\t**Monitor <T1> = 50.000000 FAILED Value is 99.000000\n", NewLines());
  EXPECT_TRUE(monitors.items.empty());
  EXPECT_TRUE(monitors.failed);
}

// Takes the reported lines of a run.
class ReportSink : public LogSink {
 public:
  struct Reported {
    ScenarioLineKind kind;
    std::string text;
    std::string file;
    unsigned line;
    unsigned testlog_line;
  };
  void ErrorLine(const std::string&) override {}
  void ProcessMaskSet() override {}
  void DebugRequested() override {}
  void ScenarioLine(ScenarioLineKind kind, const std::string& text, const LogPlace& place,
                    unsigned testlog_line) override {
    reported.push_back({kind, text, place.file, place.line, testlog_line});
  }
  std::vector<Reported> reported;
};

TEST_F(StatementFamilyTest, FailureAndErrorLinesAreReportedWithTheirPlace) {
  ReportSink sink;
  SetLogSink(&sink);
  LogLine("00:00:00.000\tStarting test 'S.SCN'\n", false);  // line 1 of the run
  struct Case {
    int line;
    const char* text;  // a test log line as a statement writes it
    bool error;        // written as a statement error
    bool reported;
    ScenarioLineKind kind;
    const char* want;  // the reported text
  };
  const Case cases[] = {
      {__LINE__, "00:00:00.000\t**Verification <T1> = 1.000000 FAILED Value is 0.000000\n", false,
       true, ScenarioLineKind::kFailure, "Verification <T1> = 1.000000 FAILED Value is 0.000000"},
      {__LINE__, "00:00:00.000\t__Label ':X' not found for GOTO\n", true, true,
       ScenarioLineKind::kError, "Label ':X' not found for GOTO"},
      // "##" lines are errors too; the blank after the mark is not text
      {__LINE__, "00:00:00.000\t## Could not open file to store tag values\n", false, true,
       ScenarioLineKind::kError, "Could not open file to store tag values"},
      // an abort's line and the blank line after it
      {__LINE__, "00:00:00.000\t__Unknown exception aborted scenario.\n\n", false, true,
       ScenarioLineKind::kError, "Unknown exception aborted scenario."},
      // passed checks, information and comments are not reported
      {__LINE__, "00:00:00.000\t  Verification <T1> = 1.000000 passed Value is 1.000000\n", false,
       false, ScenarioLineKind::kFailure, ""},
      {__LINE__, "00:00:00.000\t# ** NOT A FAILURE\n", false, false, ScenarioLineKind::kFailure,
       ""},
      {__LINE__, "00:00:00.000\tSubtest 'A' started--nest level 1\n", false, false,
       ScenarioLineKind::kFailure, ""},
  };
  LogPlace place;
  place.file = "dir/s.scn";
  place.line = 7;
  ctx_.set_place(place);
  unsigned at = 2;  // the test log line each case is written to
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    sink.reported.clear();
    LogLine(c.text, c.error);
    ASSERT_EQ(c.reported ? 1u : 0u, sink.reported.size());
    if (c.reported) {
      const ReportSink::Reported& r = sink.reported[0];
      EXPECT_EQ(c.kind, r.kind);
      EXPECT_EQ(c.want, r.text);
      EXPECT_EQ("dir/s.scn", r.file);
      EXPECT_EQ(7u, r.line);
      EXPECT_EQ(at, r.testlog_line);
    }
    at += std::string(c.text).find("\n\n") != std::string::npos ? 2 : 1;
  }
  // A check on behalf of an earlier statement lends its own place for its
  // lifetime.
  LogPlace monitor;
  monitor.file = "dir/s.scn";
  monitor.line = 3;
  {
    StatementContext::PlaceScope scope(ctx_, monitor);
    EXPECT_EQ(&monitor, CurrentLogPlace());
    sink.reported.clear();
    LogLine("00:00:00.000\t**Monitor <T1> = 1.000000 FAILED Value is 0.000000\n", false);
    ASSERT_EQ(1u, sink.reported.size());
    EXPECT_EQ(3u, sink.reported[0].line);
  }
  EXPECT_EQ(7u, ctx_.place().line);
  EXPECT_EQ(nullptr, CurrentLogPlace());
  SetLogSink(nullptr);
}

TEST_F(StatementFamilyTest, TestLogNumbersLinesAsAReaderSplitsThem) {
  struct Step {
    int line;
    const char* text;
    unsigned want;  // the line of the run's part the text begins on
  };
  // Read back as: A, B, "", C, D, E, FG, H.
  const Step steps[] = {
      {__LINE__, "A\n", 1},     {__LINE__, "B\n\n", 2},
      {__LINE__, "C\r\nD\rE\n", 4},  // "\r\n" is one line end, a lone "\r" another
      {__LINE__, "F", 7},       {__LINE__, "G\n", 7},  // a line written in two pieces
      {__LINE__, "H\n", 8},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.line);
    EXPECT_EQ(step.want, ctx_.test_log().Write(step.text));
  }
  ctx_.test_log().Close();
  EXPECT_EQ(0u, ctx_.test_log().Write("I\n"));  // closed: nothing written
}

}  // namespace
}  // namespace zl
