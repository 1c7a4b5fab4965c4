// zelvik-sim as a process: names and IOR files, tag files, the factory, the
// legacy binding, the control endpoint, start-up errors and stopping.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "sim_client.h"

namespace zl::sim::testing {
namespace {

const char kTags[] =
    "A\tPLC1\tAI:0\tAnalogIn\tFlow [m3/h]\t0\t50\t4\t20\tAuto\tLAG\tIN=B;TAU=3\t1\n"
    "B\t\t\tAnalog\t\t\t\t\t\tManual\tNONE\t\t0\n"
    "C\t\t\tDigitalOut\tPump [OFF/ON]\t\t\t\t\tManual\n";

// --- Names, IOR files, tag files ------------------------------------------------

class ServerTest : public SimTest {};

TEST_F(ServerTest, NamesAndIorFile) {
  EXPECT_TRUE(db()->_is_a("IDL:ZEMR/ZelvikDatabase2:1.0"));
  CORBA::Object_var factory = Resolve(services().host(), "ZelvikFactory");
  EXPECT_TRUE(factory->_is_a("IDL:ZEMR/ZelvikFactory:1.0"));
  std::ifstream in(services().ior_dir() + "/SIM.txt");
  std::string ior;
  ASSERT_TRUE(std::getline(in, ior));
  CORBA::Object_var obj = TestOrb()->string_to_object(ior.c_str());
  EXPECT_TRUE(obj->_is_equivalent(db()));
}

// Reads the whole tag file from a new iterator as a client does.
std::vector<std::string> ReadTagFile(ZEMR::ZelvikDatabase_ptr db) {
  ZEMR::FileChunk_Iterator_var it;
  db->get_tagfile_iterator(it.out());
  std::vector<std::string> records;
  CORBA::ULong offset = 0;
  ZEMR::FileChunk_Type_var chunk;
  while (it->next_chunk(offset, chunk.out())) {
    records.emplace_back(reinterpret_cast<const char*>(chunk->get_buffer()), chunk->length());
    offset += chunk->length();
  }
  return records;
}

TEST_F(ServerTest, TagFileRoundTrip) {
  ASSERT_EQ(3, db()->Download(kTags));
  db()->SetPVE("B", 42);
  db()->SetForce("C", true);
  db()->SetPVE("C", 1);
  db()->AcquireLoop();
  const std::vector<std::string> file = ReadTagFile(db());
  db()->ReleaseLoop();
  ASSERT_EQ(4u, file.size());
  EXPECT_EQ("ZTFH", file[0].substr(0, 4));
  std::vector<std::string> lines;
  for (size_t i = 1; i < file.size(); ++i) {
    EXPECT_EQ("STAG", file[i].substr(0, 4));
    const uint32_t length = static_cast<unsigned char>(file[i][4]) |
                            static_cast<unsigned char>(file[i][5]) << 8 |
                            static_cast<unsigned char>(file[i][6]) << 16 |
                            static_cast<unsigned char>(file[i][7]) << 24;
    EXPECT_EQ(file[i].size() - 8, length);
    CORBA::String_var line = db()->Upload(i == 1 ? "A" : i == 2 ? "B" : "C");
    lines.push_back(line.in());
  }

  db()->SimInit("");
  EXPECT_EQ(0, db()->TagCount());
  ZEMR::FileChunk_Iterator_var it;
  db()->get_tagfile_iterator(it.out());
  ZEMR::FileChunk_Type_var none;
  EXPECT_TRUE(it->next_chunk(0, none.out()));  // an empty database still has its leading record
  const CORBA::ULong header_length = none->length();
  EXPECT_FALSE(it->next_chunk(header_length, none.out()));
  for (size_t i = 1; i < file.size(); ++i) {
    ZEMR::FileChunk_Type chunk(static_cast<CORBA::ULong>(file[i].size()));
    chunk.length(static_cast<CORBA::ULong>(file[i].size()));
    std::copy(file[i].begin(), file[i].end(), chunk.get_buffer());
    EXPECT_EQ(1, it->send_chunk(chunk));
  }
  EXPECT_EQ(3, db()->TagCount());
  EXPECT_EQ(lines[0], CORBA::String_var(db()->Upload("A")).in());
  EXPECT_EQ(lines[2], CORBA::String_var(db()->Upload("C")).in());
  EXPECT_EQ(42, db()->PVE("B"));
  EXPECT_TRUE(db()->IsForced("C"));
  EXPECT_EQ(1, db()->PVE("C"));

  // A damaged chunk is refused; the iterator goes on serving.
  ZEMR::FileChunk_Type bad(3);
  bad.length(3);
  EXPECT_EQ(-1, it->send_chunk(bad));
  EXPECT_FALSE(it->next_chunk(1, none.out()));  // not a record boundary
  it->destroy();
  EXPECT_THROW(it->next_chunk(0, none.out()), CORBA::OBJECT_NOT_EXIST);
}

// --- Factory ----------------------------------------------------------------------

TEST_F(ServerTest, FactoryCreatesDatabasesInTheProcess) {
  CORBA::Object_var obj = Resolve(services().host(), "ZelvikFactory");
  ZEMR::ZelvikFactory_var factory = ZEMR::ZelvikFactory::_narrow(obj);
  ZEMR::ZelvikDatabase2_var created = factory->create("NEW1");
  ASSERT_FALSE(CORBA::is_nil(created));
  CORBA::String_var name = created->HelloZL("$KERNEL.NAME");
  EXPECT_STREQ("NEW1", name.in());
  EXPECT_EQ(1, created->Download("X\t\t\tAnalog\n"));
  EXPECT_FALSE(db()->TagExists("X"));  // a database of its own
  CORBA::Object_var bound = Resolve("NEW1", "ZelvikDatabase");
  EXPECT_TRUE(bound->_is_equivalent(created));
  std::ifstream in(services().ior_dir() + "/NEW1.txt");
  EXPECT_TRUE(in.good());
  ZEMR::ZelvikDatabase2_var again = factory->create("NEW1");
  EXPECT_TRUE(again->_is_equivalent(created));
  EXPECT_TRUE(CORBA::is_nil(ZEMR::ZelvikDatabase2_var(factory->create(""))));
  EXPECT_TRUE(CORBA::is_nil(ZEMR::ZelvikDatabase2_var(factory->create("a/b"))));
  CORBA::String_var list = factory->HelloFactory("list");
  EXPECT_STREQ("SIM,NEW1", list.in());
  EXPECT_EQ("OK SIM,NEW1", Control("databases"));
  EXPECT_EQ("OK", Control("@new1 simtime 5"));
  CORBA::String_var t = created->HelloZL("$KERNEL.ElapsedSimTime");
  EXPECT_GE(std::stod(t.in()), 5);
}

// --- Control endpoint -------------------------------------------------------------

TEST_F(ServerTest, ControlBasics) {
  EXPECT_EQ("OK", Control("ping"));
  EXPECT_EQ("OK", Control("  PING  "));
  EXPECT_EQ(0u, Control("help").find("OK ping stop"));
  EXPECT_EQ("ERR unknown command 'frobnicate'", Control("frobnicate now"));
  EXPECT_EQ("ERR empty command", Control(""));
  EXPECT_EQ("ERR unknown database 'NOPE'", Control("@NOPE ping"));
  EXPECT_EQ(0u, Control("status").find("OK database=SIM tags=0 "));
}

// The words of `help`, and the command words of the control endpoint table
// in docs/zelvik-sim.md (its rows begin "| `word").
std::set<std::string> HelpWords() {
  std::istringstream reply(SimTest::Control("help"));
  std::set<std::string> words{std::istream_iterator<std::string>(reply), {}};
  words.erase("OK");
  return words;
}

std::set<std::string> DocumentedCommands() {
  std::ifstream doc(std::string(ZL_SOURCE_DIR) + "/docs/zelvik-sim.md");
  std::set<std::string> words;
  bool in_section = false;
  for (std::string line; std::getline(doc, line);) {
    if (line.rfind("## ", 0) == 0) in_section = line == "## Control endpoint";
    if (!in_section || line.rfind("| `", 0) != 0) continue;
    const size_t end = line.find_first_of(" `", 3);
    words.insert(line.substr(3, end - 3));
  }
  return words;
}

TEST_F(ServerTest, EveryCommandInTheHelpIsDispatchedAndDocumented) {
  const std::set<std::string> help = HelpWords();
  // A command added to the table but left out of the docs, or documented
  // but never added, shows here.
  EXPECT_EQ(DocumentedCommands(), help);
  for (const std::string& word : help) {
    SCOPED_TRACE(word);
    if (word == "stop") continue;  // StopTest.ControlStop
    std::string upper = word;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string reply = Control(upper);
    EXPECT_NE(0u, reply.rfind("ERR unknown command", 0)) << reply;
  }
}

TEST_F(ServerTest, ControlSetsSimTimeDbChangesAndDrivers) {
  EXPECT_EQ("OK", Control("simtime 3600.5"));
  CORBA::String_var t = db()->HelloZL("$KERNEL.ElapsedSimTime");
  EXPECT_GE(std::stod(t.in()), 3600.5);
  EXPECT_EQ("OK", Control("dbchanges 77"));
  t = db()->HelloZL("$KERNEL.DBCHANGES");
  EXPECT_STREQ("77", t.in());
  EXPECT_EQ("OK", Control("driver PLC9 127.0.0.1:6000"));
  t = db()->HelloZL("plc9.RemoteAddress");
  EXPECT_STREQ("127.0.0.1:6000", t.in());
  EXPECT_EQ("ERR usage: simtime SECONDS (0 or more)", Control("simtime -1"));
  EXPECT_EQ("ERR usage: dbchanges COUNT (0 to 4294967295)", Control("dbchanges x"));
  EXPECT_EQ("ERR usage: driver NAME HOST:PORT", Control("driver"));
}

TEST_F(ServerTest, ControlFaults) {
  ASSERT_EQ(3, db()->Download(kTags));
  auto expect_system = [](const std::function<void()>& call, const char* rep_id,
                          CORBA::ULong minor, CORBA::CompletionStatus completed) {
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const CORBA::SystemException& e) {
      EXPECT_STREQ(rep_id, e._rep_id());
      EXPECT_EQ(minor, e.minor());
      EXPECT_EQ(completed, e.completed());
    }
  };
  ASSERT_EQ("OK", Control("fail PVE TRANSIENT"));
  EXPECT_EQ("OK 1", Control("faults"));
  expect_system([] { db()->PVE("A"); }, "IDL:omg.org/CORBA/TRANSIENT:1.0", 0, CORBA::COMPLETED_NO);
  EXPECT_EQ(1, db()->PVE("A"));  // only the next call

