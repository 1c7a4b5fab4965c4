// The client's connection to the server's value-notifier channel: a
// structured push consumer (the host's servant) connected through an admin
// and a proxy of its own.
//
// Threads: the host thread sets up and tears down.
#ifndef ZL_LOCALDB_NOTIFICATIONS_H_
#define ZL_LOCALDB_NOTIFICATIONS_H_

#include <COS/CosNotifyComm.hh>
#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include "zemr.hh"

namespace zl {

class TagChangeNotifications {
 public:
  // Connects `consumer` to the value-notifier channel of `db`; an earlier
  // connection is torn down first. 0 when connected, -1 otherwise.
  long Setup(ZEMR::ZelvikDatabase_ptr db, CORBA::ORB_ptr orb,
             CosNaming::NamingContext_ptr naming, CosNotifyComm::StructuredPushConsumer_ptr consumer) {
    return -1;
  }
  // Disconnects from the channel; always 0.
  long TearDown() { return 0; }
};

}  // namespace zl

#endif  // ZL_LOCALDB_NOTIFICATIONS_H_
