#include "scenario/scenario.h"

#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "common/file_checksum.h"
#include "common/path_case.h"
#include "common/text_utils.h"
#include "scenario/scenario_owner.h"
#include "scenario/abort_reason.h"

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
  level_names_[0] = path;
  file_lines_[0] = 0;
  try {
    CORBA::String_var changes = ctx_.server()->HelloZL("$KERNEL.DBCHANGES");
    db_changes_at_start_ = static_cast<unsigned>(std::strtoul(changes.in(), nullptr, 10));
  } catch (...) {
    db_changes_at_start_ = 0;
  }

  const std::string::size_type dot = scenario_file_.rfind('.');
  ctx_.test_log().Open((dot == std::string::npos ? scenario_file_ : scenario_file_.substr(0, dot)) +
                       ".tlg");

  ScanLabels(0);
  computed_checksums_[0] = FileChecksum(files_[0], 0);

  ctx_.test_log().StartClock(ctx_.clock().Now());
  ACE_DEBUG((LM_INFO, "Starting scenario %s at level %d\n", path, level_));
  ctx_.test_log().Begin(path);
  OpenPointSocket();
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

void CZLScenario::RunScenario() {
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
      wait_deadline_ = ACE_Time_Value::zero;
      wait_condition_.clear();
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
  const std::string substituted = SubstituteArguments(line_, args_[level_]);
  strncpyz(line_, substituted.c_str(), sizeof line_);
  if (std::strncmp(line_, "#$CHECK:", 8) == 0) {
    std::string stored(line_ + 8);
    while (!stored.empty() && (stored.back() == '\n' || stored.back() == '\r')) stored.pop_back();
    stored_checksums_[level_] = stored;
  }
  if (line_[0] == '#') return;

  for (char* p = line_; *p != '\0'; ++p) {
    *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  }
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
  if (keyword[0] == '@') {
    const char* options = tokens_.Next(kLineEnd);
    OpenSubtest(keyword + 1, options);
    return;
  }
  for (const Keyword* k = kKeywords; k->name != nullptr; ++k) {
    const bool match = k->prefix ? std::strncmp(keyword, k->name, std::strlen(k->name)) == 0
                                 : std::strcmp(keyword, k->name) == 0;
    if (match) {
      (this->*(k->handler))();
      return;
    }
  }
  ACE_DEBUG((LM_ERROR, "Unknown scenario keyword %s\n", keyword));
  ctx_.StatementError("%s\t__Unknown scenario keyword, '%s'\n", ctx_.Stamp().c_str(), keyword);
}

bool CZLScenario::WaitPhase() {
  if (StopRequested()) return false;
  if (wait_deadline_ == ACE_Time_Value::zero && sim_target_ <= 0) return true;
  if (!wait_condition_.empty() && ctx_.Expr(wait_condition_.c_str()) != 0) {
    sim_target_ = 0;
    return true;
  }
  ctx_.test_log().Flush();
  for (;;) {
    if (StopRequested()) return false;
    const ACE_Time_Value now = ctx_.clock().Now();
    if (wait_deadline_ != ACE_Time_Value::zero && now < wait_deadline_) {
      CheckAllMonitors();
      ACE_Time_Value slice = wait_deadline_ - ctx_.clock().Now();
      if (slice > ACE_Time_Value(0, 500000)) slice = ACE_Time_Value(0, 500000);
      ctx_.clock().Sleep(slice);
    } else if (sim_target_ > 0) {
      if (SimWaitStep()) return !StopRequested();
    } else {
      break;
    }
    if (!wait_condition_.empty() && ctx_.Expr(wait_condition_.c_str()) != 0) {
      sim_target_ = 0;
      break;
    }
    // A question answered or timed out is reported and ends the wait.
    if (ReportSettledQuestion()) {
      sim_target_ = 0;
      break;
    }
  }
  return !StopRequested();
}

