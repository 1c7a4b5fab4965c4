// Where the client ORB listens without Zelvik_Interface, and the ids of the
// servants that peers call. Each test case runs in a process of its own (one
// ORB per process); the Naming Service named in the options is never
// contacted, it only tells the ORB where its peers are.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <COS/CosEventComm.hh>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "broker/client_endpoint.h"
#include "broker/orb_holder.h"
#include "broker/peer_servants.h"

namespace zl {
namespace {

// Inodes of the sockets this process holds open.
std::set<std::string> OwnSocketInodes() {
  std::set<std::string> inodes;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return inodes;
  while (dirent* entry = readdir(dir)) {
    char target[256] = "";
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = readlink(path.c_str(), target, sizeof(target) - 1);
    if (n <= 0) continue;
    const std::string link(target, static_cast<std::size_t>(n));
    if (link.rfind("socket:[", 0) == 0) inodes.insert(link.substr(8, link.size() - 9));
  }
  closedir(dir);
  return inodes;
}

// The local addresses (hex, as the kernel lists them) of this process's
// listening TCP sockets in `table` (/proc/net/tcp or tcp6).
std::vector<std::string> OwnListeners(const char* table) {
  const std::set<std::string> own = OwnSocketInodes();
  std::vector<std::string> found;
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    if (state == "0A" && own.count(inode) != 0) found.push_back(local.substr(0, local.find(':')));
  }
  return found;
}

void InitOrbWithoutInterface(const std::string& options) {
  unsetenv("Zelvik_Interface");
  unsetenv("ORBendPoint");
  ASSERT_EQ(0, OrbHolder::instance()->InitOrb(options.c_str()));
}

class Consumer : public POA_CosEventComm::PullConsumer {
 public:
  void disconnect_pull_consumer() override {}
  PortableServer::POA_ptr _default_POA() override { return PeerPoa(); }
};

TEST(ClientListenTest, LoopbackNamingServiceMeansLoopbackOnly) {
  InitOrbWithoutInterface("-ORBInitRef NameService=corbaloc::127.0.0.1:1/NameService");
  const std::vector<std::string> v4 = OwnListeners("/proc/net/tcp");
  ASSERT_FALSE(v4.empty());
  for (const std::string& address : v4) EXPECT_EQ("0100007F", address);  // 127.0.0.1
  EXPECT_TRUE(OwnListeners("/proc/net/tcp6").empty());

  // The references handed to peers name that address as well.
  Consumer servant;
  CORBA::Object_var reference = ActivatePeerServant(&servant);
  CORBA::String_var text = OrbHolder::instance()->orb()->object_to_string(reference.in());
  EXPECT_EQ("127.0.0.1", HostOfReference(text.in()));
  OrbHolder::instance()->Shutdown();
}

TEST(ClientListenTest, PublishedHostsNameEveryEndpoint) {
  // A second endpoint is an alternate address of the one IIOP profile: a
  // server may call either, so the reach check must see both.
  InitOrbWithoutInterface(
      "-ORBendPoint giop:tcp:127.0.0.1: -ORBendPoint giop:tcp:127.0.0.2: "
      "-ORBInitRef NameService=corbaloc::127.0.0.1:1/NameService");
  EXPECT_EQ((std::vector<std::string>{"127.0.0.1", "127.0.0.2"}), PublishedPeerHosts());
  OrbHolder::instance()->Shutdown();
  EXPECT_TRUE(PublishedPeerHosts().empty());  // no ORB any more
}

std::string Raw(const PortableServer::ObjectId& id) {
  return std::string(reinterpret_cast<const char*>(id.get_buffer()), id.length());
}

TEST(ClientListenTest, PeerServantIdsAreRandom) {
  // Another process (before this one has an ORB or a thread) draws another
  // id: nothing of a process's start makes them alike.
  int pipe_fds[2];
  ASSERT_EQ(0, pipe(pipe_fds));
  const pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    PortableServer::ObjectId_var id = NewPeerObjectId();
    const std::string raw = Raw(id.in());
    _exit(write(pipe_fds[1], raw.data(), raw.size()) == static_cast<ssize_t>(raw.size()) ? 0 : 1);
  }
  close(pipe_fds[1]);
  char other[kPeerIdBytes];
  EXPECT_EQ(static_cast<ssize_t>(kPeerIdBytes), read(pipe_fds[0], other, sizeof(other)));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  PortableServer::ObjectId_var mine = NewPeerObjectId();
  EXPECT_NE(std::string(other, sizeof(other)), Raw(mine.in()));

  InitOrbWithoutInterface("-ORBInitRef NameService=corbaloc::127.0.0.1:1/NameService");
  PortableServer::POA_var poa = PeerPoa();
  Consumer first, second;
  CORBA::Object_var a = ActivatePeerServant(&first);
  CORBA::Object_var b = ActivatePeerServant(&second);
  PortableServer::ObjectId_var id_a = poa->reference_to_id(a.in());
  PortableServer::ObjectId_var id_b = poa->reference_to_id(b.in());
  ASSERT_GE(id_a->length(), 16u);
  ASSERT_GE(id_b->length(), 16u);
  EXPECT_NE(Raw(id_a.in()), Raw(id_b.in()));
  // The servants' own POA finds them (deactivation goes through it).
  PortableServer::POA_var own_poa = first._default_POA();
  PortableServer::ObjectId_var own = own_poa->servant_to_id(&first);
  EXPECT_EQ(id_a->length(), own->length());

  // Ids from one source: a thousand of them, no two alike, and every byte
  // value turns up (a counter or a clock would not spread so).
  std::set<std::string> ids;
  std::set<unsigned char> bytes;
  for (int i = 0; i < 1000; ++i) {
    PortableServer::ObjectId_var id = NewPeerObjectId();
    ASSERT_EQ(kPeerIdBytes, id->length());
    const std::string raw = Raw(id.in());
    ids.insert(raw);
    bytes.insert(raw.begin(), raw.end());
  }
  EXPECT_EQ(1000u, ids.size());
  EXPECT_EQ(256u, bytes.size());

  poa->deactivate_object(id_a.in());
  poa->deactivate_object(id_b.in());
  OrbHolder::instance()->Shutdown();
}

}  // namespace
}  // namespace zl