  ASSERT_EQ("OK", Control("fail HelloZL COMM_FAILURE count=2 minor=7 completed=maybe"));
  for (int i = 0; i < 2; ++i) {
    expect_system([] { CORBA::String_var s = db()->HelloZL("$KERNEL.NAME"); },
                  "IDL:omg.org/CORBA/COMM_FAILURE:1.0", 7, CORBA::COMPLETED_MAYBE);
  }
  CORBA::String_var name = db()->HelloZL("$KERNEL.NAME");
  EXPECT_STREQ("SIM", name.in());

  ASSERT_EQ("OK", Control("fail TagCount undeclared"));  // reaches the client as UNKNOWN
  EXPECT_THROW(db()->TagCount(), CORBA::UNKNOWN);
  ASSERT_EQ("OK", Control("fail get_tagfile_iterator undeclared"));
  ZEMR::FileChunk_Iterator_var it;
  EXPECT_THROW(db()->get_tagfile_iterator(it.out()), CORBA::UNKNOWN);
  ASSERT_EQ("OK", Control("fail get_tagfile_iterator FileError_Result"));
  EXPECT_THROW(db()->get_tagfile_iterator(it.out()), ZEMR::FileError_Result);
  ASSERT_EQ("OK", Control("fail ZLExpr zlbadexpression"));
  EXPECT_THROW(db()->ZLExpr("1"), ZEMR::ZLBadExpression);

