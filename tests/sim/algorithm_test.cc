// Algorithms over simulated time: each run through RunCycle with chosen
// time steps, as the calculation loop would.
#include "algorithm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "recording_observer.h"
#include "tag_database.h"

namespace zl::sim {
namespace {

// Runs `seconds` of simulation in steps of `dt`.
void Simulate(TagDatabase& db, double seconds, double dt) {
  const long steps = std::lround(seconds / dt);
  for (long i = 0; i < steps; ++i) db.RunCycle(dt, false);
}

TEST(AlgorithmTest, StepResponses) {
  struct Case {
    int line;
    const char* definitions;  // the tag under test is X
    double seconds;
    double dt;
    double want;
  };
  const Case kCases[] = {
      // ramp without a setpoint: a sawtooth over the EU range
      {__LINE__, "X\t\t\tAnalog\t\t0\t10\t\t\tAuto\tRAMP\tRATE=2\t0", 3, 0.5, 6},
      {__LINE__, "X\t\t\tAnalog\t\t0\t10\t\t\tAuto\tRAMP\tRATE=2\t0", 6, 0.5, 2},  // wrapped
      {__LINE__, "X\t\t\tAnalog\t\t0\t10\t\t\tAuto\tRAMP\tRATE=-2\t1", 1, 1, 9},   // wraps downwards
      // ramp towards a setpoint: rate-limited, then holds
      {__LINE__, "S\t\t\tAnalog\t\t\t\t\t\tAuto\tNONE\t\t50\n"
                 "X\t\t\tAnalog\t\t\t\t\t\tAuto\tRAMP\tRATE=5;SP=S\t0", 4, 1, 20},
      {__LINE__, "S\t\t\tAnalog\t\t\t\t\t\tAuto\tNONE\t\t50\n"
                 "X\t\t\tAnalog\t\t\t\t\t\tAuto\tRAMP\tRATE=5;SP=S\t0", 20, 1, 50},
      // first-order lag: 1 - 1/e of the step after one time constant
      {__LINE__, "X\t\t\tAnalog\t\t\t\t\t\tAuto\tLAG\tIN=100;TAU=10\t0", 10, 0.01,
       100 * (1 - std::exp(-1.0))},
      {__LINE__, "X\t\t\tAnalog\t\t\t\t\t\tAuto\tLAG\tIN=100;TAU=10\t0", 10, 10,
       100 * (1 - std::exp(-1.0))},  // exact for any step
      // copy of another tag's field
      {__LINE__, "A\tD\t1\tAnalogIn\t\t0\t50\t4\t20\tAuto\tNONE\t\t25\n"
                 "X\t\t\tAnalog\t\t\t\t\t\tAuto\tCOPY\tSRC=A.PVRAW\t0", 1, 1, 12},
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\tAuto\tNONE\t\t3\n"
                 "X\t\t\tAnalog\t\t\t\t\t\tAuto\tCALC\tEXPR=A * A + 1\t0", 1, 1, 10},
      // sine over the elapsed simulation time: a quarter period is the peak
      {__LINE__, "X\t\t\tAnalog\t\t\t\t\t\tAuto\tSINE\tPERIOD=40;AMP=5;BIAS=20\t0", 10, 1, 25},
      {__LINE__, "X\t\t\tAnalog\t\t0\t10\t\t\tAuto\tSINE\tPERIOD=4\t0", 3, 1, 0},  // defaults: 5 +- 5
      // valve feedback: follows its command after the travel time
      {__LINE__, "C\t\t\tDigitalOut\t\t\t\t\t\tAuto\tNONE\t\t1\n"
                 "X\t\t\tDigitalIn\t\t\t\t\t\tAuto\tVALVE\tCMD=C;TRAVEL=3\t0", 2.5, 0.5, 0},
      {__LINE__, "C\t\t\tDigitalOut\t\t\t\t\t\tAuto\tNONE\t\t1\n"
                 "X\t\t\tDigitalIn\t\t\t\t\t\tAuto\tVALVE\tCMD=C;TRAVEL=3\t0", 3, 0.5, 1},
      {__LINE__, "C\t\t\tDigitalOut\t\t\t\t\t\tAuto\tNONE\t\t1\n"
                 "X\t\t\tDigitalIn\t\t\t\t\t\tAuto\tPUMP\tCMD=C;DELAY=0\t0", 0.1, 0.1, 1},
      // an analog valve position travels its span in the travel time
      {__LINE__, "C\t\t\tAnalog\t\t\t\t\t\tAuto\tNONE\t\t100\n"
                 "X\t\t\tAnalog\t\t\t\t\t\tAuto\tVALVE\tCMD=C;TRAVEL=10\t0", 4, 1, 40},
      // integrator, held within the EU range
      {__LINE__, "X\t\t\tAnalog\t\t0\t5\t\t\tAuto\tINTEG\tIN=0.5;K=2\t1", 2, 0.25, 3},
      {__LINE__, "X\t\t\tAnalog\t\t0\t5\t\t\tAuto\tINTEG\tIN=0.5;K=2\t1", 10, 1, 5},
      {__LINE__, "X\t\t\tAnalog\t\t0\t5\t\t\tAuto\tINTEG\tIN=-1\t1", 10, 1, 0},
      // Manual mode: the algorithm leaves the value alone
      {__LINE__, "X\t\t\tAnalog\t\t0\t10\t\t\tManual\tRAMP\tRATE=2\t1", 3, 1, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    TagDatabase db("SIM", nullptr);
    db.Download(c.definitions);
    Simulate(db, c.seconds, c.dt);
    EXPECT_NEAR(c.want, db.Pve("X"), 1e-6);
    EXPECT_NEAR(c.seconds, db.SimTime(), 1e-9);
  }
}

TEST(AlgorithmTest, CalculationsOffFreezeTimeButSingleCyclesRun) {
  TagDatabase db("SIM", nullptr);
  db.Download("X\t\t\tAnalog\t\t0\t100\t\t\tAuto\tRAMP\tRATE=1\t0");
  db.EnableAlgorithms(false, "EnableAlgs");
  db.RunCycle(5, false);
  EXPECT_EQ(0, db.Pve("X"));
  EXPECT_EQ(0, db.SimTime());
  EXPECT_EQ(0u, db.Cycles());
  db.RunCycle(5, true);  // DoASingleCalcCycle
  EXPECT_EQ(5, db.Pve("X"));
  EXPECT_EQ(5, db.SimTime());
  db.RunCycle(0, true);  // a zero step runs the calculations without time
  EXPECT_EQ(5, db.Pve("X"));
  EXPECT_EQ(2u, db.Cycles());
}

TEST(AlgorithmTest, FailureIsReportedOnceAndTheValueKept) {
  testing::RecordingObserver observer;
  TagDatabase db("SIM", &observer);
  db.Download("X\t\t\tAnalog\t\t\t\t\t\tAuto\tCALC\tEXPR=100 / Y\t7");
  Simulate(db, 3, 1);
  EXPECT_EQ(7, db.Pve("X"));
  EXPECT_EQ(1, observer.Count(MessageType::kWarning, "unknown tag 'Y'"));
  db.Download("Y\t\t\tAnalog\t\t\t\t\t\tAuto\tNONE\t\t0");
  Simulate(db, 3, 1);  // still failing (now by zero): no new report
  EXPECT_EQ(1, observer.Count(MessageType::kWarning, ""));
  db.SetPve("Y", 4, "SetPVE");
  db.RunCycle(1, false);
  EXPECT_EQ(25, db.Pve("X"));
  EXPECT_EQ(1, observer.Count(MessageType::kInfo, "works again"));
}

TEST(AlgorithmTest, OneBatchPerCycleWithOnlyTheChangedTags) {
  testing::RecordingObserver observer;
  TagDatabase db("SIM", &observer);
  db.Download(
      "A\t\t\tAnalog\t\t0\t100\t\t\tAuto\tRAMP\tRATE=1\t0\n"
      "B\t\t\tAnalog\t\t0\t100\t\t\tAuto\tRAMP\tRATE=2\t0\n"
      "C\t\t\tAnalog\t\t0\t100\t\t\tAuto\tNONE\t\t0\n");
  observer.batches.clear();
  db.RunCycle(1, false);
  ASSERT_EQ(1u, observer.batches.size());
  ASSERT_EQ(2u, observer.batches[0].size());
  EXPECT_EQ("A", observer.batches[0][0].name);
  EXPECT_EQ("B", observer.batches[0][1].name);
  EXPECT_EQ(2, observer.batches[0][1].eu);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(AlgorithmTest, ExamplePlantMoves) {
  testing::RecordingObserver observer;
  TagDatabase db("PLANT", &observer);
  const std::string text = ReadFile(std::string(ZL_SOURCE_DIR) + "/examples/plant.tags");
  ASSERT_FALSE(text.empty());
  EXPECT_GE(db.Download(text), 20);
  const double level = db.Pve("TANK_LEVEL");
  Simulate(db, 120, 0.5);
  // Nothing fails, the feed runs, the level and temperature move, and the
  // thermostat has switched the heater on.
  EXPECT_EQ(0, observer.Count(MessageType::kWarning, ""));
  EXPECT_EQ(1, db.Pve("FEED_PUMP_RUN"));
  EXPECT_EQ(1, db.Pve("INLET_VALVE_ZSO"));
  EXPECT_NEAR(30, db.Pve("FEED_FLOW"), 1);
  EXPECT_NE(level, db.Pve("TANK_LEVEL"));
  EXPECT_GT(db.Pve("TANK_TEMP"), 40);
  EXPECT_GT(db.Pve("FEED_TOTAL"), 0.5);
  EXPECT_NEAR(db.Pve("TANK_LEVEL.PV"), db.Pve("LEVEL_PCT"), 1);
  // Long enough for the thermostat and the level loop to settle.
  Simulate(db, 1800, 1);
  EXPECT_NEAR(60, db.Pve("TANK_TEMP"), 5);
  EXPECT_GT(db.Pve("TANK_LEVEL"), 1);
  EXPECT_LT(db.Pve("TANK_LEVEL"), 4.5);
  EXPECT_EQ(0, db.Pve("HIGH_LEVEL_ALM"));
}

}  // namespace
}  // namespace zl::sim
