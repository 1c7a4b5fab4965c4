#include "message_publisher.h"

#include <iostream>

#include "common/exception_text.h"
#include "wire.h"

namespace zl::sim {
namespace {

constexpr CORBA::ULong kCallTimeoutMs = 5000;

}  // namespace

std::unique_ptr<MessagePublisher> MessagePublisher::Create(CORBA::ORB_ptr orb,
                                                           CosLifeCycle::GenericFactory_ptr factory,
                                                           std::string* error) {
  try {
    CosLifeCycle::Key key;
    key.length(1);
    key[0].id = "EventChannel";
    key[0].kind = "object interface";
    CosLifeCycle::Criteria criteria;
    CORBA::Object_var obj = factory->create_object(key, criteria);
    CosEventChannelAdmin::EventChannel_var channel = CosEventChannelAdmin::EventChannel::_narrow(obj);
    if (CORBA::is_nil(channel)) {
      *error = "the event service did not give an event channel";
      return nullptr;
    }
    omniORB::setClientCallTimeout(channel.in(), kCallTimeoutMs);
    CORBA::String_var ior = orb->object_to_string(channel);
    std::unique_ptr<MessagePublisher> publisher(new MessagePublisher(channel, ior.in()));
    if (!publisher->Connect()) {
      *error = "cannot connect a supplier to the message channel";
      return nullptr;
    }
    publisher->thread_ = std::thread(&MessagePublisher::Run, publisher.get());
    return publisher;
  } catch (const CORBA::Exception& e) {
    *error = ExceptionText(e);
  }
  return nullptr;
}

MessagePublisher::MessagePublisher(CosEventChannelAdmin::EventChannel_ptr channel, std::string ior)
    : channel_(CosEventChannelAdmin::EventChannel::_duplicate(channel)), ior_(std::move(ior)) {}

MessagePublisher::~MessagePublisher() { Stop(false); }

bool MessagePublisher::Connect() {
  try {
    CosEventChannelAdmin::SupplierAdmin_var admin = channel_->for_suppliers();
    CosEventChannelAdmin::ProxyPushConsumer_var proxy = admin->obtain_push_consumer();
    omniORB::setClientCallTimeout(proxy.in(), kCallTimeoutMs);
    proxy->connect_push_supplier(CosEventComm::PushSupplier::_nil());
    proxy_ = proxy._retn();
    return true;
  } catch (const CORBA::Exception& e) {
    std::cerr << "zelvik-sim: message channel: " << ExceptionText(e) << std::endl;
  }
  return false;
}

void MessagePublisher::Publish(uint32_t type, const std::string& routine, const std::string& text) {
  Message m{type, 0, 0, routine, text};
  WallClock(&m.secs, &m.usecs);
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stop_) return;
    if (queue_.size() >= kQueueLimit) {
      ++dropped_;
      return;
    }
    queue_.push_back(std::move(m));
  }
  cv_.notify_one();
}

void MessagePublisher::Run() {
  auto last_attempt = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mu_);
  while (true) {
    cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) break;
    Message m = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    bool sent = false;
    if (CORBA::is_nil(proxy_) &&
        std::chrono::steady_clock::now() - last_attempt > std::chrono::seconds(1)) {
      last_attempt = std::chrono::steady_clock::now();
      Connect();
    }
    if (!CORBA::is_nil(proxy_)) {
      try {
        CORBA::Any any;
        InsertMessage(&any, m.type, m.secs, m.usecs, m.routine, m.text);
        proxy_->push(any);
        sent = true;
      } catch (const CORBA::Exception& e) {
        std::cerr << "zelvik-sim: message not published: " << ExceptionText(e) << std::endl;
        proxy_ = CosEventChannelAdmin::ProxyPushConsumer::_nil();
        last_attempt = std::chrono::steady_clock::now();
      }
    }
    lock.lock();
    if (sent) ++published_;
    else ++dropped_;
  }
}

void MessagePublisher::Stop(bool destroy_channel) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stop_ && !thread_.joinable()) return;
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  try {
    if (!CORBA::is_nil(proxy_)) proxy_->disconnect_push_consumer();
  } catch (const CORBA::Exception&) {
    // The event service may be gone already.
  }
  proxy_ = CosEventChannelAdmin::ProxyPushConsumer::_nil();
  if (destroy_channel) {
    try {
      channel_->destroy();
    } catch (const CORBA::Exception&) {
    }
  }
}

uint64_t MessagePublisher::published() const {
  std::lock_guard<std::mutex> lock(mu_);
  return published_;
}

uint64_t MessagePublisher::dropped() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dropped_;
}

}  // namespace zl::sim
