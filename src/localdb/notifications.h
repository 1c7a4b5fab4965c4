// The client's connection to the server's value-notifier channel: a
// structured push consumer (the host's servant) connected through an admin
// and a proxy of its own.
//
// Threads: the host thread sets up and tears down; the members are touched
// by nothing else (the consumer servant's upcalls never reach this object).
#ifndef ZL_LOCALDB_NOTIFICATIONS_H_
#define ZL_LOCALDB_NOTIFICATIONS_H_

#include <COS/CosNotifyChannelAdmin.hh>
#include <COS/CosNotifyComm.hh>
#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include "zemr.hh"

namespace zl {

class TagChangeNotifications {
 public:
  TagChangeNotifications() = default;
  TagChangeNotifications(const TagChangeNotifications&) = delete;
  TagChangeNotifications& operator=(const TagChangeNotifications&) = delete;
  ~TagChangeNotifications() { TearDown(); }

  // Connects `consumer` to the value-notifier channel of `db`: through
  // GetIORValueNotifierChannel on a ZelvikDatabase2, else through the name
  // {kernel name in lower case + ".svcs", ""} / {"TagNotifier",
  // "NotifyChannel"} in `naming`. An earlier connection is torn down first.
  // 0 when connected, -1 otherwise (what was stored before a failure stays
  // stored until the next TearDown).
  long Setup(ZEMR::ZelvikDatabase_ptr db, CORBA::ORB_ptr orb,
             CosNaming::NamingContext_ptr naming,
             CosNotifyComm::StructuredPushConsumer_ptr consumer);

  // Disconnects from the channel and destroys the admin; always 0. Does
  // nothing when not connected.
  long TearDown();

  bool connected() const { return !CORBA::is_nil(proxy_); }

 private:
  CosNotifyChannelAdmin::ConsumerAdmin_var admin_;
  CosNotifyChannelAdmin::AdminID admin_id_ = 0;
  CosNotifyChannelAdmin::StructuredProxyPushSupplier_var proxy_;
  CosNotifyComm::StructuredPushConsumer_var consumer_;
};

}  // namespace zl

#endif  // ZL_LOCALDB_NOTIFICATIONS_H_
