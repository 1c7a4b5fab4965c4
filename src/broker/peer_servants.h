// Activation of the servants that peers call: the server and the event
// services call the library's consumers (server messages, tag changes).
//
// Such a servant lives in a POA of its own below the root POA, with
// user-assigned object ids of kPeerIdBytes random bytes from the operating
// system. A reference to it is then known only to whom it was handed (the
// channel it was connected to): another process on the network cannot make
// one up. Every other policy is the POA default (transient, retained,
// unique ids, no implicit activation).
//
// Servants activated here return PeerPoa() from their _default_POA, so that
// _this and deactivation through the default POA find them.
//
// Thread-safe: the POA is made once, under a lock, on first use.
#ifndef ZL_BROKER_PEER_SERVANTS_H_
#define ZL_BROKER_PEER_SERVANTS_H_

#include <omniORB4/CORBA.h>

#include <cstddef>
#include <string>
#include <vector>

namespace zl {

// 128 bits: beyond guessing, also at a high rate of guesses.
constexpr std::size_t kPeerIdBytes = 16;

// The POA of peer-called servants, made below the root POA of the holder's
// ORB on first call (sharing the root POA's manager). Raises a CORBA system
// exception when there is no ORB (BAD_INV_ORDER) or the POA cannot be made.
PortableServer::POA_ptr PeerPoa();

// A new object id of kPeerIdBytes bytes from the system's random source.
// Raises CORBA::NO_RESOURCES when the source cannot be read.
PortableServer::ObjectId* NewPeerObjectId();

// Activates `servant` in PeerPoa() under a new id and gives its reference
// (owned by the caller). CORBA exceptions reach the caller.
CORBA::Object_ptr ActivatePeerServant(PortableServer::Servant servant);

// The hosts that a reference of a servant activated here carries (see
// HostsOfIor): where a peer calls the library's consumers. Made from a
// reference that is created, never activated. Empty when there is no ORB or
// the reference cannot be made.
std::vector<std::string> PublishedPeerHosts();

}  // namespace zl

#endif  // ZL_BROKER_PEER_SERVANTS_H_
