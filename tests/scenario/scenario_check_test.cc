// The static check on small scenario files: each row a scenario (and the
// files beside it), the arguments and tags the check is given, and the
// findings it must give, in order.
#include "scenario/scenario_check.h"

#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/file_checksum.h"

namespace zl {
namespace {

namespace fs = std::filesystem;

// The findings as "FILE:LINE:COLUMN code message", the file left out for
// the scenario itself ("s.scn"), "warning" before the code of a warning.
std::vector<std::string> Render(const std::vector<Diagnostic>& found) {
  std::vector<std::string> out;
  for (const Diagnostic& d : found) {
    out.push_back((d.file == "s.scn" ? "" : d.file + ":") + std::to_string(d.line) + ":" +
                  std::to_string(d.column) + " " +
                  (d.severity == Severity::kWarning ? "warning " : "") + d.code + " " + d.message);
  }
  return out;
}

// The checksum a "#$CHECK:" line of `text` must carry.
std::string ChecksumOf(const std::string& text) {
  std::FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  const std::string sum = FileChecksum(f, 0);
  std::fclose(f);
  return sum;
}

class ScenarioCheckTest : public ::testing::Test {
 public:
  // Checks "s.scn" holding `text`, beside `siblings`.
  std::vector<std::string> Check(const std::string& text,
                                 const std::map<std::string, std::string>& siblings,
                                 const CheckOptions& options) {
    for (const auto& entry : fs::directory_iterator(dir_)) fs::remove_all(entry.path());
    for (const auto& [name, body] : siblings) std::ofstream(name, std::ios::binary) << body;
    std::ofstream("s.scn", std::ios::binary) << text;
    return Render(CheckScenario("s.scn", options));
  }

