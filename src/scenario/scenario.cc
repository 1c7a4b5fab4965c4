#include "scenario/scenario.h"

#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "common/file_checksum.h"
#include "common/path_case.h"
#include "common/text_utils.h"
#include "scenario/abort_reason.h"
#include "scenario/external_statements.h"
#include "scenario/flow_statements.h"
#include "scenario/outside_text.h"
#include "scenario/scenario_line.h"
#include "scenario/statement_errors.h"

namespace zl {
CZLScenario::CZLScenario(ZEMR::ZelvikDatabase_ptr database, const Clock* clock)
    : ctx_(database, clock) {}

CZLScenario::~CZLScenario() {
  // Nothing may leave a destructor: the closing lines ask the server (the
  // version report), and a server gone by now is no reason to crash.
  try {
    CloseLevels(0);
  } catch (...) {
  }
  for (Level& level : levels_) level.Close();
  CloseTestLogFile();
}

void CZLScenario::ScanSkipOption(const char* options) {
  char buf[1024];
  strncpyz(buf, options, sizeof buf);
  Tokenizer t;
  t.Start(buf);
  for (char* tok = t.Next(" "); tok != nullptr; tok = t.Next(" ")) {
    const std::string lower = ToLowerCopy(tok);
    if (lower.compare(0, 10, "-skipuserq") == 0 || lower.compare(0, 11, "--skipuserq") == 0) {
      ctx_.options().flags |= ScenarioOptions::kSkipUserQ;
    }
  }
}

void CZLScenario::SetArguments(const char* options, int level) {
  if (level < 0 || level > kMaxLevel) return;
  levels_[level].SetArguments(options, level == 0);
}

int CZLScenario::OpenScenario(const char* path) {
  namespace fs = std::filesystem;
  if (path == nullptr) path = "";
  std::string slashed(path);
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  std::error_code ec;
  fs::path p(slashed);
  fs::path absolute = p.is_absolute() ? p : fs::current_path(ec) / p;
  scenario_dir_ = absolute.parent_path().generic_string();

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "r"), &std::fclose);
  if (file == nullptr) {
    ACE_DEBUG((LM_ERROR, "# Could not open %s\n", path));
    return -1;
  }
  scenario_file_ = path;
  try {
    CORBA::String_var changes = ctx_.server()->HelloZL("$KERNEL.DBCHANGES");
    changes_at_start_ = static_cast<unsigned>(std::strtoul(changes.in(), nullptr, 10));
  } catch (...) {
    // Nothing escapes opening: without the count the database check compares
    // with 0.
    changes_at_start_ = 0;
  }

  const std::string::size_type dot = scenario_file_.rfind('.');
  ctx_.test_log().Open((dot == std::string::npos ? scenario_file_ : scenario_file_.substr(0, dot)) +
                       ".tlg");

  // The level's labels and checksum are read after the test log opened (a
  // scenario whose test log is its own file reads what the opening wrote).
  // The path is the host's text, not the file's: the test log names it
  // escaped.
  levels_[0].Open(file.release(), EscapeOutsideText(path), path, std::string());

  ctx_.test_log().StartClock(ctx_.clock().Now());
  ACE_DEBUG((LM_INFO, "Starting scenario %s at level %d\n", path, level_));
  ctx_.test_log().Begin(levels_[0].name().c_str());
  OpenPointSocket(ctx_, point_socket_);
  return 0;
}

void CZLScenario::ResetCounters() {
  ctx_.counters().Reset();
  for (Level& level : levels_) level.ResetLineCount();
}

bool CZLScenario::StopRequested() const {
  return ACE_Thread_Manager::instance()->testcancel(ACE_Thread::self()) != 0;
}

bool CZLScenario::ReadLine() { return current().ReadLine(line_, sizeof line_); }

LogPlace CZLScenario::PlaceOf(int level, unsigned line) const {
  LogPlace place;
  place.scenario_id = id_;
  place.file = levels_[level].shown_name();
  place.line = line;
  for (int l = 1; l <= level; ++l) place.callers.push_back(levels_[l].call_site());
  return place;
}

void CZLScenario::RunScenario() {
  // What the worker logs belongs to the statement at work.
  ScopedLogPlace place(ctx_.statement_place());
  // One pending line and one timed block: a line that is not a timed
  // statement starts the collected block and stays pending until every
  // statement of the block has finished; meanwhile the loop polls the block
  // with 100 ms waits.
  while (levels_[0].is_open()) {
    if (StopRequested()) {
      Abort();
      return;
    }
    if (timed_block_.AnyActive()) PollTimedBlock();
    if (!timed_block_.AnyActive()) {
      bool at_end = false;
      if (!pending_) {
        if (ReadLine()) {
          pending_ = true;
        } else {
          at_end = true;
        }
      }
      wait_.deadline = ACE_Time_Value::zero;
      wait_.condition.clear();
      if (pending_) {
        const bool blank = line_[std::strspn(line_, " \t\r\n")] == '\0';
        if (line_[0] != '#' && !blank && !timed_block_.Empty() && !IsTimedLine(line_)) {
          PollTimedBlock();
        }
        if (!timed_block_.AnyActive()) {
          pending_ = false;
          ExecuteLine();
        }
      } else if (at_end) {
        if (!timed_block_.Empty()) PollTimedBlock();
        if (!timed_block_.AnyActive()) CloseLevels(level_);
      }
    }
    if (!WaitPhase()) {
      Abort();
      return;
    }
  }
}

