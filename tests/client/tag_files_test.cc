// Tag files end to end: SaveTags and ReadTags of the local database against
// the stand-in server's FileChunk_Iterator, with crafted files for the
// record reading rules.
#include <ace/Log_Msg.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "broker/zl_sim.h"
#include "client_env.h"
#include "localdb/tag_files.h"
#include "support/local_db_access.h"
#include "support/log_capture.h"

namespace zl {
namespace {

using testing::ClientEnvironment;
using testing::ConnectedClient;
using testing::TempDir;

std::string Control(const std::string& line) { return ClientEnvironment::services().Control(line); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// One record: kind, little-endian payload length, payload.
std::string Record(const std::string& kind, const std::string& payload) {
  std::string r = kind;
  const uint32_t n = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) r.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  return r + payload;
}

// Splits a tag file into its whole records.
std::vector<std::string> Records(const std::string& file) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at + 8 <= file.size()) {
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i) n |= uint32_t(static_cast<unsigned char>(file[at + 4 + i])) << (8 * i);
    if (at + 8 + n > file.size()) break;
    out.push_back(file.substr(at, 8 + n));
    at += 8 + n;
  }
  return out;
}

// Calls still armed on the server: a fault armed on the first server call
// of a transfer that is still armed afterwards shows the server was not called.
std::string Armed() { return Control("faults"); }

class TagFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureSimRunning();
    client_ = ConnectedClient();
    path_ = dir_.path() + "/plant.tag";
    ASSERT_EQ(0, testing::LocalDb(*client_).SaveTags(path_.c_str(), count_));
    saved_ = ReadAll(path_);
    records_ = Records(saved_);
  }
  void TearDown() override { Control("clear"); }

  TempDir dir_;
  std::unique_ptr<ZLSim> client_;
  std::string path_;
  CORBA::ULong count_ = 0;
  std::string saved_;
  std::vector<std::string> records_;
};

TEST_F(TagFilesTest, SaveWritesLeadingRecordAndOneRecordPerTag) {
  EXPECT_EQ(4u, count_);
  ASSERT_EQ(5u, records_.size());
  EXPECT_EQ("ZTFH", records_[0].substr(0, 4));
  for (size_t i = 1; i < records_.size(); ++i) EXPECT_EQ("STAG", records_[i].substr(0, 4));
  // The whole file is whole records, nothing else.
  size_t total = 0;
  for (const auto& r : records_) total += r.size();
  EXPECT_EQ(saved_.size(), total);
  EXPECT_EQ("OK 0", Control("faults"));
  EXPECT_NE(std::string::npos, Control("status").find(" held=0 "));
}

TEST_F(TagFilesTest, RoundTripRestoresValuesAndModes) {
  client_->SetMan("FIC101");
  ASSERT_EQ("Manual", client_->TagMode("FIC101"));
  client_->SetPVE("FIC101", 77.0);
  ASSERT_EQ(77.0, client_->PVE("FIC101"));
  CORBA::ULong count = 0;
  ASSERT_EQ(0, testing::LocalDb(*client_).ReadTags(path_.c_str(), count));
  EXPECT_EQ(4u, count);
  EXPECT_EQ("Auto", client_->TagMode("FIC101"));
  EXPECT_EQ(50.0, client_->PVE("FIC101"));
  EXPECT_EQ("Manual", client_->TagMode("TIC200"));
  EXPECT_NE(std::string::npos, Control("status").find(" held=0 "));
}

TEST_F(TagFilesTest, ReadRules) {
  const std::string& lead = records_.at(0);
  const std::string& tag = records_.at(1);
  struct Case {
    int line;
    const char* what;
    std::string file;
    CORBA::ULong count;
    bool sends;  // whether send_chunk is called
  };
  const Case cases[] = {
      // Reading past the end as if a record were there.
      {__LINE__, "empty file", "", 0, false},
      // Sending the leading record as a tag.
      {__LINE__, "leading record only", lead, 0, false},
      // Counting records of another kind.
      {__LINE__, "another kind is sent, not counted", lead + Record("XTRA", "x") + tag, 1, true},
      // Failing the whole file, or sending a partial record, at a cut.
      {__LINE__, "truncated last record", lead + tag + tag.substr(0, tag.size() - 3), 1, true},
      // Treating a cut inside the length field as a record.
      {__LINE__, "cut in the length", lead + tag + std::string("STA\0\0", 5), 1, true},
      // Trusting a length larger than the file (allocation, hang).
      {__LINE__, "huge length", lead + tag + std::string("STAG\xff\xff\xff\x7f", 8) + "abc", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("line ") + std::to_string(c.line) + ": " + c.what);
    const std::string path = dir_.path() + "/case.tag";
    WriteAll(path, c.file);
    // Armed on send_chunk: still armed afterwards means it was never called.
    if (!c.sends) {
      ASSERT_EQ("OK", Control("fail send_chunk TRANSIENT count=1").substr(0, 2));
    }
    CORBA::ULong count = 99;
    EXPECT_EQ(0, testing::LocalDb(*client_).ReadTags(path.c_str(), count));
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(c.sends ? "OK 0" : "OK 1", Armed());
    Control("clear");
  }
}

