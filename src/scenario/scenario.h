// One running scenario: a test script read from a file (and the subtest files
// it calls) and executed statement by statement against the server database,
// with every step reported in a test log (".tlg" beside the scenario file).
//
// Threads: made, prepared (ScanSkipOption, SetArguments, OpenScenario) and
// destroyed under the scenario manager; RunScenario runs on the scenario's
// own worker thread. The result counters are atomics that the worker writes
// and the manager reads. Each label table has its own reader/writer lock.
#ifndef ZL_SCENARIO_SCENARIO_H_
#define ZL_SCENARIO_SCENARIO_H_

#include <ace/Thread.h>
#include <ace/Time_Value.h>
#include <omniORB4/CORBA.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <forward_list>
#include <limits>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "scenario/checks.h"
#include "scenario/clock.h"
#include "scenario/operand.h"
#include "scenario/point_socket.h"
#include "scenario/server_calls.h"
#include "scenario/statement_context.h"
#include "scenario/test_log.h"
#include "scenario/timed_statements.h"
#include "scenario/tokenizer.h"
#include "scenario/user_question.h"
#include "zemr.hh"

namespace zl {

class ScenarioOwner;

class CZLScenario {
 public:
  static constexpr int kMaxLevel = 255;  // deepest nest level
  static constexpr int kLevels = kMaxLevel + 1;

  // Duplicates `database`; released on destruction. Every stamp, deadline
  // and wait asks `clock` (borrowed; it outlives the scenario).
  explicit CZLScenario(ZEMR::ZelvikDatabase_ptr database,
                       const Clock* clock = RealClock::Instance());
  virtual ~CZLScenario();
  CZLScenario(const CZLScenario&) = delete;
  CZLScenario& operator=(const CZLScenario&) = delete;

  // Set by the manager before the worker runs.
  void set_id(CORBA::ULong id) { id_ = id; }
  CORBA::ULong id() const { return id_; }
  void set_owner(ScenarioOwner* owner) { owner_ = owner; }
  void set_thread_id(ACE_thread_t t) { thread_id_ = t; }
  // The manager's scenario lock, which guards the user-question record;
  // without one the scenario uses a lock of its own.
  void set_scenario_lock(std::recursive_mutex* mu) { scenario_lock_ = mu; }

  // Host threads: hands `answer` to the pending question numbered `number`;
  // true when it took it.
  bool TakeAnswer(CORBA::ULong number, const char* answer);
  // Host threads: the text of a question that is asked, not answered and
  // not timed out; false without one.
  bool WaitingQuestion(std::string& text) const;
  ACE_thread_t thread_id() const { return thread_id_; }

  // Flag bit 1 for a "-skipuserq" or "--skipuserq" word of `options`.
  void ScanSkipOption(const char* options);
  // Up to 8 words of `options` (spaces and tabs, no quoting) as $1..$8 of
  // `level`; at level 0 "-skipuserq..." and "--..." words are skipped.
  void SetArguments(const char* options, int level);
  // Opens `path` as level 0 and its test log; 0, or -1 when the file cannot
  // be opened.
  int OpenScenario(const char* path);
  // Zeroes the result counters and the line counts.
  void ResetCounters();
  // The statement loop, until the level-0 file is closed or a stop request.
  // Exceptions of server calls escape to the worker.
  void RunScenario();
  // Closes levels from the current one down to `target`; with target 0 and
  // an open test log, writes the closing lines and the signature.
  void CloseLevels(int target);
  // Opens subtest `name` (directory of the scenario) one level deeper: 0,
  // -1 when it cannot be opened, -2 when the nest level is too deep.
  int OpenSubtest(const char* name, const char* options);
  // Records the labels of `level`'s file, scanning from its position.
  void ScanLabels(int level);
  // Moves the current file after the line of `label` (upper-cased, colon
  // included); an unknown label leaves it where it is.
  void GotoLabel(const char* label);
  // `token` with each balanced (...) group replaced by the server's value of
  // it ("%lf"); "\x" gives x; an unbalanced group at the end is dropped.
  std::string EvaluateParentheses(const char* token);

  // Worker clean-up after an exception escaped RunScenario; call it from the
  // handler that caught it. Counts one error and writes, to the process log
  // at error priority and to the test log, where the run stopped (the file,
  // line number and text of the statement line that ran last) and why
  // (AbortReason of the exception being handled), then the test log's
  // "Unknown exception aborted scenario." line.
  void ReportUnknownException();
  // Closes the test log as it is (no closing line, no signature).
  void CloseTestLogFile() { ctx_.test_log().Close(); }

