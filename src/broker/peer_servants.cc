#include "broker/peer_servants.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "broker/client_endpoint.h"
#include "broker/orb_holder.h"

namespace zl {
namespace {

const char kPeerPoaName[] = "ZLPeers";

// Fills `buffer` from getrandom, else from /dev/urandom; false when neither
// gives every byte.
bool FillRandom(unsigned char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = getrandom(buffer + got, size - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      break;
    }
  }
  if (got == size) return true;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  got = 0;
  while (got < size) {
    const ssize_t n = read(fd, buffer + got, size - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  return got == size;
}

}  // namespace

PortableServer::POA_ptr PeerPoa() {
  static std::mutex mu;  // serialises the look-up and the making of the POA
  std::lock_guard<std::mutex> lock(mu);
  CORBA::ORB_ptr orb = OrbHolder::instance()->orb();
  if (CORBA::is_nil(orb)) throw CORBA::BAD_INV_ORDER();
  CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
  PortableServer::POA_var root = PortableServer::POA::_narrow(object.in());
  try {
    return root->find_POA(kPeerPoaName, false);
  } catch (const PortableServer::POA::AdapterNonExistent&) {
  }
  PortableServer::POAManager_var manager = root->the_POAManager();
  CORBA::PolicyList policies;
  policies.length(1);
  policies[0] = root->create_id_assignment_policy(PortableServer::USER_ID);
  PortableServer::POA_var poa = root->create_POA(kPeerPoaName, manager.in(), policies);
  policies[0]->destroy();
  return poa._retn();
}

PortableServer::ObjectId* NewPeerObjectId() {
  unsigned char bytes[kPeerIdBytes];
  if (!FillRandom(bytes, sizeof(bytes))) throw CORBA::NO_RESOURCES();
  auto* id = new PortableServer::ObjectId(kPeerIdBytes);
  id->length(kPeerIdBytes);
  for (std::size_t i = 0; i < kPeerIdBytes; ++i) (*id)[static_cast<CORBA::ULong>(i)] = bytes[i];
  return id;
}

CORBA::Object_ptr ActivatePeerServant(PortableServer::Servant servant) {
  PortableServer::POA_var poa = PeerPoa();
  PortableServer::ObjectId_var id = NewPeerObjectId();
  poa->activate_object_with_id(id.in(), servant);
  return poa->id_to_reference(id.in());
}

std::vector<std::string> PublishedPeerHosts() {
  try {
    CORBA::ORB_ptr orb = OrbHolder::instance()->orb();
    if (CORBA::is_nil(orb)) return {};
    PortableServer::POA_var poa = PeerPoa();
    PortableServer::ObjectId_var id = NewPeerObjectId();
    CORBA::Object_var reference =
        poa->create_reference_with_id(id.in(), "IDL:omg.org/CORBA/Object:1.0");
    CORBA::String_var text = orb->object_to_string(reference.in());
    return HostsOfIor(text.in());
  } catch (const CORBA::Exception&) {
    return {};
  }
}

}  // namespace zl
