#include "notify_proxy.h"

#include <COS/CosEventComm.hh>

#include <thread>

#include "common/exception_text.h"
#include "notify_channel.h"
#include "wire.h"

namespace zl::sim {
namespace {

// The delivery threads alive in the process, for a bounded wait at exit.
std::mutex g_threads_mu;
std::condition_variable g_threads_cv;
int g_threads = 0;

}  // namespace

Subscriber::Subscriber(FailureFn on_failure) : on_failure_(std::move(on_failure)) {}

Subscriber::~Subscriber() = default;

bool Subscriber::Connect(CosNotifyComm::StructuredPushConsumer_ptr consumer) {
  std::lock_guard<std::mutex> lock(mu_);
  if (started_ || stopped_) return false;
  consumer_ = CosNotifyComm::StructuredPushConsumer::_duplicate(consumer);
  // A consumer that stops answering holds only its own delivery thread, and
  // only until this time-out drops it.
  omniORB::setClientCallTimeout(consumer_.in(), kCallTimeoutMs);
  started_ = true;
  {
    std::lock_guard<std::mutex> count(g_threads_mu);
    ++g_threads;
  }
  // The thread keeps the subscriber alive; nobody joins it (it may be the
  // one that drops itself), WaitForAllThreads bounds the wait at exit.
  std::thread([self = shared_from_this()] { self->Run(); }).detach();
  return true;
}

bool Subscriber::connected() const {
  std::lock_guard<std::mutex> lock(mu_);
  return started_ && !stopped_;
}

void Subscriber::Suspend() {
  std::lock_guard<std::mutex> lock(mu_);
  suspended_ = true;
}

void Subscriber::Resume() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    suspended_ = false;
  }
  cv_.notify_all();
}

bool Subscriber::suspended() const {
  std::lock_guard<std::mutex> lock(mu_);
  return suspended_;
}

void Subscriber::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopped_ = true;
    queue_.clear();
    queued_changes_ = 0;
  }
  cv_.notify_all();
}

void Subscriber::TrimQueue() {
  while (queued_changes_ > kMaxQueuedChanges && !queue_.empty()) {
    const Item& front = queue_.front();
    const size_t n = front.changes ? front.changes->size() : 0;
    queued_changes_ -= n;
    dropped_ += n;
    queue_.pop_front();
  }
}

void Subscriber::Enqueue(const std::shared_ptr<const std::vector<TagChange>>& changes) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!started_ || stopped_ || suspended_) return;
    queue_.push_back({changes, nullptr});
    queued_changes_ += changes->size();
    TrimQueue();
  }
  cv_.notify_one();
}

void Subscriber::EnqueueRaw(std::unique_ptr<CosNotification::StructuredEvent> event) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!started_ || stopped_ || suspended_) return;
    queue_.push_back({nullptr, std::move(event)});
  }
  cv_.notify_one();
}

uint64_t Subscriber::delivered() const {
  std::lock_guard<std::mutex> lock(mu_);
  return delivered_;
}

uint64_t Subscriber::dropped() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dropped_;
}

bool Subscriber::WaitForAllThreads(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(g_threads_mu);
  return g_threads_cv.wait_for(lock, limit, [] { return g_threads == 0; });
}

