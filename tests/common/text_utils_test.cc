#include "common/text_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/log_capture.h"

namespace zl {
namespace {

// Whether `text` is an error line of text_utils.cc carrying `message`.
bool IsLocatedError(const std::string& text, const std::string& message) {
  const std::string prefix = "(File src/common/text_utils.cc;Line ";
  const std::string suffix = ") " + message;
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  if (text.size() < prefix.size() + suffix.size()) return false;
  const std::string number =
      text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  return !number.empty() && number.find_first_not_of("0123456789") == std::string::npos &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(ExtractItemTest, Fields) {
  struct Case {
    int line;
    const char* src;
    int n;
    char delim;
    const char* want;
  };
  const Case kCases[] = {
      {__LINE__, "a, b ,c", 1, ',', "a"},
      {__LINE__, "a, b ,c", 2, ',', "b"},      // leading blanks skipped, trailing cut
      {__LINE__, "a, b ,c", 3, ',', "c"},      // last field runs to the end
      {__LINE__, "a, b ,c", 4, ',', ""},       // past the end
      {__LINE__, "a, b ,c", 0, ',', ""},       // item numbers start at 1
      {__LINE__, "a, b ,c", -1, ',', ""},
      {__LINE__, "a,,c", 2, ',', ""},          // empty field
      {__LINE__, "a,b,", 3, ',', ""},          // empty field after a final delimiter
      {__LINE__, "a,   ", 2, ',', ""},         // blank field
      {__LINE__, "", 1, ',', ""},
      {__LINE__, "x\t,y", 1, ',', "x\t"},      // trailing tab kept
      {__LINE__, "x,\ty", 2, ',', "\ty"},      // leading tab kept
      {__LINE__, "x,y \r\n", 2, ',', "y"},     // line end and blanks stripped
      {__LINE__, "TAG\t1.5\tAUTO", 2, '\t', "1.5"},
      {__LINE__, "abc", 1, '\0', "abc"},       // zero delimiter: one field only
      {__LINE__, "abc", 2, '\0', ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, ExtractItem(c.src, c.n, c.delim));
  }
}

TEST(ExtractItemTest, AbsentSourceLogsError) {
  testing::LogCapture log;
  EXPECT_EQ("", ExtractItem(nullptr, 1, ','));
  const std::vector<testing::LogLine> lines = log.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(LM_ERROR, lines[0].priority);
  EXPECT_TRUE(IsLocatedError(lines[0].text, "Null source pointer passed to ExtractItem\n"))
      << lines[0].text;
}

TEST(StrncpyzTest, Copies) {
  struct Case {
    int line;
    const char* src;
    int size;
    const char* want;  // the whole first `size` bytes, '.' for a zero byte
  };
  const Case kCases[] = {
      {__LINE__, "abcdefghij", 8, "abcdefg."},  // cut to size - 1, terminated
      {__LINE__, "abcdefg", 8, "abcdefg."},     // exact fit
      {__LINE__, "ab", 8, "ab......"},          // rest zero-filled
      {__LINE__, "abc", 1, "."},                // room for the terminator only
      {__LINE__, "abc", 0, ""},                 // nothing written
      {__LINE__, "abc", -3, ""},                // negative size: nothing written
      {__LINE__, nullptr, 4, "...."},           // absent source copies as empty
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(buf, strncpyz(buf, c.src, c.size));
    std::string got(buf, std::strlen(c.want));
    for (char& ch : got) {
      if (ch == '\0') ch = '.';
    }
    EXPECT_EQ(c.want, got);
    EXPECT_EQ('#', buf[std::strlen(c.want)]) << "wrote past size";
  }
}

TEST(StrncpyzTest, AbsentDestinationLogsError) {
  testing::LogCapture log;
  EXPECT_EQ(nullptr, strncpyz(nullptr, "abc", 8));
  const std::vector<testing::LogLine> lines = log.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(LM_ERROR, lines[0].priority);
  EXPECT_TRUE(IsLocatedError(lines[0].text, "Null dst pointer passed to strncpyz\n"))
      << lines[0].text;
}

TEST(CaseAndQuotesTest, Conversions) {
  struct Case {
    int line;
    std::string (*fn)(const char*);
    const char* text;
    const char* want;
  };
  const Case kCases[] = {
      {__LINE__, ToUpperCopy, nullptr, ""},
      {__LINE__, ToUpperCopy, "aBc1_ z", "ABC1_ Z"},
      {__LINE__, ToUpperCopy, "\xe9t\xe9", "\xe9T\xe9"},  // bytes above 127 are no letters in "C"
      {__LINE__, ToLowerCopy, nullptr, ""},
      {__LINE__, ToLowerCopy, "AbC1_ Z", "abc1_ z"},
      {__LINE__, StripQuotes, nullptr, ""},
      {__LINE__, StripQuotes, "\"", "\""},          // one quote is not a pair
      {__LINE__, StripQuotes, "\"\"", ""},          // an empty quoted text
      {__LINE__, StripQuotes, "\"a b\"", "a b"},
      {__LINE__, StripQuotes, "\"a\"b\"", "a\"b"},  // only the outer pair
      {__LINE__, StripQuotes, "\"ab", "\"ab"},      // unbalanced: unchanged
      {__LINE__, StripQuotes, "ab\"", "ab\""},
      {__LINE__, StripQuotes, " \"ab\"", " \"ab\""},  // quotes must be at the very ends
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, c.fn(c.text));
  }
}

}  // namespace
}  // namespace zl
