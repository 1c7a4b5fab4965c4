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

// A notice is the wake-up of an event loop: it must come exactly once for
// every way a scenario stops running, and never for anything else.
TEST(ScenarioEndsTest, ANoticeComesOnceWhenTheScenarioNoLongerRuns) {
  enum Step { kNothing, kEndIt, kEndAnother, kClose };
  struct Case {
    int line;
    Step before;   // what happened to scenario 7 before the notice was asked for
    CORBA::Long asked;
    Step after;    // what happens after
    int at_once;   // notices given while asking
    int in_all;    // notices given by then
  };
  const Case kCases[] = {
      {__LINE__, kNothing, 7, kNothing, 0, 0},     // still running: no notice yet
      {__LINE__, kNothing, 7, kEndIt, 0, 1},       // its end
      {__LINE__, kNothing, 7, kEndAnother, 0, 0},  // another scenario's end is not its
      {__LINE__, kNothing, 7, kClose, 0, 1},       // the manager went away
      {__LINE__, kEndIt, 7, kNothing, 1, 1},       // ended before it was asked: at once
      {__LINE__, kNothing, 8, kEndIt, 1, 1},       // an id that never ran: at once
      {__LINE__, kClose, 7, kEndIt, 1, 1},         // closed, then a late end: no second
  };
  auto apply = [](ScenarioEnds& ends, Step step) {
    switch (step) {
      case kNothing: break;
      case kEndIt: ends.Ended(7); break;
      case kEndAnother: ends.Ended(9); break;
      case kClose: ends.Close(); break;
    }
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    ScenarioEnds ends;
    ends.Started(7);
    ends.Started(9);
    apply(ends, c.before);
    int notices = 0;
    ends.NotifyWhenEnded(c.asked, [&] { ++notices; });
    EXPECT_EQ(c.at_once, notices);
    apply(ends, c.after);
    EXPECT_EQ(c.in_all, notices);
    ends.Close();
    EXPECT_EQ(1, notices) << "a notice still due comes when the board closes, and only once";
  }
}

TEST(ScenarioEndsTest, EveryNoticeOfAScenarioComes) {
  ScenarioEnds ends;
  ends.Started(4);
  int first = 0;
  int second = 0;
  ends.NotifyWhenEnded(4, [&] { ++first; });
  ends.NotifyWhenEnded(4, [&] { ++second; });
  ends.Ended(4);
  EXPECT_EQ(1, first);
  EXPECT_EQ(1, second);
}

// The notice comes once the scenario is unlisted, and without the board's
// lock: it may ask the board, and finds the scenario ended.
TEST(ScenarioEndsTest, ANoticeSeesTheScenarioEnded) {
  ScenarioEnds ends;
  ends.Started(5);
  bool seen_ended = false;
  ends.NotifyWhenEnded(5, [&] { seen_ended = ends.HasEnded(5); });
  ends.Ended(5);
  EXPECT_TRUE(seen_ended);
}

}  // namespace
}  // namespace zl