  // A qualified fault applies to that interface only.
  ZEMR::ZelvikTag_var tag = db()->FindTag("A");
  ASSERT_EQ("OK", Control("fail ZelvikTag::PV TIMEOUT"));
  EXPECT_NO_THROW(db()->PV("A"));  // the database's PV is not affected
  EXPECT_THROW(tag->PV(), CORBA::TIMEOUT);
  EXPECT_EQ("OK 0", Control("faults"));

  ASSERT_EQ("OK", Control("fail PVE NO_IMPLEMENT count=5"));
  EXPECT_EQ("OK", Control("clear"));
  EXPECT_EQ(1, db()->PVE("A"));

  EXPECT_EQ("ERR unknown operation 'Frob'", Control("fail Frob TRANSIENT"));
  EXPECT_EQ("ERR unknown exception 'OOPS'", Control("fail PVE OOPS"));
  EXPECT_EQ("ERR bad option 'count=0'", Control("fail PVE TRANSIENT count=0"));
  EXPECT_EQ("ERR unknown operation 'ZelvikTag::Download'", Control("fail ZelvikTag::Download TRANSIENT"));
}

TEST_F(ServerTest, ControlDelaysAnswers) {
  ASSERT_EQ("OK", Control("delay TagCount 300"));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, db()->TagCount());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));

  // A client with a shorter call time-out sees a server that answers late.
  ASSERT_EQ("OK", Control("delay TagCount 3000"));
  CORBA::Object_var obj = Resolve("SIM", "ZelvikDatabase");
  omniORB::setClientCallTimeout(obj, 200);
  ZEMR::ZelvikDatabase_var impatient = ZEMR::ZelvikDatabase::_narrow(obj);
  EXPECT_THROW(impatient->TagCount(), CORBA::TIMEOUT);
  EXPECT_EQ("ERR bad delay 'soon'", Control("delay TagCount soon"));
}

