// The tags a subscription asks for: the matching rule, one row per way a
// matcher goes wrong.
#include "localdb/tag_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zl {
namespace {

TEST(TagPatternTest, Rule) {
  struct Case { int line; const char* pattern; const char* name; bool want; };
  const Case kCases[] = {
      {__LINE__, "TANK_*", "TANK_LEVEL", true},
      {__LINE__, "TANK_*", "TANK_", true},          // "*" also stands for nothing
      {__LINE__, "TANK_*", "TANK", false},
      {__LINE__, "TANK_*", "XTANK_LEVEL", false},   // anchored at the start ...
      {__LINE__, "*_SP", "LEVEL_SP_2", false},      // ... and at the end
      {__LINE__, "*_SP", "LEVEL_SP", true},
      {__LINE__, "tank_*", "TANK_LEVEL", true},     // case of ASCII letters ignored
      {__LINE__, "TANK_*", "tank_level", true},
      {__LINE__, "T?C*", "TIC200", true},
      {__LINE__, "T?C", "TC", false},               // "?" is exactly one character
      {__LINE__, "T?C", "TIIC", false},
      {__LINE__, "*", "", true},
      {__LINE__, "?", "", false},
      {__LINE__, "A*B*C", "AXXBYYBZZC", true},      // a later "*" after a false start
      {__LINE__, "A*B*C", "AXXBYYBZZ", false},
      {__LINE__, "*A*A*A*A*B", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", false},  // no blow-up
      {__LINE__, "[AB]", "A", false},               // brackets are plain characters
      {__LINE__, "[AB]", "[ab]", true},
      {__LINE__, "\xc3\xa9*", "\xc3\x89", false},   // beyond ASCII: bytes as they are
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, MatchesTagPattern(c.pattern, c.name));
  }
}

TEST(TagFilterTest, NamesAndPatterns) {
  const TagFilter filter({"FEED_PUMP_CMD", "TANK_*", "t?c200", "LEVEL_SP"});
  struct Case { int line; std::string name; bool want; };
  const Case kCases[] = {
      {__LINE__, "FEED_PUMP_CMD", true},
      {__LINE__, "feed_pump_cmd", true},    // a name without regard to case
      {__LINE__, "FEED_PUMP_CM", false},    // a name is whole, not a prefix
      {__LINE__, "FEED_PUMP_CMDX", false},
      {__LINE__, "TANK_TEMP", true},        // a pattern
      {__LINE__, "TIC200", true},
      {__LINE__, "LEVEL_SP", true},         // the last entry counts too
      {__LINE__, "LEVEL_PCT", false},
      {__LINE__, "", false},
      {__LINE__, std::string("LEVEL_SP\0X", 10), false},  // the length, not the NUL, ends it
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, filter.Matches(c.name));
  }
  const std::vector<std::string> want = {"FEED_PUMP_CMD", "TANK_*", "t?c200", "LEVEL_SP"};
  EXPECT_EQ(want, filter.entries());
}

TEST(TagFilterTest, NoEntriesMatchNothing) {
  const TagFilter filter({});
  EXPECT_FALSE(filter.Matches("ANY"));
  EXPECT_FALSE(filter.Matches(""));
}

}  // namespace
}  // namespace zl
