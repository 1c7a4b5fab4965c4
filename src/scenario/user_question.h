// The user questions of a scenario: the record of the question an ANSWER
// statement asked and the answer the host hands back, the ANSWER statement
// and the report of a settled question in the wait phase.
//
// Threads: the record is written by the worker (ask, reset) and by host
// threads (answer); every access is made under the lock of its
// QuestionState (the scenario lock of the scenario manager, see
// CZLScenario::set_scenario_lock). The record itself has no lock.
#ifndef ZL_SCENARIO_USER_QUESTION_H_
#define ZL_SCENARIO_USER_QUESTION_H_

#include <ace/Time_Value.h>
#include <omniORB4/CORBA.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "scenario/statement_context.h"
#include "scenario/statement_line.h"
#include "scenario/wait_state.h"

namespace zl {

class UserQuestion {
 public:
  // All fields back to their initial values (no question asked).
  void Reset() { *this = UserQuestion(); }
  // Asks `text` at `now` expecting a yes/no answer; draws a new question
  // number.
  void Ask(const std::string& text, bool expected_yes, const ACE_Time_Value& now);
  // Timeout in minutes: whole seconds, none below one second.
  void SetTimeout(float minutes);
  // True when `number` is this question's: stores `text` (when given) and
  // marks the question answered at `now`.
  bool Answer(std::uint32_t number, const char* text, const ACE_Time_Value& now);

  bool asked() const { return asked_at_ != ACE_Time_Value::zero; }
  bool TimedOut(const ACE_Time_Value& now) const;
  // Asked, not answered and not timed out.
  bool Pending(const ACE_Time_Value& now) const;
  // Answered in time with the expected answer.
  bool Passed(const ACE_Time_Value& now) const;
  bool answered() const { return answered_ != 0; }

  const std::string& question() const { return question_; }
  const std::string& answer() const { return answer_; }
  std::uint32_t number() const { return number_; }
  const ACE_Time_Value& timeout() const { return timeout_; }

 private:
  std::string question_;
  std::uint32_t number_ = 0;
  unsigned char answered_ = 0;
  std::string answer_;
  ACE_Time_Value asked_at_;
  ACE_Time_Value answered_at_;
  ACE_Time_Value timeout_;
  std::int32_t kind_ = 0;  // 0 yes/no, 1 number, 2 text
  unsigned char expected_yes_ = 1;
  float expected_number_ = 1.0f;
  std::string expected_text_ = "true";
};

// The question family's state in a scenario.
struct QuestionState {
  std::recursive_mutex own_lock;
  // The lock of `record`: the manager's scenario lock, or own_lock.
  std::recursive_mutex* lock = &own_lock;
  UserQuestion record;   // guarded by *lock
  unsigned skipped = 0;  // questions not asked (-skipuserq); worker only
};

class ScenarioOwner;

// ANSWER timeout question: asks the host (`owner`, for scenario `id` of
// `file`) and has the wait phase wait (`wait`) for the answer, at most
// `timeout` minutes, or 72 hours with a timeout of 0. With the -skipuserq
// option it only counts the question as skipped and says so.
void Answer(StatementContext& ctx, StatementLine& line, QuestionState& question, WaitState& wait,
            ScenarioOwner* owner, CORBA::ULong id, const char* file);
// Reports and resets a question that was asked and is no longer pending,
// naming `owner`'s answering party; true when it did (the wait ends). Takes
// the question's lock, and the owner's before it.
bool ReportSettledQuestion(StatementContext& ctx, QuestionState& question, ScenarioOwner* owner);

}  // namespace zl

#endif  // ZL_SCENARIO_USER_QUESTION_H_
