// zelvik-sim through the generated stubs: every database operation's normal
// path, its user exceptions, and the simulation timing.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "sim_client.h"

namespace zl::sim::testing {
namespace {

const char kTags[] =
    "$DRIVER\tPLC1\t127.0.0.1:5001\n"
    "FLOW\tPLC1\tAI:0\tAnalogIn\tFeed flow [m3/h]\t0\t50\t4\t20\tAuto\tNONE\t\t10\n"
    "VALVE\tPLC1\tDO:1\tDigitalOut\tInlet valve [SHUT/OPEN]\t\t\t\t\tManual\n"
    "RAMP1\t\t\tAnalog\tTest ramp [%]\t0\t1000\t\t\tAuto\tRAMP\tRATE=1\t0\n";

class ServerOpsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(3, db()->Download(kTags));
  }
};

TEST_F(ServerOpsTest, TagReadsAndWrites) {
  EXPECT_EQ(3, db()->TagCount());
  EXPECT_EQ(10, db()->PVE("flow"));  // any case
  EXPECT_EQ(20, db()->PV("FLOW"));
  EXPECT_DOUBLE_EQ(7.2, db()->PVE("FLOW.PVRAW"));
  EXPECT_EQ(50, db()->EUHi("FLOW"));
  EXPECT_EQ(0, db()->EULo("FLOW"));
  EXPECT_EQ(20, db()->RawHi("FLOW"));
  EXPECT_EQ(4, db()->RawLo("FLOW"));
  EXPECT_EQ(2, db()->SetPVE("FLOW,RAMP1", 25));
  EXPECT_EQ(25, db()->PVE("FLOW"));
  EXPECT_EQ(1, db()->SetPV("FLOW", 10));
  EXPECT_EQ(5, db()->PVE("FLOW"));
  EXPECT_EQ(1, db()->SetRawHi("FLOW", 21));
  EXPECT_EQ(1, db()->SetRawLo("FLOW", 3));
  EXPECT_EQ(21, db()->RawHi("FLOW"));
  EXPECT_EQ(1, db()->InitPV("FLOW"));
  EXPECT_EQ(10, db()->PVE("FLOW"));

  CORBA::String_var text = db()->PVEStr("FLOW");
  EXPECT_STREQ("10.00 m3/h", text.in());
  text = db()->PVEStr("VALVE");
  EXPECT_STREQ("SHUT", text.in());
  text = db()->TagType("VALVE");
  EXPECT_STREQ("DigitalOut", text.in());
  text = db()->TagType("NOPE");
  EXPECT_STREQ("", text.in());
  text = db()->TagMode("VALVE");
  EXPECT_STREQ("Manual", text.in());
  text = db()->TagWithOffset(1);
  EXPECT_STREQ("VALVE", text.in());
  EXPECT_TRUE(db()->TagExists("valve"));
  EXPECT_FALSE(db()->TagExists("nope"));

  db()->SetAuto("VALVE");
  text = db()->TagMode("VALVE");
  EXPECT_STREQ("Auto", text.in());
  db()->SetMan("VALVE");
  db()->SetForce("VALVE", true);
  EXPECT_TRUE(db()->IsForced("VALVE"));
  EXPECT_EQ(0, db()->InitPV("VALVE"));  // forced
  db()->SetForce("VALVE", false);
  EXPECT_FALSE(db()->IsForced("VALVE"));

  text = db()->Upload("FLOW");
  EXPECT_STREQ("FLOW\tPLC1\tAI:0\tAnalogIn\tFeed flow [m3/h]\t0\t50\t3\t21\tAuto\tNONE\t\t10", text.in());
  EXPECT_EQ(1, db()->DeleteTag("FLOW"));
  EXPECT_EQ(0, db()->DeleteTag("FLOW"));
  EXPECT_EQ(1, db()->Download(text.in()));  // Upload's line downloads again
  EXPECT_EQ(3, db()->TagCount());
}

