// What the wait phase after a statement waits for: a wall-clock deadline
// (DELAY, DELAYSECS, ANSWER, a polled timed block), a simulation time
// (SIMWAIT), and a condition that ends either early. The statement loop
// clears the deadline and the condition before each line; statements set
// them.
//
// Threads: the scenario's worker only.
#ifndef ZL_SCENARIO_WAIT_STATE_H_
#define ZL_SCENARIO_WAIT_STATE_H_

#include <ace/Time_Value.h>

#include <string>

namespace zl {

struct WaitState {
  ACE_Time_Value deadline;  // zero: no wall-clock wait
  double sim_target = 0;    // elapsed simulation seconds to wait for; 0: none
  std::string condition;    // an expression; the wait ends when it is not 0
};

}  // namespace zl

#endif  // ZL_SCENARIO_WAIT_STATE_H_
