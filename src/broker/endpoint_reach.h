// Whether the attached server can call this client back.
//
// The server (its value-notifier channel) calls the client's tag-change
// consumer at the addresses that the consumer's reference carries: those
// the client ORB publishes. A client that publishes only loopback addresses
// is reached only from its own machine; a server whose reference names
// another host then cannot deliver a single change, and the only trace
// would be on the server's side. So the client tells, at connect, whether
// that is the case, and refuses to set up what cannot work.
//
// The decision reads only addresses: the hosts of the server's reference
// (the host a client reaches it at) and those of a reference of the
// client's own. A server on this machine reaches the loopback address
// whatever address it publishes, so a server host that is an address of
// this machine (of any of its interfaces) counts as local.
//
// Stateless; safe from any thread. May ask the resolver about host names.
#ifndef ZL_BROKER_ENDPOINT_REACH_H_
#define ZL_BROKER_ENDPOINT_REACH_H_

#include <string>
#include <vector>

namespace zl {

// Whether `host` (numeric, or a name) is a loopback address: 127.0.0.0/8,
// ::1 or an IPv4-mapped 127.x address; a name when every address it
// resolves to is one. False for a name that does not resolve.
bool IsLoopbackHost(const std::string& host);

// Whether `host` is an address of this machine: a loopback address or one
// of an interface (getifaddrs); a name when one of its addresses is.
bool IsHostOfThisMachine(const std::string& host);

// Why a server whose reference carries `server_hosts` cannot call a client
// whose references carry `own_hosts`; "" when it can, or when it cannot be
// told (either list empty, a server host that does not resolve). Only one
// case is told: every own host is a loopback address and no server host is
// an address of this machine. The text names both and the remedy, e.g.
// "this client listens on 127.0.0.1 only, which the server at 192.0.2.20
// (another host) cannot reach: set Zelvik_Interface to this host's address
// that the server reaches, or give -ORBendPoint giop:tcp:: for every
// interface".
std::string UnreachableEndpointReason(const std::vector<std::string>& own_hosts,
                                      const std::vector<std::string>& server_hosts);

}  // namespace zl

#endif  // ZL_BROKER_ENDPOINT_REACH_H_
