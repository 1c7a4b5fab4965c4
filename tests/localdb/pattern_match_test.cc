// ZLFind and PatPaste.
#include "localdb/pattern_match.h"

#include <gtest/gtest.h>

namespace zl {
namespace {

TEST(PatternMatchTest, FindFillsSlots) {
  PatternMatch m;
  ASSERT_TRUE(m.Find("valve FV101 open", "fv([0-9]+)"));  // case ignored, a search
  EXPECT_EQ("FV101", m.slot(0));                           // in the text's case
  EXPECT_EQ("101", m.slot(1));
  for (int i = 2; i < PatternMatch::kSlots; ++i) EXPECT_EQ("", m.slot(i)) << i;

  ASSERT_TRUE(m.Find("ab", "(a)|(x)(b)?"));  // groups that took no part give ""
  EXPECT_EQ("a", m.slot(1));
  EXPECT_EQ("", m.slot(2));

  // A failed search, a bad pattern and absent text clear every slot.
  struct Case { int line; const char* text; const char* pattern; };
  const Case kFailures[] = {
      {__LINE__, "FV101", "zz"},
      {__LINE__, "FV101", "fv([0-9]+"},  // does not compile
      {__LINE__, nullptr, "fv"},
      {__LINE__, "FV101", nullptr},
  };
  for (const Case& c : kFailures) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(m.Find("FV101", "fv([0-9]+)"));
    EXPECT_FALSE(m.Find(c.text, c.pattern));
    for (int i = 0; i < PatternMatch::kSlots; ++i) EXPECT_EQ("", m.slot(i)) << i;
  }
}

TEST(PatternMatchTest, Paste) {
  PatternMatch m;
  ASSERT_TRUE(m.Find("FV101 TIC7", "fv([0-9]+) tic([0-9])"));
  struct Case { int line; const char* tmpl; const char* want; };
  const Case kCases[] = {
      {__LINE__, "@ $1", "101 101"},
      {__LINE__, "$2-$1", "7-101"},
      {__LINE__, "$x", "$x"},       // "$" before a non-digit is kept
      {__LINE__, "$0", "$0"},       // slot 0 is not reachable
      {__LINE__, "$$1", "$101"},    // the first "$" is kept, "$1" replaced
      {__LINE__, "$9", ""},         // an empty slot
      {__LINE__, "end$", "end$"},   // a trailing "$"
      {__LINE__, "", ""},
      {__LINE__, nullptr, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, m.Paste(c.tmpl));
  }
}

}  // namespace
}  // namespace zl
