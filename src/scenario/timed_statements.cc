// Timed statements and the timed block: TVERIFY, TASSERT and TMONITOR
// families, BDELAY and BEND. Statements are collected into the block without
// being started; the statement loop starts the block at the next line that
// is not a timed statement and polls it every 100 ms until all have
// finished. Runs on the worker.
#include "scenario/timed_statements.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/text_utils.h"
#include "common/time_format.h"
#include "scenario/checks.h"
#include "scenario/scenario.h"

namespace zl {
namespace {

constexpr int kMonitorKind = 6;

// The longest window offset or block delay, either sign (about 31 years):
// every offset from the clock then fits a time value.
constexpr double kMaxOffsetSeconds = 1e9;

// Seconds as whole milliseconds (cut toward zero); beyond the limit they
// are cut to it.
long long ToMilliseconds(double seconds) {
  seconds = std::clamp(seconds, -kMaxOffsetSeconds, kMaxOffsetSeconds);
  return static_cast<long long>(seconds * 1000);
}

ACE_Time_Value FromMilliseconds(long long ms) {
  return ACE_Time_Value(static_cast<time_t>(ms / 1000),
                        static_cast<suseconds_t>((ms % 1000) * 1000));
}

}  // namespace

CScenarioStatementAsync::CScenarioStatementAsync(CZLScenario* scenario, std::string tag, int kind,
                                                 double expected, bool verification,
                                                 const ACE_Time_Value& start_offset,
                                                 const ACE_Time_Value& end_offset)
    : tag_(std::move(tag)),
      kind_(kind),
      expected_(expected),
      verification_(verification ? 1 : 0),
      start_offset_(start_offset),
      end_offset_(end_offset),
      operator_text_(OperatorText(kind)),
      scenario_(scenario),
      window_start_(scenario->clock_->Now()),
      window_end_(window_start_) {}

CScenarioStatementAsync::~CScenarioStatementAsync() = default;

std::string CScenarioStatementAsync::After(const ACE_Time_Value& now) const {
  return FormatTimeSpan(started_at_, now);
}

bool CScenarioStatementAsync::Check() {
  CZLScenario& s = *scenario_;
  try {
    last_value_ = s.db_->PVE(tag_.c_str());
  } catch (const ZEMR::ZLTagNotFound&) {
    state_ = 5;
    finished_at_ = s.clock_->Now();
    ACE_DEBUG((LM_ERROR, "Scenario: Tag <%s> not found\n", tag_.c_str()));
    ++s.sceErrors_;
    s.Log("%s\t__Tag <%s> not found for Timed Assertion\n", s.Stamp().c_str(), tag_.c_str());
    return false;
  } catch (const CORBA::SystemException&) {
    state_ = 5;
    finished_at_ = s.clock_->Now();
    ACE_DEBUG((LM_ERROR, "Scenario: Communication error with ZL Server while reading '%s'\n",
               tag_.c_str()));
    ++s.sceErrors_;
    s.Log("%s\t__Communication error reading '%s' during Timed Assertion\n", s.Stamp().c_str(),
          tag_.c_str());
    return false;
  }
  return ComparePasses(kind_, last_value_, expected_, s.rel_tol_, s.abs_tol_);
}

int CScenarioStatementAsync::Poll(const ACE_Time_Value& now) {
  previous_state_ = state_;
  if (state_ >= 3) return state_;
  CZLScenario& s = *scenario_;
  const char* word = verification_ ? "Verification" : "Assertion";
  if (state_ == 0) {
    started_at_ = now;
    window_start_ = now + start_offset_;
    window_end_ = now + end_offset_;
    state_ = kind_ == kMonitorKind ? 2 : 1;
  }
  if (state_ == 1) {
    if (now < window_start_) return state_;
    // The precheck: the condition must not hold yet at the window start.
    state_ = 2;
    const bool holds = Check();
    ++s.totalVerifies_;
    if (!holds) {
      if (verification_) {
        s.Log("%s\t  Precheck Timed Verification !(<%s> %s %lf) passed Value is %lf after %s\n",
              s.Stamp().c_str(), tag_.c_str(), operator_text_.c_str(), expected_, last_value_,
              After(now).c_str());
      }
    } else {
      ++s.failedVerifies_;
      s.Log("%s\t**Precheck Timed %s !(<%s> %s %lf) FAILED Value is %lf after %s\n",
            s.Stamp().c_str(), word, tag_.c_str(), operator_text_.c_str(), expected_, last_value_,
            After(now).c_str());
      state_ = 4;
      finished_at_ = now;
    }
    return state_;
  }
  // State 2: in the window.
  const bool holds = Check();
  const bool error = state_ == 5;
  if (holds) {
    ++s.totalVerifies_;
    if (kind_ != kMonitorKind) {
      if (verification_) {
        s.Log("%s\t  Timed Verification <%s> %s %lf passed Value is %lf after %s\n",
              s.Stamp().c_str(), tag_.c_str(), operator_text_.c_str(), expected_, last_value_,
              After(now).c_str());
      }
      state_ = 3;
      finished_at_ = now;
    } else if (!(now < window_end_)) {
      if (verification_) {
        s.Log("%s\t  Timed Monitor <%s> %s %lf passed Value is %lf after %s\n", s.Stamp().c_str(),
              tag_.c_str(), operator_text_.c_str(), expected_, last_value_, After(now).c_str());
      }
      state_ = 3;
      finished_at_ = now;
    }
  } else if (kind_ != kMonitorKind) {
    if (!(now < window_end_)) {
      ++s.totalVerifies_;
      ++s.failedVerifies_;
      s.Log("%s\t**Timed %s <%s> %s %lf FAILED to occur. Value is %lf after %s\n",
            s.Stamp().c_str(), word, tag_.c_str(), operator_text_.c_str(), expected_, last_value_,
            After(now).c_str());
      if (!error) {
        state_ = 4;
        finished_at_ = now;
      }
    }
  } else {
    ++s.totalVerifies_;
    ++s.failedVerifies_;
    s.Log("%s\t**Timed Monitor <%s> %s %lf FAILED. Value is %lf after %s\n", s.Stamp().c_str(),
          tag_.c_str(), operator_text_.c_str(), expected_, last_value_, After(now).c_str());
    if (!error) {
      state_ = 4;
      finished_at_ = now;
    }
  }
  return state_;
}

CScenarioStmtWaitAsync::CScenarioStmtWaitAsync(CZLScenario* scenario, const ACE_Time_Value& delay)
    : CScenarioStatementAsync(scenario, std::string(), 0, 0, false, ACE_Time_Value::zero, delay) {}

int CScenarioStmtWaitAsync::Poll(const ACE_Time_Value& now) {
  previous_state_ = state_;
  if (state_ == 0) {
    started_at_ = now;
    window_start_ = now;
    window_end_ = now + end_offset_;
    state_ = 2;
  }
  if ((state_ == 1 || state_ == 2) && !(now < window_end_)) {
    state_ = 3;
    finished_at_ = now;
  }
  return state_;
}

void CScenarioTimedBlock::Add(std::unique_ptr<CScenarioStatementAsync> statement) {
  statements_.push_back(std::move(statement));
}

void CScenarioTimedBlock::Poll(const ACE_Time_Value& now) {
  if (start_ == ACE_Time_Value::zero) start_ = now;
  if (now < start_) return;
  for (auto& statement : statements_) statement->Poll(now);
}

bool CScenarioTimedBlock::AnyActive() const {
  for (const auto& statement : statements_) {
    if (statement->active()) return true;
  }
  return false;
}

bool CScenarioTimedBlock::AllFinished() const {
  for (const auto& statement : statements_) {
    if (!statement->finished()) return false;
  }
  return true;
}

void CScenarioTimedBlock::Clear() {
  statements_.clear();
  start_ = ACE_Time_Value::zero;
}

bool CZLScenario::IsTimedLine(const char* line) {
  static const char* const kTimedWords[] = {"BDELAY",     "COMMENT",    "TASSERT",
                                            "TASSERT_GT", "TASSERT_LT", "TVERIFY",
                                            "TVERIFY_GT", "TVERIFY_LT", "TMONITOR"};
  while (*line == ' ' || *line == '\t') ++line;
  std::string word;
  while (*line != '\0' && *line != ' ' && *line != '\t' && *line != '\n' && *line != '\r') {
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(*line)));
    ++line;
  }
  for (const char* timed : kTimedWords) {
    if (word == timed) return true;
  }
  return false;
}

