// The client ORB's argument vector: assembly, "-nsior", listen endpoints.
#include "broker/orb_args.h"

#include <ace/Log_Msg.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "broker/client_endpoint.h"
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

// A Naming Service reference (little-endian) with a foreign profile before
// its IIOP profile for 127.0.0.1, and one (big-endian) for ns.example.
const char kIorLoopback[] =
    "IOR:010000002800000049444c3a6f6d672e6f72672f436f734e616d696e672f4e616d696e67436f6e74"
    "6578743a312e300002000000010000000300000061626300000000001b000000010102000a0000003132"
    "372e302e302e3100f90a030000006b6579";
const char kIorNamed[] =
    "IOR:000000000000002849444c3a6f6d672e6f72672f436f734e616d696e672f4e616d696e67436f6e74"
    "6578743a312e300000000002000000010000000361626300000000000000001f00010200000000"
    "0b6e732e6578616d706c6500000af90000000000036b6579";

// Little-endian, one IIOP 1.2 profile for 192.0.2.20 with two components:
// an ORB type and an alternate address, 127.0.0.2.
const char kIorAlternate[] =
    "IOR:010000000a00000049444c3a783a312e30000000010000000000000050000000010102000b000000"
    "3139322e302e322e32300000f90a0000030000006b6579000200000000000000080000000100000000"
    "5454410300000014000000010000000a0000003132372e302e302e3200a00f";

TEST(ClientEndpointTest, HostsOfIor) {
  struct Case { int line; std::string reference; Words want; };
  const Case kCases[] = {
      {__LINE__, kIorLoopback, {"127.0.0.1"}},
      {__LINE__, kIorNamed, {"ns.example"}},  // big-endian
      // the alternate address follows the profile's own host; other
      // components are passed over
      {__LINE__, kIorAlternate, {"192.0.2.20", "127.0.0.2"}},
      {__LINE__, std::string(kIorAlternate).substr(0, 200), {}},  // the profile cut short
      {__LINE__, "corbaloc::127.0.0.1:2809/NameService", {}},   // not an IOR
      {__LINE__, "IOR:", {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, HostsOfIor(c.reference));
  }
  EXPECT_EQ("192.0.2.20", HostOfReference(kIorAlternate));
}

TEST(ClientEndpointTest, HostOfReference) {
  struct Case { int line; std::string reference; const char* want; };
  const Case kCases[] = {
      {__LINE__, "corbaloc::127.0.0.1:2809/NameService", "127.0.0.1"},
      {__LINE__, "corbaloc:iiop:1.2@ns.example:2809/NameService", "ns.example"},
      {__LINE__, "CORBALOC::ns.example/NameService", "ns.example"},  // no port, any case
      {__LINE__, "corbaloc:rir:,:ns.example:1/N", "ns.example"},  // the first address with a host
      {__LINE__, "corbaloc::[::1]:2809/NameService", "::1"},
      {__LINE__, "corbaname::ns.example:2809#a/b", "ns.example"},
      {__LINE__, "corbaloc:rir:/NameService", ""},   // no host to be told
      {__LINE__, "corbaloc:omniunix:/tmp/s:key", ""},  // not TCP
      {__LINE__, kIorLoopback, "127.0.0.1"},
      {__LINE__, kIorNamed, "ns.example"},
      {__LINE__, std::string(kIorLoopback).substr(0, 60), ""},  // cut short
      {__LINE__, "IOR:zz", ""},
      {__LINE__, "IOR:0", ""},
      {__LINE__, "ns.ior", ""},  // a bare word is no reference
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, HostOfReference(c.reference));
  }
}

