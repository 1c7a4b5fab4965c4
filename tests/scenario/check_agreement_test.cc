// The static check against the run: every scenario of the examples, of the
// scenario fuzz corpus and of the scenario tests' own tables (their string
// literals that read as scenarios) runs on zelvik-sim's database served
// in-process with a virtual clock, and is checked with the same arguments
// and that server's tags. The two must agree as tests/support/check_agreement.h
// says: every statement error of the run is the check's, word for word and
// line for line, and every error of the check on a line the run reached is
// the run's.
#include <ace/Thread_Manager.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scenario/keyword_table.h"
#include "scenario/scenario.h"
#include "scenario/scenario_check.h"
#include "support/check_agreement.h"
#include "support/in_process_server.h"

// SYSTEM lines of the corpus never reach a shell: this program's system()
// answers by the command's first character, as the fuzz target's does.
extern "C" int system(const char* command) {
  if (command == nullptr) return 1;
  return command[0] == 'E' ? 3 << 8 : 0;
}

namespace zl {
namespace {

namespace fs = std::filesystem;

constexpr double kVirtualBudget = 3600;  // seconds of virtual waiting per run
constexpr auto kRealBudget = std::chrono::milliseconds(500);

// One scenario to run and check: "s.scn" with `text`, started with the
// options text `options`, beside the files `siblings` (name, text).
struct Source {
  std::string origin;  // where it comes from, for the failure message
  std::string text;
  std::string options;
  std::map<std::string, std::string> siblings;
};

struct Worker {
  CZLScenario* scenario = nullptr;
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;  // guarded by mu
};

void* RunWorker(void* arg) {
  Worker* w = static_cast<Worker*>(arg);
  try {
    w->scenario->RunScenario();
  } catch (...) {
    w->scenario->ReportUnknownException();
  }
  w->scenario->CloseTestLogFile();
  {
    std::lock_guard<std::mutex> lock(w->mu);
    w->done = true;
  }
  w->cv.notify_one();
  return nullptr;
}

// Runs "s.scn" of the current directory with `options` on a worker, stopped
// after the budgets.
void RunScenarioFile(const std::string& options) {
  testing::InProcessServer::Instance().Reset();
  testing::PlantClock clock(kVirtualBudget);
  CZLScenario scenario(testing::InProcessServer::Instance().database(), &clock);
  scenario.ScanSkipOption(options.c_str());
  scenario.SetArguments(options.c_str(), 0);
  ASSERT_EQ(0, scenario.OpenScenario("s.scn"));
  scenario.ResetCounters();
  Worker w;
  w.scenario = &scenario;
  ACE_thread_t tid{};
  ASSERT_NE(-1, ACE_Thread_Manager::instance()->spawn(RunWorker, &w, THR_NEW_LWP | THR_JOINABLE,
                                                      &tid));
  scenario.set_thread_id(tid);
  {
    std::unique_lock<std::mutex> lock(w.mu);
    if (!w.cv.wait_for(lock, kRealBudget, [&] { return w.done; })) {
      ACE_Thread_Manager::instance()->cancel(tid);
    }
  }
  ACE_Thread_Manager::instance()->join(tid);
}

// The string literals of C++ source `source`, adjacent ones joined, their
// escapes read.
std::vector<std::string> StringLiterals(const std::string& source) {
  std::vector<std::string> out;
  std::string current;
  bool open = false;  // `current` holds literals that may go on
  std::size_t i = 0;
  while (i < source.size()) {
    const char c = source[i];
    if (c == '/' && i + 1 < source.size() && source[i + 1] == '/') {
      i = source.find('\n', i);
      if (i == std::string::npos) break;
    } else if (c == '\'') {
      i = source.find('\'', i + (source[i + 1] == '\\' ? 3 : 2)) + 1;
    } else if (c == '"') {
      for (++i; i < source.size() && source[i] != '"'; ++i) {
        if (source[i] != '\\') {
          current += source[i];
          continue;
        }
        const char e = source[++i];
        switch (e) {
          case 'n': current += '\n'; break;
          case 't': current += '\t'; break;
          case 'r': current += '\r'; break;
          case '0': current += '\0'; break;
          case 'x': {
            std::size_t used = 0;
            current += static_cast<char>(std::stoi(source.substr(i + 1, 2), &used, 16));
            i += used;
            break;
          }
          default: current += e; break;
        }
      }
      ++i;
      open = true;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else {
      if (open) out.push_back(current);
      current.clear();
      open = false;
      ++i;
    }
  }
  return out;
}

// True when `text` reads as a scenario: its first line that is not blank
// begins with a keyword of the table or a subtest call, and no line is a
// test log line.
bool LooksLikeScenario(const std::string& text) {
  std::istringstream in(text);
  std::string line, first;
  while (std::getline(in, line)) {
    if (line.find('\t') == 2 || line.rfind("00:", 0) == 0) return false;
    if (first.empty() && line.find_first_not_of(" \t") != std::string::npos) first = line;
  }
  if (first.empty()) return false;
  std::string word = first.substr(0, first.find_first_of(" \t"));
  for (char& ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return word[0] == '@' || FindKeyword(word.c_str()) != nullptr;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The scenarios of the corpus.
std::vector<Source> Corpus() {
  const fs::path root = ZL_SOURCE_DIR;
  std::vector<Source> corpus;
  // The examples, each beside its directory's other files (its subtests).
  for (const fs::path& dir : {root / "examples", root / "examples" / "campaign"}) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() == ".scn") {
        files[entry.path().filename().string()] = ReadAll(entry.path());
      }
    }
    for (const auto& [name, text] : files) {
      corpus.push_back(Source{(dir / name).string(), text, "2.5", files});
    }
  }
  // The fuzz corpus: the options line first, and the fuzz target's subtest.
  for (const auto& entry : fs::directory_iterator(root / "fuzz" / "corpus" / "scenario")) {
    const std::string input = ReadAll(entry.path());
    const std::size_t nl = input.find('\n');
    corpus.push_back(Source{entry.path().string(),
                            nl == std::string::npos ? "" : input.substr(nl + 1),
                            input.substr(0, nl),
                            {{"sub.scn", "SETPV T1 (T1+1)\nVERIFY T1 $1\n"}}});
  }
  // The scenario tests' literals that read as scenarios, each once.
  std::set<std::string> seen;
  for (const auto& entry : fs::directory_iterator(root / "tests" / "scenario")) {
    if (entry.path().extension() != ".cc") continue;
    for (const std::string& text : StringLiterals(ReadAll(entry.path()))) {
      if (LooksLikeScenario(text) && seen.insert(text).second) {
        corpus.push_back(Source{entry.path().string(), text, "", {}});
      }
    }
  }
  return corpus;
}

class CheckAgreementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("zl_agree_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
    tags_ = testing::ServerTags();
  }
  void TearDown() override {
    fs::current_path(home_);
    fs::remove_all(dir_);
  }

