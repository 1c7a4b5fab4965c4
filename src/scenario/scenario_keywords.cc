// The keyword table of the statement language (keyword_table.h): every
// statement keyword, its operand shape and its handler, in one place.
// Keywords are matched after the line has been upper-cased; "prefix" rows
// match every keyword that begins with the name. "timed" rows are the words
// that a timed block collects: a line that begins with any other word first
// runs the block collected before it.
#include <cctype>
#include <cstring>
#include <string>

#include "scenario/check_statements.h"
#include "scenario/external_statements.h"
#include "scenario/flow_statements.h"
#include "scenario/keyword_table.h"
#include "scenario/scenario.h"
#include "scenario/tag_statements.h"
#include "scenario/timed_statements.h"

namespace zl {
namespace {

// The operand shapes. A missing operand's text and process log line are the
// statement's own; "%s" is the keyword or the operand before (MissingArg).
using Arg = MissingArg;
using Form = OperandForm;
using Means = OperandMeaning;

// Tag commands.
constexpr OperandSpec kToggleShape[] = {TagOperand(Required("TOGGLE keyword with no tag"))};
constexpr OperandSpec kEdgeShape[] = {
    TagOperand(Required("Incomplete EDGE command", Arg::kNone, "Scenario: EDGE what tag??\n")),
    NumberOperand(
        "value", Form::kNumber,
        Required("Value not found for EDGE %s", Arg::kPrevious, "Scenario: EDGE tag to what??\n")),
};
constexpr OperandSpec kOpenShape[] = {TagOperand(Required("OPEN keyword with no tag"))};
// CLOSE, SETMAN, SETAUTO, FORCE, UNFORCE: nothing happens without a tag.
constexpr OperandSpec kTagShape[] = {TagOperand(Silent())};
constexpr OperandSpec kSetPvShape[] = {
    TagOperand(Required("Incomplete SETPV command", Arg::kNone, "Scenario: SETPV(E) what??\n")),
    NumberOperand("value", Form::kNumber,
                  Required("Value not found for SETPV %s", Arg::kPrevious,
                           "Scenario: SetPV(E) tag to what??\n")),
};
constexpr OperandSpec kSetPveShape[] = {
    TagOperand(Required("Incomplete SETPVE command", Arg::kNone, "Scenario: SETPV(E) what??\n")),
    NumberOperand("value", Form::kNumber,
                  Required("Value not found for SETPVE %s", Arg::kPrevious,
                           "Scenario: SetPV(E) tag to what??\n")),
};
constexpr OperandSpec kSetRawLoShape[] = {
    TagOperand(Required("Incomplete SETRAWLO command", Arg::kNone, "Scenario: SETRAWLOW what??\n")),
    NumberOperand("value", Form::kNumber,
                  Required("Value not found for SETRAWLO %s", Arg::kPrevious,
                           "Scenario: Set RawLow tag to what??\n")),
};
constexpr OperandSpec kSetRawHiShape[] = {
    TagOperand(Required("Incomplete SETRAWHI command", Arg::kNone, "Scenario: SETRAWHI what??\n")),
    NumberOperand("value", Form::kNumber,
                  Required("Value not found for SetRawHi %s", Arg::kPrevious,
                           "Scenario: Set RawHi tag to what??\n")),
};

// Verifications, assertions and monitors; the timed checks.
constexpr OperandSpec kVerifyShape[] = {
    TagListOperand(Required("Tag list not found for VERIFY %s", Arg::kKeyword)),
    NumberOperand("value", Form::kExpression,
                  Required("Value not found for VERIFY %s", Arg::kPrevious)),
};
constexpr OperandSpec kMonitorShape[] = {
    TagListOperand(Required("Tag list not found for MONITOR %s", Arg::kKeyword)),
    NumberOperand("value", Form::kNumber,
                  Required("Value not found for MONITOR %s", Arg::kPrevious), kOwnValue),
};
constexpr OperandSpec kTimedCheckShape[] = {
    TagListOperand(Required("Tag list not found for VERIFY %s", Arg::kKeyword)),
    NumberOperand("value", Form::kNumber,
                  Required("Value not found for VERIFY %s", Arg::kPrevious)),
    NumberOperand("start", Form::kNumber, Optional()),
    NumberOperand("end", Form::kNumber, Optional(), kWindowEnd),
};
constexpr OperandSpec kBlockDelayShape[] = {
    NumberOperand("delay", Form::kNumber, Required("BDELAY not executed")),
};

// Flow and timing.
constexpr OperandSpec kDelayShape[] = {
    NumberOperand("delay", Form::kNumber, Required("DELAY not executed"), kWhole),
    RestOperand("condition", Means::kCondition, Optional()),
};
constexpr OperandSpec kSimWaitShape[] = {
    NumberOperand("duration", Form::kDuration, Required("SIMWAIT not executed")),
    RestOperand("condition", Means::kCondition, Optional()),
};
constexpr OperandSpec kGotoShape[] = {
    WordOperand("label", Means::kLabel, Silent()),
    RestOperand("condition", Means::kCondition, Optional()),
};
constexpr OperandSpec kCommentShape[] = {RestOperand("text", Means::kText, Silent())};
constexpr OperandSpec kAutoDeleteShape[] = {WordOperand("flag", Means::kFlag, Optional())};
constexpr OperandSpec kUseLogShape[] = {WordOperand("log set", Means::kName, Silent())};
constexpr OperandSpec kAbsTolShape[] = {PlainNumberOperand("tolerance", Silent())};
constexpr OperandSpec kRelTolShape[] = {
    {"tolerance", OperandSpan::kWord, Means::kNumber, Form::kPlainNumber, Silent(), kAboveTiny,
     nullptr},
};
constexpr OperandSpec kSafetyShape[] = {
    WordOperand("check", Means::kSafetyWord, Optional(), kRepeats),
};

// Reaching outside.
constexpr OperandSpec kZlCmdShape[] = {
    RawRestOperand("command", Means::kLogSetCommand, Silent()),
};
constexpr OperandSpec kHostCommandShape[] = {RestOperand("command", Means::kCommand, Optional())};
constexpr OperandSpec kPtEnableShape[] = {
    TagWordOperand(Required("PT_ENABLE not executed (missing tagname)", Arg::kNone,
                            "Scenario: PT_ENABLE tag??\n", true)),
};
constexpr OperandSpec kPtDisableShape[] = {
    TagWordOperand(Required("PT_DISABLE not executed (missing tagname)", Arg::kNone,
                            "Scenario: PT_DISABLE tag??\n", true)),
};
constexpr OperandSpec kSystemShape[] = {RestOperand("command", Means::kCommand, Silent())};
constexpr OperandSpec kStoreValsShape[] = {RestOperand("selection", Means::kStoreSpec, Optional())};
constexpr OperandSpec kAnswerShape[] = {
    PlainNumberOperand("timeout", Required("Timeout and question not found for ANSWER"),
                       "Could not parse timeout for ANSWER"),
    WordOperand("question", Means::kQuestion, Required("There is no question for ANSWER")),
};

constexpr OperandShape kNoOperands{};

}  // namespace

const KeywordRow CZLScenario::kKeywords[] = {
    // name, prefix, timed, operand shape, help, handler
    // Tag commands (tag_statements.cc).
    {"TOGGLE", true, false, ShapeOf(kToggleShape),
     "Flips a tag between 0 and 1 (every keyword that begins with TOGGLE).",
     [](CZLScenario& s) { Toggle(s.ctx_, s.statement_); }},
    {"EDGE", false, false, ShapeOf(kEdgeShape),
     "Sets a tag to the value so that it changes: 0 for a second first when it already holds it.",
     [](CZLScenario& s) { Edge(s.ctx_, s.statement_); }},
    {"OPEN", true, false, ShapeOf(kOpenShape),
     "Sets a tag to 0 (every keyword that begins with OPEN).",
     [](CZLScenario& s) { Open(s.ctx_, s.statement_); }},
    {"CLOSE", false, false, ShapeOf(kTagShape),
     "Sets a tag to 1.",
     [](CZLScenario& s) { Close(s.ctx_, s.statement_); }},
    {"SETPV", false, false, ShapeOf(kSetPvShape),
     "Sets a tag's value in percent of its range.",
     [](CZLScenario& s) { SetValue(s.ctx_, s.statement_, SetKind::kPV); }},
    {"SETPVE", false, false, ShapeOf(kSetPveShape),
     "Sets a tag's value in engineering units.",
     [](CZLScenario& s) { SetValue(s.ctx_, s.statement_, SetKind::kPVE); }},
    {"SETRAWLO", false, false, ShapeOf(kSetRawLoShape),
     "Sets the low limit of a tag's raw range.",
     [](CZLScenario& s) { SetValue(s.ctx_, s.statement_, SetKind::kRawLo); }},
    {"SETRAWHI", false, false, ShapeOf(kSetRawHiShape),
     "Sets the high limit of a tag's raw range.",
     [](CZLScenario& s) { SetValue(s.ctx_, s.statement_, SetKind::kRawHi); }},
    {"SETMAN", false, false, ShapeOf(kTagShape),
     "Puts a tag into manual mode.",
     [](CZLScenario& s) { SetMode(s.ctx_, s.statement_, true); }},
    {"SETAUTO", false, false, ShapeOf(kTagShape),
     "Puts a tag into automatic mode.",
     [](CZLScenario& s) { SetMode(s.ctx_, s.statement_, false); }},
    {"FORCE", false, false, ShapeOf(kTagShape),
     "Forces a tag.",
     [](CZLScenario& s) { Force(s.ctx_, s.statement_, true); }},
    {"UNFORCE", false, false, ShapeOf(kTagShape),
     "Releases a forced tag.",
     [](CZLScenario& s) { Force(s.ctx_, s.statement_, false); }},
    // Verifications, assertions and monitors (check_statements.cc).
    {"VERIFY", false, false, ShapeOf(kVerifyShape),
     "Checks that each tag equals the value (within REL_TOL or ABS_TOL); writes passed or FAILED.",
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kEqual, true); }},
    {"VERIFY_GT", false, false, ShapeOf(kVerifyShape),
     "Checks that each tag is greater than the value; writes passed or FAILED.",
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kGreater, true); }},
    {"VERIFY_LT", false, false, ShapeOf(kVerifyShape),
     "Checks that each tag is less than the value; writes passed or FAILED.",
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kLess, true); }},
    {"ASSERT", false, false, ShapeOf(kVerifyShape),
     "Like VERIFY (equal), but a pass writes nothing.",
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kEqual, false); }},
    {"ASSERT_GT", false, false, ShapeOf(kVerifyShape),
     "Like VERIFY_GT (greater), but a pass writes nothing.",
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kGreater, false); }},
    {"ASSERT_LT", false, false, ShapeOf(kVerifyShape),
     "Like VERIFY_LT (less), but a pass writes nothing.",
     [](CZLScenario& s) { Verify(s.ctx_, s.statement_, Comparison::kLess, false); }},
    {"MONITOR", false, false, ShapeOf(kMonitorShape),
     "While the scenario waits, watches that each tag stays at the value (?: its value now).",
     [](CZLScenario& s) {
       Monitor(s.ctx_, s.statement_, s.current().monitors(), Comparison::kEqual);
     }},
    {"MONITOR_GT", false, false, ShapeOf(kMonitorShape),
     "While the scenario waits, watches that each tag stays greater than the value.",
     [](CZLScenario& s) {
       Monitor(s.ctx_, s.statement_, s.current().monitors(), Comparison::kGreater);
     }},
    {"MONITOR_LT", false, false, ShapeOf(kMonitorShape),
     "While the scenario waits, watches that each tag stays less than the value.",
     [](CZLScenario& s) {
       Monitor(s.ctx_, s.statement_, s.current().monitors(), Comparison::kLess);
     }},
    {"MON_ENABLE", false, false, kNoOperands,
     "Turns the monitors of the current nest level on.",
     [](CZLScenario& s) { EnableMonitors(s.current().monitors(), true); }},
    {"MON_DISABLE", false, false, kNoOperands,
     "Turns the monitors of the current nest level off.",
     [](CZLScenario& s) { EnableMonitors(s.current().monitors(), false); }},
    {"MON_CLEAR", false, false, kNoOperands,
     "Removes the monitors of the current nest level.",
     [](CZLScenario& s) { ClearMonitors(s.ctx_, s.current().monitors(), s.level_); }},
    // Timed statements (timed_statements.cc).
    {"TVERIFY", false, true, ShapeOf(kTimedCheckShape),
     "Timed block: each tag must become equal to the value between start and end seconds.",
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kEqual,
                   TimedRole::kVerification);
     }},
    {"TVERIFY_GT", false, true, ShapeOf(kTimedCheckShape),
     "Timed block: each tag must become greater than the value between start and end seconds.",
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kGreater,
                   TimedRole::kVerification);
     }},
    {"TVERIFY_LT", false, true, ShapeOf(kTimedCheckShape),
     "Timed block: each tag must become less than the value between start and end seconds.",
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kLess,
                   TimedRole::kVerification);
     }},
    {"TASSERT", false, true, ShapeOf(kTimedCheckShape),
     "Timed block: like TVERIFY, but a pass writes nothing.",
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kEqual, TimedRole::kAssertion);
     }},
    {"TASSERT_GT", false, true, ShapeOf(kTimedCheckShape),
     "Timed block: like TVERIFY_GT, but a pass writes nothing.",
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kGreater,
                   TimedRole::kAssertion);
     }},
    {"TASSERT_LT", false, true, ShapeOf(kTimedCheckShape),
     "Timed block: like TVERIFY_LT, but a pass writes nothing.",
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kLess, TimedRole::kAssertion);
     }},
    {"TMONITOR", false, true, ShapeOf(kTimedCheckShape),
     "Timed block: each tag must stay at the value from start to end seconds.",
     [](CZLScenario& s) {
       TimedVerify(s.ctx_, s.statement_, s.timed_block_, Comparison::kEqual, TimedRole::kMonitor);
     }},
    {"BDELAY", false, true, ShapeOf(kBlockDelayShape),
     "Timed block: the block lasts at least this many seconds.",
     [](CZLScenario& s) { BlockDelay(s.ctx_, s.statement_, s.timed_block_); }},
    {"BDELAYSECS", false, false, ShapeOf(kBlockDelayShape),
     "Runs the block collected before it, then waits this many seconds as a block of its own.",
     [](CZLScenario& s) { BlockDelay(s.ctx_, s.statement_, s.timed_block_); }},
    // BEND does nothing itself: as a line that is not timed it has the loop
    // run the collected block to its end first.
    {"BEND", false, false, kNoOperands,
     "Ends a timed block: the block runs to its end before the next line.",
     [](CZLScenario&) {}},
    // Flow and timing statements (flow_statements.cc).
    {"DELAY", false, false, ShapeOf(kDelayShape),
     "Waits this many milliseconds, or until the condition holds.",
     [](CZLScenario& s) { Delay(s.ctx_, s.statement_, s.wait_, 1); }},
    {"DELAYSECS", false, false, ShapeOf(kDelayShape),
     "Waits this many seconds, or until the condition holds.",
     [](CZLScenario& s) { Delay(s.ctx_, s.statement_, s.wait_, 1000); }},
    {"SIMWAIT", false, false, ShapeOf(kSimWaitShape),
     "Waits this much simulation time (h:m:s, m:s or seconds), or until the condition holds.",
     [](CZLScenario& s) { SimWait(s.ctx_, s.statement_, s.wait_); }},
    {"GOTO", false, false, ShapeOf(kGotoShape),
     "Jumps to a label of this file: always, or when the condition holds.",
     [](CZLScenario& s) {
       Goto(s.ctx_, s.statement_, s.current().labels(), s.current().cursor());
     }},
    {"COMMENT", false, true, ShapeOf(kCommentShape),
     "Writes the text to the test log, its ( ) groups evaluated by the server.",
     [](CZLScenario& s) { Comment(s.ctx_, s.statement_); }},
    {"AUTODELETE", false, false, ShapeOf(kAutoDeleteShape),
     "Deletes the scenario file after a normal end of the run.",
     [](CZLScenario& s) { AutoDelete(s.ctx_, s.statement_); }},
    {"USELOG", false, false, ShapeOf(kUseLogShape),
     "Names the log set to use.",
     [](CZLScenario& s) { UseLog(s.ctx_, s.statement_, s.owner_); }},
    {"REL_TOL", false, false, ShapeOf(kRelTolShape),
     "Sets the relative tolerance of equal checks for the rest of the run (default 1e-6).",
     [](CZLScenario& s) { RelTol(s.ctx_, s.statement_); }},
    {"ABS_TOL", false, false, ShapeOf(kAbsTolShape),
     "Sets the absolute tolerance of equal checks for the rest of the run (default 0).",
     [](CZLScenario& s) { AbsTol(s.ctx_, s.statement_); }},
    {"SAFETY", false, false, ShapeOf(kSafetyShape),
     "Adds end-of-run checks: VERSION, VALID (stored checksums), ALL; none named: all of them.",
     [](CZLScenario& s) { Safety(s.ctx_, s.statement_); }},
    // External action statements (external_statements.cc).
    {"ZLCMD", false, false, ShapeOf(kZlCmdShape),
     "Runs a log set command; its reply is not reported.",
     [](CZLScenario& s) { ZlCmd(s.ctx_, s.statement_, s.owner_); }},
    {"TOOLBOOK", false, false, ShapeOf(kHostCommandShape),
     "Sends a command to the host application.",
     [](CZLScenario& s) { HostCommand(s.ctx_, s.statement_, s.owner_); }},
    {"TB_POST", false, false, ShapeOf(kHostCommandShape),
     "Sends a command to the host application.",
     [](CZLScenario& s) { HostCommand(s.ctx_, s.statement_, s.owner_); }},
    {"PT_ENABLE", false, false, ShapeOf(kPtEnableShape),
     "Sends ENABLE of the tag's point to its driver (UDP).",
     [](CZLScenario& s) { PointEnable(s.ctx_, s.statement_, s.point_socket_, true); }},
    {"PT_DISABLE", false, false, ShapeOf(kPtDisableShape),
     "Sends DISABLE of the tag's point to its driver (UDP).",
     [](CZLScenario& s) { PointEnable(s.ctx_, s.statement_, s.point_socket_, false); }},
    {"SYSTEM", false, false, ShapeOf(kSystemShape),
     "Runs a shell command (/bin/sh -c, upper case as every line) and waits for it.",
     [](CZLScenario& s) { System(s.ctx_, s.statement_); }},
    {"STOREVALS", false, false, ShapeOf(kStoreValsShape),
     "Stores tag values in the stored-values file zy<stem>.tmp.",
     [](CZLScenario& s) { StoreVals(s.ctx_, s.statement_); }},
    {"COMPAREVALS", false, false, kNoOperands,
     "Not available: writes a note to the test log.",
     [](CZLScenario& s) { CompareVals(s.ctx_); }},
    {"ANSWER", false, false, ShapeOf(kAnswerShape),
     "Asks the operator a question and waits up to the minutes given (0: 72 hours).",
     [](CZLScenario& s) {
       Answer(s.ctx_, s.statement_, s.question_, s.wait_, s.owner_, s.id_,
              s.scenario_file_.c_str());
     }},
    {nullptr, false, false, kNoOperands, nullptr, nullptr},
};

const KeywordRow* KeywordRows() { return CZLScenario::kKeywords; }

const KeywordRow* FindKeyword(const char* keyword) {
  for (const KeywordRow* k = KeywordRows(); k->name != nullptr; ++k) {
    const bool match = k->prefix ? std::strncmp(keyword, k->name, std::strlen(k->name)) == 0
                                 : std::strcmp(keyword, k->name) == 0;
    if (match) return k;
  }
  return nullptr;
}

std::string KeywordForm(const KeywordRow& row) {
  const std::string operands = ShapeForm(row.shape);
  return operands.empty() ? row.name : std::string(row.name) + " " + operands;
}

bool IsTimedLine(const char* line) {
  while (*line == ' ' || *line == '\t') ++line;
  std::string word;
  while (*line != '\0' && *line != ' ' && *line != '\t' && *line != '\n' && *line != '\r') {
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(*line)));
    ++line;
  }
  for (const KeywordRow* k = KeywordRows(); k->name != nullptr; ++k) {
    if (k->timed && word == k->name) return true;
  }
  return false;
}

}  // namespace zl