TEST_F(ServerOpsTest, BatchedReadsAndWrites) {
  ZEMR::ZLTagList names;
  names.length(3);
  names[0] = "FLOW";
  names[1] = "ghost";
  names[2] = "valve";
  ZEMR::ZLTagStatusPayload_var status;
  EXPECT_EQ(3, db()->GetMultiTag(names, status.out()));  // one row per name, unknown too
  ASSERT_EQ(3u, status->length());
  EXPECT_EQ(ZEMR::AnalogIn, status[0].ttype);
  EXPECT_EQ(ZEMR::Auto, status[0].mode);
  EXPECT_EQ(10, status[0].pve);
  EXPECT_EQ(50, status[0].euhi);
  EXPECT_STREQ("10.00 m3/h", status[0].pvestr.in());
  EXPECT_EQ(ZEMR::NullPoint, status[1].ttype);  // unknown: keeps its place
  EXPECT_EQ(ZEMR::NullMode, status[1].mode);
  EXPECT_EQ(ZEMR::DigitalOut, status[2].ttype);

  ZEMR::ZLTagCommands commands;
  commands.length(3);
  commands[0].tagname = "FLOW";
  commands[0].mode = ZEMR::NullMode;
  commands[0].pve = 33;
  commands[1].tagname = "ghost";
  commands[1].mode = ZEMR::NullMode;
  commands[1].pve = 1;
  commands[2].tagname = "VALVE";
  commands[2].mode = ZEMR::Auto;
  commands[2].pve = 1;
  ZEMR::ZLErrorCodeList_var codes;
  EXPECT_EQ(2, db()->SetMultiPVE(commands, codes.out()));
  ASSERT_EQ(3u, codes->length());
  EXPECT_EQ(0, codes[0]);
  EXPECT_EQ(1, codes[1]);
  EXPECT_EQ(0, codes[2]);
  EXPECT_EQ(33, db()->PVE("FLOW"));
  CORBA::String_var mode = db()->TagMode("VALVE");
  EXPECT_STREQ("Auto", mode.in());

  ZEMR::ZLTagList none;  // empty lists are valid
  EXPECT_EQ(0, db()->GetMultiTag(none, status.out()));
  EXPECT_EQ(0u, status->length());
}

