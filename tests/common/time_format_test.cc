#include "common/time_format.h"

#include <gtest/gtest.h>

namespace zl {
namespace {

TEST(TimeFormatTest, FormatDuration) {
  struct Case {
    int line;
    ACE_Time_Value d;
    const char* want;
  };
  const Case kCases[] = {
      {__LINE__, ACE_Time_Value(3661, 500000), "01:01:01.500"},  // every field
      {__LINE__, ACE_Time_Value::zero, "00:00:00.000"},
      {__LINE__, ACE_Time_Value(59, 999999), "00:00:59.999"},    // ms truncated, not rounded
      {__LINE__, ACE_Time_Value(86400), "24:00:00.000"},         // no day roll-over
      {__LINE__, ACE_Time_Value(100 * 3600), "100:00:00.000"},   // hours widen past 2 digits
      {__LINE__, ACE_Time_Value(3599, 999000), "00:59:59.999"},  // just below an hour
      // Negative durations: every field keeps its own sign.
      {__LINE__, ACE_Time_Value(-3661, -500000), "-1:-1:-1.-500"},
      {__LINE__, ACE_Time_Value(0, -250000), "00:00:00.-250"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, FormatDuration(c.d));
  }
}

TEST(TimeFormatTest, FormatTimeSpan) {
  struct Case {
    int line;
    ACE_Time_Value start;
    ACE_Time_Value end;
    const char* want;
  };
  const ACE_Time_Value t0(1700000000, 0);
  const Case kCases[] = {
      {__LINE__, t0, t0, "0:00.000"},
      {__LINE__, t0, t0 + ACE_Time_Value(59, 999000), "0:59.999"},     // last short form
      {__LINE__, t0, t0 + ACE_Time_Value(60), "01:00.000"},             // minutes from 60 s
      {__LINE__, t0, t0 + ACE_Time_Value(307, 250000), "05:07.250"},
      {__LINE__, t0, t0 + ACE_Time_Value(3599, 999000), "59:59.999"},  // last minute form
      {__LINE__, t0, t0 + ACE_Time_Value(3600), "01:00:00.000"},        // hours from 3600 s
      {__LINE__, t0, t0 + ACE_Time_Value(7, 250000), "0:07.250"},
      // Microseconds borrow across the second of the start.
      {__LINE__, ACE_Time_Value(1000, 900000), ACE_Time_Value(1001, 100000), "0:00.200"},
      // End before start: the short form with signed fields.
      {__LINE__, t0, t0 - ACE_Time_Value(5), "0:-5.000"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, FormatTimeSpan(c.start, c.end));
  }
}

}  // namespace
}  // namespace zl
