// Log set records: the packed little-endian layout, the reader's checks and
// the text lines.
#include "logset/log_record.h"

#include <gtest/gtest.h>

#include <string>

namespace zl {
namespace {

// "_TA_" of FIC101 = 1.5 (mode Auto) at 1234 ms, byte by byte.
const std::string kFic101 = std::string(
    "_TA_"
    "\x1f\x00\x00\x00"                  // length 31 = 25 + 6
    "\xd2\x04\x00\x00"                  // 1234 ms
    "\x00\x00\x00\x00\x00\x00\xf8\x3f"  // 1.5
    "\x00\x00\x00\x00\x00\x00\x00\x00"  // 0
    "\x01\x00\x00\x00"                  // mode 1
    "FIC101\x00",
    39);

TEST(LogRecordTest, EncodesPackedLittleEndian) {
  EXPECT_EQ(EncodeLogRecord(MakeLogRecord("_TA_", 1234, 1.5, 0, 1, "FIC101")), kFic101);
  // A short kind is padded with blanks; an empty text still has its zero.
  const std::string bytes = EncodeLogRecord(MakeLogRecord("AB", 0, 0, 0, 0, ""));
  ASSERT_EQ(bytes.size(), 33u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("AB  \x19\x00\x00\x00", 8));
  EXPECT_EQ(bytes.back(), '\0');
}

TEST(LogRecordTest, CutsKindAndText) {
  const LogRecord r = MakeLogRecord("ABCDEFGHIJ", 0, 0, 0, 0, std::string(100, 'x').c_str());
  EXPECT_EQ(r.kind, "ABCDEFG");
  EXPECT_EQ(r.text.size(), 79u);
  EXPECT_EQ(EncodeLogRecord(r).substr(0, 4), "ABCD");
}

TEST(LogRecordTest, DecodesWhatItEncodes) {
  LogRecord r;
  size_t used = 0;
  const std::string two = kFic101 + EncodeLogRecord(MakeLogRecord("SCMT", 7, 0, 0, 0, "hi"));
  ASSERT_TRUE(DecodeLogRecord(two.data(), two.size(), &r, &used));
  EXPECT_EQ(used, kFic101.size());
  EXPECT_EQ(r.kind, "_TA_");
  EXPECT_EQ(r.elapsed_ms, 1234u);
  EXPECT_EQ(r.value, 1.5);
  EXPECT_EQ(r.mode, 1u);
  EXPECT_EQ(r.text, "FIC101");
  ASSERT_TRUE(DecodeLogRecord(two.data() + used, two.size() - used, &r, &used));
  EXPECT_EQ(r.text, "hi");
}

TEST(LogRecordTest, RejectsDamagedRecords) {
  struct Case {
    int line;
    size_t offset;  // byte to change, or npos to cut the last byte
    char to;
    bool ok;
  };
  const Case cases[] = {
      {__LINE__, 4, '\x1e', false},  // length one short: the zero is not the last byte
      {__LINE__, 4, '\x20', false},  // length beyond the data
      {__LINE__, 4, '\x18', false},  // length below the fixed part
      {__LINE__, 7, '\x01', false},  // high byte of the length: far beyond the data
      {__LINE__, 38, 'X', false},    // terminator overwritten
      {__LINE__, 33, '\0', false},   // zero inside the text
      {__LINE__, std::string::npos, 0, false},  // record cut short
      {__LINE__, 12, '\x7f', true},  // a value byte: still well-formed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string bytes = kFic101;
    if (c.offset == std::string::npos) bytes.pop_back();
    else bytes[c.offset] = c.to;
    LogRecord r;
    size_t used = 0;
    EXPECT_EQ(DecodeLogRecord(bytes.data(), bytes.size(), &r, &used), c.ok);
  }
}

TEST(LogRecordTest, RendersEachKind) {
  struct Case {
    int line;
    LogRecord record;
    std::string text;
  };
  const Case cases[] = {
      {__LINE__, MakeLogRecord("_TA_", 61234, 1.5, 0, 1, "FIC101"),
       "     1:01.234 TAG FIC101 = 1.5, Auto\r\n"},
      {__LINE__, MakeLogRecord("_TA_", 0, 0, 0, 0, "X"), "     0:00.000 TAG X = 0.0, Manual\r\n"},
      {__LINE__, MakeLogRecord("_FO_", 0, 0, 0, 1, ""), ""},
      {__LINE__, MakeLogRecord("_DE_", 0, 0, 0, 9, ""), ""},
      {__LINE__, MakeLogRecord("_ZZ_", 1000, 0, 0, 0, "DEMO"),
       "     0:01.000 Logfile Closing value=0.0, mode=0, DEMO\r\n"},
      {__LINE__, MakeLogRecord("STMA", 0, 2, 0, 0, "T1"), "     0:00.000 Tag T1 to Manual, value=2.0\r\n"},
      {__LINE__, MakeLogRecord("STAU", 0, 2, 0, 0, "T1"), "     0:00.000 Tag T1 to AUTO, value=2.0\r\n"},
      // value equal to the second value passes, else fails
      {__LINE__, MakeLogRecord("SVFY", 0, 2, 2, 0, "T1"),
       "     0:00.000   Verify tag T1 = 2.0 passed Value is 2.0\r\n"},
      {__LINE__, MakeLogRecord("SVFY", 0, 2, 3, 0, "T1"),
       "     0:00.000 **Verify tag T1 = 2.0 FAILED Value is 3.0\r\n"},
      {__LINE__, MakeLogRecord("SASR", 0, 2, 3, 0, "T1"),
       "     0:00.000 **Assertion tag T1 = 2.0 FAILED. Value is 3.0\r\n"},
      {__LINE__, MakeLogRecord("SCMT", 0, 0, 0, 0, "hello"), "     0:00.000 COMMENT: hello\r\n"},
      {__LINE__, MakeLogRecord("QQ", 0, 1, 2, 255, "t"),
       "     0:00.000 Unknown Entry QQ value=1.0, alt value=2.0, mode=0xff, t\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(RenderLogRecord(c.record), c.text);
  }
  const std::string header = RenderLogRecord(MakeLogRecord("_HD_", 0, 0, 0, 0, "DEMO"));
  EXPECT_EQ(header, "  Log set 'DEMO', started " + CalendarText(0).substr(0, 24) + "\r\n");
  // A long text is cut to the line's 132 characters.
  EXPECT_LE(RenderLogRecord(MakeLogRecord("SCMT", 0, 0, 0, 0, std::string(79, 'c').c_str()))
                .size(), 132u);
}

}  // namespace
}  // namespace zl
