#include "localdb/notifications.h"

#include <ace/Log_Msg.h>

#include <exception>
#include <string>

#include "common/log.h"
#include "common/text_utils.h"

namespace zl {

long TagChangeNotifications::Setup(ZEMR::ZelvikDatabase_ptr db, CORBA::ORB_ptr orb,
                                   CosNaming::NamingContext_ptr naming,
                                   CosNotifyComm::StructuredPushConsumer_ptr consumer) {
  if (CORBA::is_nil(db)) return -1;
  // One connection per client: a consumer of an earlier registration would
  // otherwise stay connected on the channel and keep receiving events.
  TearDown();
  try {
    // omniORB neither sends nor answers `_repository_id`; `_is_a` decides
    // the same question.
    const bool is_db2 = db->_is_a("IDL:ZEMR/ZelvikDatabase2:1.0");
    CORBA::String_var kernel = db->HelloZL("$KERNEL.NAME");
    std::string name;
    CORBA::Object_var object;
    if (is_db2) {
      ZEMR::ZelvikDatabase2_var db2 = ZEMR::ZelvikDatabase2::_narrow(db);
      if (!CORBA::is_nil(db2)) {
        CORBA::String_var ior = db2->GetIORValueNotifierChannel();
        if (ior.in() != nullptr && *ior.in() != '\0') object = orb->string_to_object(ior.in());
      }
    } else {
      name = ToLowerCopy(kernel.in()) + ".svcs";
      CosNaming::Name path;
      path.length(2);
      path[0].id = CORBA::string_dup(name.c_str());
      path[0].kind = CORBA::string_dup("");
      path[1].id = CORBA::string_dup("TagNotifier");
      path[1].kind = CORBA::string_dup("NotifyChannel");
      if (!CORBA::is_nil(naming)) {
        try {
          object = naming->resolve(path);
        } catch (const CosNaming::NamingContext::NotFound&) {
          // No channel under that name: reported below.
        }
      }
    }
    CosNotifyChannelAdmin::EventChannel_var channel;
    if (!CORBA::is_nil(object)) channel = CosNotifyChannelAdmin::EventChannel::_narrow(object.in());
    if (CORBA::is_nil(channel)) {
      ACE_DEBUG((LM_ERROR, "There is no value channel for server, %s\n", name.c_str()));
      return -1;
    }
    admin_ = channel->new_for_consumers(CosNotifyChannelAdmin::OR_OP, admin_id_);
    CosNotifyChannelAdmin::ProxyID proxy_id = 0;
    CosNotifyChannelAdmin::ProxySupplier_var supplier =
        admin_->obtain_notification_push_supplier(CosNotifyChannelAdmin::STRUCTURED_EVENT, proxy_id);
    proxy_ = CosNotifyChannelAdmin::StructuredProxyPushSupplier::_narrow(supplier.in());
    if (CORBA::is_nil(proxy_)) return -1;
    proxy_->connect_structured_push_consumer(consumer);
    consumer_ = CosNotifyComm::StructuredPushConsumer::_duplicate(consumer);
    return 0;
  } catch (...) {
    return -1;
  }
}

long TagChangeNotifications::TearDown() {
  try {
    if (!CORBA::is_nil(consumer_)) {
      proxy_->suspend_connection();
      proxy_->disconnect_structured_push_supplier();
    }
    proxy_ = CosNotifyChannelAdmin::StructuredProxyPushSupplier::_nil();
    consumer_ = CosNotifyComm::StructuredPushConsumer::_nil();
    if (!CORBA::is_nil(admin_)) {
      CosNotifyChannelAdmin::ProxyIDSeq_var suppliers = admin_->push_suppliers();
      if (suppliers->length() != 0) {
        ACE_DEBUG((LM_WARNING, "TearDownNotifications(): channelAdmin still has push suppliers()\n"));
      }
      admin_->destroy();
      admin_ = CosNotifyChannelAdmin::ConsumerAdmin::_nil();
    }
  } catch (const CORBA::Exception& e) {
    ZL_LOG_CORBA(LM_ERROR, e);
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "Caught an exception in TearDownNotifications()\n"));
  }
  // An exception ends the teardown, but leaves nothing stored: the next
  // Setup starts afresh.
  proxy_ = CosNotifyChannelAdmin::StructuredProxyPushSupplier::_nil();
  consumer_ = CosNotifyComm::StructuredPushConsumer::_nil();
  admin_ = CosNotifyChannelAdmin::ConsumerAdmin::_nil();
  return 0;
}

}  // namespace zl