void CZLScenario::ExecuteLine() {
  std::string as_read(line_, std::strcspn(line_, "\r\n"));
  std::string checksum;
  const LineKind kind = PrepareLine(line_, current().arguments(), tokens_, keyword_, &checksum);
  if (kind == LineKind::kChecksum) current().set_stored_checksum(std::move(checksum));
  if (kind != LineKind::kSubtest && kind != LineKind::kStatement) return;
  const char* keyword = keyword_;
  last_statement_.level = level_;
  last_statement_.line = current().file_line();
  last_statement_.text = std::move(as_read);
  ctx_.set_place(PlaceOf(level_, current().file_line()));
  if (kind == LineKind::kSubtest) {
    const char* options = tokens_.Next(kLineEnd);
    OpenSubtest(keyword + 1, options);
    return;
  }
  if (const KeywordRow* row = FindKeyword(keyword)) {
    statement_.set_row(row);
    row->handler(*this);
    return;
  }
  ACE_DEBUG((LM_ERROR, "Unknown scenario keyword %s\n", keyword));
  ctx_.StatementError("%s\t__%s\n", ctx_.Stamp().c_str(), UnknownKeywordText(keyword).c_str());
}

bool CZLScenario::SimWaitStep() {
  const double elapsed = ElapsedSimTime(ctx_);
  CheckAllMonitors();
  if (FinishSimWait(ctx_, wait_, elapsed)) return true;
  ctx_.clock().Sleep(ACE_Time_Value(0, 250000));
  return false;
}

bool CZLScenario::WaitPhase() {
  if (StopRequested()) return false;
  if (wait_.deadline == ACE_Time_Value::zero && wait_.sim_target <= 0) return true;
  if (!wait_.condition.empty() && ctx_.Expr(wait_.condition.c_str()) != 0) {
    wait_.sim_target = 0;
    return true;
  }
  ctx_.test_log().Flush();
  for (;;) {
    if (StopRequested()) return false;
    const ACE_Time_Value now = ctx_.clock().Now();
    if (wait_.deadline != ACE_Time_Value::zero && now < wait_.deadline) {
      CheckAllMonitors();
      ACE_Time_Value slice = wait_.deadline - ctx_.clock().Now();
      if (slice > ACE_Time_Value(0, 500000)) slice = ACE_Time_Value(0, 500000);
      ctx_.clock().Sleep(slice);
    } else if (wait_.sim_target > 0) {
      if (SimWaitStep()) return !StopRequested();
    } else {
      break;
    }
    if (!wait_.condition.empty() && ctx_.Expr(wait_.condition.c_str()) != 0) {
      wait_.sim_target = 0;
      break;
    }
    // A question answered or timed out is reported and ends the wait.
    if (ReportSettledQuestion(ctx_, question_, owner_)) {
      wait_.sim_target = 0;
      break;
    }
  }
  return !StopRequested();
}

void CZLScenario::PollTimedBlock() {
  const ACE_Time_Value now = ctx_.clock().Now();
  timed_block_.Poll(now);
  if (timed_block_.AllFinished()) {
    timed_block_.Clear();
  } else {
    wait_.deadline = now + ACE_Time_Value(0, 100000);
  }
}

void CZLScenario::CheckAllMonitors() {
  for (int l = 0; l <= level_; ++l) CheckMonitors(ctx_, levels_[l].monitors());
}

void CZLScenario::Abort() {
  timed_block_.Clear();
  for (int l = level_; l >= 0; --l) levels_[l].Close();
  level_ = 0;
  if (ctx_.test_log().is_open()) {
    ctx_.StopLine("%s\t  Scenario was aborted by StopScenario()\n\n", ctx_.Stamp().c_str());
    CloseTestLogFile();
  }
}

