// The board of running scenarios that hosts wait on for a scenario's end.
#include "localdb/scenario_ends.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace zl {
namespace {

using std::chrono::milliseconds;

TEST(ScenarioEndsTest, WhatHasEnded) {
  struct Case {
    int line;
    CORBA::Long started;
    CORBA::Long ended;  // 0: none
    bool close;
    CORBA::Long asked;
    bool want;
  };
  const Case kCases[] = {
      {__LINE__, 1, 0, false, 1, false},  // running
      {__LINE__, 1, 1, false, 1, true},   // ended
      {__LINE__, 1, 0, false, 2, true},   // an id that never ran
      {__LINE__, 1, 2, false, 1, false},  // another scenario's end leaves it running
      {__LINE__, 1, 0, true, 1, true},    // the manager is gone: nothing runs
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    ScenarioEnds ends;
    ends.Started(c.started);
    if (c.ended != 0) ends.Ended(c.ended);
    if (c.close) ends.Close();
    EXPECT_EQ(c.want, ends.HasEnded(c.asked));
    EXPECT_EQ(c.want, ends.WaitEnded(c.asked, milliseconds(0)));
  }
}

TEST(ScenarioEndsTest, AWaitEndsAtTheEndNotAtItsLimit) {
  struct Case { int line; bool close; };
  const Case kCases[] = {
      {__LINE__, false},  // the scenario ends
      {__LINE__, true},   // the manager goes away while a host waits
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    ScenarioEnds ends;
    ends.Started(7);
    std::thread ender([&] {
      std::this_thread::sleep_for(milliseconds(50));
      if (c.close) {
        ends.Close();
      } else {
        ends.Ended(7);
      }
    });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(ends.WaitEnded(7, std::chrono::minutes(5)));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::minutes(1));
    ender.join();
  }
}

TEST(ScenarioEndsTest, AWaitOnARunningScenarioLastsItsLimit) {
  ScenarioEnds ends;
  ends.Started(3);
  const auto began = std::chrono::steady_clock::now();
  EXPECT_FALSE(ends.WaitEnded(3, milliseconds(30)));
  EXPECT_GE(std::chrono::steady_clock::now() - began, milliseconds(30));
}

}  // namespace
}  // namespace zl
