// One running scenario: a test script read from a file (and the subtest files
// it calls) and executed statement by statement against the server database,
// with every step reported in a test log (".tlg" beside the scenario file).
//
// CZLScenario keeps the statement loop, the nest levels (level.h: each
// level's file, arguments, labels, monitors and checksums) and the wait
// phase, and owns each statement family's state (the timed block, the wait,
// the user question, the point socket). The statements themselves are free
// functions in their families' files (tag_statements.h, check_statements.h,
// timed_statements.h, flow_statements.h, external_statements.h,
// user_question.h); the keyword table (keyword_table.h,
// scenario_keywords.cc) gives each keyword its operand shape and binds it to
// its handler, handing it exactly the parts of the scenario it uses.
//
// Threads: made, prepared (ScanSkipOption, SetArguments, OpenScenario) and
// destroyed under the scenario manager; RunScenario runs on the scenario's
// own worker thread. The result counters are atomics that the worker writes
// and the manager reads, as are the levels' line counts. Each label table has
// its own reader/writer lock; the user question is guarded by the scenario
// lock (set_scenario_lock).
#ifndef ZL_SCENARIO_SCENARIO_H_
#define ZL_SCENARIO_SCENARIO_H_

#include <ace/Thread.h>
#include <ace/Time_Value.h>
#include <omniORB4/CORBA.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "scenario/check_statements.h"
#include "scenario/clock.h"
#include "scenario/integrity.h"
#include "scenario/keyword_table.h"
#include "scenario/level.h"
#include "scenario/levels.h"
#include "scenario/point_socket.h"
#include "scenario/statement_context.h"
#include "scenario/statement_line.h"
#include "scenario/test_log.h"
#include "scenario/timed_statements.h"
#include "scenario/tokenizer.h"
#include "scenario/user_question.h"
#include "scenario/wait_state.h"
#include "zemr.hh"

namespace zl {

class ScenarioOwner;

class CZLScenario {
 public:
  static constexpr int kMaxLevel = kMaxNestLevel;  // deepest nest level
  static constexpr int kLevels = kNestLevels;

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
  void set_scenario_lock(std::recursive_mutex* mu) { question_.lock = mu; }

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

  // Worker clean-up after an exception escaped RunScenario; call it from the
  // handler that caught it. Counts one error and writes, to the process log
  // at error priority and to the test log, where the run stopped (the file,
  // line number and text of the statement line that ran last) and why
  // (AbortReason of the exception being handled), then the test log's
  // "Unknown exception aborted scenario." line. The scenario file is kept
  // even when AUTODELETE was set.
  void ReportUnknownException();
  // Closes the test log as it is (no closing line, no signature).
  void CloseTestLogFile() { ctx_.test_log().Close(); }

  // Counters reported by the manager.
  unsigned total_verifies() const { return ctx_.counters().total_verifies; }
  unsigned failed_verifies() const { return ctx_.counters().failed_verifies; }
  unsigned errors() const { return ctx_.counters().errors; }
  unsigned total_monitor_checks() const { return ctx_.counters().total_monitor_checks; }
  unsigned failed_monitor_checks() const { return ctx_.counters().failed_monitor_checks; }
  unsigned line_number(int level) const { return levels_[level].lines_read(); }
  const std::string& file_name() const { return scenario_file_; }
  const std::string& test_log_name() const { return ctx_.test_log().name(); }
  int nest_level() const { return level_; }
  unsigned flags() const { return ctx_.options().flags; }
  double rel_tol() const { return ctx_.options().rel_tol; }
  double abs_tol() const { return ctx_.options().abs_tol; }

 private:
  // The one keyword table (keyword_table.h): each row's handler is a
  // captureless lambda that calls its family's handler with exactly the parts
  // of the scenario that statement uses; the keyword has been taken and its
  // operands follow in statement_.
  static const KeywordRow kKeywords[];
  friend const KeywordRow* KeywordRows();

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
  // CheckMonitors for the levels 0 to the current one (the wait phase).
  void CheckAllMonitors();
  void Abort();
  // Polls the timed block once at the current time; clears it when all its
  // statements have finished, else sets the wait deadline 100 ms ahead.
  void PollTimedBlock();
  // The level being read.
  Level& current() { return levels_[level_]; }
  // Line `line` (0: the file as a whole) of `level`'s file, with the subtest
  // calls that lead there.
  LogPlace PlaceOf(int level, unsigned line) const;

  CORBA::ULong id_ = 0;
  ACE_thread_t thread_id_{};
  ScenarioOwner* owner_ = nullptr;
  // What every statement handler may use: server, clock, test log,
  // counters, options.
  StatementContext ctx_;

  // The nest levels, and the one being read. A level's file is named, for
  // the test log, by the path the run was started with (escaped,
  // outside_text.h) at level 0 and by the "@" line's name below it; for the
  // run's places, by the scenario path as given at level 0 and by that
  // path's directory joined with the file found below it.
  std::array<Level, kLevels> levels_;
  int level_ = 0;
  std::string scenario_file_;
  std::string scenario_dir_;
  // The statement line that ran last, for the report of an abort.
  struct StatementPlace {
    int level = -1;  // -1: no line has run yet
    unsigned line = 0;
    std::string text;  // as read, without its line end
  };
  StatementPlace last_statement_;

  // The statement loop: the line being executed, its operands, the timed
  // block and what the wait phase waits for.
  char line_[2048] = {};
  bool pending_ = false;  // line_ holds a line not yet executed
  Tokenizer tokens_;
  char keyword_[80] = {};  // keyword of the statement being executed
  StatementLine statement_{&tokens_, keyword_};  // the handlers' view of both
  CScenarioTimedBlock timed_block_;  // TVERIFY and the other timed statements
  WaitState wait_;                   // DELAY, SIMWAIT, ANSWER, the timed block

  // The families' own state, handed to their handlers by the keyword table
  // (labels and monitors are the levels').
  QuestionState question_;    // ANSWER; host threads answer
  PointSocket point_socket_;  // PT_ENABLE, PT_DISABLE
  // SAFETY VERSION: the server's database change count when the run started.
  unsigned changes_at_start_ = 0;
};

}  // namespace zl

#endif  // ZL_SCENARIO_SCENARIO_H_