void CZLScenario::ReportUnknownException() {
  // Runs in the worker after RunScenario has left: the lines belong to the
  // statement that ran last.
  if (last_statement_.level >= 0) {
    ctx_.set_place(PlaceOf(last_statement_.level, last_statement_.line));
  }
  ScopedLogPlace log_place(ctx_.statement_place());
  ++ctx_.counters().errors;
  // An aborted scenario keeps its file, as one stopped by StopScenario
  // does: the levels closed later (in the destructor) must not delete it.
  ctx_.options().flags &= ~ScenarioOptions::kAutoDelete;
  // The reason quotes the server (or the exception's own text): outside text.
  const std::string reason = EscapeOutsideText(AbortReason(std::current_exception()));
  std::string place;
  if (last_statement_.level < 0) {
    place = "before its first statement";
  } else {
    place = "at line " + std::to_string(last_statement_.line) + " of " +
            levels_[last_statement_.level].name() + ", \"" + last_statement_.text + "\"";
  }
  ACE_DEBUG((LM_ERROR, "Scenario %s aborted %s: %s\n", scenario_file_.c_str(), place.c_str(),
             reason.c_str()));
  ctx_.Log("%s\t# Aborted %s: %s\n", ctx_.Stamp().c_str(), place.c_str(), reason.c_str());
  ctx_.Log("%s\t__Unknown exception aborted scenario.\n\n", ctx_.Stamp().c_str());
}

void CZLScenario::CloseLevels(int target) {
  if (target < 0 || target > kMaxLevel || !levels_[target].is_open()) return;
  while (levels_[target].is_open()) {
    const int l = level_;
    Level& level = levels_[l];
    if (level.is_open()) {
      if (ctx_.test_log().is_open() && l != 0) {
        ctx_.set_place(PlaceOf(l, 0));
        ReportMonitoredTags(ctx_, level.monitors(), l);
        ValidateChecksum(ctx_, level.stored_checksum(), level.computed_checksum(),
                         level.name().c_str());
        ctx_.Log("%s\tSubtest '%s' finished--was nest level %d\n", ctx_.Stamp().c_str(),
                 level.name().c_str(), l);
      }
      level.Close();
      if (target == 0 && l == 0 && (ctx_.options().flags & ScenarioOptions::kAutoDelete) != 0) {
        std::remove(scenario_file_.c_str());
      }
    }
    if (level_ >= 1 && level_ >= target) --level_;
    if (l == 0 || level_ < target) break;
  }
  if (target == 0 && ctx_.test_log().is_open()) {
    Level& top = levels_[0];
    ctx_.set_place(PlaceOf(0, 0));
    ReportMonitoredTags(ctx_, top.monitors(), 0);
    ValidateChecksum(ctx_, top.stored_checksum(), top.computed_checksum(), top.name().c_str());
    ReportVersions(ctx_, changes_at_start_);
    if (question_.skipped > 0) {
      ctx_.Log("%s\t**Failure indicated because %ld questions skipped by -skipuserq option\n",
               ctx_.Stamp().c_str(), static_cast<long>(question_.skipped));
    }
    ctx_.test_log().Finish();
  }
}

int CZLScenario::OpenSubtest(const char* name, const char* options) {
  if (level_ >= kMaxLevel) {
    ACE_DEBUG((LM_ERROR, "# Nest levels too deep\n"));
    ctx_.StatementError("%s\t__%s\n", ctx_.Stamp().c_str(), NestTooDeepText(name).c_str());
    return -2;
  }
  const int next = level_ + 1;
  // Names arrive upper-cased: each component is matched ignoring case.
  const std::string path = ResolvePathCase(scenario_dir_ + "/" + name);
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    if (ctx_.test_log().is_open()) {
      ctx_.StatementError("%s\t__%s\n", ctx_.Stamp().c_str(), SubtestNotStartedText(name).c_str());
    }
    return -1;
  }
  // The file found, named from the directory the run named the scenario in.
  const std::string found =
      path.compare(0, scenario_dir_.size() + 1, scenario_dir_ + "/") == 0
          ? path.substr(scenario_dir_.size() + 1)
          : std::string(name);
  std::string shown =
      (std::filesystem::path(scenario_file_).parent_path() / found).generic_string();
  std::string call_site = current().shown_name() + ":" + std::to_string(current().file_line());
  Level& level = levels_[next];
  if (options != nullptr) level.SetArguments(options, false);
  level.Open(file, name, std::move(shown), std::move(call_site));
  level_ = next;
  ACE_DEBUG((LM_INFO, "# File %s is open at level %d\n", name, level_));
  ctx_.Log("%s\tSubtest '%s' started--nest level %d\n", ctx_.Stamp().c_str(), name, level_);
  return 0;
}

void CZLScenario::ScanLabels(int level) {
  if (level < 0 || level > kMaxLevel) return;
  levels_[level].ScanLabels();
}

bool CZLScenario::TakeAnswer(CORBA::ULong number, const char* answer) {
  std::lock_guard<std::recursive_mutex> lock(*question_.lock);
  const ACE_Time_Value now = ctx_.clock().Now();
  if (!question_.record.Pending(now)) return false;
  return question_.record.Answer(number, answer, now);
}

bool CZLScenario::WaitingQuestion(std::string& text) const {
  std::lock_guard<std::recursive_mutex> lock(*question_.lock);
  if (!question_.record.Pending(ctx_.clock().Now())) return false;
  text = question_.record.question();
  return true;
}

}  // namespace zl
