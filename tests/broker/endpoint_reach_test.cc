// Whether the attached server can call the client back: the decision on
// addresses alone. The sites of several hosts themselves are in
// tests/python/test_site.py.
#include "broker/endpoint_reach.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <string>
#include <vector>

namespace zl {
namespace {

using Hosts = std::vector<std::string>;

// An IPv4 address of one of this machine's interfaces that is not a loopback
// address; "" when there is none.
std::string NonLoopbackAddressOfThisMachine() {
  std::string found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (ifaddrs* i = list; i != nullptr && found.empty(); i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = "";
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text));
    if (std::string(text).rfind("127.", 0) != 0) found = text;
  }
  freeifaddrs(list);
  return found;
}

// An address of documentation that this machine does not hold.
std::string RemoteAddress() {
  for (const char* candidate : {"198.51.100.20", "203.0.113.20", "192.0.2.230"}) {
    if (!IsHostOfThisMachine(candidate)) return candidate;
  }
  return "";
}

TEST(EndpointReachTest, LoopbackHosts) {
  struct Case { int line; const char* host; bool want; };
  const Case kCases[] = {
      {__LINE__, "127.0.0.1", true},
      {__LINE__, "127.1.2.3", true},          // all of 127.0.0.0/8
      {__LINE__, "::1", true},
      {__LINE__, "::ffff:127.0.0.1", true},   // IPv4-mapped
      {__LINE__, "localhost", true},
      {__LINE__, "128.0.0.1", false},         // the byte after 127
      {__LINE__, "::2", false},
      {__LINE__, "", false},
      {__LINE__, "no-such-host.invalid", false},  // does not resolve: not told loopback
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, IsLoopbackHost(c.host));
  }
}

TEST(EndpointReachTest, Decision) {
  const std::string remote = RemoteAddress();
  if (remote.empty()) GTEST_SKIP() << "every documentation address is one of this machine's";
  const std::string local = NonLoopbackAddressOfThisMachine();
  struct Case { int line; Hosts own; Hosts server; bool unreachable; };
  std::vector<Case> cases = {
      {__LINE__, {"127.0.0.1"}, {remote}, true},
      {__LINE__, {"::1"}, {remote}, true},
      {__LINE__, {"localhost"}, {remote}, true},           // a name of loopback
      {__LINE__, {"127.0.0.1", "127.0.0.2"}, {remote}, true},
      {__LINE__, {"127.0.0.1"}, {"127.0.0.1"}, false},     // one machine, as in the tests
      {__LINE__, {"127.0.0.1"}, {"localhost"}, false},
      // one reachable address of the client is enough
      {__LINE__, {"127.0.0.1", remote}, {remote}, false},
      // any address of the server on this machine: it reaches loopback
      {__LINE__, {"127.0.0.1"}, {remote, "127.0.0.1"}, false},
      // what cannot be told is not reported
      {__LINE__, {}, {remote}, false},
      {__LINE__, {"127.0.0.1"}, {}, false},
      {__LINE__, {"127.0.0.1"}, {"no-such-host.invalid"}, false},
  };
  if (!local.empty()) {
    // A server on this machine published under an address of an interface
    // (omniORB's default) reaches 127.0.0.1 all the same.
    cases.push_back({__LINE__, {"127.0.0.1"}, {local}, false});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string reason = UnreachableEndpointReason(c.own, c.server);
    EXPECT_EQ(c.unreachable, !reason.empty()) << reason;
  }

  EXPECT_EQ("this client listens on 127.0.0.1 only, which the server at " + remote +
                " (another host) cannot reach: set Zelvik_Interface to this host's address "
                "that the server reaches, or give -ORBendPoint giop:tcp:: for every interface",
            UnreachableEndpointReason({"127.0.0.1"}, {remote}));
}

}  // namespace
}  // namespace zl