void CZLScenario::PollTimedBlock() {
  const ACE_Time_Value now = clock_->Now();
  timed_block_.Poll(now);
  if (timed_block_.AllFinished()) {
    timed_block_.Clear();
  } else {
    wait_deadline_ = now + ACE_Time_Value(0, 100000);
  }
}

// TVERIFY | TVERIFY_GT | TVERIFY_LT | TASSERT | TASSERT_GT | TASSERT_LT |
// TMONITOR taglist value [start [end]]: one timed statement per tag, added to
// the block.
void CZLScenario::TimedVerify(int kind, const char* keyword) {
  const bool verification = kind < 3 || kind == kMonitorKind;
  char list[80];
  const char* value_token = nullptr;
  if (!TakeTagListAndValue("VERIFY", keyword, list, &value_token)) return;
  double expected = 0;
  if (!NumericOperand("value", value_token, OperandForm::kNumber, &expected)) return;
  // A missing start or end is 0; a window given with its end before its
  // start is an error.
  long long start_ms = 0, end_ms = 0;
  if (const char* start_token = tokens_.Next(kBlanks, true)) {
    double seconds = 0;
    if (!NumericOperand("start", start_token, OperandForm::kNumber, &seconds)) return;
    start_ms = ToMilliseconds(seconds);
    if (const char* end_token = tokens_.Next(kBlanks, true)) {
      if (!NumericOperand("end", end_token, OperandForm::kNumber, &seconds)) return;
      end_ms = ToMilliseconds(seconds);
      if (end_ms < start_ms) {
        ++sceErrors_;
        Log("%s\t__Window end '%s' is before its start '%s' for %s\n", Stamp().c_str(),
            end_token, start_token, keyword_);
        return;
      }
    }
  }
  for (int i = 1;; ++i) {
    const std::string tag = ExtractItem(list, i, ',');
    if (tag.empty()) break;
    timed_block_.Add(std::make_unique<CScenarioStatementAsync>(
        this, tag, kind, expected, verification, FromMilliseconds(start_ms),
        FromMilliseconds(end_ms)));
    ++totalVerifies_;
  }
}

