// The user-question record and the ANSWER statement, with the report of a
// settled question in the wait phase (user_question.h). Runs on the worker;
// answers arrive from host threads through CZLScenario::TakeAnswer under the
// question's lock.
#include "scenario/user_question.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include "common/text_utils.h"
#include "scenario/outside_text.h"
#include "scenario/scenario_owner.h"

namespace zl {
namespace {

// The longest question time-out (about 19 years): any longer one waits this
// long, and its seconds always fit a time value.
constexpr float kMaxQuestionMinutes = 1e7f;

}  // namespace

void UserQuestion::Ask(const std::string& text, bool expected_yes, const ACE_Time_Value& now) {
  // Each worker draws from its own generator.
  thread_local std::mt19937 random{std::random_device{}()};
  question_ = text;
  asked_at_ = now;
  answered_at_ = ACE_Time_Value::zero;
  answered_ = 0;
  answer_.clear();
  kind_ = 0;
  expected_yes_ = expected_yes ? 1 : 0;
  number_ = 1 + static_cast<std::uint32_t>(random() % 0x6FFFFFFFu);
}

void UserQuestion::SetTimeout(float minutes) {
  if (!(minutes <= kMaxQuestionMinutes)) minutes = minutes > 0 ? kMaxQuestionMinutes : 0;
  const long seconds = static_cast<long>(minutes * 60);
  timeout_ = seconds >= 1 ? ACE_Time_Value(seconds) : ACE_Time_Value::zero;
}

bool UserQuestion::Answer(std::uint32_t number, const char* text, const ACE_Time_Value& now) {
  if (number != number_) return false;
  if (text != nullptr) answer_ = text;
  answered_ = 1;
  answered_at_ = now;
  return true;
}

bool UserQuestion::TimedOut(const ACE_Time_Value& now) const {
  return timeout_ != ACE_Time_Value::zero && !(now < asked_at_ + timeout_);
}

bool UserQuestion::Pending(const ACE_Time_Value& now) const {
  return asked() && answered_ == 0 && !TimedOut(now);
}

bool UserQuestion::Passed(const ACE_Time_Value& now) const {
  if (answered_ == 0 || TimedOut(now)) return false;
  switch (kind_) {
    case 0: {
      const char c = answer_.empty() ? '\0' : answer_[0];
      const bool yes = c == '1' || c == 'Y' || c == 'y' || c == 'T' || c == 't';
      return yes == (expected_yes_ != 0);
    }
    case 1: {
      float value = 0;
      return std::sscanf(answer_.c_str(), "%f", &value) == 1 && value == expected_number_;
    }
    default: return answer_ == expected_text_;
  }
}

bool ReportSettledQuestion(StatementContext& ctx, QuestionState& question, ScenarioOwner* owner) {
  UserQuestion& record = question.record;
  {
    std::lock_guard<std::recursive_mutex> lock(*question.lock);
    if (!record.asked() || record.Pending(ctx.clock().Now())) return false;
  }
  // The owner's name is read outside the scenario lock: the owner's own lock
  // is taken before the scenario lock when a host answers from AskQuestion.
  // The party's name and the answer are the host's and the operator's
  // texts: they go into the line escaped (outside_text.h).
  const std::string party =
      owner != nullptr ? EscapeOutsideText(owner->ClientInterfaceName()) : "none";
  std::lock_guard<std::recursive_mutex> lock(*question.lock);
  const ACE_Time_Value now = ctx.clock().Now();
  const char* q = record.question().c_str();
  const std::string answer = EscapeOutsideText(record.answer());
  if (record.Passed(now)) {
    ctx.Log("%s\t  User Question '%s' passed. Answer from %s is '%s'\n", ctx.Stamp().c_str(), q,
            party.c_str(), answer.c_str());
  } else if (!record.answered() || record.TimedOut(now)) {
    ctx.Log("%s\t**User Question '%s' FAILED. No answer from %s\n", ctx.Stamp().c_str(), q,
            party.c_str());
  } else {
    ctx.Log("%s\t**User Question '%s' FAILED. Answer from %s is '%s'\n", ctx.Stamp().c_str(), q,
            party.c_str(), answer.c_str());
  }
  record.Reset();
  return true;
}

void Answer(StatementContext& ctx, StatementLine& line, QuestionState& question, WaitState& wait,
            ScenarioOwner* owner, CORBA::ULong id, const char* file) {
  // The operand rule of every statement; the timeout's error has ANSWER's
  // own line.
  Operands ops;
  if (!ReadOperands(ctx, line, &ops)) return;
  // A time-out beyond the limit waits as long as the limit.
  const double limit = kMaxQuestionMinutes;
  const float minutes = static_cast<float>(std::clamp(ops.value[0], -limit, limit));
  const std::string text = StripQuotes(ops.text[1]);
  if ((ctx.options().flags & ScenarioOptions::kSkipUserQ) != 0) {
    ++question.skipped;
    ctx.Log("%s\t  User Question '%s' not asked because of -skipuserq option\n",
            ctx.Stamp().c_str(), text.c_str());
    return;
  }
  CORBA::ULong number;
  ACE_Time_Value longest(259200);
  {
    std::lock_guard<std::recursive_mutex> lock(*question.lock);
    question.record.Ask(text, true, ctx.clock().Now());
    if (minutes > 0) {
      question.record.SetTimeout(minutes);
      longest = ACE_Time_Value(static_cast<long>(minutes * 60));
    }
    number = question.record.number();
  }
  wait.deadline = ctx.clock().Now() + longest;
  if (owner != nullptr) {
    owner->AskQuestion(static_cast<CORBA::Long>(id), number, file, text.c_str());
  }
}

}  // namespace zl