// The endpoint the client ORB is given, per option set.
TEST(ClientEndpointTest, ChosenPerOptionSet) {
  for (const char* name : {"ORBendPoint", "ORBInitRef", "ORBDefaultInitRef"}) unsetenv(name);
  const std::string file = ::testing::TempDir() + "ns_ior_file.txt";
  std::ofstream(file) << kIorLoopback << "\n";
  const std::string loopback_ns = "NameService=corbaloc::127.0.0.1:2809/NameService";
  struct Case { int line; Words words; std::string ns_ior; Words want; };
  const Case kCases[] = {
      {__LINE__, {"ZLSim"}, "", {}},  // nothing names the Naming Service host: as before
      {__LINE__, {"ZLSim", "-ORBInitRef", loopback_ns}, "", {"giop:tcp:127.0.0.1:"}},
      {__LINE__, {"ZLSim", "-ORBInitRef", "NameService=corbaloc::localhost:1/NameService"}, "",
       {"giop:tcp:127.0.0.1:"}},
      // any loopback host is reached from 127.0.0.1
      {__LINE__, {"ZLSim", "-ORBInitRef", "NameService=corbaname::127.0.0.2:1"}, "",
       {"giop:tcp:127.0.0.1:"}},
      {__LINE__, {"ZLSim", "-ORBDefaultInitRef", "corbaloc::127.0.0.1:2809"}, "",
       {"giop:tcp:127.0.0.1:"}},
      // another initial reference says nothing about the Naming Service
      {__LINE__, {"ZLSim", "-ORBInitRef", "Other=corbaloc::127.0.0.1:1/x"}, "", {}},
      {__LINE__, {"ZLSim", "-ORBInitRef", "NameService=corbaloc:rir:/NameService"}, "", {}},
      {__LINE__, {"ZLSim", "-ORBInitRef", "NameService=IOR:zz"}, "", {}},
      {__LINE__, {"ZLSim", "F", "-nsior"}, "corbaloc::127.0.0.1:2809/NameService",
       {"giop:tcp:127.0.0.1:"}},
      {__LINE__, {"ZLSim", "F", "-nsior"}, kIorLoopback, {"giop:tcp:127.0.0.1:"}},
      {__LINE__, {"ZLSim", "F", "-nsior"}, "file://" + file, {"giop:tcp:127.0.0.1:"}},
      // "-nsior" is where the client looks first, so it decides
      {__LINE__, {"ZLSim", "-ORBInitRef", loopback_ns, "F", "-nsior"}, "corbaloc:rir:/x", {}},
      // Zelvik_Interface and an explicit endpoint win
      {__LINE__, {"ZLSim", "-ORBInitRef", loopback_ns, "-OrbListenEndpoints", "127.0.0.1:5000"}, "",
       {"giop:tcp:127.0.0.1:5000"}},
      {__LINE__, {"ZLSim", "-ORBendPoint", "giop:tcp::6000", "-ORBInitRef", loopback_ns}, "",
       {"giop:tcp::6000"}},
      // an endpoint named in another case, or one that is not published, is
      // named all the same: no default beside it
      {__LINE__, {"ZLSim", "-orbendpoint", "giop:tcp::6000", "-ORBInitRef", loopback_ns}, "", {}},
      {__LINE__, {"ZLSim", "-ORBendPointNoPublish", "giop:tcp::6000", "-ORBInitRef", loopback_ns},
       "", {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    const Words out = TranslateForOrb(c.words, c.ns_ior);
    Words endpoints;
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
      if (out[i] == "-ORBendPoint") endpoints.push_back(out[i + 1]);
    }
    EXPECT_EQ(c.want, endpoints);
  }

  // omniORB's variables name the Naming Service when the options do not.
  setenv("ORBInitRef", loopback_ns.c_str(), 1);
  EXPECT_EQ("giop:tcp:127.0.0.1:", DefaultClientEndpoint({"ZLSim"}, ""));
  unsetenv("ORBInitRef");
  setenv("ORBDefaultInitRef", "corbaloc::127.0.0.1:2809", 1);
  EXPECT_EQ("giop:tcp:127.0.0.1:", DefaultClientEndpoint({"ZLSim"}, ""));
  unsetenv("ORBDefaultInitRef");

  // The variable omniORB reads names an endpoint as well.
  setenv("ORBendPoint", "giop:tcp::7000", 1);
  EXPECT_EQ((Words{"ZLSim", "-ORBInitRef", loopback_ns, "-ORBclientConnectTimeOutPeriod", "10000",
                   "-ORBclientCallTimeOutPeriod", "60000"}),
            TranslateForOrb({"ZLSim", "-ORBInitRef", loopback_ns}));
  unsetenv("ORBendPoint");
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
