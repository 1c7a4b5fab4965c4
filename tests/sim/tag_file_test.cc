// Tag files: the record layout, decoding of whole and damaged data, and the
// round trip of a database through its tag file.
#include "tag_file.h"

#include <gtest/gtest.h>

#include <string>

#include "recording_observer.h"
#include "tag_database.h"

namespace zl::sim {
namespace {

TEST(TagFileTest, RecordLayout) {
  const std::string record = EncodeRecord("STAG", std::string(258, 'x'));
  ASSERT_EQ(8u + 258u, record.size());
  EXPECT_EQ("STAG", record.substr(0, 4));
  EXPECT_EQ(std::string("\x02\x01\x00\x00", 4), record.substr(4, 4));  // little-endian 258
  EXPECT_EQ(std::string("ZTFH\0\0\0\0", 8), EncodeRecord("ZTFH", ""));
}

TEST(TagFileTest, Decode) {
  const std::string two = EncodeRecord("ZTFH", "head") + EncodeRecord("STAG", "body");
  struct Case {
    int line;
    std::string data;
    bool ok;
    size_t records;
  };
  const Case kCases[] = {
      {__LINE__, two, true, 2},
      {__LINE__, EncodeRecord("STAG", ""), true, 1},          // empty payload
      {__LINE__, "", false, 0},                               // nothing at all
      {__LINE__, two.substr(0, two.size() - 1), false, 0},    // payload one byte short
      {__LINE__, two + "S", false, 0},                        // a stray byte after
      {__LINE__, two.substr(0, 7), false, 0},                 // header cut short
      {__LINE__, "STAG\xff\xff\xff\xff", false, 0},           // length far beyond the data
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    std::vector<TagFileRecord> records;
    std::string error;
    EXPECT_EQ(c.ok, DecodeRecords(c.data, &records, &error)) << error;
    EXPECT_EQ(c.records, records.size());
    EXPECT_EQ(c.ok, error.empty()) << error;
  }
}

TEST(TagFileTest, RoundTripKeepsDefinitionValueModeAndForce) {
  TagDatabase from("SIM", nullptr);
  from.Download(
      "A\tPLC1\tAI:1\tAnalogIn\tFlow [m3/h]\t0\t50\t4\t20\tAuto\tLAG\tIN=B;TAU=3\t1\n"
      "B\t\t\tAnalog\t\t\t\t\t\tManual\tNONE\t\t0\n"
      "C\t\t\tDigitalOut\tPump [OFF/ON]\t\t\t\t\tManual\n");
  from.SetPve("A", 0.1 + 0.2, "SetPVE");  // a value that needs 17 digits
  from.SetPve("B", 42, "SetPVE");
  from.SetForce("C", true);
  from.SetPve("C", 1, "SetPVE");
  const std::vector<std::string> file = BuildTagFile(from);
  ASSERT_EQ(4u, file.size());
  EXPECT_EQ("ZTFH", file[0].substr(0, 4));
  EXPECT_NE(std::string::npos, file[0].find("database=SIM\ttags=3"));

  testing::RecordingObserver observer;
  TagDatabase to("OTHER", &observer);
  int restored = 0;
  for (const std::string& record : file) {
    std::string error;
    const int n = RestoreChunk(to, record, &error);
    ASSERT_GE(n, 0) << error;
    restored += n;
  }
  EXPECT_EQ(3, restored);
  for (const char* name : {"A", "B", "C"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(from.Upload(name), to.Upload(name));
    EXPECT_EQ(from.Pve(name), to.Pve(name));
    EXPECT_EQ(from.Mode(name), to.Mode(name));
    EXPECT_EQ(from.Forced(name), to.Forced(name));
  }
  EXPECT_EQ(0.1 + 0.2, to.Pve("A"));
  EXPECT_EQ(3u, observer.batches.size());  // each restored tag is a change
  EXPECT_EQ(3u, to.ChangeCount());
}

TEST(TagFileTest, BadChunks) {
  TagDatabase db("SIM", nullptr);
  db.Download("A\t\t\tAnalog\n");
  const std::string good = BuildTagFile(db)[1];
  struct Case {
    int line;
    std::string chunk;
    int want;
  };
  const Case kCases[] = {
      {__LINE__, good, 1},
      {__LINE__, EncodeRecord("ZTFH", "anything"), 0},        // other kinds are skipped
      {__LINE__, EncodeRecord("XTRA", "A\tB"), 0},
      {__LINE__, good + good, 2},                             // several records in one chunk
      {__LINE__, good.substr(0, good.size() - 2), -1},        // truncated
      {__LINE__, EncodeRecord("STAG", "A\t\t\tAnalog"), -1},  // no value and force fields
      {__LINE__, EncodeRecord("STAG", "A\t\t\tAnalog\t\t0\t100\t0\t100\tAuto\tNONE\t\t0\tx\t0"), -1},
      {__LINE__, EncodeRecord("STAG", "A\t\t\tAnalog\t\t0\t100\t0\t100\tAuto\tNONE\t\t0\t1\t2"), -1},
      {__LINE__, EncodeRecord("STAG", "A\t\t\tBogus\t\t0\t100\t0\t100\tAuto\tNONE\t\t0\t1\t0"), -1},
      {__LINE__, EncodeRecord("STAG", "$DRIVER\tX\tY\t\t\t\t\t\t\t\t\t\t\t1\t0"), -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    std::string error;
    EXPECT_EQ(c.want, RestoreChunk(db, c.chunk, &error));
    EXPECT_EQ(c.want < 0, !error.empty()) << error;
  }
}

TEST(TagFileTest, EveryTruncationOfARecordIsRefused) {
  TagDatabase db("SIM", nullptr);
  db.Download("A\t\t\tAnalog\n");
  const std::string record = BuildTagFile(db)[1];
  for (size_t n = 1; n < record.size(); ++n) {
    SCOPED_TRACE(n);
    std::string error;
    EXPECT_EQ(-1, RestoreChunk(db, record.substr(0, n), &error));
  }
}

}  // namespace
}  // namespace zl::sim
