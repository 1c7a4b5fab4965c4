#include "localdb/message_channel.h"

#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>

#include <chrono>
#include <thread>

#include "common/exception_text.h"
#include "common/log.h"
#include "localdb/event_decoding.h"

namespace zl {
namespace {

// The listener's pause when the channel had nothing, taken in short steps so
// that a cancellation is seen promptly.
constexpr auto kIdlePause = std::chrono::milliseconds(250);
constexpr auto kIdleStep = std::chrono::milliseconds(25);

}  // namespace

MessageChannel::MessageChannel(MessageQueues& queues) : queues_(queues) {}

MessageChannel::~MessageChannel() { Disable(); }

long MessageChannel::Enable(ZEMR::ZelvikDatabase_ptr db, CORBA::ORB_ptr orb) {
  if (CORBA::is_nil(db)) {
    ACE_DEBUG((LM_ERROR, "EnableEvents() called while not connected\n"));
    return -1;
  }
  CORBA::String_var kernel;
  try {
    kernel = db->HelloZL("$KERNEL.NAME");
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "ZelvikDatabase passed to EnableEvents() was bogus\n"));
    return -1;
  }
  if (listener_running_ && !connected_) {
    // disconnect_pull_consumer came: the listener pulls nothing any more.
    ACE_DEBUG((LM_INFO, "#info: the message consumer was disconnected; joining the channel again\n"));
    Disable();
  }
  if (listener_running_) {
    ACE_DEBUG((LM_INFO, " Events are already enabled\n"));
    return 1;
  }
  try {
    CORBA::String_var ior = db->GetIORMessageChannel();
    CosEventChannelAdmin::EventChannel_var channel;
    if (ior.in() != nullptr && *ior.in() != '\0') {
      CORBA::Object_var obj = orb->string_to_object(ior.in());
      channel = CosEventChannelAdmin::EventChannel::_narrow(obj.in());
    }
    if (CORBA::is_nil(channel)) {
      ACE_DEBUG((LM_ERROR, "There is no event channel for server, %s", kernel.in()));
      return 1;
    }
    CosEventComm::PullConsumer_var consumer;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (CORBA::is_nil(consumer_)) {
        CORBA::Object_var object = ActivatePeerServant(&consumer_servant_);
        consumer_ = CosEventComm::PullConsumer::_narrow(object.in());
      }
      consumer = CosEventComm::PullConsumer::_duplicate(consumer_.in());
    }
    CosEventChannelAdmin::ConsumerAdmin_var admin = channel->for_consumers();
    CosEventChannelAdmin::ProxyPullSupplier_var proxy = admin->obtain_pull_supplier();
    {
      std::lock_guard<std::mutex> lock(mu_);
      proxy_ = CosEventChannelAdmin::ProxyPullSupplier::_duplicate(proxy.in());
    }
    proxy->connect_pull_consumer(consumer.in());
    connected_ = true;

    if (!listener_running_) {
      listener_done_ = false;
      if (ACE_Thread_Manager::instance()->spawn(Listen, this, THR_NEW_LWP | THR_JOINABLE,
                                                &listener_id_, &listener_handle_) == -1) {
        listener_done_ = true;
        ACE_DEBUG((LM_ERROR, "could not create EventChannel listener!\n"));
      } else {
        listener_running_ = true;
      }
    }
    return 0;
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "Could not set up event channels for %s\n", kernel.in()));
    return -1;
  }
}

