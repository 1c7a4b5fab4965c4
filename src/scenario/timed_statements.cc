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
#include "scenario/check_statements.h"
#include "scenario/server_calls.h"
#include "scenario/statement_context.h"

namespace zl {
namespace {

ACE_Time_Value FromMilliseconds(long long ms) {
  return ACE_Time_Value(static_cast<time_t>(ms / 1000),
                        static_cast<suseconds_t>((ms % 1000) * 1000));
}

}  // namespace

CScenarioStatementAsync::CScenarioStatementAsync(StatementContext* context, std::string tag,
                                                 Comparison comparison, TimedRole role,
                                                 double expected,
                                                 const ACE_Time_Value& start_offset,
                                                 const ACE_Time_Value& end_offset)
    : context_(context),
      place_(context->place()),
      tag_(std::move(tag)),
      comparison_(comparison),
      role_(role),
      expected_(expected),
      start_offset_(start_offset),
      end_offset_(end_offset) {}

std::string CScenarioStatementAsync::After(const ACE_Time_Value& now) const {
  return FormatTimeSpan(started_at_, now);
}

bool CScenarioStatementAsync::Check() {
  StatementContext& s = *context_;
  try {
    const bool read = TagCall(
        [&] { last_value_ = s.server()->PVE(tag_.c_str()); },
        [&] {
          Finish(TimedState::kError, s.clock().Now());
          ACE_DEBUG((LM_ERROR, "Scenario: Tag <%s> not found\n", tag_.c_str()));
          s.StatementError("%s\t__Tag <%s> not found for Timed Assertion\n", s.Stamp().c_str(),
                           tag_.c_str());
        });
    if (!read) return false;
  } catch (const CORBA::SystemException&) {
    // Timed checks survive a failing server as well: the statement ends in
    // error and the block goes on (server_calls.h).
    Finish(TimedState::kError, s.clock().Now());
    ACE_DEBUG((LM_ERROR, "Scenario: Communication error with ZL Server while reading '%s'\n",
               tag_.c_str()));
    s.StatementError("%s\t__Communication error reading '%s' during Timed Assertion\n",
                     s.Stamp().c_str(), tag_.c_str());
    return false;
  }
  const ScenarioOptions& o = s.options();
  return ComparePasses(comparison_, last_value_, expected_, o.rel_tol, o.abs_tol);
}

TimedState CScenarioStatementAsync::Poll(const ACE_Time_Value& now) {
  if (finished()) return state_;
  StatementContext& s = *context_;
  // What it writes and logs belongs to its own statement line.
  StatementContext::PlaceScope place(s, place_);
  ResultCounters& counters = s.counters();
  const bool verification = role_ != TimedRole::kAssertion;
  const bool monitor = role_ == TimedRole::kMonitor;
  const char* word = verification ? "Verification" : "Assertion";
  const char* op = OperatorText(comparison_);
  if (state_ == TimedState::kCreated) {
    started_at_ = now;
    window_start_ = now + start_offset_;
    window_end_ = now + end_offset_;
    state_ = monitor ? TimedState::kInWindow : TimedState::kBeforeWindow;
  }
  if (state_ == TimedState::kBeforeWindow) {
    if (now < window_start_) return state_;
    // The precheck: the condition must not hold yet at the window start. A
    // check that could not read the tag (its error line written, the
    // statement ended) neither passes nor counts.
    state_ = TimedState::kInWindow;
    const bool holds = Check();
    if (state_ == TimedState::kError) return state_;
    ++counters.total_verifies;
    if (!holds) {
      if (verification) {
        s.Log("%s\t  Precheck Timed Verification !(<%s> %s %lf) passed Value is %lf after %s\n",
              s.Stamp().c_str(), tag_.c_str(), op, expected_, last_value_, After(now).c_str());
      }
    } else {
      ++counters.failed_verifies;
      s.Log("%s\t**Precheck Timed %s !(<%s> %s %lf) FAILED Value is %lf after %s\n",
            s.Stamp().c_str(), word, tag_.c_str(), op, expected_, last_value_, After(now).c_str());
      Finish(TimedState::kFailed, now);
    }
    return state_;
  }
  // In the window.
  const bool holds = Check();
  const bool error = state_ == TimedState::kError;
  if (holds) {
    ++counters.total_verifies;
    if (!monitor) {
      if (verification) {
        s.Log("%s\t  Timed Verification <%s> %s %lf passed Value is %lf after %s\n",
              s.Stamp().c_str(), tag_.c_str(), op, expected_, last_value_, After(now).c_str());
      }
      Finish(TimedState::kPassed, now);
    } else if (!(now < window_end_)) {
      if (verification) {
        s.Log("%s\t  Timed Monitor <%s> %s %lf passed Value is %lf after %s\n", s.Stamp().c_str(),
              tag_.c_str(), op, expected_, last_value_, After(now).c_str());
      }
      Finish(TimedState::kPassed, now);
    }
  } else if (!monitor) {
    if (!(now < window_end_)) {
      ++counters.total_verifies;
      ++counters.failed_verifies;
      s.Log("%s\t**Timed %s <%s> %s %lf FAILED to occur. Value is %lf after %s\n",
            s.Stamp().c_str(), word, tag_.c_str(), op, expected_, last_value_, After(now).c_str());
      if (!error) Finish(TimedState::kFailed, now);
    }
  } else {
    ++counters.total_verifies;
    ++counters.failed_verifies;
    s.Log("%s\t**Timed Monitor <%s> %s %lf FAILED. Value is %lf after %s\n", s.Stamp().c_str(),
          tag_.c_str(), op, expected_, last_value_, After(now).c_str());
    if (!error) Finish(TimedState::kFailed, now);
  }
  return state_;
}

TimedState CScenarioStmtWaitAsync::Poll(const ACE_Time_Value& now) {
  if (state_ == TimedState::kCreated) {
    end_ = now + delay_;
    state_ = TimedState::kInWindow;
  }
  if (active() && !(now < end_)) Finish(TimedState::kPassed, now);
  return state_;
}

void CScenarioTimedBlock::Add(std::unique_ptr<TimedStatement> statement) {
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

void TimedVerify(StatementContext& ctx, StatementLine& line, CScenarioTimedBlock& block,
                 Comparison comparison, TimedRole role) {
  // A missing start or end is 0; a window given with its end before its
  // start is an error of the shape's reading.
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  const char* list = ops.text[0];
  const double expected = ops.value[1];
  const long long start_ms = ToMilliseconds(ops.value[2]);
  const long long end_ms = ToMilliseconds(ops.value[3]);
  for (int i = 1;; ++i) {
    const std::string tag = ExtractItem(list, i, ',');
    if (tag.empty()) break;
    block.Add(std::make_unique<CScenarioStatementAsync>(&ctx, tag, comparison, role, expected,
                                                        FromMilliseconds(start_ms),
                                                        FromMilliseconds(end_ms)));
    ++ctx.counters().total_verifies;
  }
}

void BlockDelay(StatementContext& ctx, StatementLine& line, CScenarioTimedBlock& block) {
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  long long ms = ToMilliseconds(ops.value[0]);
  if (ms < 0) {
    ACE_DEBUG((LM_WARNING, "[SCEN] (%P/%t) BDELAY time must be non-negative\n"));
    ms = 0;
  }
  block.Add(std::make_unique<CScenarioStmtWaitAsync>(FromMilliseconds(ms)));
}

}  // namespace zl