TEST_F(ServerOpsTest, Reports) {
  struct Case {
    int line;
    std::function<char*()> call;
    std::string want;
  };
  const Case kCases[] = {
      {__LINE__, [] { return db()->HelloZL("$KERNEL.NAME"); }, "SIM"},
      {__LINE__, [] { return db()->HelloZL("$kernel.version"); }, "zelvik-sim 1.0.0"},
      {__LINE__, [] { return db()->HelloZL("$KERNEL.CycleTime"); }, "1"},
      {__LINE__, [] { return db()->HelloZL("PLC1.RemoteAddress"); }, "127.0.0.1:5001"},
      {__LINE__, [] { return db()->HelloZL("PLC2.RemoteAddress"); }, ""},
      {__LINE__, [] { return db()->HelloZL("$KERNEL.BOGUS"); }, ""},
      {__LINE__, [] { return db()->HelloZL("$KERNEL.TagCount"); }, "3"},
      {__LINE__, [] { return db()->HelloDriver(); }, "zelvik-sim drivers: PLC1(2 points, 127.0.0.1:5001)"},
      {__LINE__, [] { return db()->TagStats("COUNT"); }, "3"},
      {__LINE__, [] { return db()->TagStats("MANUAL"); }, "VALVE"},
      {__LINE__, [] { return db()->SearchTags(".", "TAGS"); }, "FLOW,VALVE,RAMP1"},
      {__LINE__, [] { return db()->SearchTags("^(AI|DO)", "Address"); }, "FLOW,VALVE"},
      {__LINE__, [] { return db()->SearchTags("ramp", "Algorithm"); }, "RAMP1"},
      {__LINE__, [] { return db()->GetIORInternalObject("nothing", ""); }, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    CORBA::String_var answer = c.call();
    EXPECT_EQ(c.want, answer.in());
  }
  const uint64_t changes = std::stoull(CORBA::String_var(db()->HelloZL("$KERNEL.DBCHANGES")).in());
  db()->DeleteTag("RAMP1");
  EXPECT_EQ(changes + 1, std::stoull(CORBA::String_var(db()->HelloZL("$KERNEL.DBCHANGES")).in()));
}

TEST_F(ServerOpsTest, ObjectsBehindTheDatabase) {
  CORBA::String_var ior = db()->GetIORAdmin();
  CORBA::Object_var obj = TestOrb()->string_to_object(ior);
  ZEMR::ZelvikAdmin_var admin = ZEMR::ZelvikAdmin::_narrow(obj);
  CORBA::String_var text = admin->Version();
  EXPECT_STREQ("zelvik-sim 1.0.0", text.in());
  EXPECT_GE(admin->RunningTime(), 0);
  text = admin->Statistics();
  EXPECT_NE(std::string::npos, std::string(text.in()).find("database=SIM tags=3 ")) << text.in();
  text = admin->Copyright();
  EXPECT_NE(std::string(text.in()), "");

  ior = db()->GetIORInternalObject("Admin", "");
  CORBA::Object_var same = TestOrb()->string_to_object(ior);
  EXPECT_TRUE(same->_is_equivalent(admin));
  CORBA::String_var value = db()->GetIORValueChannel();
  CORBA::String_var notifier = db()->GetIORValueNotifierChannel();
  EXPECT_STREQ(value.in(), notifier.in());
  CORBA::String_var messages = db()->GetIORMessageChannel();
  EXPECT_STRNE("", messages.in());

  ZEMR::ZelvikTag_var tag = db()->FindTag("flow");
  ASSERT_FALSE(CORBA::is_nil(tag));
  text = tag->TagName();
  EXPECT_STREQ("FLOW", text.in());
  EXPECT_EQ(ZEMR::AnalogIn, tag->TagType());
  EXPECT_EQ(ZEMR::Auto, tag->TagMode());
  EXPECT_EQ(20, tag->PV());
  tag->SetPVE(5);
  EXPECT_EQ(5, db()->PVE("FLOW"));
  EXPECT_EQ(50, tag->EUHi());
  EXPECT_EQ(4, tag->RawLo());
  tag->SetMan();
  EXPECT_EQ(ZEMR::Manual, tag->TagMode());
  tag->SetAuto();
  ZEMR::ZelvikTag_var ramp = db()->FindTag("RAMP1");
  text = ramp->Algorithm();
  EXPECT_STREQ("RAMP", text.in());
  text = ramp->Params();
  EXPECT_STREQ("RATE=1", text.in());
  EXPECT_TRUE(CORBA::is_nil(ZEMR::ZelvikTag_var(db()->FindTag("ghost"))));
  db()->DeleteTag("FLOW");
  EXPECT_THROW(tag->PV(), CORBA::OBJECT_NOT_EXIST);  // the tag went away

  EXPECT_EQ(-1, db()->SetZLClientInfo(ZEMR::ZelvikClientInfo::_nil()));
}

TEST_F(ServerOpsTest, UnknownTagsRaiseTagNotFound) {
  struct Case {
    int line;
    std::function<void()> call;
  };
  const Case kCases[] = {
      {__LINE__, [] { db()->Upload("ghost"); }},
      {__LINE__, [] { db()->PV("ghost"); }},
      {__LINE__, [] { db()->PVE("ghost"); }},
      {__LINE__, [] { db()->PVE("FLOW.COLOUR"); }},
      {__LINE__, [] { db()->SetPV("ghost", 1); }},
      {__LINE__, [] { db()->SetPVE("ghost", 1); }},
      {__LINE__, [] { db()->SetPVE("ghost,other", 1); }},
      {__LINE__, [] { db()->SetAuto("ghost"); }},
      {__LINE__, [] { db()->SetMan("ghost"); }},
      {__LINE__, [] { db()->EUHi("ghost"); }},
      {__LINE__, [] { db()->EULo("ghost"); }},
      {__LINE__, [] { db()->RawHi("ghost"); }},
      {__LINE__, [] { db()->RawLo("ghost"); }},
      {__LINE__, [] { db()->InitPV("ghost"); }},
      {__LINE__, [] { CORBA::String_var s = db()->TagMode("ghost"); }},
      {__LINE__, [] { CORBA::String_var s = db()->PVEStr("ghost"); }},
      {__LINE__, [] { CORBA::String_var s = db()->TagWithOffset(3); }},
      {__LINE__, [] { CORBA::String_var s = db()->TagWithOffset(-1); }},
      {__LINE__, [] { db()->SetRawHi("ghost", 1); }},
      {__LINE__, [] { db()->SetRawLo("ghost", 1); }},
      {__LINE__, [] { db()->IsForced("ghost"); }},
      {__LINE__, [] { db()->SetForce("ghost", true); }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_THROW(c.call(), ZEMR::ZLTagNotFound);
  }
}

TEST_F(ServerOpsTest, DownloadErrorsCarryCodeAndPosition) {
  const std::string text = "NEW1\t\t\tAnalog\nNEW2\t\t\tAnalogue\n";
  try {
    db()->Download(text.c_str());
    FAIL() << "no exception";
  } catch (const ZEMR::ZLDownloadException& e) {
    EXPECT_EQ(2, e.zlErrorCode);
    EXPECT_EQ(static_cast<CORBA::Long>(text.find("Analogue")), e.zlStringPos);
  }
  EXPECT_FALSE(db()->TagExists("NEW1"));  // nothing of it was loaded
  EXPECT_EQ(0, db()->Download("# nothing but a comment\n\n"));
}

TEST_F(ServerOpsTest, Expressions) {
  EXPECT_EQ(21, db()->ZLExpr("FLOW * 2 + 1"));
  EXPECT_EQ(1, db()->ZLExpr("(FLOW > 5) AND NOT VALVE"));
  EXPECT_EQ(7.2, db()->ZLExpr("flow.pvraw"));
  try {
    db()->ZLExpr("FLOW + GHOST");
    FAIL() << "no exception";
  } catch (const ZEMR::ZLBadExpression& e) {
    EXPECT_EQ(2, e.exprError);
    EXPECT_STREQ("unknown tag 'GHOST' at column 8", e.exprString.in());
  }
  try {
    db()->ZLExpr("(1 + 2");
    FAIL() << "no exception";
  } catch (const ZEMR::ZLBadExpression& e) {
    EXPECT_EQ(4, e.exprError);
  }
}

TEST_F(ServerOpsTest, CycleTimeAndWarpReturnTheFormerValue) {
  EXPECT_EQ(1, db()->DoCalcsEvery(0.5));
  EXPECT_EQ(0.5, db()->DoCalcsEvery(0));  // 0 reads
  EXPECT_EQ(0.5, db()->DoCalcsEvery(-1));  // refused
  EXPECT_EQ(0.5, db()->DoCalcsEvery(0));
  EXPECT_EQ(1, db()->WarpFactor(4));
  EXPECT_EQ(4, db()->WarpFactor(0));
  EXPECT_EQ(4, db()->WarpFactor(1e9));  // refused
  EXPECT_EQ(4, db()->WarpFactor(0));
}

double SimTime() {
  CORBA::String_var t = SimTest::db()->HelloZL("$KERNEL.ElapsedSimTime");
  return std::stod(t.in());
}

TEST_F(ServerOpsTest, SimulationTimeFollowsCycleTimeAndWarp) {
  // 0.1 s cycles at warp 50: the simulation runs far ahead of the clock.
  db()->DoCalcsEvery(0.1);
  db()->WarpFactor(50);
  const double start = SimTime();
  const auto real_start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return SimTime() >= start + 10; }));
  const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - real_start).count();
  EXPECT_GT(SimTime() - start, 2 * real);  // faster than real time
  // The ramp moved with the simulation time: RATE=1 per simulated second.
  EXPECT_GE(db()->PVE("RAMP1"), 10 - 1);

  db()->EnableAlgs(false);
  EXPECT_FALSE(db()->AlgsAreRunning());
  const double frozen = SimTime();
  const double ramp = db()->PVE("RAMP1");
  EXPECT_EQ(0, db()->DoASingleCalcCycle(2.5));
  EXPECT_DOUBLE_EQ(frozen + 2.5, SimTime());
  EXPECT_DOUBLE_EQ(ramp + 2.5, db()->PVE("RAMP1"));
  EXPECT_EQ(-1, db()->DoASingleCalcCycle(-0.5));
  EXPECT_EQ(-1, db()->DoASingleCalcCycle(NAN));
  EXPECT_EQ(0, db()->DoASingleCalcCycle(0));
  EXPECT_DOUBLE_EQ(frozen + 2.5, SimTime());
  db()->EnableAlgs(true);
  EXPECT_TRUE(db()->AlgsAreRunning());
}

