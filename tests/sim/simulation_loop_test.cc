// The calculation loop driven without its thread (SimulationLoop::Advance):
// the cycles an elapsed time runs at the loop's cycle time and warp factor,
// the part of a period carried over, and a hold.
#include "simulation_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "tag_database.h"

namespace zl::sim {
namespace {

TEST(SimulationLoopTest, AdvanceRunsTheCyclesOfTheElapsedTime) {
  struct Case {
    int line;
    double cycle_time, warp;
    std::vector<int> steps_ms;  // successive Advance calls
    uint64_t want_cycles;
    double want_sim_time;
  };
  const Case cases[] = {
      {__LINE__, 1, 1, {999}, 0, 0},          // less than a period runs nothing
      {__LINE__, 1, 1, {600, 400}, 1, 1},     // the rest of a period carries over
      {__LINE__, 1, 1, {2500, 500}, 3, 3},    // several periods in one call
      {__LINE__, 1, 4, {1000}, 4, 4},         // warp 4: four 1 s cycles per second
      {__LINE__, 0.5, 1, {2000}, 4, 2},       // each cycle is one cycle time
      {__LINE__, 1, 1000, {10}, 10, 10},      // at most one cycle per millisecond
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    TagDatabase db("SIM", nullptr);
    SimulationLoop loop(&db);
    ASSERT_TRUE(loop.SetCycleTime(c.cycle_time));
    ASSERT_TRUE(loop.SetWarp(c.warp));
    for (int ms : c.steps_ms) loop.Advance(std::chrono::milliseconds(ms));
    EXPECT_EQ(c.want_cycles, db.Cycles());
    EXPECT_DOUBLE_EQ(c.want_sim_time, db.SimTime());
  }
}

// A hold skips the cycles it spans, which are not made up after the
// release; the periods keep their phase, as on the loop's thread.
TEST(SimulationLoopTest, AdvanceSkipsTheCyclesOfAHold) {
  TagDatabase db("SIM", nullptr);
  SimulationLoop loop(&db);
  loop.Advance(std::chrono::milliseconds(500));
  loop.Acquire();
  loop.Advance(std::chrono::seconds(5));  // to 5.5 s: the cycles at 1 to 5 s are skipped
  EXPECT_EQ(0u, db.Cycles());
  loop.Release();
  loop.Advance(std::chrono::milliseconds(499));
  EXPECT_EQ(0u, db.Cycles());
  loop.Advance(std::chrono::milliseconds(1));  // 6 s
  EXPECT_EQ(1u, db.Cycles());
}

// A new cycle time or warp factor starts a new period: the part of the old
// one already spent is dropped.
TEST(SimulationLoopTest, AdvanceStartsANewPeriodAfterATimingChange) {
  TagDatabase db("SIM", nullptr);
  SimulationLoop loop(&db);
  loop.Advance(std::chrono::milliseconds(600));
  ASSERT_TRUE(loop.SetWarp(1));
  loop.Advance(std::chrono::milliseconds(600));
  EXPECT_EQ(0u, db.Cycles());
  loop.Advance(std::chrono::milliseconds(400));
  EXPECT_EQ(1u, db.Cycles());
}

}  // namespace
}  // namespace zl::sim
