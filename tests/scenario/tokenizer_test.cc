#include "scenario/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zl {
namespace {

std::vector<std::string> Tokens(const std::string& line, const char* delims, bool groups) {
  std::vector<char> buf(line.begin(), line.end());
  buf.push_back('\0');
  Tokenizer t;
  t.Start(buf.data());
  std::vector<std::string> out;
  for (char* tok = t.Next(delims, groups); tok != nullptr; tok = t.Next(delims, groups)) {
    out.push_back(tok);
  }
  return out;
}

TEST(TokenizerTest, SplitsAtDelimitersOutsideQuotesAndGroups) {
  struct Case {
    int line;
    std::string text;
    const char* delims;
    bool groups;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      // Leading and repeated delimiters must not give empty tokens.
      {__LINE__, "  SETPV\t FIC101  5 ", kBlanks, false, {"SETPV", "FIC101", "5"}},
      // A quoted blank belongs to the token; the quotes stay in it.
      {__LINE__, "COMMENT \"A B\" C", kBlanks, false, {"COMMENT", "\"A B\"", "C"}},
      // A group keeps its blanks only when groups are allowed.
      {__LINE__, "DELAY (1 + 2) X", kBlanks, true, {"DELAY", "(1 + 2)", "X"}},
      {__LINE__, "DELAY (1 + 2) X", kBlanks, false, {"DELAY", "(1", "+", "2)", "X"}},
      // Nested groups are counted.
      {__LINE__, "A ((1 + 2) * 3) B", kBlanks, true, {"A", "((1 + 2) * 3)", "B"}},
      // After a backslash quotes no longer group.
      {__LINE__, "\\\"A B\"", kBlanks, false, {"\\\"A", "B\""}},
      // The line-end set gives the rest of the line as one token.
      {__LINE__, "A  B C", kLineEnd, false, {"A  B C"}},
      // The empty set gives everything; an empty line gives nothing.
      {__LINE__, " X Y", kNoDelims, false, {" X Y"}},
      {__LINE__, " \t ", kBlanks, false, {}},
      {__LINE__, "", kBlanks, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, Tokens(c.text, c.delims, c.groups));
  }
}

TEST(TokenizerTest, KeywordThenRestOfLine) {
  char line[] = "GOTO :LOOP (X > 1)  ";
  Tokenizer t;
  t.Start(line);
  EXPECT_STREQ("GOTO", t.Next(kBlanks));
  EXPECT_STREQ(":LOOP", t.Next(kBlanks));
  EXPECT_STREQ("(X > 1)  ", t.Next(kLineEnd));
  EXPECT_EQ(nullptr, t.Next(kLineEnd));
}

TEST(SubstituteArgumentsTest, ReplacesArgumentsAndEscapes) {
  const std::array<std::string, 8> args = {"one", "two", "", "", "", "", "", "eight"};
  struct Case {
    int line;
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      {__LINE__, "SETPV $1 $2", "SETPV one two"},
      // An argument not given is empty; $8 is the last one.
      {__LINE__, "[$3][$8]", "[][eight]"},
      // $9 and $0 are not arguments: copied as they stand.
      {__LINE__, "$9 $0", "$9 $0"},
      // Escapes: \$ gives $, \\ gives \, other escapes are kept whole.
      {__LINE__, "\\$1", "$1"},
      {__LINE__, "\\\\$1", "\\one"},
      {__LINE__, "\\n", "\\n"},
      // A final $ or backslash is copied.
      {__LINE__, "A$", "A$"},
      {__LINE__, "A\\", "A\\"},
      // "$$1": the first $ takes the second with it, so no substitution.
      {__LINE__, "$$1", "$$1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, SubstituteArguments(c.text, args));
  }
}

TEST(SubstituteArgumentsTest, ArgumentWithAControlCharacterGoesInEscaped) {
  const std::array<std::string, 8> args = {"A\nB", "C:\\D", "E\\F\x1b", "", "", "", "", ""};
  struct Case {
    int line;
    const char* text;
    const char* want;
  };
  const Case cases[] = {
      // A line feed would end the statement and the test log line quoting it.
      {__LINE__, "VERIFY $1 5", "VERIFY A\\nB 5"},
      // Without a control character an argument goes in as it is.
      {__LINE__, "SYSTEM ls $2", "SYSTEM ls C:\\D"},
      // With one, the whole argument is escaped: its backslash too.
      {__LINE__, "COMMENT $3", "COMMENT E\\\\F\\x1b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, SubstituteArguments(c.text, args));
  }
}

}  // namespace
}  // namespace zl