void CZLScenario::DoTVerify() { TimedVerify(0, "TVERIFY"); }
void CZLScenario::DoTVerifyGt() { TimedVerify(1, "TVERIFY_GT"); }
void CZLScenario::DoTVerifyLt() { TimedVerify(2, "TVERIFY_LT"); }
void CZLScenario::DoTAssert() { TimedVerify(3, "TASSERT"); }
void CZLScenario::DoTAssertGt() { TimedVerify(4, "TASSERT_GT"); }
void CZLScenario::DoTAssertLt() { TimedVerify(5, "TASSERT_LT"); }
void CZLScenario::DoTMonitor() { TimedVerify(kMonitorKind, "TMONITOR"); }

// BDELAY seconds | BDELAYSECS seconds: the block lasts at least this long.
void CZLScenario::DoBDelay() {
  const char* operand = tokens_.Next(kBlanks, true);
  if (operand == nullptr) {
    ++sceErrors_;
    Log("%s\t__BDELAY not executed\n", Stamp().c_str());
    return;
  }
  double seconds = 0;
  if (!NumericOperand("delay", operand, OperandForm::kNumber, &seconds)) return;
  long long ms = ToMilliseconds(seconds);
  if (ms < 0) {
    ACE_DEBUG((LM_WARNING, "[SCEN] (%P/%t) BDELAY time must be non-negative\n"));
    ms = 0;
  }
  timed_block_.Add(std::make_unique<CScenarioStmtWaitAsync>(this, FromMilliseconds(ms)));
}

// BEND: nothing itself; as a line that is not a timed statement it has the
// loop run the collected block to its end first.
void CZLScenario::DoBEnd() {}

}  // namespace zl
