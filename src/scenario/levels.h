// The nest levels of a scenario: level 0 is the scenario file, each subtest
// call opens the next one. Every per-level table of the engine has one entry
// per level.
#ifndef ZL_SCENARIO_LEVELS_H_
#define ZL_SCENARIO_LEVELS_H_

namespace zl {

constexpr int kMaxNestLevel = 255;  // deepest nest level
constexpr int kNestLevels = kMaxNestLevel + 1;

}  // namespace zl

#endif  // ZL_SCENARIO_LEVELS_H_
