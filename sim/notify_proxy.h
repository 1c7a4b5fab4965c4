// One consumer of the value-notifier channel: the proxy supplier servant a
// client connects its StructuredPushConsumer to, and the Subscriber behind
// it that delivers tag-change events from a thread of its own.
//
// A Subscriber queues what the channel publishes (bounded: the oldest
// batches go first when a consumer falls behind) and pushes it to the
// consumer from its delivery thread; batches that wait together are merged
// into one event of at most kMaxChangesPerPush changes. Publishing never
// waits on a consumer. A consumer whose push fails (a system exception,
// including a call time-out, or Disconnected) is dropped through the
// failure callback. Thread-safe: mu_ guards the queue and the flags.
#ifndef ZL_SIM_NOTIFY_PROXY_H_
#define ZL_SIM_NOTIFY_PROXY_H_

#include <COS/CosNotifyChannelAdmin.hh>
#include <COS/CosNotifyComm.hh>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "notify_unimplemented.h"
#include "tag_database.h"

namespace zl::sim {

class ChannelCore;

class Subscriber : public std::enable_shared_from_this<Subscriber> {
 public:
  static constexpr size_t kMaxQueuedChanges = 200000;
  static constexpr size_t kMaxChangesPerPush = 4096;
  static constexpr CORBA::ULong kCallTimeoutMs = 5000;
  // An idle consumer is asked whether it still exists this often.
  static constexpr std::chrono::seconds kIdleProbe{30};

  // Called once from the delivery thread when the consumer failed.
  using FailureFn = std::function<void(const std::shared_ptr<Subscriber>&, const std::string&)>;

  explicit Subscriber(FailureFn on_failure);
  ~Subscriber();

  // Stores the consumer and starts the delivery thread. False when a
  // consumer is already connected (or the subscriber was stopped).
  bool Connect(CosNotifyComm::StructuredPushConsumer_ptr consumer);
  bool connected() const;
  // While suspended, published events are discarded for this consumer.
  void Suspend();
  void Resume();
  bool suspended() const;
  // Ends delivery; the thread finishes its current push and exits.
  void Stop();

  void Enqueue(const std::shared_ptr<const std::vector<TagChange>>& changes);
  // Takes `event` for this consumer alone: its `any` must share no buffer
  // with an `any` another thread uses (see ChannelCore::PublishRaw).
  void EnqueueRaw(std::unique_ptr<CosNotification::StructuredEvent> event);

  uint64_t delivered() const;  // changes pushed
  uint64_t dropped() const;    // changes discarded because the queue was full

  // Waits until every delivery thread of the process has ended, at most
  // `limit`. Gives whether they all did.
  static bool WaitForAllThreads(std::chrono::milliseconds limit);

 private:
  struct Item {
    std::shared_ptr<const std::vector<TagChange>> changes;
    std::unique_ptr<CosNotification::StructuredEvent> raw;  // this subscriber's own
  };

  void Run();
  void Push(std::unique_lock<std::mutex>* lock);  // takes items, pushes without mu_
  void TrimQueue();                               // mu_ held

  const FailureFn on_failure_;

  mutable std::mutex mu_;
  std::condition_variable cv_;
  // Guarded by mu_:
  CosNotifyComm::StructuredPushConsumer_var consumer_;
  bool started_ = false;
  bool stopped_ = false;
  bool suspended_ = false;
  std::deque<Item> queue_;
  size_t queued_changes_ = 0;
  uint64_t delivered_ = 0;
  uint64_t dropped_ = 0;
};

// The StructuredProxyPushSupplier servant of one subscriber. Activated in
// the root POA and owned by it; the channel core deactivates it.
class ProxyServant : public virtual POA_CosNotifyChannelAdmin::StructuredProxyPushSupplier,
                     public NoQoSAdmin,
                     public NoFilterAdmin,
                     public IgnoreSubscriptionChange {
 public:
  ProxyServant(std::shared_ptr<ChannelCore> core, CORBA::Long admin_id, CORBA::Long proxy_id,
               std::shared_ptr<Subscriber> subscriber);

  void connect_structured_push_consumer(CosNotifyComm::StructuredPushConsumer_ptr consumer) override;
  void suspend_connection() override;
  void resume_connection() override;
  void disconnect_structured_push_supplier() override;

  CosNotifyChannelAdmin::ProxyType MyType() override;
  CosNotifyChannelAdmin::ConsumerAdmin_ptr MyAdmin() override;
  CosNotifyFilter::MappingFilter_ptr priority_filter() override;
  void priority_filter(CosNotifyFilter::MappingFilter_ptr) override;
  CosNotifyFilter::MappingFilter_ptr lifetime_filter() override;
  void lifetime_filter(CosNotifyFilter::MappingFilter_ptr) override;
  CosNotification::EventTypeSeq* obtain_offered_types(CosNotifyChannelAdmin::ObtainInfoMode) override;
  void validate_event_qos(const CosNotification::QoSProperties&,
                          CosNotification::NamedPropertyRangeSeq_out) override;

 private:
  const std::shared_ptr<ChannelCore> core_;
  const CORBA::Long admin_id_;
  const CORBA::Long proxy_id_;
  const std::shared_ptr<Subscriber> subscriber_;
};

}  // namespace zl::sim

#endif  // ZL_SIM_NOTIFY_PROXY_H_
