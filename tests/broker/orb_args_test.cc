// The client ORB's argument vector: assembly, "-nsior", listen endpoints.
#include "broker/orb_args.h"

#include <ace/Log_Msg.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/log_capture.h"

namespace zl {
namespace {

using Words = std::vector<std::string>;

class OrbArgsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // LM_INFO and LM_DEBUG are off for the process; turn them on here.
    ACE_LOG_MSG->priority_mask(LM_DEBUG | LM_INFO | LM_ERROR | LM_WARNING, ACE_Log_Msg::THREAD);
  }
  testing::LogCapture log_;
};

TEST_F(OrbArgsTest, Assembly) {
  struct Case {
    int line;
    const char* options;
    const char* iface;  // value of Zelvik_Interface; null when unset
    Words want;
    const char* ior_file;
  };
  const Case kCases[] = {
      {__LINE__, "", nullptr, {"ZLSim"}, ""},       // program name alone
      {__LINE__, nullptr, nullptr, {"ZLSim"}, ""},  // absent options
      {__LINE__, "", "", {"ZLSim"}, ""},            // empty variable adds nothing
      {__LINE__, "", "127.0.0.1", {"ZLSim", "-OrbListenEndpoints", "127.0.0.1"}, ""},
      // a value with blanks becomes several words when the vector is read
      {__LINE__, "", "a b", {"ZLSim", "-OrbListenEndpoints", "a", "b"}, ""},
      // the file word and "-nsior" go to the back, the last consumed first
      {__LINE__, "-nsior F A B", nullptr, {"ZLSim", "A", "B", "F", "-nsior"}, "F"},
      {__LINE__, "A -NsIoR F B", nullptr, {"ZLSim", "A", "B", "F", "-NsIoR"}, "F"},  // any case
      // a following option is no file word: it stays, and so does the rest
      {__LINE__, "-nsior -debug X", nullptr, {"ZLSim", "-debug", "X", "-nsior"}, ""},
      {__LINE__, "A -nsior", nullptr, {"ZLSim", "A", "-nsior"}, ""},  // nothing follows
      {__LINE__, "-nsior F", "h", {"ZLSim", "-OrbListenEndpoints", "h", "F", "-nsior"}, "F"},
      {__LINE__, "\"a b\" c", nullptr, {"ZLSim", "a", "b", "c"}, ""},  // re-split when read
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    OrbArgs args = AssembleOrbArgs(c.options, c.iface);
    EXPECT_EQ(c.want, args.words);
    EXPECT_EQ(c.ior_file, args.ns_ior_file);
  }
}

TEST_F(OrbArgsTest, EnvironmentWordsAreSubstituted) {
  setenv("ZL_TEST_IOR", "ns.ior", 1);
  OrbArgs args = AssembleOrbArgs("-nsior $ZL_TEST_IOR", nullptr);
  EXPECT_EQ("ns.ior", args.ns_ior_file);
  unsetenv("ZL_TEST_IOR");
}

TEST_F(OrbArgsTest, NsiorLogLines) {
  AssembleOrbArgs("-nsior F", nullptr);
  EXPECT_TRUE(log_.Has(LM_INFO, "NS ior file: F \n"));

  log_.Clear();
  AssembleOrbArgs("-nsior -x", nullptr);
  ASSERT_EQ(1u, log_.Lines().size());
  EXPECT_TRUE(log_.Has(LM_ERROR, "#error: argument -nsior requires a filename, it is ignored\n"));

  log_.Clear();
  AssembleOrbArgs("-a b", nullptr);
  EXPECT_TRUE(log_.Lines().empty());
}

TEST(EndpointTest, ListenValues) {
  struct Case { int line; const char* value; const char* want; };
  const Case kCases[] = {
      {__LINE__, "127.0.0.1", "giop:tcp:127.0.0.1:"},  // host alone: any port
      {__LINE__, "127.0.0.1:5000", "giop:tcp:127.0.0.1:5000"},
      {__LINE__, "iiop://127.0.0.1:5000", "giop:tcp:127.0.0.1:5000"},
      {__LINE__, "iiop://host/", "giop:tcp:host:"},  // trailing slash of an address
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, EndpointFromListenValue(c.value));
  }
}

TEST(TranslateTest, ListenEndpointsAndTimeLimits) {
  Words got = TranslateForOrb({"ZLSim", "-OrbListenEndpoints", "127.0.0.1", "F", "-nsior"});
  Words want = {"ZLSim", "-ORBendPoint", "giop:tcp:127.0.0.1:", "F", "-nsior",
                "-ORBclientConnectTimeOutPeriod", "10000",
                "-ORBclientCallTimeOutPeriod", "60000"};
  EXPECT_EQ(want, got);

  // time limits named in the options win
  got = TranslateForOrb({"ZLSim", "-ORBclientCallTimeOutPeriod", "5000",
                         "-ORBclientConnectTimeOutPeriod", "700"});
  EXPECT_EQ((Words{"ZLSim", "-ORBclientCallTimeOutPeriod", "5000",
                   "-ORBclientConnectTimeOutPeriod", "700"}),
            got);

  // a dangling listen option is dropped rather than eating the next option
  got = TranslateForOrb({"ZLSim", "-OrbListenEndpoints"});
  EXPECT_EQ("ZLSim", got.at(0));
  EXPECT_EQ("-ORBclientConnectTimeOutPeriod", got.at(1));
}

}  // namespace
}  // namespace zl