TEST_F(TagFilesTest, UnusableFilesFailWithoutCallingTheServer) {
  testing::LogCapture log;
  ASSERT_EQ("OK", Control("fail get_tagfile_iterator TRANSIENT count=2").substr(0, 2));
  const std::string missing = dir_.path() + "/no/such/dir/x.tag";
  CORBA::ULong count = 99;
  EXPECT_EQ(-1, testing::LocalDb(*client_).SaveTags(missing.c_str(), count));
  EXPECT_EQ(0u, count);
  EXPECT_TRUE(log.Has(LM_ERROR, "#SaveTags() could not open file " + missing + "\n"));
  count = 99;
  EXPECT_EQ(-1, testing::LocalDb(*client_).ReadTags(missing.c_str(), count));
  EXPECT_EQ(0u, count);
  EXPECT_TRUE(log.Has(LM_ERROR, "#ReadTags() could not open file " + missing + "\n"));
  EXPECT_EQ("OK 2", Armed());
  // Through the client, a failed transfer counts no tags.
  EXPECT_EQ(0, client_->SaveTags(missing.c_str()));
}

TEST_F(TagFilesTest, FaultDuringTransferStillReleasesTheLoop) {
  ASSERT_EQ("OK", Control("fail send_chunk TRANSIENT count=1").substr(0, 2));
  testing::LogCapture log;
  CORBA::ULong count = 99;
  EXPECT_EQ(-1, testing::LocalDb(*client_).ReadTags(path_.c_str(), count));
  EXPECT_EQ(0u, count);
  bool logged = false;
  for (const auto& line : log.Lines()) {
    if (line.priority == LM_ERROR && line.text.rfind(" Caught exception, ", 0) == 0 &&
        line.text.find(", in ReadTags()\n") != std::string::npos) {
      logged = true;
    }
  }
  EXPECT_TRUE(logged);
  EXPECT_NE(std::string::npos, Control("status").find(" held=0 "));

  ASSERT_EQ("OK", Control("fail next_chunk TRANSIENT count=1").substr(0, 2));
  EXPECT_EQ(-1, testing::LocalDb(*client_).SaveTags(path_.c_str(), count));
  EXPECT_NE(std::string::npos, Control("status").find(" held=0 "));
}

// A server whose iterator never answers false: the save ends at a limit,
// with its reason in the log, the loop released and no partial file left.
TEST_F(TagFilesTest, EndlessServerStopsAtALimit) {
  TagFileLimits small;
  small.max_bytes = 3u << 20;
  small.max_chunks = 500;
  struct Case {
    int line;
    long chunk_bytes;  // what each next_chunk brings
    TagFileLimits limits;
    std::string why;
    CORBA::ULong count;  // tags written before the limit
  };
  const Case kCases[] = {
      // Empty chunks leave the offset where it is: the same call forever.
      {__LINE__, 0, TagFileLimits(), "the server sent 64 empty chunks in a row", 0},
      // 1 MiB records fill the disk.
      {__LINE__, 1 << 20, small, "the server's tag file exceeds 3145728 bytes", 3},
      // Small records: bounded in calls long before the bytes run out.
      {__LINE__, 16, small, "the server's tag file exceeds 500 chunks", 500},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    ASSERT_EQ("OK", Control("tagfile endless " + std::to_string(c.chunk_bytes)));
    testing::LogCapture log;
    const std::string path = dir_.path() + "/endless.tag";
    CORBA::ULong count = 99;
    EXPECT_EQ(-1, SaveTagFile(client_->database(), path.c_str(), count, c.limits));
    EXPECT_EQ(c.count, count);
    EXPECT_TRUE(log.Has(LM_ERROR, "# Caught exception, " + c.why + ", in SaveTags()\n"));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_NE(std::string::npos, Control("status").find(" held=0 "));
  }
  // The next iterator is a normal one again.
  CORBA::ULong count = 0;
  EXPECT_EQ(0, testing::LocalDb(*client_).SaveTags(path_.c_str(), count));
  EXPECT_EQ(4u, count);
}

}  // namespace
}  // namespace zl