TEST_F(ServerOpsTest, AcquireLoopHoldsTheCalculations) {
  db()->DoCalcsEvery(0.01);
  db()->AcquireLoop();
  const double held = SimTime();
  // A cycle would take 10 ms; many cycle times pass without one.
  const std::string status_before = Control("status");
  EXPECT_NE(std::string::npos, status_before.find("held=1")) << status_before;
  // Nothing to await here: the test is that no cycle comes.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(held, SimTime());
  db()->ReleaseLoop();
  EXPECT_TRUE(WaitUntil([&] { return SimTime() > held; }));
}

TEST_F(ServerOpsTest, IoSwitches) {
  db()->IOStop();
  EXPECT_FALSE(db()->IOIsEnabled());
  db()->SetPVE("FLOW", 50);
  EXPECT_DOUBLE_EQ(7.2, db()->PVE("FLOW.PVRAW"));  // not exchanged
  db()->IOStart();
  EXPECT_TRUE(db()->IOIsEnabled());
  ASSERT_TRUE(WaitUntil([] { return db()->PVE("FLOW.PVRAW") == 20; }));
  db()->EnableIO(false);
  EXPECT_FALSE(db()->IOIsEnabled());
  db()->EnableIO(true);
}

TEST_F(ServerOpsTest, ExamplePlantRuns) {
  std::ifstream in(zl::testing::Services::SourceDir() + "/examples/plant.tags");
  std::stringstream text;
  text << in.rdbuf();
  ASSERT_GE(db()->Download(text.str().c_str()), 20);
  db()->DoCalcsEvery(0.5);
  db()->WarpFactor(20);
  const double level = db()->PVE("TANK_LEVEL");
  ASSERT_TRUE(WaitUntil([] { return db()->PVE("FEED_FLOW") > 25; }));
  EXPECT_TRUE(WaitUntil([&] { return db()->PVE("TANK_LEVEL") != level; }));
  EXPECT_TRUE(WaitUntil([] { return db()->PVE("TANK_TEMP") > 30; }));
}

}  // namespace
}  // namespace zl::sim::testing
