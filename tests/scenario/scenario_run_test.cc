// Scenario files run end to end through the client: the scenario manager
// starts each on its worker with the real clock against the stand-in server
// over the ORB, and the test compares the test log it leaves behind (stamps,
// dates, run times and signatures masked) with the lines the statements must
// write. What a statement does on its own is in statement_table_test.cc and
// scenario_file_test.cc (no services); here stays what needs the manager's
// threads, real time, the local database as the scenario's owner, or the
// wire.
#include <gtest/gtest.h>
#include <omniORB4/CORBA.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "broker/zl_sim.h"
#include "client/client_env.h"
#include "common/window_table.h"
#include "localdb/client_interface.h"
#include "scenario/scenario_fixture.h"

namespace zl {
namespace {

using testing::WaitFor;

using ScenarioRunTest = testing::ScenarioTest;

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


// An expression the server cannot evaluate ends the run: the user exception
// crosses the wire with the server's reason, the abort line says where and
// why, and the client stays usable. (The report's every form is in
// scenario_file_test.cc.)
TEST_F(ScenarioRunTest, AbortOverTheWireLeavesTheClientUsable) {
  ASSERT_EQ(1, client_->SetPVE("FIC101", 0));
  const std::string path = Run("abort.scn", "SETPVE FIC101 (NoSuch*2)\n");
  const std::vector<std::string> lines = Masked(TestLogOf(path));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ("T\t# Aborted at line 1 of " + path +
                ", \"SETPVE FIC101 (NoSuch*2)\": user exception, ID "
                "'IDL:ZEMR/ZLBadExpression:1.0': unknown tag 'NOSUCH' at column 2 (error 2)",
            lines[lines.size() - 3]);
  EXPECT_EQ("T\t__Unknown exception aborted scenario.", lines[lines.size() - 2]);
  EXPECT_EQ("", lines.back());
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


// User questions through the local database: without a client interface
// it answers for it; a client interface answers through AnswerQuestion,
// which the manager hands to the asking scenario. (Every form of the
// statement is in statement_table_test.cc.)
TEST_F(ScenarioRunTest, AnswerAsksTheHostAndReports) {
  struct Case {
    int line;
    std::string script;
    const char* host_answer;  // null: no client interface
    std::vector<std::string> body;
  };
  const std::vector<Case> cases = {
      {__LINE__, "ANSWER 1 \"is it ok\"\n", nullptr,
       {"T\t**User Question 'IS IT OK' FAILED. Answer from none is 'No questions handled by "
        "client'"}},
      {__LINE__, "ANSWER 1 \"is it ok\"\n", "yes",
       {"T\t  User Question 'IS IT OK' passed. Answer from HOST is 'yes'"}},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    std::unique_ptr<AnsweringHost> host;
    if (k.host_answer != nullptr) {
      host = std::make_unique<AnsweringHost>(*client_, k.host_answer);
      testing::LocalDb(*client_).SetClientInterface(host.get(), false);
    }
    const std::string path = Run("q" + std::to_string(++n) + ".scn", k.script);
    testing::LocalDb(*client_).SetClientInterface(nullptr, false);
    if (host != nullptr) {
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


// TOOLBOOK and TB_POST do nothing while the host's Toolbook window lives; once
// it is gone they go to the client interface, through the local database:
// the window the local database names (ToolbookHWND) is the one the scenario
// sees, and without a client interface the local database refuses. (The
// statement with a host of its own is in statement_table_test.cc.)
TEST_F(ScenarioRunTest, ToolbookWindowAliveTakesNoCommands) {
  struct Case {
    int line;
    bool window_alive;              // destroyed after it was named otherwise
    std::vector<std::string> body;  // test log lines before "# AFTER"
  };
  const std::vector<Case> cases = {
      // A live window takes the commands: nothing is refused.
      {__LINE__, true, {}},
      // A handle whose window was destroyed no longer counts.
      {__LINE__, false,
       {"T\t##Client cmd, TOOLBOOK, could not be executed because Client interface not "
        "registered, cmd=TOOLBOOK",
        "T\t##Client cmd, TB_POST, could not be executed because Client interface not "
        "registered, cmd=TB_POST"}},
  };
  const std::string title = "ZL TOOLBOOK " + std::to_string(::getpid());
  auto& db = testing::LocalDb(*client_);
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.line);
    const WindowHandle window = RegisterWindow(title);
    ASSERT_EQ(0, db.SetOption("ToolbookHWND", title.c_str()));
    if (!k.window_alive) DestroyWindow(window);
    const std::string path =
        Run("tb" + std::to_string(++n) + ".scn", "TOOLBOOK go on\nTB_POST\nCOMMENT after\n");
    if (k.window_alive) DestroyWindow(window);
    db.SetOption("ToolbookHWND", "");
    std::vector<std::string> want = {"T\tStarting test '" + path + "' at DATE"};
    want.insert(want.end(), k.body.begin(), k.body.end());
    want.push_back("T\t# AFTER");
    want.push_back("T\tClosing test log after M mins S secs at DATE");
    want.push_back("#$CHECK:SUM");
    EXPECT_EQ(want, Masked(TestLogOf(path)));
  }
}

}  // namespace
}  // namespace zl
