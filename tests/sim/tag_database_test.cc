// The tag database: lookups, writes and their change batches and messages,
// modes and force, reports, and the definition round trip.
#include "tag_database.h"

#include <gtest/gtest.h>

#include <cmath>

#include "recording_observer.h"
#include "tag_line.h"

namespace zl::sim {
namespace {

class TagDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Download(
        "$DRIVER\tPLC1\t127.0.0.1:5000\n"
        "Flow\tPLC1\tAI:0\tAnalogIn\tFeed flow [m3/h]\t0\t50\t4\t20\tAuto\tNONE\t\t10\n"
        "Valve\tPLC1\tDO:1\tDigitalOut\tInlet valve [SHUT/OPEN]\t\t\t\t\tManual\n"
        "Level\t\t\tAnalog\tTank level [m]\t0\t5\t\t\tAuto\tCALC\tEXPR=FLOW/10\t1\n");
    observer_.batches.clear();
    observer_.messages.clear();
  }

  testing::RecordingObserver observer_;
  TagDatabase db_{"SIM", &observer_};
};

TEST_F(TagDatabaseTest, Reads) {
  struct Case {
    int line;
    const char* name;
    double want;
  };
  const Case kCases[] = {
      {__LINE__, "FLOW", 10},         // names without regard to case
      {__LINE__, " flow ", 10},       // blanks around the name ignored
      {__LINE__, "Flow.PV", 20},      // percent of 0..50
      {__LINE__, "Flow.PVRAW", 7.2},  // 4..20 mA
      {__LINE__, "flow.pvraw", 7.2},
      {__LINE__, "Flow.MODE", 1},     // Auto
      {__LINE__, "Valve.MODE", 0},
      {__LINE__, "Flow.EUHI", 50},
      {__LINE__, "Flow.RAWLO", 4},
      {__LINE__, "Valve.PVRAW", 0},
      {__LINE__, "$SIMTIME", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_NEAR(c.want, db_.Pve(c.name), 1e-12);
  }
  for (const char* unknown : {"Flo", "Flow.", "Flow.COLOUR", "Nope.PV", ""}) {
    SCOPED_TRACE(unknown);
    EXPECT_THROW(db_.Pve(unknown), TagNotFound);
  }
  EXPECT_EQ(20, db_.Pv("flow"));
  EXPECT_EQ("10.00 m3/h", db_.ValueText("FLOW"));
  EXPECT_EQ("SHUT", db_.ValueText("valve"));
  EXPECT_EQ("Flow", db_.NameAt(0));
  EXPECT_EQ("Level", db_.NameAt(2));
  EXPECT_THROW(db_.NameAt(3), TagNotFound);
  EXPECT_THROW(db_.NameAt(-1), TagNotFound);
}

TEST_F(TagDatabaseTest, WritesGiveOneBatchPerCall) {
  EXPECT_EQ(2, db_.SetPve("flow, LEVEL", 25, "SetPVE"));
  ASSERT_EQ(1u, observer_.batches.size());
  ASSERT_EQ(2u, observer_.batches[0].size());
  EXPECT_EQ("Flow", observer_.batches[0][0].name);  // the name as defined
  EXPECT_EQ(25, observer_.batches[0][0].eu);
  EXPECT_EQ(50, observer_.batches[0][0].pv);
  EXPECT_EQ(TagMode::kAuto, observer_.batches[0][0].mode);
  EXPECT_GT(observer_.batches[0][0].secs, 0u);

  EXPECT_EQ(1, db_.SetPve("Flow", 25, "SetPVE"));  // no change, no batch
  EXPECT_EQ(1u, observer_.batches.size());

  EXPECT_EQ(1, db_.SetPv("Flow", 10, "SetPV"));  // 10 % of 0..50
  EXPECT_EQ(5, db_.Pve("Flow"));
  EXPECT_EQ(2u, observer_.batches.size());
}

TEST_F(TagDatabaseTest, WritesToUnknownTags) {
  EXPECT_EQ(1, db_.SetPve("Flow,Ghost", 3, "SetPVE"));
  EXPECT_EQ(1, observer_.Count(MessageType::kError, "Tag <Ghost> not found"));
  EXPECT_EQ("SetPVE", observer_.messages.back().routine);
  EXPECT_THROW(db_.SetPve("Ghost", 3, "SetPVE"), TagNotFound);
  EXPECT_THROW(db_.SetPve(" , ", 3, "SetPVE"), TagNotFound);
  EXPECT_THROW(db_.SetMode("Ghost", TagMode::kManual, "SetMan"), TagNotFound);
  EXPECT_EQ(0, db_.SetPve("Flow", NAN, "SetPVE"));  // refused, with a warning
  EXPECT_EQ(3, db_.Pve("Flow"));
  EXPECT_EQ(1, observer_.Count(MessageType::kWarning, "not a finite number"));
}

TEST_F(TagDatabaseTest, DigitalValuesAreZeroOrOne) {
  db_.SetPve("Valve", 0.2, "SetPVE");
  EXPECT_EQ(1, db_.Pve("Valve"));
  EXPECT_EQ(1, db_.Pv("Valve"));
  EXPECT_EQ("OPEN", db_.ValueText("Valve"));
  db_.SetPv("Valve", 0, "SetPV");
  EXPECT_EQ(0, db_.Pve("Valve"));
}

TEST_F(TagDatabaseTest, ForceNeedsManualAndHoldsAgainstCalculations) {
  EXPECT_FALSE(db_.SetForce("Level", true));  // Auto: refused
  EXPECT_EQ(1, observer_.Count(MessageType::kWarning, "must be in Manual mode"));
  EXPECT_FALSE(db_.Forced("Level"));
  db_.SetMode("Level", TagMode::kManual, "SetMan");
  EXPECT_TRUE(db_.SetForce("Level", true));
  db_.SetMode("Level", TagMode::kAuto, "SetAuto");  // refused while forced
  EXPECT_EQ(TagMode::kManual, db_.Mode("Level"));
  db_.SetPve("Level", 4, "SetPVE");  // a client may still write a forced value
  db_.RunCycle(1, false);
  EXPECT_EQ(4, db_.Pve("Level"));
  EXPECT_FALSE(db_.InitPv("Level"));
  EXPECT_TRUE(db_.SetForce("Level", false));
  db_.SetMode("Level", TagMode::kAuto, "SetAuto");
  db_.RunCycle(1, false);
  EXPECT_EQ(1, db_.Pve("Level"));  // FLOW / 10
}

TEST_F(TagDatabaseTest, ModeChangesAreTagChanges) {
  db_.SetMode("flow", TagMode::kManual, "SetMan");
  ASSERT_EQ(1u, observer_.batches.size());
  EXPECT_EQ(TagMode::kManual, observer_.batches[0][0].mode);
  db_.SetMode("flow", TagMode::kManual, "SetMan");  // unchanged: nothing sent
  EXPECT_EQ(1u, observer_.batches.size());
}

TEST_F(TagDatabaseTest, SetMulti) {
  std::vector<CommandResult> results;
  const std::vector<TagCommand> commands = {
      {"FLOW", TagMode::kNullMode, 30},
      {"ghost", TagMode::kNullMode, 1},
      {"Valve", TagMode::kAuto, 1},
      {"Level", TagMode::kManual, INFINITY},
      {"", TagMode::kManual, 0},  // padding some clients send
  };
  EXPECT_EQ(2, db_.SetMulti(commands, &results));
  EXPECT_EQ((std::vector<CommandResult>{CommandResult::kOk, CommandResult::kNotFound,
                                        CommandResult::kOk, CommandResult::kBadValue,
                                        CommandResult::kNotFound}),
            results);
  ASSERT_EQ(1u, observer_.batches.size());  // one batch for the call
  EXPECT_EQ(2u, observer_.batches[0].size());
  EXPECT_EQ(TagMode::kAuto, db_.Mode("Valve"));
  EXPECT_EQ(1, observer_.Count(MessageType::kError, "<ghost>"));
  EXPECT_EQ(1u, observer_.messages.size());  // none for the empty name
}

TEST_F(TagDatabaseTest, UploadedLinesDownloadAgain) {
  for (const char* name : {"Flow", "Valve", "Level"}) {
    SCOPED_TRACE(name);
    const std::string line = db_.Upload(name);
    TagDatabase other("OTHER", nullptr);
    EXPECT_EQ(1, other.Download(line));
    EXPECT_EQ(line, other.Upload(name));
  }
  EXPECT_THROW(db_.Upload("nope"), TagNotFound);
}

TEST_F(TagDatabaseTest, RedefinitionKeepsThePlace) {
  db_.Download("VALVE\t\t\tAnalog\t\t0\t10\t\t\tAuto\tNONE\t\t5\n");
  EXPECT_EQ(3, db_.Count());
  EXPECT_EQ("VALVE", db_.NameAt(1));
  EXPECT_EQ(5, db_.Pve("valve"));
  EXPECT_EQ(TagType::kAnalog, db_.Type("Valve"));
}

TEST_F(TagDatabaseTest, ChangeCountAndClear) {
  const uint64_t start = db_.ChangeCount();
  db_.SetPve("Flow", 1, "SetPVE");  // values are no definition changes
  EXPECT_EQ(start, db_.ChangeCount());
  EXPECT_TRUE(db_.Delete("flow"));
  EXPECT_FALSE(db_.Delete("flow"));
  EXPECT_EQ(start + 1, db_.ChangeCount());
  EXPECT_EQ("Valve", db_.NameAt(0));
  db_.SetRawHi("Valve", 2);
  EXPECT_EQ(start + 2, db_.ChangeCount());
  db_.RunCycle(2, false);
  db_.Clear("");
  EXPECT_EQ(0, db_.Count());
  EXPECT_EQ(0, db_.SimTime());
  EXPECT_EQ(start + 3, db_.ChangeCount());
  EXPECT_EQ(1, observer_.Count(MessageType::kInfo, "2 tag(s) removed"));
  bool known = false;
  EXPECT_EQ("127.0.0.1:5000", db_.DriverAddress("plc1", &known));  // drivers stay
  EXPECT_TRUE(known);
}

TEST_F(TagDatabaseTest, RawValueIsLatchedByIo) {
  db_.EnableIo(false, "IOStop");
  db_.SetPve("Flow", 50, "SetPVE");
  EXPECT_NEAR(7.2, db_.Pve("Flow.PVRAW"), 1e-12);  // last exchange
  db_.EnableIo(true, "IOStart");
  db_.RunCycle(0, true);
  EXPECT_EQ(20, db_.Pve("Flow.PVRAW"));
  EXPECT_EQ(1, observer_.Count(MessageType::kInfo, "I/O started"));
}

TEST_F(TagDatabaseTest, Reports) {
  struct Case {
    int line;
    const char* selector;
    const char* want;
  };
  const Case kCases[] = {
      {__LINE__, "", "tags=3 analog=2 digital=1 calc=0 manual=1 forced=0 drivers=1"},
      {__LINE__, "count", "3"},
      {__LINE__, "MANUAL", "Valve"},
      {__LINE__, "FORCED", ""},
      {__LINE__, "TYPES", "Analog=1,AnalogIn=1,DigitalOut=1"},
      {__LINE__, "MODES", "Auto=2,Manual=1"},
      {__LINE__, "ALGORITHMS", "CALC=1,NONE=2"},
      {__LINE__, "DRIVERS", "PLC1"},
      {__LINE__, "bogus", "ERROR: unknown TagStats selector 'bogus'"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, db_.Stats(c.selector));
  }
  EXPECT_EQ("PLC1(2 points, 127.0.0.1:5000)", db_.DriverSummary());
}

TEST_F(TagDatabaseTest, Search) {
  struct Case {
    int line;
    const char* pattern;
    const char* field;
    const char* want;
  };
  const Case kCases[] = {
      {__LINE__, ".", "TAGS", "Flow,Valve,Level"},
      {__LINE__, "^f", "Tags", "Flow"},            // case-insensitive pattern and field
      {__LINE__, "AI:", "Address", "Flow"},
      {__LINE__, "\\[m", "Desc", "Flow,Level"},
      {__LINE__, "^Digital", "Type", "Valve"},
      {__LINE__, "Manual", "Mode", "Valve"},
      {__LINE__, "^0$", "EULo", "Flow,Valve,Level"},
      {__LINE__, "^5$", "EUHi", "Level"},
      {__LINE__, "CALC", "Algorithm", "Level"},
      {__LINE__, "FLOW", "Params", "Level"},
      {__LINE__, "x", "Colour", ""},               // unknown field
      {__LINE__, "(", "Tags", ""},                 // malformed pattern
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, db_.Search(c.pattern, c.field));
  }
}

TEST_F(TagDatabaseTest, Expressions) {
  EXPECT_EQ(21, db_.Evaluate("FLOW * 2 + level"));
  EXPECT_EQ(1, db_.Evaluate("Valve.MODE = 0 AND Flow.PV > 19"));
  EXPECT_THROW(db_.Evaluate("Flow +"), ExpressionError);
  EXPECT_THROW(db_.Evaluate("Ghost"), ExpressionError);
}

}  // namespace
}  // namespace zl::sim
