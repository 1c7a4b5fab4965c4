#include "scenario/scenario.h"

#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "common/file_checksum.h"
#include "common/path_case.h"
#include "common/text_utils.h"
#include "scenario/abort_reason.h"
#include "scenario/external_statements.h"
#include "scenario/flow_statements.h"
#include "scenario/outside_text.h"

namespace zl {
CZLScenario::CZLScenario(ZEMR::ZelvikDatabase_ptr database, const Clock* clock)
    : ctx_(database, clock) {}

CZLScenario::~CZLScenario() {
  try {
    CloseLevels(0);
  } catch (...) {
  }
  for (std::FILE*& f : files_) {
    if (f != nullptr) std::fclose(f);
    f = nullptr;
  }
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
  char buf[256];
  strncpyz(buf, options, sizeof buf);
  std::array<std::string, 8>& args = args_[level];
  for (std::string& a : args) a.clear();
  int stored = 0;
  char* save = nullptr;  // strtok_r: workers and host threads split at once
  for (char* tok = strtok_r(buf, " \t", &save); tok != nullptr && stored < 8;
       tok = strtok_r(nullptr, " \t", &save)) {
    if (level == 0 && (ToLowerCopy(tok).compare(0, 10, "-skipuserq") == 0 ||
                       std::strncmp(tok, "--", 2) == 0)) {
      continue;
    }
    args[stored++] = tok;
  }
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

  files_[0] = std::fopen(path, "r");
  if (files_[0] == nullptr) {
    ACE_DEBUG((LM_ERROR, "# Could not open %s\n", path));
    return -1;
  }
  scenario_file_ = path;
  // The path is the host's text, not the file's: the test log names it
  // escaped.
  level_names_[0] = EscapeOutsideText(path);
  shown_names_[0] = path;
  file_lines_[0] = 0;
  try {
    CORBA::String_var changes = ctx_.server()->HelloZL("$KERNEL.DBCHANGES");
    integrity_.changes_at_start = static_cast<unsigned>(std::strtoul(changes.in(), nullptr, 10));
  } catch (...) {
    integrity_.changes_at_start = 0;
  }

  const std::string::size_type dot = scenario_file_.rfind('.');
  ctx_.test_log().Open((dot == std::string::npos ? scenario_file_ : scenario_file_.substr(0, dot)) +
                       ".tlg");

  ScanLabels(0);
  integrity_.computed[0] = FileChecksum(files_[0], 0);

  ctx_.test_log().StartClock(ctx_.clock().Now());
  ACE_DEBUG((LM_INFO, "Starting scenario %s at level %d\n", path, level_));
  ctx_.test_log().Begin(level_names_[0].c_str());
  OpenPointSocket(ctx_, point_socket_);
  return 0;
}

void CZLScenario::ResetCounters() {
  ctx_.counters().Reset();
  for (std::atomic<unsigned>& n : lines_read_) n = 0;
}

bool CZLScenario::StopRequested() const {
  return ACE_Thread_Manager::instance()->testcancel(ACE_Thread::self()) != 0;
}

bool CZLScenario::ReadLine() {
  std::FILE* f = files_[level_];
  // The read that meets the end of the file is not a line: the count keeps
  // the number of the last line read, also while a final timed block runs.
  if (f == nullptr || std::fgets(line_, sizeof line_, f) == nullptr) return false;
  ++lines_read_[level_];
  ++file_lines_[level_];
  return true;
}

LogPlace CZLScenario::PlaceOf(int level, unsigned line) const {
  LogPlace place;
  place.scenario_id = id_;
  place.file = shown_names_[level];
  place.line = line;
  place.callers.assign(call_sites_.begin() + 1, call_sites_.begin() + level + 1);
  return place;
}

void CZLScenario::RunScenario() {
  // What the worker logs belongs to the statement at work.
  ScopedLogPlace place(ctx_.statement_place());
  // One pending line and one timed block: a line that is not a timed
  // statement starts the collected block and stays pending until every
  // statement of the block has finished; meanwhile the loop polls the block
  // with 100 ms waits.
  while (files_[0] != nullptr) {
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
  const std::string as_written(line_);
  strncpyz(line_, SubstituteArguments(line_, args_[level_]).c_str(), sizeof line_);
  if (std::strncmp(line_, "#$CHECK:", 8) == 0) {
    std::string stored(line_ + 8);
    while (!stored.empty() && (stored.back() == '\n' || stored.back() == '\r')) stored.pop_back();
    integrity_.stored[level_] = stored;
  }
  if (line_[0] == '#') return;

  // A statement runs upper-cased, its arguments too. The line and the
  // arguments are upper-cased before they meet, which gives the same line,
  // except that the escapes of an argument's control characters keep their
  // lower-case letters ("\n", "\x1b") and read as the test log's escapes.
  std::array<std::string, 8> args = args_[level_];
  for (std::string& a : args) a = ToUpperCopy(a.c_str());
  strncpyz(line_, SubstituteArguments(ToUpperCopy(as_written.c_str()).c_str(), args).c_str(),
           sizeof line_);
  const std::size_t len = std::strlen(line_);
  if (len > 0 && line_[len - 1] == '\n') line_[len - 1] = '\0';

  tokens_.Start(line_);
  const char* token = tokens_.Next(kBlanks);
  if (token == nullptr) return;
  strncpyz(keyword_, token, sizeof keyword_);
  const char* keyword = keyword_;
  if (keyword[0] == ':') return;
  last_statement_.level = level_;
  last_statement_.line = file_lines_[level_];
  last_statement_.text = std::move(as_read);
  ctx_.set_place(PlaceOf(level_, file_lines_[level_]));
  if (keyword[0] == '@') {
    const char* options = tokens_.Next(kLineEnd);
    OpenSubtest(keyword + 1, options);
    return;
  }
  for (const Keyword* k = kKeywords; k->name != nullptr; ++k) {
    const bool match = k->prefix ? std::strncmp(keyword, k->name, std::strlen(k->name)) == 0
                                 : std::strcmp(keyword, k->name) == 0;
    if (match) {
      k->handler(*this);
      return;
    }
  }
  ACE_DEBUG((LM_ERROR, "Unknown scenario keyword %s\n", keyword));
  ctx_.StatementError("%s\t__Unknown scenario keyword, '%s'\n", ctx_.Stamp().c_str(), keyword);
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
  for (int l = 0; l <= level_; ++l) CheckMonitors(ctx_, monitors_[l]);
}

void CZLScenario::Abort() {
  timed_block_.Clear();
  for (int l = level_; l >= 0; --l) {
    if (files_[l] != nullptr) std::fclose(files_[l]);
    files_[l] = nullptr;
  }
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
            level_names_[last_statement_.level] + ", \"" + last_statement_.text + "\"";
  }
  ACE_DEBUG((LM_ERROR, "Scenario %s aborted %s: %s\n", scenario_file_.c_str(), place.c_str(),
             reason.c_str()));
  ctx_.Log("%s\t# Aborted %s: %s\n", ctx_.Stamp().c_str(), place.c_str(), reason.c_str());
  ctx_.Log("%s\t__Unknown exception aborted scenario.\n\n", ctx_.Stamp().c_str());
}

void CZLScenario::CloseLevels(int target) {
  if (target < 0 || target > kMaxLevel || files_[target] == nullptr) return;
  while (files_[target] != nullptr) {
    const int l = level_;
    if (files_[l] != nullptr) {
      if (ctx_.test_log().is_open() && l != 0) {
        ctx_.set_place(PlaceOf(l, 0));
        ReportMonitoredTags(ctx_, monitors_[l], l);
        ValidateChecksum(ctx_, integrity_.stored[l], integrity_.computed[l],
                         level_names_[l].c_str());
        ctx_.Log("%s\tSubtest '%s' finished--was nest level %d\n", ctx_.Stamp().c_str(),
                 level_names_[l].c_str(), l);
      }
      std::fclose(files_[l]);
      if (target == 0 && l == 0 && (ctx_.options().flags & ScenarioOptions::kAutoDelete) != 0) {
        std::remove(scenario_file_.c_str());
      }
    }
    files_[l] = nullptr;
    if (level_ >= 1 && level_ >= target) --level_;
    if (l == 0 || level_ < target) break;
  }
  if (target == 0 && ctx_.test_log().is_open()) {
    ctx_.set_place(PlaceOf(0, 0));
    ReportMonitoredTags(ctx_, monitors_[0], 0);
    ValidateChecksum(ctx_, integrity_.stored[0], integrity_.computed[0], level_names_[0].c_str());
    ReportVersions(ctx_, integrity_.changes_at_start);
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
    ctx_.StatementError("%8s\t__Test '%s' not executed, nest level too deep\n",
                        ctx_.Stamp().c_str(), name);
    return -2;
  }
  const int next = level_ + 1;
  // Names arrive upper-cased: each component is matched ignoring case.
  const std::string path = ResolvePathCase(scenario_dir_ + "/" + name);
  files_[next] = std::fopen(path.c_str(), "r");
  if (files_[next] == nullptr) {
    if (ctx_.test_log().is_open()) {
      ctx_.StatementError("%s\t__Subtest '%s' not started\n", ctx_.Stamp().c_str(), name);
    }
    return -1;
  }
  level_names_[next] = name;
  // The file found, named from the directory the run named the scenario in.
  const std::string found =
      path.compare(0, scenario_dir_.size() + 1, scenario_dir_ + "/") == 0
          ? path.substr(scenario_dir_.size() + 1)
          : std::string(name);
  shown_names_[next] =
      (std::filesystem::path(scenario_file_).parent_path() / found).generic_string();
  call_sites_[next] = shown_names_[level_] + ":" + std::to_string(file_lines_[level_]);
  file_lines_[next] = 0;
  if (options != nullptr) SetArguments(options, next);
  ScanLabels(next);
  integrity_.computed[next] = FileChecksum(files_[next], 0);
  integrity_.stored[next].clear();
  level_ = next;
  ACE_DEBUG((LM_INFO, "# File %s is open at level %d\n", name, level_));
  ctx_.Log("%s\tSubtest '%s' started--nest level %d\n", ctx_.Stamp().c_str(), name, level_);
  return 0;
}

void CZLScenario::ScanLabels(int level) {
  if (level < 0 || level > kMaxLevel) return;
  labels_[level].Scan(files_[level]);
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
