// Whether a scenario run and the static check (scenario/scenario_check.h)
// agree about a scenario's statement errors: the run on zelvik-sim's
// database served in-process, the check given the same files, arguments and
// that server's tags. Used by the differential test and the scenario fuzz target.
//
// The two see different things, and the comparison says where:
//  - Compared text for text, on the same file and line: the errors both
//    report in the run's wording (unknown keyword, missing operand, number,
//    window, label, subtest, nest level, checksums). A checksum error of the
//    run is about a file as a whole: any line of that file matches.
//  - Compared by kind on the same line: a tag operand the tag set lacks (the
//    run's "Tag <..> not found for .." line; PT_ENABLE and PT_DISABLE write
//    none, and the check takes a known tag with a field suffix such as
//    "T1.PV" as known where the server may refuse it for a write); an
//    expression naming such a tag, or a condition whose parentheses do not
//    pair (the run ends there: "Unknown exception aborted scenario."; DELAY
//    and SIMWAIT evaluate their condition only when they wait).
//  - The run only: what depends on the server's or the host's answers
//    (log sets, datagrams, forcing, a lost server, host commands, stored
//    values), a number or window that does not read with the values the
//    server gave its groups (the statement stops there, so what the check
//    finds after it on that line is not required of the run either), and
//    an abort the check cannot foresee (the server's own reading of an
//    expression).
//  - The check only: arguments not given, subtests that call themselves (the
//    run then reports "nest level too deep"), malformed log set commands,
//    warnings (a line that runs otherwise than it reads writes nothing to
//    say so; check_agreement_test holds each warning to what the run does).
//  - Lines the run did not reach: after a run ended early (an abort, a stop
//    of the test's budgets; the tags of a timed block that may not have run
//    yet), the rest of the statement the run ended in, and wherever a
//    conditional GOTO chose; the check's errors there are not required of the
//    run. The run's errors are always required of the check.
//
// Threads: RunErrorSink is a process-wide log sink; install it while no
// other sink is installed, and run one scenario at a time.
#ifndef ZL_TESTS_SUPPORT_CHECK_AGREEMENT_H_
#define ZL_TESTS_SUPPORT_CHECK_AGREEMENT_H_

#include <mutex>
#include <string>
#include <vector>

#include "common/log.h"
#include "scenario/scenario_check.h"

namespace zl::testing {

// A failure, error or stop line of a run, with its place.
struct RunLine {
  ScenarioLineKind kind;
  std::string text;  // the test log line after its stamp and mark
  std::string file;  // the place: the file as the run names it
  unsigned line;     // its line as the run counts it; 0: the file as a whole
};

// Collects the run lines of every scenario run while installed (the log
// sink of the process; the ladder's lines go to standard error as usual).
class RunLineSink : public LogSink {
 public:
  RunLineSink();
  ~RunLineSink() override;
  RunLineSink(const RunLineSink&) = delete;
  RunLineSink& operator=(const RunLineSink&) = delete;

  // The lines collected since the last call.
  std::vector<RunLine> Take();

  void ErrorLine(const std::string& text) override;
  void ProcessMaskSet() override {}
  void DebugRequested() override {}
  void ScenarioLine(ScenarioLineKind kind, const std::string& text, const LogPlace& place,
                    unsigned testlog_line) override;

 private:
  std::mutex mu_;
  std::vector<RunLine> lines_;  // guarded by mu_
};

// Where the run and the check of one scenario disagree, one text per
// disagreement; empty when they agree. `walked` is the check's walk.
std::vector<std::string> CompareRunWithCheck(const std::vector<RunLine>& run,
                                             const std::vector<Diagnostic>& check,
                                             const std::vector<CheckedLine>& walked);

// The tags of the in-process server's plant.
TagSet ServerTags();

}  // namespace zl::testing

#endif  // ZL_TESTS_SUPPORT_CHECK_AGREEMENT_H_