  // Counters reported by the manager.
  unsigned total_verifies() const { return ctx_.counters().total_verifies; }
  unsigned failed_verifies() const { return ctx_.counters().failed_verifies; }
  unsigned errors() const { return ctx_.counters().errors; }
  unsigned total_monitor_checks() const { return ctx_.counters().total_monitor_checks; }
  unsigned failed_monitor_checks() const { return ctx_.counters().failed_monitor_checks; }
  unsigned line_number(int level) const { return lines_read_[level]; }
  const std::string& file_name() const { return scenario_file_; }
  const std::string& test_log_name() const { return ctx_.test_log().name(); }
  int nest_level() const { return level_; }
  unsigned flags() const { return ctx_.options().flags; }
  double rel_tol() const { return ctx_.options().rel_tol; }
  double abs_tol() const { return ctx_.options().abs_tol; }

 private:
  // A statement handler: the keyword has been taken; operands follow in the
  // tokenizer.
  using Handler = void (CZLScenario::*)();
  struct Keyword {
    const char* name;
    bool prefix;  // matches every keyword beginning with `name`
    bool timed;   // a timed block collects the line (IsTimedLine)
    Handler handler;
  };
  static const Keyword kKeywords[];  // the one keyword table

  // Stop request of the manager (a cancellation of this worker).
  bool StopRequested() const;
  // Reads the next piece (at most 2047 characters) of the current level's
  // file into `line_`; false at its end. Every read counts a line.
  bool ReadLine();
  // Executes one raw line (substitution, comments, keyword dispatch).
  void ExecuteLine();
  // The wait phase after each pass; false when a stop request arrived.
  bool WaitPhase();
  // One 250 ms step of a simulation-time wait; true when the target is met.
  bool SimWaitStep();
  void Abort();
  // Opens the datagram socket of PT_ENABLE/PT_DISABLE (external_statements.cc);
  // says so in the test log when it cannot.
  void OpenPointSocket();
  // The one conversion of a numeric operand, for every statement. `token` is
  // the operand as the line gives it; `role` names it in the error line
  // ("value", "start", "delay", ...). The operand converts when it holds no
  // unbalanced group and, with the groups evaluated (forms kNumber and
  // kDuration) or as written (kPlainNumber), reads completely in `form`
  // (ParseOperand); kExpression operands are evaluated whole by the server.
  // Otherwise the statement fails: one statement error, the test log line
  // "__Could not parse <role> '<token>' for <keyword>", and false, after
  // which the statement does nothing more. Server exceptions of the
  // evaluation escape (they end the run). `text`, when given, receives the
  // text that was read (the expansion, or the token as written).
  bool NumericOperand(const char* role, const char* token, OperandForm form, double* value,
                      std::string* text = nullptr);
  // Integrity checks (integrity.cc), each only with its SAFETY flag: the
  // stored checksum of `level` against the computed one, and the
  // database-change and version lines at the end of a run.
  void ValidateChecksum(int level);
  void ReportVersions();

  // Verifications, assertions and monitors (check_statements.cc).
  struct MonitorItem {
    std::string tag;
    Comparison comparison = Comparison::kEqual;
    double expected = 0;
    double last_value = std::numeric_limits<double>::quiet_NaN();
    bool tag_valid = true;
    bool enabled = true;
    bool result = true;
    bool previous_result = true;
  };
  struct MonitorList {
    std::forward_list<MonitorItem> items;  // newest first
    bool failed = false;                   // a check of this level failed
  };
  bool TakeTagListAndValue(const char* family, const char* keyword, char (&list)[80],
                           const char** value);
  void Verify(Comparison comparison, bool verification, const char* keyword);
  void Monitor(Comparison comparison, const char* keyword);
  // Checks one item; true when it passes.
  bool Check(MonitorItem& item);
  // Checks every item of `level`, counting and reporting changes of state.
  void CheckMonitors(int level);
  // CheckMonitors for the levels 0 to the current one (the wait phase).
  void CheckAllMonitors();
  // The level's PASSED line, when it has monitors and none failed.
  void ReportMonitoredTags(int level);
  void DoVerify();
  void DoVerifyGt();
  void DoVerifyLt();
  void DoAssert();
  void DoAssertGt();
  void DoAssertLt();
  void DoMonitor();
  void DoMonitorGt();
  void DoMonitorLt();
  void DoMonEnable();
  void DoMonDisable();
  void DoMonClear();