// --- Stopping --------------------------------------------------------------------

class StopTest : public SimTest {
 protected:
  // Every test stops the server: services of its own.
  static void SetUpTestSuite() {}
  void SetUp() override {
    StartServices({});
    SimTest::SetUp();
  }
  void TearDown() override { TearDownTestSuite(); }

  static bool ServerGone() { return Control("ping").rfind("ERR", 0) == 0; }
};

TEST_F(StopTest, ControlStop) {
  EXPECT_EQ("OK", Control("stop"));
  EXPECT_TRUE(WaitUntil([] { return ServerGone(); }));
}

TEST_F(StopTest, ShutdownOperation) {
  CORBA::Object_var factory = Resolve(services().host(), "ZelvikFactory");
  ASSERT_FALSE(CORBA::is_nil(factory));
  EXPECT_EQ(0, db()->Shutdown(0, 0));
  EXPECT_TRUE(WaitUntil([] { return ServerGone(); }));
  // It unbinds its names on the way out.
  EXPECT_TRUE(WaitUntil([] {
    CORBA::Object_var obj = Resolve("SIM", "ZelvikDatabase");
    return CORBA::is_nil(obj);
  }));
  EXPECT_TRUE(WaitUntil([] {
    CORBA::Object_var obj = Resolve(services().host(), "ZelvikFactory");
    return CORBA::is_nil(obj);
  }));
}

TEST_F(StopTest, StopCutsADelayedCallShort) {
  ASSERT_EQ("OK", Control("delay HelloZL 600000"));
  std::thread caller([] {
    try {
      CORBA::String_var s = db()->HelloZL("$KERNEL.NAME");
    } catch (const CORBA::SystemException&) {
      // The server may go before the reply: either ending is fine.
    }
  });
  ASSERT_TRUE(WaitUntil([] { return Control("faults") == "OK 0"; }));  // the call took it
  EXPECT_EQ("OK", Control("stop"));
  EXPECT_TRUE(WaitUntil([] { return ServerGone(); }));
  caller.join();
}

