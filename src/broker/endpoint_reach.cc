#include "broker/endpoint_reach.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace zl {
namespace {

// One resolved address: family and the raw bytes of the address.
struct Address {
  int family;
  std::string bytes;
};

std::string RawAddress(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    return std::string(reinterpret_cast<const char*>(&v4->sin_addr), sizeof(v4->sin_addr));
  }
  if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    return std::string(reinterpret_cast<const char*>(&v6->sin6_addr), sizeof(v6->sin6_addr));
  }
  return "";
}

// An IPv4-mapped IPv6 address (::ffff:a.b.c.d) as the IPv4 address it maps.
Address Unmapped(Address address) {
  static const unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (address.family == AF_INET6 && address.bytes.size() == 16 &&
      std::memcmp(address.bytes.data(), kMappedPrefix, sizeof(kMappedPrefix)) == 0) {
    return {AF_INET, address.bytes.substr(12)};
  }
  return address;
}

// The addresses `host` stands for; empty when it does not resolve.
std::vector<Address> Resolve(const std::string& host) {
  std::vector<Address> found;
  if (host.empty()) return found;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return found;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    const std::string bytes = RawAddress(a->ai_addr);
    if (!bytes.empty()) found.push_back(Unmapped({a->ai_family, bytes}));
  }
  freeaddrinfo(list);
  return found;
}

bool IsLoopback(const Address& address) {
  if (address.family == AF_INET) return static_cast<unsigned char>(address.bytes[0]) == 127;
  static const std::string kV6Loopback("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\1", 16);
  return address.family == AF_INET6 && address.bytes == kV6Loopback;
}

// The addresses of this machine's interfaces.
std::vector<Address> InterfaceAddresses() {
  std::vector<Address> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr) continue;
    const std::string bytes = RawAddress(i->ifa_addr);
    if (!bytes.empty()) found.push_back(Unmapped({i->ifa_addr->sa_family, bytes}));
  }
  freeifaddrs(list);
  return found;
}

bool IsOfThisMachine(const Address& address, const std::vector<Address>& interfaces) {
  if (IsLoopback(address)) return true;
  for (const Address& own : interfaces) {
    if (own.family == address.family && own.bytes == address.bytes) return true;
  }
  return false;
}

std::string Joined(const std::vector<std::string>& hosts) {
  std::string text;
  for (const std::string& h : hosts) text += (text.empty() ? "" : ", ") + h;
  return text;
}

}  // namespace

bool IsLoopbackHost(const std::string& host) {
  const std::vector<Address> addresses = Resolve(host);
  if (addresses.empty()) return false;
  for (const Address& a : addresses) {
    if (!IsLoopback(a)) return false;
  }
  return true;
}

bool IsHostOfThisMachine(const std::string& host) {
  const std::vector<Address> interfaces = InterfaceAddresses();
  for (const Address& a : Resolve(host)) {
    if (IsOfThisMachine(a, interfaces)) return true;
  }
  return false;
}

std::string UnreachableEndpointReason(const std::vector<std::string>& own_hosts,
                                      const std::vector<std::string>& server_hosts) {
  if (own_hosts.empty() || server_hosts.empty()) return "";
  for (const std::string& own : own_hosts) {
    if (!IsLoopbackHost(own)) return "";
  }
  const std::vector<Address> interfaces = InterfaceAddresses();
  bool any_resolved = false;
  for (const std::string& server : server_hosts) {
    for (const Address& a : Resolve(server)) {
      any_resolved = true;
      if (IsOfThisMachine(a, interfaces)) return "";
    }
  }
  if (!any_resolved) return "";
  return "this client listens on " + Joined(own_hosts) + " only, which the server at " +
         server_hosts.front() +
         " (another host) cannot reach: set Zelvik_Interface to this host's address that the "
         "server reaches, or give -ORBendPoint giop:tcp:: for every interface";
}

}  // namespace zl
