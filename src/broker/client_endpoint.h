// Where the client ORB listens when its options name no endpoint.
//
// The client ORB serves the library's consumers (server messages, tag
// changes): only the server and the event services ever call them, and
// they reach the client the way the client reaches the Naming Service. So
// by default the ORB listens only on the local address that the system
// uses toward the Naming Service host: 127.0.0.1 when that host is a
// loopback address. The host is taken from the "-nsior" word or from
// "-ORBInitRef NameService=REF" (else "-ORBDefaultInitRef REF"), in the
// order a client looks for its Naming Service, and else from the variables
// "ORBInitRef" and "ORBDefaultInitRef" that omniORB reads; REF may be a corbaloc or
// corbaname address, a stringified IOR, or file://PATH holding one of those
// on its first line. Where no host can be told, no endpoint is added and
// the ORB keeps its own default (every interface).
//
// Stateless; safe from any thread. DefaultClientEndpoint may ask the
// resolver for a host name's address.
#ifndef ZL_BROKER_CLIENT_ENDPOINT_H_
#define ZL_BROKER_CLIENT_ENDPOINT_H_

#include <string>
#include <vector>

namespace zl {

// The host named by one reference text (see above); "" when it names none
// that can be read (rir:, a Unix socket, a malformed or foreign text).
std::string HostOfReference(const std::string& reference);

// The hosts of every IIOP address of a stringified IOR, in order: for each
// IIOP profile its host, then the hosts of its alternate addresses. Empty
// for a text that is no IOR or does not read as one (what was read before
// the first byte that does not fit is kept).
std::vector<std::string> HostsOfIor(const std::string& reference);

// The reference of the Naming Service that `words` (the ORB's argument
// vector) and `ns_ior` (the "-nsior" word) name, else the variables; ""
// when none.
std::string NameServiceReference(const std::vector<std::string>& words, const std::string& ns_ior);

// The local address (numeric) that the system picks to reach `host`, found
// by connecting a datagram socket (nothing is sent); "" when the host does
// not resolve or is unreachable. IPv4 addresses are preferred.
std::string LocalAddressToward(const std::string& host);

// The default endpoint, "giop:tcp:ADDRESS:" (any port; an IPv6 address in
// brackets); "" when no Naming Service host can be told.
std::string DefaultClientEndpoint(const std::vector<std::string>& words, const std::string& ns_ior);

}  // namespace zl

#endif  // ZL_BROKER_CLIENT_ENDPOINT_H_
