#include "scenario/outside_text.h"

#include <gtest/gtest.h>

#include <string>

namespace zl {
namespace {

using std::string_literals::operator""s;

TEST(OutsideTextTest, EscapesControlCharactersAndBackslashes) {
  struct Case {
    int line;
    std::string text;
    const char* want;
  };
  const Case cases[] = {
      // The reported forgery: the answer's line feed must not end the line,
      // and its TAB must not pass for the stamp's separator.
      {__LINE__, "Yes'\n00:00:09.000\t  Verification <SP> = 9 passed",
       "Yes'\\n00:00:09.000\\t  Verification <SP> = 9 passed"},
      {__LINE__, "a\r\nb", "a\\r\\nb"},  // a carriage return ends a line for many readers
      // A backslash is doubled, or a typed "\n" would read as a line feed.
      {__LINE__, "C:\\new", "C:\\\\new"},
      {__LINE__, "\\n", "\\\\n"},
      // The other C0 controls and DEL: two lower-case hex digits.
      {__LINE__, "\x1b[2J", "\\x1b[2J"},
      {__LINE__, "\x0b\x0c\x1c\x1f\x7f", "\\x0b\\x0c\\x1c\\x1f\\x7f"},
      {__LINE__, "a\0b"s, "a\\x00b"},  // a zero byte, where a text can hold one
      // Printable text, blanks, quotes and the bytes of UTF-8 stay as they are.
      {__LINE__, "Yes, it's \"on\" (100%)", "Yes, it's \"on\" (100%)"},
      {__LINE__, "Ja, l\xc3\xa4uft \xe2\x80\xa8 \x80\xff", "Ja, l\xc3\xa4uft \xe2\x80\xa8 \x80\xff"},
      {__LINE__, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, EscapeOutsideText(c.text));
  }
}

// The reading a person (or a tool) gives an escaped text.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    const char next = text.at(++i);
    switch (next) {
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'x':
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
        break;
      default: ADD_FAILURE() << "not an escape: \\" << next;
    }
  }
  return out;
}

TEST(OutsideTextTest, EveryByteReadsBackAndNoControlCharacterIsLeft) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    // The byte alone and between a backslash and a letter of an escape, where
    // an ambiguous rule would read back as something else.
    const std::string texts[] = {std::string(1, static_cast<char>(b)),
                                 "\\" + std::string(1, static_cast<char>(b)) + "n"};
    for (const std::string& text : texts) {
      const std::string escaped = EscapeOutsideText(text);
      EXPECT_FALSE(HasControlCharacter(escaped));
      EXPECT_EQ(text, Unescape(escaped));
    }
    EXPECT_EQ(b < 0x20 || b == 0x7f, HasControlCharacter(std::string(1, static_cast<char>(b))));
  }
}

}  // namespace
}  // namespace zl
