// Construction options, Connect (Naming Service, local IOR file, a kept
// database), Disconnect, the database listing and CreateServer, with their
// log lines; and, in child processes whose first client sets up the ORB,
// "-nsior", a Naming Service that is not running or not configured, and an
// ORB that cannot be initialised.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <omniORB4/Naming.hh>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "broker/orb_holder.h"
#include "broker/server_locator.h"
#include "broker/zl_sim.h"
#include "client_env.h"
#include "common/log.h"
#include "support/local_db_access.h"
#include "support/log_capture.h"

namespace zl {
namespace {

using testing::ClientEnvironment;
using testing::ConnectedClient;
using testing::LogCapture;
using testing::NewClient;
using testing::ScopedEnv;
using testing::TempDir;

testing::Services& services() { return ClientEnvironment::services(); }

std::string SimIorFile() { return services().ior_dir() + "/SIM.txt"; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines logged at LM_DEBUG and above for this thread while it lives.
class DebugLog : public LogCapture {
 public:
  DebugLog() : old_(ACE_LOG_MSG->priority_mask(ACE_Log_Msg::THREAD)) {
    ACE_LOG_MSG->priority_mask(LM_DEBUG | LM_INFO, ACE_Log_Msg::THREAD);
  }
  ~DebugLog() { ACE_LOG_MSG->priority_mask(old_, ACE_Log_Msg::THREAD); }

 private:
  const u_long old_;
};

// --- Construction options ------------------------------------------------------

TEST(ZLSimOptionsTest, WordsAndResolveTimeout) {
  auto first = NewClient();  // the process's ORB is the services' one
  struct Case {
    int line;
    std::string options;
    long sec;
    long usec;
    std::vector<std::string> logged;  // the option lines, in order
    bool debug;                       // "-debug" applied
  };
  const std::string orb = services().orb_options();
  const std::string late = " is not applied: the process's ORB was made by an earlier client\n";
  // The debug lines of words the client itself does not act on, then the
  // warnings `after` them.
  const auto ignored = [](const std::string& words, std::vector<std::string> after) {
    std::vector<std::string> lines;
    std::istringstream in(words);
    for (std::string w; in >> w;) {
      lines.push_back((w[0] == '-' ? "# Unknown option: " : "# Unknown file?: ") + w +
                      ", ignored\n");
    }
    lines.insert(lines.end(), after.begin(), after.end());
    return lines;
  };
  const Case kCases[] = {
      {__LINE__, "-resolveTimeout 1500", 1, 500000, {"# option -resolveTimeout 1500\n"}, false},
      // Matched without regard to case.
      {__LINE__, "-RESOLVETIMEOUT 250", 0, 250000, {"# option -resolveTimeout 250\n"}, false},
      // No value: consumed alone, nothing logged, the limit stays.
      {__LINE__, "-resolveTimeout", 2, 0, {}, false},
      // A value that begins with "-" is the next option.
      {__LINE__, "-resolveTimeout -debug", 2, 0, {}, true},
      {__LINE__, "-Debug -frob", 2, 0, {"# Unknown option: -frob, ignored\n"}, true},
      // Words for the ORB and the ORB holder are left to them (logged as
      // ignored by the client); on a later client the ORB is made: those it
      // was not made with are not applied, with a warning.
      {__LINE__, orb, 2, 0, ignored(orb, {}), false},
      {__LINE__, "-nsior ns.ior", 2, 0, ignored("-nsior ns.ior", {"# -nsior ns.ior" + late}),
       false},
      {__LINE__, orb + " -ORBclientCallTimeOutPeriod 500 -stray", 2, 0,
       ignored(orb + " -ORBclientCallTimeOutPeriod 500 -stray",
               {"# -ORBclientCallTimeOutPeriod 500" + late}),
       false},
      {__LINE__, "-ORBtraceLevel -debug", 2, 0,
       ignored("-ORBtraceLevel", {"# -ORBtraceLevel" + late}), true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> logged;
    {
      DebugLog log;
      ZLSim sim(c.options.c_str());
      EXPECT_EQ(c.sec, sim.resolveTimeout().sec());
      EXPECT_EQ(c.usec, sim.resolveTimeout().usec());
      for (const testing::LogLine& l : log.Lines()) {
        const ACE_Log_Priority want = l.text.find(late) != std::string::npos ? LM_WARNING : LM_DEBUG;
        if (l.priority == want && l.text.rfind("# ", 0) == 0) logged.push_back(l.text);
      }
    }
    EXPECT_EQ(c.logged, logged);
    EXPECT_EQ(c.debug ? kDebugLogMask : kProcessLogMask,
              ACE_LOG_MSG->priority_mask(ACE_Log_Msg::PROCESS));
    ACE_LOG_MSG->priority_mask(kProcessLogMask, ACE_Log_Msg::PROCESS);
  }
}

// --- Connect and the local IOR file ---------------------------------------------

// An empty name means zl_<host>: not bound in the Naming Service, so the
// reference comes from zl_<host>.txt in the directory named by TEMP, or in
// the current directory when TEMP is not set.
TEST(ZLSimConnectTest, DefaultNameUsesLocalIorFile) {
  const std::string name = DefaultServerName(LocalHostName());
  for (const bool temp_set : {true, false}) {
    SCOPED_TRACE(temp_set ? "TEMP set" : "TEMP unset");
    TempDir dir;
    ASSERT_TRUE(testing::CopyFile(SimIorFile(), dir.path() + "/" + name + ".txt"));
    ScopedEnv temp("TEMP", temp_set ? dir.path().c_str() : nullptr);
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    if (!temp_set) {
      ASSERT_EQ(0, chdir(dir.path().c_str()));
    }
    const std::string path = (temp_set ? dir.path() : std::string(".")) + "/" + name + ".txt";

    auto sim = NewClient();
    DebugLog log;
    EXPECT_EQ(0, sim->Connect(""));
    EXPECT_TRUE(log.Has(LM_DEBUG, "Zelvik server, " + name + ", NOT FOUND\n"));
    EXPECT_TRUE(log.Has(LM_DEBUG, "#info: looking for server in " + path + "\n"));
    EXPECT_EQ("", sim->serverName());  // the name as given
    EXPECT_EQ(50.0, sim->PVE("FIC101"));
    ASSERT_EQ(0, chdir(cwd));
  }
}

TEST(ZLSimConnectTest, LocalIorFileContents) {
  const std::string ior = ReadAll(SimIorFile());
  const std::string ref = ior.substr(0, ior.find_first_of("\r\n"));
  ASSERT_EQ(0u, ref.rfind("IOR:", 0));
  struct Case {
    int line;
    bool exists;
    std::string content;
    int want;
    std::vector<std::pair<ACE_Log_Priority, std::string>> logged;  // among the lines
  };
  const Case kCases[] = {
      // No file: the three lines of a name that is nowhere.
      {__LINE__, false, "", -1,
       {{LM_DEBUG, "Zelvik server, NOPE, NOT FOUND\n"},
        {LM_WARNING, "Could not find local ior file, %s\n"},
        {LM_DEBUG, "NOPE is not the name of a ZelvikDatabase reference\n"}}},
      // An empty file is not looked into.
      {__LINE__, true, "", -1, {{LM_DEBUG, "NOPE is not the name of a ZelvikDatabase reference\n"}}},
      // A line that is no reference.
      {__LINE__, true, "garbage\n", -1,
       {{LM_DEBUG, "#info: looking for server in %s\n"},
        {LM_DEBUG, "#error: object was not a valid ZLDatabase\n"}}},
      // The reference with either line end, or none.
      {__LINE__, true, ref + "\r\n", 0, {{LM_DEBUG, "#info: looking for server in %s\n"}}},
      {__LINE__, true, ref, 0, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    TempDir dir;
    ScopedEnv temp("TEMP", dir.path().c_str());
    const std::string path = dir.path() + "/NOPE.txt";
    if (c.exists) std::ofstream(path, std::ios::binary) << c.content;
    auto sim = NewClient();
    DebugLog log;
    EXPECT_EQ(c.want, sim->Connect("NOPE"));
    EXPECT_EQ(c.want == 0, sim->connected());
    EXPECT_EQ(c.want == 0 ? "NOPE" : "", sim->serverName());
    for (const auto& [priority, format] : c.logged) {
      std::string text = format;
      const size_t at = text.find("%s");
      if (at != std::string::npos) text.replace(at, 2, path);
      EXPECT_TRUE(log.Has(priority, text)) << text;
    }
    if (c.exists && c.content.empty()) {
      EXPECT_FALSE(log.Has(LM_DEBUG, "#info: looking for server in " + path + "\n"));
    }
  }
}

// A name that is nowhere gives -1 and leaves an attached client as it was:
// the same database, its name, and what hangs off the attachment (a
// re-attachment would have turned the server messages off). A name found in
// the local IOR file replaces the attachment.
TEST(ZLSimConnectTest, OtherNameWhileAttached) {
  auto other = NewClient();
  ASSERT_EQ(0, other->CreateServer("OTHER", services().host().c_str()));
  ASSERT_EQ(0, other->Connect("OTHER"));
  CORBA::String_var other_ior = OrbHolder::instance()->orb()->object_to_string(other->database());
  struct Case {
    int line;
    bool ior_file;  // NOPE.txt holds OTHER's reference
    int want;
    const char* name_after;
    const char* kernel_after;
    bool events_after;
  };
  const Case kCases[] = {
      // was 0, named NOPE, on a fresh attachment of SIM
      {__LINE__, false, -1, "SIM", "SIM", true},
      // the file was never looked into while attached
      {__LINE__, true, 0, "NOPE", "OTHER", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    TempDir dir;
    ScopedEnv temp("TEMP", dir.path().c_str());
    if (c.ior_file) std::ofstream(dir.path() + "/NOPE.txt", std::ios::binary) << other_ior.in();
    auto sim = ConnectedClient();
    ASSERT_EQ("SIM", sim->serverName());
    ASSERT_EQ(0, sim->EnableEvents(true));
    DebugLog log;
    EXPECT_EQ(c.want, sim->Connect("NOPE"));
    EXPECT_TRUE(log.Has(LM_DEBUG, "Zelvik server, NOPE, NOT FOUND\n"));
    EXPECT_EQ(c.want != 0,
              log.Has(LM_DEBUG, "NOPE is not the name of a ZelvikDatabase reference\n"));
    EXPECT_EQ(c.name_after, sim->serverName());
    EXPECT_EQ(c.want != 0 ? FailureKind::kNotConnected : FailureKind::kNone,
              sim->lastFailure().kind);
    EXPECT_EQ(c.want != 0
                  ? "no database named 'NOPE' in the Naming Service or the local IOR file"
                  : "",
              sim->lastFailure().reason);
    EXPECT_TRUE(sim->connected());
    EXPECT_EQ(c.kernel_after, sim->HelloZL("$KERNEL.NAME"));
    EXPECT_EQ(c.events_after, testing::LocalDb(*sim).EventsEnabled());
  }
}

// A server that died leaves no database attached: Connect gives -1 while it
// is down (the first time too, when it drops the database attached before),
// and the same client connects again once the server is back.
TEST(ZLSimConnectTest, RetryUntilConnectedAfterServerDeath) {
  struct Restore {
    ~Restore() { testing::EnsureSimRunning(); }
  } restore;
  TempDir dir;
  ScopedEnv temp("TEMP", dir.path().c_str());  // no local IOR file to fall back on
  auto sim = ConnectedClient();
  ASSERT_TRUE(services().KillSim()) << services().LastError();
  LogCapture log;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(-1, sim->Connect("SIM"));
    EXPECT_FALSE(sim->connected());
    // Found in the Naming Service, but it does not answer.
    EXPECT_EQ(FailureKind::kCommunication, sim->lastFailure().kind);
    EXPECT_EQ("the database 'SIM' does not answer", sim->lastFailure().reason);
    EXPECT_EQ("", sim->HelloZL("$KERNEL.NAME"));
  }
  bool bogus = false;
  for (const auto& line : log.Lines()) {
    bogus = bogus || line.text.rfind("ZelvikDatabase is bogus, ", 0) == 0;
  }
  EXPECT_TRUE(bogus) << "the database kept was probed and did not answer";
  ASSERT_TRUE(services().StartSim()) << services().LastError();
  EXPECT_EQ(0, sim->Connect("SIM"));
  EXPECT_TRUE(sim->connected());
  EXPECT_EQ("SIM", sim->HelloZL("$KERNEL.NAME"));
}

// A client interface that reports its deletion.
class WatchedInterface : public ZLClientInterface {
 public:
  explicit WatchedInterface(bool* deleted) : deleted_(deleted) {}
  ~WatchedInterface() override { *deleted_ = true; }

 private:
  bool* const deleted_;
};

TEST(ZLSimConnectTest, DisconnectResults) {
  auto sim = NewClient();
  EXPECT_EQ(-1, sim->Disconnect());  // never connected
  ASSERT_EQ(0, sim->Connect("SIM"));
  bool deleted = false;
  testing::LocalDb(*sim).SetClientInterface(new WatchedInterface(&deleted), true);
  EXPECT_FALSE(CORBA::is_nil(sim->database2()));
  EXPECT_EQ(0, sim->Disconnect());
  EXPECT_TRUE(deleted);  // the owned client interface is dropped
  EXPECT_EQ("none", testing::LocalDb(*sim).ClientInterfaceName());
  EXPECT_FALSE(sim->connected());
  EXPECT_TRUE(CORBA::is_nil(sim->database2()));
  EXPECT_EQ("SIM", sim->serverName());  // kept
  EXPECT_EQ(-1, sim->Disconnect());
  EXPECT_EQ(0.0, sim->PVE("FIC101"));
  // Connecting again after a disconnect works.
  EXPECT_EQ(0, sim->Connect("SIM"));
  EXPECT_EQ(50.0, sim->PVE("FIC101"));
}

// --- The database listing --------------------------------------------------------

CosNaming::NamingContext_ptr RootContext() {
  CORBA::ORB_ptr orb = OrbHolder::instance()->orb();
  CORBA::Object_var object = orb->string_to_object(
      ("corbaloc::127.0.0.1:" + std::to_string(services().naming_port()) + "/NameService").c_str());
  return CosNaming::NamingContext::_narrow(object.in());
}

TEST(ZLSimListTest, OnlyDatabasesAreListed) {
  auto sim = ConnectedClient();
  EXPECT_NE(std::string::npos, ("," + sim->ListZLDatabases() + ",").find(",SIM,"));

  // A context of its own holding three bindings of two kinds.
  CosNaming::NamingContext_var root = RootContext();
  const std::string id = "listing-" + std::to_string(getpid());
  CosNaming::NamingContext_var context =
      root->bind_new_context(OneComponentName(id.c_str(), ""));
  ZEMR::ZelvikDatabase_ptr db = sim->database();
  context->bind(OneComponentName("P", kDatabaseKind), db);
  context->bind(OneComponentName("Q", kFactoryKind), db);
  context->bind(OneComponentName("R", kDatabaseKind), db);
  testing::LocalDb(*sim).SetNamingContext(context.in());
  EXPECT_EQ("P,R", sim->ListZLDatabases());

  testing::LocalDb(*sim).SetNamingContext(CosNaming::NamingContext::_nil());
  EXPECT_EQ("", sim->ListZLDatabases());
  EXPECT_EQ("!Error: No naming context!", sim->lastErrorText());

  for (const char* n : {"P", "R"}) context->unbind(OneComponentName(n, kDatabaseKind));
  context->unbind(OneComponentName("Q", kFactoryKind));
  context->destroy();
  root->unbind(OneComponentName(id.c_str(), ""));
}

// A free loopback port nobody listens on.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

// A listing that fails drops the naming context; Connect resolves the
// Naming Service again.
TEST(ZLSimListTest, FailedListingDropsNamingContext) {
  auto sim = NewClient();
  CORBA::Object_var dead = OrbHolder::instance()->orb()->string_to_object(
      ("corbaloc::127.0.0.1:" + std::to_string(ClosedPort()) + "/NameService").c_str());
  CosNaming::NamingContext_var context = CosNaming::NamingContext::_unchecked_narrow(dead.in());
  testing::LocalDb(*sim).SetNamingContext(context.in());
  {
    LogCapture log;
    EXPECT_EQ("", sim->ListZLDatabases());
    EXPECT_EQ(0u, sim->lastErrorText().rfind(
                      "!Error: system exception, ID 'IDL:omg.org/CORBA/TRANSIENT:1.0'", 0))
        << sim->lastErrorText();
    EXPECT_EQ(FailureKind::kCommunication, sim->lastFailure().kind);
    EXPECT_EQ(sim->lastErrorText().substr(std::strlen("!Error: ")), sim->lastFailure().reason);
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_EQ(LM_ERROR, log.Lines()[0].priority);
    EXPECT_EQ(0u, log.Lines()[0].text.rfind("(File src/localdb/", 0)) << log.Lines()[0].text;
  }
  EXPECT_FALSE(testing::LocalDb(*sim).HasNamingContext());
  EXPECT_EQ("", sim->ListZLDatabases());
  EXPECT_EQ("!Error: No naming context!", sim->lastErrorText());
  EXPECT_EQ("No naming context!", sim->lastFailure().reason);

  EXPECT_EQ(0, sim->Connect("SIM"));
  EXPECT_FALSE(sim->lastFailure().failed());
  EXPECT_TRUE(testing::LocalDb(*sim).HasNamingContext());
  EXPECT_NE("", sim->ListZLDatabases());
}

// --- CreateServer -----------------------------------------------------------------

TEST(ZLSimCreateServerTest, ThroughTheHostsFactory) {
  auto sim = NewClient();
  const std::string host = services().host();
  {
    DebugLog log;
    ASSERT_EQ(0, sim->CreateServer("NEWDB", host.c_str()));
    EXPECT_TRUE(log.Has(LM_DEBUG, "in ZLSim::CreateServer(NEWDB, " + host + ")\n"));
    EXPECT_TRUE(log.Has(LM_DEBUG, "About to create(NEWDB)\n"));
    EXPECT_TRUE(log.Has(LM_DEBUG, "Created server 'NEWDB'\n"));
  }
  EXPECT_FALSE(sim->connected());  // creating does not connect
  EXPECT_EQ(0, sim->Connect("NEWDB"));
  EXPECT_EQ("NEWDB", sim->HelloZL("$KERNEL.NAME"));

  // The local host is the default.
  if (host == LocalHostName()) {
    DebugLog log;
    EXPECT_EQ(0, sim->CreateServer("NEWDB2", ""));
    EXPECT_TRUE(log.Has(LM_DEBUG, "in ZLSim::CreateServer(NEWDB2, )\n"));
  }
}

TEST(ZLSimCreateServerTest, Failures) {
  auto sim = NewClient();
  const std::string host = services().host();
  {
    // No factory under that host name.
    DebugLog log;
    EXPECT_EQ(-1, sim->CreateServer("X", "nohost"));
    EXPECT_TRUE(log.Has(LM_ERROR, "No Zelvik factory on host 'nohost'\n"));
    EXPECT_EQ(FailureKind::kOther, sim->lastFailure().kind);
    EXPECT_EQ("no Zelvik factory on host 'nohost'", sim->lastFailure().reason);
  }
  {
    // A system exception of create is recorded with its minor code.
    DebugLog log;
    ASSERT_EQ("OK", services().Control("fail create TRANSIENT minor=7"));
    EXPECT_EQ(-1, sim->CreateServer("X", host.c_str()));
    EXPECT_EQ(7, sim->lastErrorStatus());
    EXPECT_NE(std::string::npos, sim->lastErrorText().find("TRANSIENT"));
    EXPECT_EQ(FailureKind::kCommunication, sim->lastFailure().kind);
    EXPECT_EQ(7u, sim->lastFailure().minor);
    EXPECT_TRUE(log.Has(LM_ERROR, "SysEx " + sim->lastErrorText() + "\n"));
  }
  {
    // An undeclared user exception arrives as UNKNOWN.
    DebugLog log;
    ASSERT_EQ("OK", services().Control("fail create undeclared"));
    EXPECT_EQ(-1, sim->CreateServer("X", host.c_str()));
    EXPECT_EQ(static_cast<int32_t>(omni::UNKNOWN_UserException), sim->lastErrorStatus());
    EXPECT_TRUE(log.Has(LM_ERROR, "SysEx " + sim->lastErrorText() + "\n"));
    EXPECT_EQ(FailureKind::kServerError, sim->lastFailure().kind);
  }
  EXPECT_EQ(0, sim->CreateServer("X", host.c_str()));
  EXPECT_FALSE(sim->lastFailure().failed());
  services().Control("clear");
}

// --- First clients of their own process ---------------------------------------------

#ifndef ZL_SIM_CHILD
#error "ZL_SIM_CHILD (the zl_sim_child program) must be defined by the build"
#endif

// Runs zl_sim_child with `options` (and `name` to connect to when not
// empty) in an environment without ORB settings, TEMP set to `temp`.
std::vector<std::string> RunChild(const std::string& options, const std::string& name,
                                  const std::string& temp) {
  const std::string command = "env -u ORBInitRef OMNIORB_CONFIG=/dev/null TEMP='" + temp +
                              "' '" ZL_SIM_CHILD "' '" + options + "' " + name + " 2>/dev/null";
  std::vector<std::string> lines;
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return lines;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
    std::string line = buffer;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  EXPECT_EQ(0, pclose(out)) << command;
  return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

TEST(ZLSimFirstClientTest, NamingServiceNotRunning) {
  TempDir dir;
  const std::vector<std::string> out = RunChild(
      "-ORBInitRef NameService=corbaloc::127.0.0.1:" + std::to_string(ClosedPort()) +
          "/NameService",
      "SIM", dir.path());
  SCOPED_TRACE(Joined(out));
  EXPECT_TRUE(Contains(out, "construct status=-1 text=Could not resolve NameService"));
  EXPECT_TRUE(Contains(out, "list= text=!Error: No naming context!"));
  EXPECT_TRUE(Contains(out, "connect=-1"));
  // The Naming Service's exception is the reason, not the missing name.
  EXPECT_TRUE(Contains(out,
                       "connect failure=the Naming Service failed: system exception, ID "
                       "'IDL:omg.org/CORBA/TRANSIENT:1.0', minor code = 0x41540002 "
                       "(TRANSIENT_ConnectFailed), completed = NO"));
  EXPECT_TRUE(Contains(out, "pve=0"));
  EXPECT_TRUE(Contains(out, "LOG 4 #warning:  Could not resolve \"NameService\""));
  EXPECT_TRUE(Contains(out,
                       "LOG 4 CORBA exception resolving Zelvik server, system exception, ID "
                       "'IDL:omg.org/CORBA/TRANSIENT:1.0', minor code = 0x41540002 "
                       "(TRANSIENT_ConnectFailed), completed = NO"));
  EXPECT_TRUE(Contains(out, "LOG 32 Could not find local ior file, " + dir.path() + "/SIM.txt"));
  EXPECT_TRUE(Contains(out, "LOG 4 SIM is not the name of a ZelvikDatabase reference"));
}

TEST(ZLSimFirstClientTest, NoNamingServiceConfigured) {
  TempDir dir;
  const std::vector<std::string> out = RunChild("", "SIM", dir.path());
  SCOPED_TRACE(Joined(out));
  EXPECT_TRUE(Contains(out, "construct status=-1 text=NameService not found"));
  EXPECT_TRUE(Contains(out, "list= text=!Error: No naming context!"));
  EXPECT_TRUE(Contains(out, "connect=-1"));
  EXPECT_TRUE(Contains(out,
                       "connect failure=no database named 'SIM' in the Naming Service or the "
                       "local IOR file"));
  EXPECT_TRUE(Contains(out, "LOG 4 Zelvik server, SIM, NOT FOUND"));
}

TEST(ZLSimFirstClientTest, NamingServiceFromNsior) {
  TempDir dir;
  const std::string ns =
      "corbaloc::127.0.0.1:" + std::to_string(services().naming_port()) + "/NameService";
  std::vector<std::string> out = RunChild("-nsior " + ns, "SIM", dir.path());
  {
    SCOPED_TRACE(Joined(out));
    EXPECT_TRUE(Contains(out, "construct status=0 text="));
    EXPECT_TRUE(Contains(out, "LOG 8 NS ior file: " + ns + " "));
    EXPECT_TRUE(Contains(out, "connect=0"));
    EXPECT_TRUE(Contains(out, "pve=50"));
  }
  // A word the ORB cannot read as a reference.
  out = RunChild("-nsior IOR:zz", "", dir.path());
  SCOPED_TRACE(Joined(out));
  EXPECT_TRUE(Contains(out, "LOG 4 #warning: could not find NS from -nsior IOR:zz"));
  EXPECT_TRUE(Contains(out, "list= text=!Error: No naming context!"));
}

// On the first client the ORB holder, made after the options were read, sets
// the process mask back: "-debug" then holds for the constructing thread.
TEST(ZLSimFirstClientTest, DebugOnFirstClient) {
  TempDir dir;
  const std::vector<std::string> out = RunChild("-debug", "", dir.path());
  SCOPED_TRACE(Joined(out));
  EXPECT_TRUE(Contains(out, "masks process=" + std::to_string(kProcessLogMask) +
                                " thread=" + std::to_string(kDebugLogMask)));
}

TEST(ZLSimFirstClientTest, OrbNotInitialised) {
  TempDir dir;
  const std::vector<std::string> out = RunChild("-ORBnoSuchOption 1", "SIM", dir.path());
  SCOPED_TRACE(Joined(out));
  EXPECT_TRUE(Contains(out, "construct status=-1 text=ORB not initialised"));
  EXPECT_TRUE(Contains(out, "LOG 128 #error: ORB not initialised, the client cannot reach a server"));
  EXPECT_TRUE(Contains(out, "list= text=!Error: No naming context!"));
  EXPECT_TRUE(Contains(out, "connect=-1"));
  EXPECT_TRUE(Contains(out, "pve=0"));
}

}  // namespace
}  // namespace zl
