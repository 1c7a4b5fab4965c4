#include "common/file_checksum.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace zl {
namespace {

// An anonymous temporary file holding `text`, positioned at its start.
class TempFile {
 public:
  explicit TempFile(const std::string& text) : file_(std::tmpfile()) {
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::rewind(file_);
  }
  ~TempFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

std::string ChecksumOf(const std::string& text, long offset = 0) {
  TempFile file(text);
  EXPECT_NE(nullptr, file.get());
  return FileChecksum(file.get(), offset);
}

TEST(FileChecksumTest, CoveredText) {
  const std::string a2046(2046, 'a');
  const std::string a2047(2047, 'a');
  struct Case {
    int line;
    std::string file;
    std::string covered;  // the text whose digest the file's checksum must be
  };
  const Case kCases[] = {
      {__LINE__, "SET A 1\nSET B 2\n", "SET A 1\nSET B 2\n"},
      // Comments and checksum lines are left out wherever they stand.
      {__LINE__, "# head\nSET A 1\n#$CHECK:0123\nSET B 2\n# tail\n", "SET A 1\nSET B 2\n"},
      // A blank line is a statement line.
      {__LINE__, "SET A 1\n\nSET B 2\n", "SET A 1\n\nSET B 2\n"},
      // Only '#' in the first column marks a comment.
      {__LINE__, " # not a comment\n", " # not a comment\n"},
      // CR LF reads as LF; a lone CR is data.
      {__LINE__, "SET A 1\r\nSET B 2\r\n", "SET A 1\nSET B 2\n"},
      {__LINE__, "A\rB\n", "A\rB\n"},
      // A last line without a line feed is fed as it stands.
      {__LINE__, "SET A 1\nSET B 2", "SET A 1\nSET B 2"},
      {__LINE__, "", ""},
      // Long lines come in pieces of 2047: a piece that starts with '#' is
      // left out, even in the middle of a line.
      {__LINE__, a2047 + "#x\n", a2047},
      {__LINE__, a2046 + "#x\n", a2046 + "#x\n"},
      {__LINE__, a2047 + a2047 + "b\n", a2047 + a2047 + "b\n"},
      // CR LF at the piece limit still counts as one character.
      {__LINE__, a2046 + "\r\n#x\n", a2046 + "\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(DigestHex(c.covered), ChecksumOf(c.file));
  }
}

TEST(FileChecksumTest, EditsThatMatter) {
  const std::string base = "# v1\nSET A 1\nSET B 2\n";
  EXPECT_EQ(ChecksumOf(base), ChecksumOf("# v2, edited\nSET A 1\n# new\nSET B 2\n"));
  EXPECT_NE(ChecksumOf(base), ChecksumOf("# v1\nSET A 1\n\nSET B 2\n"));  // blank line
  EXPECT_NE(ChecksumOf(base), ChecksumOf("# v1\nSET A 1\nSET B 2 \n"));   // trailing blank
}

TEST(FileChecksumTest, FromOffsetAndPositionRestored) {
  const std::string head = "#$CHECK:abc\nHEADER\n";
  TempFile file(head + "SET A 1\n# note\n");
  ASSERT_NE(nullptr, file.get());
  ASSERT_EQ(0, std::fseek(file.get(), 5, SEEK_SET));

  EXPECT_EQ(DigestHex("SET A 1\n"), FileChecksum(file.get(), static_cast<long>(head.size())));
  EXPECT_EQ(5, std::ftell(file.get()));
  // The read to the end leaves the stream usable from the restored position.
  char buf[32];
  ASSERT_NE(nullptr, std::fgets(buf, sizeof buf, file.get()));
  EXPECT_STREQ("CK:abc\n", buf);
}

// An empty section (a test log with nothing after its section start) has the
// checksum of no data.
TEST(FileChecksumTest, EmptySection) {
  const std::string text = "SET A 1\n";
  EXPECT_EQ(Digest().FinishHex(), ChecksumOf(text, static_cast<long>(text.size())));
  EXPECT_EQ("54b28a5dea504371e94a6c1fa6877c46", ChecksumOf("# only comments\n"));
}

// A signed section verifies: the appended "#$CHECK:" line is left out.
TEST(FileChecksumTest, SignatureLineVerifies) {
  const std::string earlier = "old run\n#$CHECK:0000\n";
  const std::string section = "00:00:00.000\tStart\n00:00:01.250\tEnd\n";
  const std::string sum = ChecksumOf(earlier + section, static_cast<long>(earlier.size()));
  EXPECT_EQ(sum, ChecksumOf(earlier + section + "#$CHECK:" + sum + "\n",
                            static_cast<long>(earlier.size())));
}

TEST(FileChecksumTest, NoPositionGivesEmptyText) {
  EXPECT_EQ("", FileChecksum(nullptr, 0));

  // A pipe has no position.
  int fds[2];
  ASSERT_EQ(0, ::pipe(fds));
  std::FILE* in = ::fdopen(fds[0], "r");
  ASSERT_NE(nullptr, in);
  EXPECT_EQ("", FileChecksum(in, 0));
  std::fclose(in);
  ::close(fds[1]);

  // A negative start offset cannot be reached; the position stays.
  TempFile file("SET A 1\n");
  ASSERT_NE(nullptr, file.get());
  ASSERT_EQ(0, std::fseek(file.get(), 3, SEEK_SET));
  EXPECT_EQ("", FileChecksum(file.get(), -1));
  EXPECT_EQ(3, std::ftell(file.get()));
}

}  // namespace
}  // namespace zl