void CZLScenario::Abort() {
  timed_block_.Clear();
  for (int l = level_; l >= 0; --l) {
    if (files_[l] != nullptr) std::fclose(files_[l]);
    files_[l] = nullptr;
  }
  level_ = 0;
  if (ctx_.test_log().is_open()) {
    ctx_.Log("%s\t  Scenario was aborted by StopScenario()\n\n", ctx_.Stamp().c_str());
    CloseTestLogFile();
  }
}

void CZLScenario::ReportUnknownException() {
  ++ctx_.counters().errors;
  const std::string reason = AbortReason(std::current_exception());
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
        ReportMonitoredTags(l);
        ValidateChecksum(l);
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
    ReportMonitoredTags(0);
    ValidateChecksum(0);
    ReportVersions();
    if (skipped_questions_ > 0) {
      ctx_.Log("%s\t**Failure indicated because %ld questions skipped by -skipuserq option\n",
               ctx_.Stamp().c_str(), static_cast<long>(skipped_questions_));
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
  file_lines_[next] = 0;
  if (options != nullptr) SetArguments(options, next);
  ScanLabels(next);
  computed_checksums_[next] = FileChecksum(files_[next], 0);
  stored_checksums_[next].clear();
  level_ = next;
  ACE_DEBUG((LM_INFO, "# File %s is open at level %d\n", name, level_));
  ctx_.Log("%s\tSubtest '%s' started--nest level %d\n", ctx_.Stamp().c_str(), name, level_);
  return 0;
}

void CZLScenario::ScanLabels(int level) {
  if (level < 0 || level > kMaxLevel) return;
  LabelTable& table = labels_[level];
  std::unique_lock<std::shared_mutex> lock(table.mu);
  table.positions.clear();
  std::FILE* f = files_[level];
  if (f == nullptr) return;
  char buf[2048];
  unsigned line = 0;  // counted as ReadLine counts, from the file's start
  while (std::fgets(buf, sizeof buf, f) != nullptr) {
    ++line;
    if (buf[0] != ':') continue;
    const std::size_t n = std::strcspn(buf, " \t\n");
    buf[n] = '\0';
    table.positions[ToUpperCopy(buf)] = LabelTarget{std::ftell(f), line};
  }
  std::rewind(f);
}

void CZLScenario::GotoLabel(const char* label) {
  if (label == nullptr) return;
  LabelTable& table = labels_[level_];
  std::shared_lock<std::shared_mutex> lock(table.mu);
  const auto it = table.positions.find(ToUpperCopy(label));
  if (it != table.positions.end() && files_[level_] != nullptr) {
    std::fseek(files_[level_], it->second.offset, SEEK_SET);
    file_lines_[level_] = it->second.line;
  }
}

bool CZLScenario::NumericOperand(const char* role, const char* token, OperandForm form,
                                 double* value, std::string* text) {
  bool ok = !HasUnbalancedGroup(token);
  if (ok) {
    const bool expand = form == OperandForm::kNumber || form == OperandForm::kDuration;
    const std::string read = expand ? EvaluateParentheses(token) : std::string(token);
    if (form == OperandForm::kExpression) {
      *value = ctx_.Expr(token);
    } else {
      ok = ParseOperand(read.c_str(), form, value);
    }
    if (text != nullptr) *text = read;
  }
  if (!ok) {
    ctx_.StatementError("%s\t__Could not parse %s '%s' for %s\n", ctx_.Stamp().c_str(), role, token,
                        keyword_);
  }
  return ok;
}

std::string CZLScenario::EvaluateParentheses(const char* token) {
  std::string out;
  if (token == nullptr) return out;
  for (const char* p = token; *p != '\0'; ++p) {
    if (*p == '\\') {
      if (p[1] == '\0') break;
      out += *++p;
    } else if (*p == '(') {
      int depth = 0;
      const char* q = p;
      for (; *q != '\0'; ++q) {
        if (*q == '(') ++depth;
        if (*q == ')' && --depth == 0) break;
      }
      if (*q == '\0') break;  // unbalanced: dropped
      const std::string group(p, static_cast<std::size_t>(q - p + 1));
      char value[64];
      std::snprintf(value, sizeof value, "%lf", ctx_.Expr(group.c_str()));
      out += value;
      p = q;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace zl
