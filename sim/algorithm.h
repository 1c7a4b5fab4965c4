// Tag algorithms: what the simulation loop computes for a tag in Auto mode
// each cycle (ramp, first-order lag, copy, calculation, sine, valve and pump
// feedback, integrator). Names and parameters are documented in
// docs/zelvik-sim.md.
//
// An Algorithm belongs to one Tag and keeps that tag's algorithm state (for
// example the time a valve has been travelling); like the Tag it is guarded
// by the owning TagDatabase's lock.
#ifndef ZL_SIM_ALGORITHM_H_
#define ZL_SIM_ALGORITHM_H_

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "expression.h"

namespace zl::sim {

struct Tag;
struct TagDefinition;

// A parameter text the algorithm cannot use. `offset` is the byte offset
// of the offending parameter within the parameter text.
class AlgorithmError : public std::runtime_error {
 public:
  AlgorithmError(bool unknown_algorithm, size_t offset, const std::string& what)
      : std::runtime_error(what), unknown_algorithm_(unknown_algorithm), offset_(offset) {}
  bool unknown_algorithm() const { return unknown_algorithm_; }
  size_t offset() const { return offset_; }

 private:
  bool unknown_algorithm_;
  size_t offset_;
};

// What one step sees besides the tag itself.
struct StepContext {
  const ValueSource& values;
  double dt;        // simulation seconds covered by this step (0 or more)
  double sim_time;  // elapsed simulation time at the end of this step
};

class Algorithm {
 public:
  virtual ~Algorithm() = default;

  // Builds the algorithm that `def.algorithm` names (any case) with
  // `def.params`. Gives nullptr for "NONE" (and an empty name). Throws
  // AlgorithmError for an unknown name or unusable parameters.
  static std::unique_ptr<Algorithm> Create(const TagDefinition& def);

  // The tag's new value (before digital normalisation). Throws
  // ExpressionError when an input cannot be evaluated; the tag then keeps
  // its value.
  virtual double Step(const Tag& self, const StepContext& context) = 0;
};

}  // namespace zl::sim

#endif  // ZL_SIM_ALGORITHM_H_