 protected:
  void SetUp() override {
    home_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("zl_check_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(home_);
    fs::remove_all(dir_);
  }

  fs::path home_, dir_;
};

using Files = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;
constexpr const char* kNoArguments = "\x01";  // the row gives no arguments at all

struct Case {
  int line;
  std::string text;
  const char* arguments;  // the options text of a run; kNoArguments: not known
  Files siblings;
  Lines want;
};

void RunCases(ScenarioCheckTest& test, const std::vector<Case>& cases,
              const std::optional<TagSet>& tags = std::nullopt) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CheckOptions options;
    if (std::string(c.arguments) != kNoArguments) {
      options.arguments = ArgumentsOfOptions(c.arguments);
    }
    options.tags = tags;
    EXPECT_EQ(c.want, test.Check(c.text, c.siblings, options));
  }
}

// The errors a run reports, found where the run finds them and worded alike.
TEST_F(ScenarioCheckTest, StatementErrorsOfTheRun) {
  RunCases(*this, {
      {__LINE__, "SETPV T1 5\nVERIFY T1 (T1+1)\n", "", {}, {}},
      {__LINE__, "FOO 1\n  #X\n", "", {},
       {"1:1 unknown-keyword Unknown scenario keyword, 'FOO'",
        // a "#" after blanks is no comment: its word is the keyword
        "2:3 unknown-keyword Unknown scenario keyword, '#X'"}},
      // a missing operand points at the statement, with its own text
      {__LINE__, "  SETPV T1\nTOGGLE\nVERIFY_GT\nDELAYSECS\n", "", {},
       {"1:3 missing-operand Value not found for SETPV T1",
        "2:1 missing-operand TOGGLE keyword with no tag",
        "3:1 missing-operand Tag list not found for VERIFY VERIFY_GT",
        "4:1 missing-operand DELAY not executed"}},
      // silent statements write no error without their operand: the check
      // warns that they do nothing
      {__LINE__, "CLOSE\nGOTO\nCOMMENT\nREL_TOL\nSYSTEM\n", "", {},
       {"1:1 warning no-effect CLOSE without its tag does nothing",
        "2:1 warning no-effect GOTO without its label does nothing",
        "3:1 warning no-effect COMMENT without its text does nothing",
        "4:1 warning no-effect REL_TOL without its tolerance does nothing",
        "5:1 warning no-effect SYSTEM without its command does nothing"}},
      // numbers: the text as the line gives it, upper-cased
      {__LINE__, "SETPV T1 (5\nEDGE D1 on\nSIMWAIT 1.5:30\nANSWER 2x \"Q?\"\n", "", {},
       {"1:10 bad-number Could not parse value '(5' for SETPV",
        "2:9 bad-number Could not parse value 'ON' for EDGE",
        "3:9 bad-number Could not parse duration '1.5:30' for SIMWAIT",
        "4:8 bad-number Could not parse timeout for ANSWER"}},
      // a group's value is the server's: an operand that reads with some
      // value is fine, one that reads with none is not
      {__LINE__, "SETPV T1 -(T1)\nSETPV T1 (T1)X\nSIMWAIT (1):30\n", "", {},
       {"2:10 bad-number Could not parse value '(T1)X' for SETPV",
        "3:9 bad-number Could not parse duration '(1):30' for SIMWAIT"}},
      // a window: only when both ends are numbers as written
      {__LINE__, "TVERIFY T1 1 5 2\nTVERIFY T1 1 (T1) 2\nTASSERT T1 1 1e300 5\n", "", {},
       {"1:16 window-order Window end '2' is before its start '5' for TVERIFY",
        "3:20 window-order Window end '5' is before its start '1E300' for TASSERT"}},
      // any byte is the file's own, none stands for an argument
      {__LINE__, "A\xff$1 1\n", kNoArguments, {}, {}},
      {__LINE__, "A\xff 1\n", "", {}, {"1:1 unknown-keyword Unknown scenario keyword, 'A\xff'"}},
      // a line that ends in CR LF: the CR belongs to the last word, as in a run
      {__LINE__, "SETPV T1 5\r\n", "", {},
       {"1:10 bad-number Could not parse value '5\r' for SETPV",
        "1:10 warning carriage-return the line ends with a carriage return (a CR LF line end), "
        "which the run reads as part of its last word '5'"}},
      // a piece of a long line is a line of the run's: found at its column
      {__LINE__, "COMMENT " + std::string(2039, 'x') + "FOO\n", "", {},
       {"1:2048 unknown-keyword Unknown scenario keyword, 'FOO'"}},
  });
}

// Labels, reachable lines, subtests and checksums.
TEST_F(ScenarioCheckTest, FilesLabelsAndSubtests) {
  const std::string signed_text = "SAFETY VALID\nCOMMENT x\n";
  RunCases(*this, {
      {__LINE__, "GOTO :nope\n:END\nGOTO :end\n", "", {},
       {"1:6 missing-label Label ':NOPE' not found for GOTO"}},
      // what follows a jump that always jumps never runs, up to a label
      {__LINE__, "GOTO :END\nFOO\n# note\n\n:END\nBAR\n", "", {},
       {"2:1 warning unreachable This line can never run: no line before it leads here, and no "
        "GOTO",
        "6:1 unknown-keyword Unknown scenario keyword, 'BAR'"}},
      // a label defined twice is found at its last line; a loop that always
      // jumps back never ends
      {__LINE__, "GOTO :END\n:END\nFOO\n:END\n:L\nDELAY 0\nGOTO :L\n  BAR\n", "", {},
       {"3:1 warning unreachable This line can never run: no line before it leads here, and no "
        "GOTO",
        "8:3 warning unreachable This line can never run: no line before it leads here, and no "
        "GOTO"}},
      // a jump on a condition may fall through; one to a missing label too
      {__LINE__, "GOTO :END (T1 > 0)\nFOO\n:END\nGOTO :GONE\nBAR\n", "", {},
       {"2:1 unknown-keyword Unknown scenario keyword, 'FOO'",
        "4:6 missing-label Label ':GONE' not found for GOTO",
        "5:1 unknown-keyword Unknown scenario keyword, 'BAR'"}},
      {__LINE__, "@sub.scn\n@NONE.SCN\n", "", {{"sub.scn", "FOO\n"}},
       {"sub.scn:1:1 unknown-keyword Unknown scenario keyword, 'FOO'",
        "2:1 missing-subtest Subtest 'NONE.SCN' not started"}},
      // a subtest's arguments are its "@" line's; a call without any keeps
      // those of the last call at its depth
      {__LINE__, "@SUB.SCN 5\n@SUB.SCN\n@SUB.SCN\n", "",
       {{"sub.scn", "SETPV T1 $1\nSETPV T1 $2\n"}},
       {"sub.scn:2:10 missing-argument Argument $2 is not given: 1 argument is, and the line gets "
        "nothing in its place",
        "sub.scn:2:1 missing-operand Value not found for SETPV T1"}},
      {__LINE__, "@S.SCN\n", "", {},
       {"1:1 subtest-cycle Subtest 'S.SCN' calls itself through its own calls: a run opens it "
        "again and again until the nest level is too deep"}},
      {__LINE__, "@B.SCN\n", "", {{"b.scn", "@S.SCN\n"}},
       {"b.scn:1:1 subtest-cycle Subtest 'S.SCN' calls itself through its own calls: a run opens "
        "it again and again until the nest level is too deep"}},
      // SAFETY VALID: each file's stored checksum when it ends
      {__LINE__, "SAFETY VALID\n@SUB.SCN\n", "", {{"sub.scn", "COMMENT x\n"}},
       {"sub.scn:1:1 no-checksum No stored checksum for scenario: SUB.SCN",
        "1:1 no-checksum No stored checksum for scenario: s.scn"}},
      // a loop runs its subtest again after its SAFETY
      {__LINE__, ":L\n@SUB.SCN\nSAFETY VALID\nGOTO :L (T1 > 0)\n", "", {{"sub.scn", "COMMENT x\n"}},
       {"sub.scn:1:1 no-checksum No stored checksum for scenario: SUB.SCN",
        "1:1 no-checksum No stored checksum for scenario: s.scn"}},
      {__LINE__, "SAFETY\n#$CHECK:00\n", "", {},
       {"2:1 bad-checksum Stored checksum, 00, is invalid for scenario: s.scn"}},
      {__LINE__, signed_text + "#$CHECK:" + ChecksumOf(signed_text) + "\n", "", {}, {}},
      // without SAFETY a stale signature is only a warning
      {__LINE__, "#$CHECK:00\nCOMMENT x\n", "", {},
       {"1:1 warning stale-checksum The stored checksum does not match the file any more: its "
        "checksum is " + ChecksumOf("COMMENT x\n")}},
  });
}

// Arguments given, and not known.
TEST_F(ScenarioCheckTest, Arguments) {
  RunCases(*this, {
      // the column is the file's, whatever the argument put in before
      {__LINE__, "SETPV $1 (5\n", "LONGARGUMENT", {},
       {"1:10 bad-number Could not parse value '(5' for SETPV"}},
      {__LINE__, "SETPV $1 $2\n", "a --skip -skipuserq", {},
       {"1:10 missing-argument Argument $2 is not given: 1 argument is, and the line gets "
        "nothing in its place",
        "1:1 missing-operand Value not found for SETPV A"}},
      // "\$" is a dollar sign, no argument; an argument may make a comment
      {__LINE__, "COMMENT \\$3\n$1 X\n", "#", {}, {}},
      // arguments not known: nothing that holds one is read
      {__LINE__, "SETPV $1 $2\n$1 X\n@$1\nSETPV T1 ($2\n", kNoArguments, {}, {}},
      {__LINE__, "@SUB.SCN $1\n", kNoArguments, {{"sub.scn", "SETPV T1 $1\nSETPV T1 $2\n"}},
       {"sub.scn:2:10 missing-argument Argument $2 is not given: 1 argument is, and the line gets "
        "nothing in its place",
        "sub.scn:2:1 missing-operand Value not found for SETPV T1"}},
  });
}

// With the tags known: tag operands, tag lists (as the run reads them) and
// the tags inside expressions, where the run would end.
TEST_F(ScenarioCheckTest, TagsWhenTheTagsAreKnown) {
  const TagSet tags({"T1", "t2", "D1"});
  RunCases(*this, {
      {__LINE__, "SETPV t1 1\nSETPV T3 1\nPT_ENABLE X\n", "", {},
       {"2:7 unknown-tag Tag <T3> not found", "3:11 unknown-tag Tag <X> not found"}},
      // a list ends at its first empty item; field suffixes name known tags
      {__LINE__, "VERIFY T1,X,,Y 1\nVERIFY T1.PVRAW,T1.BOGUS 1\n", "", {},
       {"1:14 warning tag-list-gap the tag list ends at its first empty item: 'Y' is ignored",
        "1:11 unknown-tag Tag <X> not found", "2:17 unknown-tag Tag <T1.BOGUS> not found"}},
      // an expression is evaluated first: the run ends there
      {__LINE__, "VERIFY X (NOPE+1)\nCOMMENT (T1) and (Q)\nDELAY 5 (T2 > Z AND NOT D1)\n", "", {},
       {"1:11 unknown-tag Tag <NOPE> not found: the server refuses the expression and the run "
        "ends here",
        "2:19 unknown-tag Tag <Q> not found: the server refuses the expression and the run ends "
        "here",
        "3:15 unknown-tag Tag <Z> not found: the server refuses the expression and the run ends "
        "here"}},
      // the CR of a CR LF line end is no part of a tag's name: the server
      // trims it
      {__LINE__, "SETMAN T1\r\nPT_ENABLE T2\r\n", "", {}, {}},
      // functions, numbers and the server's own names are no tags
      {__LINE__, "VERIFY T1 MAX(T1, 2E-3, $SIMTIME)\nGOTO :L (ABS (T2) > 1.5E2)\n:L\n", "", {}, {}},
      {__LINE__, "GOTO :X ((T1)\n:X\nDELAY 1 T1 > 0)\n", "", {},
       {"1:9 bad-expression Parentheses do not pair in the condition '((T1)': the server refuses "
        "it and the run ends here",
        "3:9 bad-expression Parentheses do not pair in the condition 'T1 > 0)': the server "
        "refuses it and the run ends here"}},
  }, tags);
}

// Lines that run but do not do what they seem to say: each warning at the
// word concerned, saying what the run does instead, one rule per property
// of the operand shapes.
TEST_F(ScenarioCheckTest, WarningsOfLinesThatRunOtherwise) {
  const std::string list79 = "T1," + std::string(73, 'A') + ",T2";  // 79 characters
  RunCases(*this, {
      // a blank after the list's comma ends the list: the second tag is the
      // value, and the value is ignored
      {__LINE__, "VERIFY FEED_PUMP_CMD, INLET_VALVE_CMD 0\n", "", {},
       {"1:23 warning tag-list-comma the tag list ends with a comma; the next word is read as "
        "the value: 'INLET_VALVE_CMD', and '0' is ignored"}},
      // ... also when nothing follows; a comma before a number alone is harmless
      {__LINE__, "VERIFY D1, T1\nVERIFY D1, 1\nVERIFY D1,T1, 1\n", "", {},
       {"1:12 warning tag-list-comma the tag list ends with a comma; the next word is read as "
        "the value: 'T1'"}},
      // a blank before a comma ends the list too
      {__LINE__, "VERIFY D1 ,T1 1\n", "", {},
       {"1:11 warning tag-list-comma a blank before the comma ends the tag list; ',T1' is read "
        "as the value, and '1' is ignored"}},
      // where the misread value does not read as a number, the warning says why
      {__LINE__, "TVERIFY D1, T1 1 0 5\n", "", {},
       {"1:13 bad-number Could not parse value 'T1' for TVERIFY",
        "1:13 warning tag-list-comma the tag list ends with a comma; the next word is read as "
        "the value: 'T1'"}},
      // an empty item ends the list; a leading one leaves no tag at all
      {__LINE__, "VERIFY T1,,D1,M1 1\nMONITOR ,T1 1\n", "", {},
       {"1:12 warning tag-list-gap the tag list ends at its first empty item: 'D1,M1' is "
        "ignored",
        "2:10 warning tag-list-gap the tag list ends at its first empty item: 'T1' is ignored"}},
      // a tag list of 79 characters is read whole, one of 80 is cut
      {__LINE__, "VERIFY " + list79 + " 1\nVERIFY " + list79 + "0 1\n", "", {},
       {"2:8 warning cut-operand the tag list is longer than 79 characters: the run reads only "
        "the first 79, and '0' is cut off"}},
      // what follows the last operand is ignored, with a hint where it may
      // have been meant otherwise
      {__LINE__, "VERIFY TEMP_SP 61 1.5\n", "", {},
       {"1:19 warning extra-operand extra operand ignored: '1.5' (tolerances are set with "
        "ABS_TOL / REL_TOL)"}},
      {__LINE__, "SETPVE TEMP_SP 60 70\nVERIFY TEMP_SP 60 garbage\n", "", {},
       {"1:19 warning extra-operand extra operand ignored: '70'",
        "2:19 warning extra-operand extra operand ignored: 'GARBAGE'"}},
      {__LINE__, "VERIFY T1 T2 + 1\nSETPVE T1 5 (T2 > 1)\nANSWER 5 Is it on?\nMON_CLEAR ALL\n",
       "", {},
       {"1:14 warning extra-operand extra operands ignored: '+ 1' (an expression with blanks "
        "goes in parentheses)",
        "2:13 warning extra-operand extra operand ignored: '(T2 > 1)' (SETPVE takes no "
        "condition)",
        "3:13 warning extra-operand extra operands ignored: 'IT ON?' (a question with blanks "
        "goes in double quotes)",
        "4:11 warning extra-operand extra operand ignored: 'ALL'"}},
      // statements that read their line to its end ignore nothing; blanks
      // and a CR at the end are nothing
      {__LINE__,
       "COMMENT a b\nSAFETY VERSION VERSIONS\nGOTO :L (T1 > 0)\n:L\nVERIFY T1 (T2 + 1)\n"
       "SETPVE T1 5 \r\nAUTODELETE\n",
       "", {}, {}},
      // a condition needs no parentheses: the rest of the line is one
      {__LINE__, "DELAYSECS 1 TANK_LEVEL > 100\n", "", {}, {}},
      // a group right after a number's digit is part of the number
      {__LINE__, "DELAYSECS 10(T1 > 4)\nSETPV T1 1(T2)\nSETPV T1 -(T2)\nSIMWAIT 1:30(T1)\n",
       "", {},
       {"1:13 warning glued-group the group '(T1 > 4)' right after '10' is part of the number: "
        "its value's digits follow them (a value of 1 makes 101); a condition goes after a "
        "blank",
        "2:11 warning glued-group the group '(T2)' right after '1' is part of the number: its "
        "value's digits follow them (a value of 1 makes 11)",
        "4:13 warning glued-group the group '(T1)' right after '1:30' is part of the number: "
        "its value's digits follow them; a condition goes after a blank"}},
      // DELAY and DELAYSECS wait whole units; BDELAY keeps milliseconds
      {__LINE__, "DELAYSECS 1.5\nDELAY 0.5\nDELAY 1E3\nDELAY (T1/3)\nBDELAY 1.5\n", "", {},
       {"1:11 warning fraction-cut only the whole part of '1.5' counts: the run takes 1",
        "2:7 warning fraction-cut only the whole part of '0.5' counts: the run takes 0"}},
      // REL_TOL ignores a tolerance below 1E-14; ABS_TOL takes any
      {__LINE__, "REL_TOL 0\nREL_TOL -1\nREL_TOL 1E-6\nABS_TOL 0\n", "", {},
       {"1:9 warning ignored-value '0' is ignored: a tolerance below 1E-14 leaves the one in "
        "force",
        "2:9 warning ignored-value '-1' is ignored: a tolerance below 1E-14 leaves the one in "
        "force"}},
      // a flag word that is neither yes nor no
      {__LINE__, "AUTODELETE ON\nAUTODELETE yes\nAUTODELETE NO\nAUTODELETE 0\n", "", {},
       {"1:12 warning flag-word 'ON' is read as no: only a word beginning with 1, T or Y is "
        "yes"}},
      // a SAFETY word is read by its first letters; one of no check
      {__LINE__, "SAFETY VAILD VERSIONS ALLX VALIDATE\n", "", {},
       {"1:8 warning safety-word 'VAILD' names no check: it turns on the version report only "
        "(the words are VERSION, VALID and ALL)",
        "1:1 no-checksum No stored checksum for scenario: s.scn"}},
      // what an argument not known puts in is not judged; a known one is
      {__LINE__, "SETPVE T1 5 $1\nVERIFY $1 $2 $3\nAUTODELETE $1\n", kNoArguments, {}, {}},
      {__LINE__, "SETPVE T1 5 $1\n", "X", {},
       {"1:13 warning extra-operand extra operand ignored: 'X'"}},
      // the CR of a CR LF line end in a number; not in a tag (the server
      // trims it), a label (its label line holds one too), an expression,
      // what a statement reads to the line's end, nor after a blank
      {__LINE__,
       "SETMAN T1\r\nGOTO :L\r\n:L\r\nTVERIFY T1 1 0 5\r\nCOMMENT X\r\nSAFETY VERSION\r\n"
       "SETPVE T1 5 \r\nVERIFY T1 50\r\n",
       "", {},
       {"4:16 bad-number Could not parse end '5\r' for TVERIFY",
        "4:16 warning carriage-return the line ends with a carriage return (a CR LF line end), "
        "which the run reads as part of its last word '5'"}},
      // in a subtest, and once for the lines of a loop
      {__LINE__, "@SUB.SCN\n:L\nCLOSE\nGOTO :L (T1 > 0)\n", "", {{"sub.scn", "MON_CLEAR 1\n"}},
       {"sub.scn:1:11 warning extra-operand extra operand ignored: '1'",
        "3:1 warning no-effect CLOSE without its tag does nothing"}},
  });
}

// Every code of the check is in the authors' table of diagnostics, with an
// example.
TEST(ScenarioCheckCodesTest, EveryCodeIsDocumentedWithAnExample) {
  auto read = [](const char* relative) {
    std::ifstream in(fs::path(ZL_SOURCE_DIR) / relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  };
  const std::string header = read("src/scenario/scenario_check.h");
  const std::string docs = read("docs/authoring.md");
  ASSERT_FALSE(header.empty() || docs.empty());
  const std::regex code("inline constexpr char k\\w+\\[\\] =\\s*\"([a-z-]+)\"");
  int codes = 0;
  for (std::sregex_iterator it(header.begin(), header.end(), code), end; it != end; ++it) {
    const std::string name = (*it)[1];
    SCOPED_TRACE(name);
    ++codes;
    // a row "| `code` | severity | `example` ... | ... |"
    EXPECT_TRUE(std::regex_search(
        docs, std::regex("\\n\\| `" + name + "` \\| (error|warning) \\| `[^`\\n]+`[^|\\n]* \\|")));
  }
  EXPECT_GT(codes, 20);
}

// A ZLCMD line as the log set command language would take it.
TEST_F(ScenarioCheckTest, LogSetCommands) {
  RunCases(*this, {
      {__LINE__, "ZLCMD LSCREATE L\nZLCMD LSSET L.FREQ 5\nZLCMD LSLISTING\nZLCMD\n", "", {},
       {"4:1 warning no-effect ZLCMD without its command does nothing"}},
      {__LINE__, "ZLCMD LSFOO\nZLCMD LSSET\nZLCMD LSSET L\nZLCMD LSSET L FORMAT XYZ\n"
                 "ZLCMD LSSET L LASTWRITE 1\n",
       "", {},
       {"1:7 logset-command 'LSFOO' is no log set command",
        "2:7 logset-command LSSET without a log set name",
        "3:7 logset-command LSSET without an option",
        "4:7 logset-command LSSET FORMAT: the value 'XYZ' is refused",
        "5:7 logset-command LSSET: 'LASTWRITE' is no option that can be set"}},
  });
}

TEST_F(ScenarioCheckTest, AFileThatCannotBeRead) {
  const std::vector<Diagnostic> found = CheckScenario("none.scn", CheckOptions());
  EXPECT_EQ(Lines({"none.scn:1:1 unreadable Could not open none.scn"}), Render(found));
}

// An editor's unsaved text is what the check reads, for the file and its
// subtests alike.
TEST_F(ScenarioCheckTest, FilesFromTheCaller) {
  CheckOptions options;
  options.read_file = [](const std::string& path, std::string* text) {
    if (path == "s.scn") {
      *text = "@SUB.SCN\nFOO\n";
    } else if (path.size() >= 7 && strcasecmp(path.c_str() + path.size() - 7, "sub.scn") == 0) {
      *text = "";
    } else {
      return false;
    }
    return true;
  };
  std::ofstream("sub.scn") << "BAR\n";  // on disk, the subtest another's text
  EXPECT_EQ(Lines({"2:1 unknown-keyword Unknown scenario keyword, 'FOO'"}),
            Render(CheckScenario("s.scn", options)));
}

}  // namespace
}  // namespace zl
