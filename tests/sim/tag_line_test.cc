// Tag definition lines: fields, defaults, the round trip through Upload's
// format, and the error code and position of bad lines.
#include "tag_line.h"

#include <gtest/gtest.h>

#include <string>

#include "recording_observer.h"
#include "tag_database.h"

namespace zl::sim {
namespace {

TEST(TagLineTest, FullLineRoundTrip) {
  const std::string line =
      "FT101\tPLC1\tAI:0\tAnalogIn\tFeed flow [m3/h]\t0\t50\t4\t20\tManual\tLAG\t"
      "IN=FT101_SP;TAU=5\t12.5";
  const DefinitionLine parsed = ParseDefinitionLine(line, 0, 1);
  ASSERT_EQ(DefinitionLine::kTag, parsed.kind);
  const TagDefinition& d = parsed.def;
  EXPECT_EQ("FT101", d.name);
  EXPECT_EQ("PLC1", d.driver);
  EXPECT_EQ("AI:0", d.address);
  EXPECT_EQ(TagType::kAnalogIn, d.type);
  EXPECT_EQ("Feed flow [m3/h]", d.description);
  EXPECT_EQ(4, d.raw_lo);
  EXPECT_EQ(20, d.raw_hi);
  EXPECT_EQ(TagMode::kManual, d.mode);
  EXPECT_EQ("LAG", d.algorithm);
  EXPECT_EQ(12.5, d.initial);
  EXPECT_NE(nullptr, parsed.algorithm);
  EXPECT_EQ(line, FormatDefinitionLine(d));
}

TEST(TagLineTest, Defaults) {
  struct Case {
    int line;
    const char* text;
    const char* want;  // the complete line
  };
  const Case kCases[] = {
      // analog: EU 0..100, raw = EU range, Auto, no algorithm, initial EU low
      {__LINE__, "A\t\t\tAnalog", "A\t\t\tAnalog\t\t0\t100\t0\t100\tAuto\tNONE\t\t0"},
      // digital: EU and raw 0..1
      {__LINE__, "V\tD1\t7\tdigitalout", "V\tD1\t7\tDigitalOut\t\t0\t1\t0\t1\tAuto\tNONE\t\t0"},
      // raw range follows the EU range when absent; blanks around fields ignored
      {__LINE__, " T \t\t\tCalcBlock\t x [m] \t-5\t5",
       "T\t\t\tCalcBlock\tx [m]\t-5\t5\t-5\t5\tAuto\tNONE\t\t-5"},
      // a digital initial value is 0 or 1; algorithm names any case
      {__LINE__, "D\t\t\tDigital\t\t\t\t\t\tmanual\tnone\t\t7",
       "D\t\t\tDigital\t\t0\t1\t0\t1\tManual\tNONE\t\t1"},
      // a trailing carriage return is no part of the line
      {__LINE__, "R\t\t\tAnalog\r", "R\t\t\tAnalog\t\t0\t100\t0\t100\tAuto\tNONE\t\t0"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, FormatDefinitionLine(ParseDefinitionLine(c.text, 0, 1).def));
  }
}

TEST(TagLineTest, BadLines) {
  struct Case {
    int line;
    const char* text;
    DownloadErrorCode code;
    size_t position;  // offset of the field at fault
  };
  const Case kCases[] = {
      {__LINE__, "\tD\tA\tAnalog", DownloadErrorCode::kBadName, 0},
      {__LINE__, "1ST\t\t\tAnalog", DownloadErrorCode::kBadName, 0},     // digit first
      {__LINE__, "A-B\t\t\tAnalog", DownloadErrorCode::kBadName, 0},     // "-" would be minus
      {__LINE__, "A.B\t\t\tAnalog", DownloadErrorCode::kBadName, 0},     // "." starts a field suffix
      {__LINE__, "and\t\t\tAnalog", DownloadErrorCode::kBadName, 0},     // a keyword
      {__LINE__, "A\tD\tX", DownloadErrorCode::kMissingFields, 5},
      {__LINE__, "A", DownloadErrorCode::kMissingFields, 1},
      {__LINE__, "A\tD\tX\tAnalogue", DownloadErrorCode::kBadType, 6},
      {__LINE__, "A\tD-1\tX\tAnalog", DownloadErrorCode::kBadDriver, 2},
      {__LINE__, "A\t\t\tAnalog\t\tlow", DownloadErrorCode::kBadNumber, 12},
      {__LINE__, "A\t\t\tAnalog\t\t0\tnan", DownloadErrorCode::kBadNumber, 14},
      {__LINE__, "A\t\t\tAnalog\t\t0\t1e999", DownloadErrorCode::kBadNumber, 14},
      {__LINE__, "A\t\t\tAnalog\t\t5\t5", DownloadErrorCode::kBadRange, 14},
      {__LINE__, "A\t\t\tDigital\t\t0\t2", DownloadErrorCode::kBadRange, 15},
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\tAutomatic", DownloadErrorCode::kBadMode, 16},
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\t\tSPLINE", DownloadErrorCode::kBadAlgorithm, 17},
      // the position of a bad parameter points into the params field
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\t\tLAG\tIN=B;TAU=0", DownloadErrorCode::kBadParams, 26},
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\t\tLAG\t TAU=5", DownloadErrorCode::kBadParams, 22},  // IN missing
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\t\tCOPY\tSRC=B+1", DownloadErrorCode::kBadParams, 22},
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\t\tCALC\tEXPR=(1", DownloadErrorCode::kBadParams, 22},
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\t\tRAMP\tRATE=1;COLOR=red", DownloadErrorCode::kBadParams, 29},
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\t\tRAMP\tRATE", DownloadErrorCode::kBadParams, 22},
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\t\tRAMP\tRATE=1;RATE=2", DownloadErrorCode::kBadParams, 29},
      {__LINE__, "A\t\t\tAnalog\t\t\t\t\t\t\tNONE\t\t0\textra", DownloadErrorCode::kTooManyFields, 25},
      {__LINE__, "$DRIVER\tPLC1", DownloadErrorCode::kBadDirective, 0},
      {__LINE__, "$DRIVER\tPLC 1\th:1", DownloadErrorCode::kBadDriver, 8},
      {__LINE__, "$SERVER\tX\tY", DownloadErrorCode::kBadDirective, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    try {
      ParseDefinitionLine(c.text, 0, 1);
      ADD_FAILURE() << "no error for '" << c.text << "'";
    } catch (const DownloadError& e) {
      EXPECT_EQ(c.code, e.code()) << e.what();
      EXPECT_EQ(c.position, e.position()) << e.what();
      EXPECT_EQ(1, e.line());
    }
  }
}

TEST(TagLineTest, TextPositionsCountFromTheStartOfTheDownload) {
  const std::string text = "# comment\n\nA\t\t\tAnalog\r\n  \nB\t\t\tDigtal\n";
  try {
    ParseDefinitions(text);
    FAIL() << "no error";
  } catch (const DownloadError& e) {
    EXPECT_EQ(DownloadErrorCode::kBadType, e.code());
    EXPECT_EQ(5, e.line());
    EXPECT_EQ(text.find("Digtal"), e.position());
    EXPECT_EQ("line 5, field 4: unknown tag type 'Digtal'", std::string(e.what()));
  }
}

TEST(TagLineTest, DriverDirective) {
  const std::vector<DefinitionLine> lines =
      ParseDefinitions("$driver\tPLC1\t127.0.0.1:5000\nA\tPLC1\t1\tAnalogIn\n");
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(DefinitionLine::kDriver, lines[0].kind);
  EXPECT_EQ("PLC1", lines[0].driver);
  EXPECT_EQ("127.0.0.1:5000", lines[0].remote_address);
}

TEST(TagLineTest, DownloadLoadsNothingOfABadText) {
  testing::RecordingObserver observer;
  TagDatabase db("SIM", &observer);
  ASSERT_EQ(1, db.Download("KEEP\t\t\tAnalog\n"));
  const uint64_t changes = db.ChangeCount();
  EXPECT_THROW(db.Download("NEW1\t\t\tAnalog\nKEEP\t\t\tDigital\nNEW2\t\t\tBogus\n"), DownloadError);
  EXPECT_EQ(1, db.Count());
  EXPECT_FALSE(db.Exists("NEW1"));
  EXPECT_EQ(TagType::kAnalog, db.Type("KEEP"));  // not redefined
  EXPECT_EQ(changes, db.ChangeCount());
  EXPECT_EQ(1, observer.Count(MessageType::kError, "line 3, field 4"));
}

}  // namespace
}  // namespace zl::sim