// --- Legacy -----------------------------------------------------------------------

class LegacyTest : public SimTest {
 protected:
  static void SetUpTestSuite() {
    zl::testing::ServicesOptions options;
    options.legacy = true;
    options.databases = {"PLANT"};
    StartServices(options);
  }
};

TEST_F(LegacyTest, OnlyZelvikDatabaseAndTheNamedChannel) {
  EXPECT_TRUE(db1()->_is_a("IDL:ZEMR/ZelvikDatabase:1.0"));
  EXPECT_FALSE(db1()->_is_a("IDL:ZEMR/ZelvikDatabase2:1.0"));
  CosNaming::Name name;
  name.length(2);
  name[0].id = "plant.svcs";
  name[0].kind = "";
  name[1].id = "TagNotifier";
  name[1].kind = "NotifyChannel";
  CORBA::Object_var obj = naming()->resolve(name);
  CosNotifyChannelAdmin::EventChannel_var channel = CosNotifyChannelAdmin::EventChannel::_narrow(obj);
  ASSERT_FALSE(CORBA::is_nil(channel));

  PortableServer::Servant_var<RecordingConsumer> consumer = new RecordingConsumer;
  CORBA::String_var ior = TestOrb()->object_to_string(channel);
  Subscription s = Subscription::Connect(ior.in(), consumer.in());
  db1()->Download("T\t\t\tAnalog\n");
  db1()->SetPVE("T", 12);
  EXPECT_TRUE(consumer->WaitForChange("T", 12));
  s.Close();

  CORBA::Object_var f = Resolve(services().host(), "ZelvikFactory");
  ZEMR::ZelvikFactory_var factory = ZEMR::ZelvikFactory::_narrow(f);
  EXPECT_TRUE(CORBA::is_nil(ZEMR::ZelvikDatabase2_var(factory->create("NEW"))));
}

// --- Start-up errors (the binary alone, no services) -------------------------------

// Runs zelvik-sim with `args`; gives its exit status and output.
int RunSim(const std::string& args, std::string* output) {
  const std::string command = "OMNIORB_CONFIG=/dev/null " + zl::testing::Services::SimPath() +
                              " " + args + " 2>&1 </dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[512];
  output->clear();
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) *output += buffer;
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StartupTest, BadTagFileEndsStartUpNamingFileAndLine) {
  char path[] = "/tmp/zelvik_sim_tags_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string text = "# plant\nGOOD\t\t\tAnalog\nBAD\t\t\tAnalog\t\t5\t5\n";
  ASSERT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
  close(fd);
  std::string output;
  EXPECT_EQ(2, RunSim(std::string("--tags ") + path, &output));
  EXPECT_EQ("zelvik-sim: " + std::string(path) + ":3: line 3, field 7: the EU range is empty\n", output);
  unlink(path);
  EXPECT_EQ(2, RunSim("--tags /nonexistent/plant.tags", &output));
  EXPECT_EQ("zelvik-sim: cannot read tag file /nonexistent/plant.tags\n", output);
}

TEST(StartupTest, BadCommandLines) {
  struct Case {
    int line;
    const char* args;
    const char* first_line;
  };
  const Case kCases[] = {
      {__LINE__, "--bogus", "zelvik-sim: unknown option '--bogus'"},
      {__LINE__, "--db", "zelvik-sim: --db needs a value"},
      {__LINE__, "--control 70000", "zelvik-sim: --control needs a port number from 0 to 65535, not '70000'"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    std::string output;
    EXPECT_EQ(2, RunSim(c.args, &output));
    EXPECT_EQ(c.first_line, output.substr(0, output.find('\n')));
  }
}

}  // namespace
}  // namespace zl::sim::testing