void Subscriber::Run() {
  std::string failure;
  {
    std::unique_lock<std::mutex> lock(mu_);
    auto last_activity = std::chrono::steady_clock::now();
    while (!stopped_ && failure.empty()) {
      cv_.wait_for(lock, std::chrono::seconds(1),
                   [this] { return stopped_ || (!queue_.empty() && !suspended_); });
      if (stopped_) break;
      if (queue_.empty() || suspended_) {
        if (std::chrono::steady_clock::now() - last_activity < kIdleProbe) continue;
        // Idle: make sure the consumer still exists, so that the proxies of
        // clients that vanished do not pile up.
        last_activity = std::chrono::steady_clock::now();
        CosNotifyComm::StructuredPushConsumer_var consumer = consumer_;
        lock.unlock();
        try {
          if (consumer->_non_existent()) failure = "consumer no longer exists";
        } catch (const CORBA::SystemException& e) {
          failure = ExceptionText(e);
        }
        lock.lock();
        continue;
      }
      last_activity = std::chrono::steady_clock::now();
      // Take the front: a raw event alone, or consecutive change batches
      // merged up to the size limit.
      CosNotification::StructuredEvent_var event;
      size_t count = 0;
      if (queue_.front().raw) {
        event = queue_.front().raw.release();
        queue_.pop_front();
      } else {
        ZEMR::ZLTagValueSeq seq;
        while (!queue_.empty() && queue_.front().changes &&
               (count == 0 || count + queue_.front().changes->size() <= kMaxChangesPerPush)) {
          AppendChanges(*queue_.front().changes, &seq);
          count += queue_.front().changes->size();
          queued_changes_ -= queue_.front().changes->size();
          queue_.pop_front();
        }
        event = MakeTagEvent(seq);
      }
      CosNotifyComm::StructuredPushConsumer_var consumer = consumer_;
      lock.unlock();
      try {
        consumer->push_structured_event(event.in());
      } catch (const CORBA::SystemException& e) {
        failure = ExceptionText(e);
      } catch (const CORBA::Exception& e) {
        failure = ExceptionText(e);  // Disconnected
      }
      lock.lock();
      if (failure.empty()) delivered_ += count;
    }
    stopped_ = true;
    queue_.clear();
    queued_changes_ = 0;
  }
  if (!failure.empty() && on_failure_) on_failure_(shared_from_this(), failure);
  std::lock_guard<std::mutex> count(g_threads_mu);
  --g_threads;
  g_threads_cv.notify_all();
}

// --- ProxyServant ------------------------------------------------------------

namespace CNCA = CosNotifyChannelAdmin;

ProxyServant::ProxyServant(std::shared_ptr<ChannelCore> core, CORBA::Long admin_id,
                           CORBA::Long proxy_id, std::shared_ptr<Subscriber> subscriber)
    : core_(std::move(core)), admin_id_(admin_id), proxy_id_(proxy_id),
      subscriber_(std::move(subscriber)) {}

void ProxyServant::connect_structured_push_consumer(CosNotifyComm::StructuredPushConsumer_ptr consumer) {
  if (CORBA::is_nil(consumer)) throw CORBA::BAD_PARAM();
  if (!subscriber_->Connect(consumer)) throw CosEventChannelAdmin::AlreadyConnected();
  core_->Report(MessageType::kDebug, "ValueChannel", "Value consumer connected");
}

void ProxyServant::suspend_connection() {
  if (!subscriber_->connected()) throw CNCA::NotConnected();
  if (subscriber_->suspended()) throw CNCA::ConnectionAlreadyInactive();
  subscriber_->Suspend();
}

void ProxyServant::resume_connection() {
  if (!subscriber_->connected()) throw CNCA::NotConnected();
  if (!subscriber_->suspended()) throw CNCA::ConnectionAlreadyActive();
  subscriber_->Resume();
}

void ProxyServant::disconnect_structured_push_supplier() { core_->RemoveProxy(admin_id_, proxy_id_); }

CNCA::ProxyType ProxyServant::MyType() { return CNCA::PUSH_STRUCTURED; }

CNCA::ConsumerAdmin_ptr ProxyServant::MyAdmin() { return core_->GetAdmin(admin_id_); }

CosNotifyFilter::MappingFilter_ptr ProxyServant::priority_filter() {
  return CosNotifyFilter::MappingFilter::_nil();
}
void ProxyServant::priority_filter(CosNotifyFilter::MappingFilter_ptr) { throw CORBA::NO_IMPLEMENT(); }
CosNotifyFilter::MappingFilter_ptr ProxyServant::lifetime_filter() {
  return CosNotifyFilter::MappingFilter::_nil();
}
void ProxyServant::lifetime_filter(CosNotifyFilter::MappingFilter_ptr) { throw CORBA::NO_IMPLEMENT(); }

CosNotification::EventTypeSeq* ProxyServant::obtain_offered_types(CNCA::ObtainInfoMode) {
  auto* types = new CosNotification::EventTypeSeq;
  types->length(1);
  (*types)[0].domain_name = "ZEMR";
  (*types)[0].type_name = "ZLTagValueSeq";
  return types;
}

void ProxyServant::validate_event_qos(const CosNotification::QoSProperties&,
                                      CosNotification::NamedPropertyRangeSeq_out) {
  throw CORBA::NO_IMPLEMENT();
}

}  // namespace zl::sim