  // Runs and checks `source`; the disagreements, and the codes of the
  // check's findings in `codes`.
  std::vector<std::string> Agreement(const Source& source, std::set<std::string>* codes) {
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
    for (const auto& [name, text] : source.siblings) std::ofstream(name, std::ios::binary) << text;
    std::ofstream("s.scn", std::ios::binary) << source.text;
    CheckOptions options;
    options.arguments = ArgumentsOfOptions(source.options.c_str());
    options.tags = tags_;
    std::vector<CheckedLine> walked;
    const std::vector<Diagnostic> check = CheckScenario("s.scn", options, &walked);
    for (const Diagnostic& d : check) codes->insert(d.code);
    RunScenarioFile(source.options);
    return testing::CompareRunWithCheck(sink_.Take(), check, walked);
  }

  fs::path home_, dir_;
  TagSet tags_;
  testing::RunLineSink sink_;
};

TEST_F(CheckAgreementTest, EveryScenarioOfTheExamplesFuzzCorpusAndTests) {
  const std::vector<Source> corpus = Corpus();
  std::set<std::string> codes;
  for (const Source& source : corpus) {
    SCOPED_TRACE(source.origin + ":\n" + source.text);
    const std::vector<std::string> problems = Agreement(source, &codes);
    for (const std::string& p : problems) ADD_FAILURE() << p;
  }
  // The corpus reaches every error the check shares with the run (checksums
  // aside: SAFETY VALID in a scenario of the corpus shows them).
  for (const char* code :
       {check_code::kUnknownKeyword, check_code::kMissingOperand, check_code::kBadNumber,
        check_code::kWindowOrder, check_code::kMissingLabel, check_code::kMissingSubtest,
        check_code::kNoChecksum, check_code::kUnknownTag}) {
    EXPECT_EQ(1u, codes.count(code)) << code << " never checked against a run";
  }
  EXPECT_GT(corpus.size(), 50u);
}

// Where the two legitimately differ, each difference on a tiny scenario:
// the comparison must accept it, and the check must report what it says.
TEST_F(CheckAgreementTest, DifferencesTheComparisonAccepts) {
  struct Case {
    int line;
    const char* text;
    const char* options;
    const char* check_code;  // a finding the check must have
  };
  const Case kCases[] = {
      // a GOTO that jumps on a condition: the check reports the line it
      // skips over, the run (T1 is 50) never runs it
      {__LINE__, "GOTO :END (T1 > 1)\nBOGUS\n:END\n", "", check_code::kUnknownKeyword},
      // an argument not given: the run puts nothing in its place
      {__LINE__, "COMMENT $2\n", "one", check_code::kMissingArgument},
      // a subtest that calls itself: the run nests until it is too deep
      {__LINE__, "@S.SCN\n", "", check_code::kSubtestCycle},
      // a tag in an expression: the run ends there, and nothing after runs
      {__LINE__, "SETPV T1 (NOPE)\nBOGUS\n", "", check_code::kUnknownTag},
      // PT_ENABLE on a missing tag writes nothing to the test log
      {__LINE__, "PT_ENABLE NOPE\n", "", check_code::kUnknownTag},
      // a log set command the command language would ignore
      {__LINE__, "ZLCMD LSFOO X\n", "", check_code::kLogSetCommand},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    std::set<std::string> codes;
    const std::vector<std::string> problems = Agreement(Source{"", c.text, c.options, {}}, &codes);
    for (const std::string& p : problems) ADD_FAILURE() << p;
    EXPECT_EQ(1u, codes.count(c.check_code));
  }
}

// What a run leaves behind: its test log without the lines that name the
// date (its start and its close), and whether the scenario file is still
// there (AUTODELETE).
std::string RunOutcome() {
  std::ifstream in("s.tlg", std::ios::binary);
  std::string line, out;
  while (std::getline(in, line)) {
    if (line.find("\tStarting test '") != std::string::npos ||
        line.find("\tClosing test log after ") != std::string::npos) {
      continue;
    }
    out += line + "\n";
  }
  return out + (fs::exists("s.scn") ? "(s.scn kept)\n" : "(s.scn deleted)\n");
}

// Each warning says what the run does instead of what the line seems to
// say: the line it warns of runs exactly as the line the warning describes
// (same test log, stamps of the virtual clock included), which draws no
// warning. Errors the two share (a tag that a cut list names) are the run's.
TEST_F(CheckAgreementTest, WarningsSayWhatTheRunDoes) {
  const std::string list = "T1," + std::string(77, 'A');  // 80 characters: the last A cut
  struct Case {
    int line;
    std::string trap;   // a scenario with the warning `code`
    std::string meant;  // the same scenario as the warning says the run reads it
    const char* code;
  };
  const Case kCases[] = {
      // the second tag is the value, the value is dropped: the run checks
      // D1 (1) against T1 (50)
      {__LINE__, "VERIFY D1, T1 1\n", "VERIFY D1 T1\n", check_code::kTagListComma},
      {__LINE__, "VERIFY T1 50 1.5\n", "VERIFY T1 50\n", check_code::kExtraOperand},
      {__LINE__, "SETPVE T1 60 70\nVERIFY T1 60\n", "SETPVE T1 60\nVERIFY T1 60\n",
       check_code::kExtraOperand},
      {__LINE__, "MON_CLEAR ALL\n", "MON_CLEAR\n", check_code::kExtraOperand},
      {__LINE__, "VERIFY T1,,D1 50\n", "VERIFY T1 50\n", check_code::kTagListGap},
      {__LINE__, "VERIFY ,T1 0\nCOMMENT X\n", "COMMENT X\n", check_code::kTagListGap},
      {__LINE__, "VERIFY " + list + " 50\n", "VERIFY " + list.substr(0, 79) + " 50\n",
       check_code::kCutOperand},
      {__LINE__, "CLOSE\nCOMMENT X\n", "COMMENT X\n", check_code::kNoEffect},
      // SIMWAIT writes the number it read
      {__LINE__, "SIMWAIT 1(D1)\n", "SIMWAIT 11.000000\n", check_code::kGluedGroup},
      {__LINE__, "DELAYSECS 1.9\nVERIFY T2 1\n", "DELAYSECS 1\nVERIFY T2 1\n",
       check_code::kFractionCut},
      // the default relative tolerance (1E-6) still holds
      {__LINE__, "REL_TOL 0\nVERIFY T1 50.00001\n", "VERIFY T1 50.00001\n",
       check_code::kIgnoredValue},
      {__LINE__, "AUTODELETE ON\nAUTODELETE\nAUTODELETE ON\n", "AUTODELETE NO\n",
       check_code::kFlagWord},
      {__LINE__, "SAFETY VAILD\n", "SAFETY VERSION\n", check_code::kSafetyWord},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    std::string outcome[2];
    for (int i = 0; i < 2; ++i) {
      const std::string& text = i == 0 ? c.trap : c.meant;
      std::set<std::string> warnings;
      for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
      std::ofstream("s.scn", std::ios::binary) << text;
      CheckOptions options;
      options.arguments = std::vector<std::string>{};
      options.tags = tags_;
      for (const Diagnostic& d : CheckScenario("s.scn", options)) {
        if (d.severity == Severity::kWarning) warnings.insert(d.code);
      }
      EXPECT_EQ(i == 0 ? std::set<std::string>{c.code} : std::set<std::string>{}, warnings)
          << text;
      RunScenarioFile("");
      sink_.Take();
      outcome[i] = RunOutcome();
    }
    EXPECT_EQ(outcome[1], outcome[0]);
  }
}

// The comparison itself catches a check that words an error its own way,
// misses one, or sees one the run does not have.
TEST(CompareRunWithCheckTest, FindsEachKindOfDisagreement) {
  const std::vector<CheckedLine> walked = {{"s.scn", 1, 1, "FOO", false},
                                           {"s.scn", 2, 2, "FOO", false}};
  const Diagnostic keyword{"s.scn", 1, 1, Severity::kError, check_code::kUnknownKeyword,
                           "Unknown scenario keyword, 'FOO'"};
  const testing::RunLine run{ScenarioLineKind::kError, "Unknown scenario keyword, 'FOO'",
                             "s.scn", 1};
  struct Case {
    int line;
    std::vector<testing::RunLine> run;
    std::vector<Diagnostic> check;
    bool agree;
  };
  Diagnostic worded = keyword;
  worded.message = "Unknown keyword FOO";
  Diagnostic elsewhere = keyword;
  elsewhere.line = 2;
  const testing::RunLine stop{ScenarioLineKind::kStopped, "Scenario was aborted by StopScenario()",
                              "s.scn", 1};
  const Case kCases[] = {
      {__LINE__, {run}, {keyword}, true},
      {__LINE__, {run}, {worded}, false},     // another wording
      {__LINE__, {run}, {}, false},           // the check misses the run's error
      {__LINE__, {}, {keyword}, false},       // the check's error, the run has none
      {__LINE__, {run}, {elsewhere}, false},  // on another line
      // after the run stopped at line 1, line 2 need not agree
      {__LINE__, {stop}, {elsewhere}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.agree, testing::CompareRunWithCheck(c.run, c.check, walked).empty());
  }
}

}  // namespace
}  // namespace zl