  // Tag command statements (tag_statements.cc).
  enum class SetKind { kPV, kPVE, kRawLo, kRawHi };
  // The tag operand into `tag` (at most 79 characters); false without one.
  bool TakeTag(char (&tag)[80]);
  // The value operand token (parenthesis groups kept together); null
  // without one.
  const char* TakeValue();
  // Counts and reports a ZLTagNotFound of `statement`.
  void TagNotFound(const char* tag, const char* statement);
  // Runs `call`, server calls on `tag` for `statement`, under the engine's
  // exception policy (server_calls.h): a missing tag is reported with
  // TagNotFound and gives false; anything else escapes.
  template <class Call>
  bool OnTag(const char* tag, const char* statement, Call&& call) {
    return TagCall(call, [&] { TagNotFound(tag, statement); });
  }
  void SetValue(SetKind kind);
  void Force(bool force);
  void DoToggle();
  void DoEdge();
  void DoOpen();
  void DoClose();
  void DoSetPV();
  void DoSetPVE();
  void DoSetRawLo();
  void DoSetRawHi();
  void DoSetMan();
  void DoSetAuto();
  void DoForce();
  void DoUnforce();

  // Timed statements (timed_statements.cc).
  // True when the first word of `line` (upper case, after leading blanks)
  // is a keyword whose row in the keyword table is marked timed.
  static bool IsTimedLine(const char* line);
  // Polls the timed block once at the current time; clears it when all its
  // statements have finished, else sets the wait deadline 100 ms ahead.
  void PollTimedBlock();
  void TimedVerify(Comparison comparison, TimedRole role, const char* keyword);
  void DoTVerify();
  void DoTVerifyGt();
  void DoTVerifyLt();
  void DoTAssert();
  void DoTAssertGt();
  void DoTAssertLt();
  void DoTMonitor();
  void DoBDelay();
  void DoBEnd();

  // User questions (user_question.cc). Reports and resets a question that
  // was asked and is no longer pending; true when it did (the wait ends).
  bool ReportSettledQuestion();
  void DoAnswer();

  // External action statements (external_statements.cc).
  void HostCommand(const char* keyword);  // TOOLBOOK, TB_POST
  void PointEnable(bool enable);          // PT_ENABLE, PT_DISABLE
  void DoZlCmd();
  void DoToolbook();
  void DoTbPost();
  void DoPtEnable();
  void DoPtDisable();
  void DoSystem();
  void DoStoreVals();
  void DoCompareVals();

  // Flow and timing statements (flow_statements.cc).
  void Delay(long unit_ms);  // unit_ms: 1 (DELAY) or 1000 (DELAYSECS)
  void DoDelay();
  void DoDelaySecs();
  void DoSimWait();
  void DoGoto();
  void DoComment();
  void DoAutoDelete();
  void DoUseLog();
  void DoRelTol();
  void DoAbsTol();
  void DoSafety();

  CORBA::ULong id_ = 0;
  ACE_thread_t thread_id_{};
  ScenarioOwner* owner_ = nullptr;
  // What the statement handlers use: server, clock, test log, counters,
  // options.
  StatementContext ctx_;

  std::array<std::FILE*, kLevels> files_{};
  int level_ = 0;
  std::array<std::string, kLevels> level_names_;
  std::string scenario_file_;
  std::string scenario_dir_;
  std::array<std::array<std::string, 8>, kLevels> args_;
  struct LabelTarget {
    long offset;         // file position after the label line
    unsigned line;       // line number of the label line in its file
  };
  struct LabelTable {
    std::shared_mutex mu;
    std::map<std::string, LabelTarget> positions;  // guarded by mu
  };
  std::array<LabelTable, kLevels> labels_;
  ACE_Time_Value wait_deadline_;
  double sim_target_ = 0;
  std::string wait_condition_;
  unsigned db_changes_at_start_ = 0;
  std::array<MonitorList, kLevels> monitors_;
  std::array<std::string, kLevels> stored_checksums_;
  std::array<std::string, kLevels> computed_checksums_;
  // Per level, the lines read so far (every read counts): "sceLineNumber"
  // of the manager's report. Written by the worker, read by host threads.
  std::array<std::atomic<unsigned>, kLevels> lines_read_{};
  unsigned skipped_questions_ = 0;
  mutable std::recursive_mutex own_lock_;
  std::recursive_mutex* scenario_lock_ = &own_lock_;
  UserQuestion question_;  // guarded by *scenario_lock_
  PointSocket point_socket_;

  CScenarioTimedBlock timed_block_;  // the timed block of the statement loop
  char line_[2048] = {};  // the line being executed
  bool pending_ = false;  // line_ holds a line not yet executed
  Tokenizer tokens_;
  char keyword_[80] = {};  // keyword of the statement being executed

  // Where each level's file is: the number of the line read last (a piece
  // of a long line counts as a line; GOTO moves it to its label's line).
  // Unlike lines_read_, which counts every read, it is the line's place
  // in its file.
  std::array<unsigned, kLevels> file_lines_{};
  // The statement line that ran last, for the report of an abort.
  struct StatementPlace {
    int level = -1;  // -1: no line has run yet
    unsigned line = 0;
    std::string text;  // as read, without its line end
  };
  StatementPlace last_statement_;
};

}  // namespace zl

#endif  // ZL_SCENARIO_SCENARIO_H_