long MessageChannel::Disable() {
  if (listener_running_) {
    ACE_Thread_Manager* manager = ACE_Thread_Manager::instance();
    listener_running_ = false;
    // A listener that ended by itself after a failed pull is only reaped.
    int result = listener_done_ ? 0 : manager->cancel(listener_id_);
    if (result == -1 && listener_done_) result = 0;  // it ended meanwhile
    if (result != 0) {
      ACE_DEBUG((LM_ERROR, "[ZLLocalDB](%P/%t) error cancelling ECLT %d = %d\n",
                 static_cast<int>(listener_id_), result));
    }
    if (result == -1) {
      ACE_DEBUG((LM_ERROR, "[ZLLocalDB](%P/%t) error cancelling ECLT %d\n",
                 static_cast<int>(listener_id_)));
    } else {
      manager->join(listener_id_);
    }
  }

  CosEventChannelAdmin::ProxyPullSupplier_var proxy;
  CosEventComm::PullConsumer_var consumer;
  {
    std::lock_guard<std::mutex> lock(mu_);
    proxy = proxy_._retn();
    consumer = consumer_._retn();
  }
  if (!CORBA::is_nil(proxy)) {
    try {
      proxy->disconnect_pull_supplier();
    } catch (const CORBA::Exception& e) {
      ZL_LOG_CORBA(LM_ERROR, e);
    } catch (...) {
    }
  }
  connected_ = false;
  if (!CORBA::is_nil(consumer)) {
    try {
      PortableServer::POA_var poa = consumer_servant_._default_POA();
      if (!CORBA::is_nil(poa)) {
        PortableServer::ObjectId_var id = poa->reference_to_id(consumer.in());
        poa->deactivate_object(id.in());
        // The deactivation ends only when no call on the servant is left in
        // flight (the event service may be calling disconnect_pull_consumer
        // right now); then the POA drops its reference. The servant is a
        // member of this object, so wait for that before it can go (bounded).
        for (int i = 0; i < 500 && consumer_servant_._refcount_value() > 1; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
      }
    } catch (...) {
      // Already gone with the ORB; nothing more to undo.
    }
  }
  return 0;
}

long MessageChannel::PullOne() {
  // Without it, the listener and a reader could each pull a message and
  // queue them the other way round.
  std::lock_guard<std::mutex> pull_lock(pull_mu_);
  CosEventChannelAdmin::ProxyPullSupplier_var proxy;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!connected_ || CORBA::is_nil(proxy_)) return 0;
    proxy = CosEventChannelAdmin::ProxyPullSupplier::_duplicate(proxy_.in());
  }
  try {
    CORBA::Boolean has_event = false;
    CORBA::Any_var event = proxy->try_pull(has_event);
    if (!has_event) return 0;
    ServerMessage msg;
    if (!DecodeServerMessage(event.in(), msg)) return 1;  // not a server message: discarded
    queues_.Offer(msg.type, FormatServerMessage(msg.fields));
    return 1;
  } catch (const CORBA::Exception& e) {
    const std::string text = ExceptionText(e);
    ACE_DEBUG((LM_ERROR, "CORBA %s\n", text.c_str()));
  } catch (...) {
    ACE_DEBUG((LM_CRITICAL, "**Caught exception while getting server messages!\n"));
  }
  return -1;
}

CosEventComm::PullConsumer_ptr MessageChannel::consumer_reference() {
  std::lock_guard<std::mutex> lock(mu_);
  return CosEventComm::PullConsumer::_duplicate(consumer_.in());
}

long MessageChannel::GetServerMessages() {
  long taken = 0;
  while (PullOne() == 1) {
    ACE_DEBUG((LM_NOTICE, "%t| Got a server message in GetServerMessages()\n"));
    ++taken;
  }
  return taken;
}

ACE_THR_FUNC_RETURN MessageChannel::Listen(void* arg) {
  auto* self = static_cast<MessageChannel*>(arg);
  ACE_Thread_Manager* manager = ACE_Thread_Manager::instance();
  const ACE_thread_t me = ACE_Thread::self();
  // The listener thread's entry: nothing may escape it, and listener_done_
  // must be set however it ends.
  try {
    while (!manager->testcancel(me)) {
      const long r = self->PullOne();
      if (r == -1) break;
      if (r == 1) continue;
      for (auto waited = std::chrono::milliseconds(0); waited < kIdlePause; waited += kIdleStep) {
        if (manager->testcancel(me)) break;
        std::this_thread::sleep_for(kIdleStep);
      }
    }
  } catch (...) {
    ACE_DEBUG((LM_CRITICAL, "#[CLIENT] (%P/%t)Event channel listener threw something\n"));
  }
  self->listener_done_ = true;
  return 0;
}

}  // namespace zl
