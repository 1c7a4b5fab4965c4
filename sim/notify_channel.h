// The value-notifier channel of one database: a minimal structured-push
// notification channel hosted in the server. Clients create consumer admins
// (new_for_consumers, or the default admin), obtain structured push
// supplier proxies from them and connect their StructuredPushConsumer;
// every batch of tag changes the database publishes then reaches every
// connected consumer as a structured event whose remainder_of_body holds a
// ZEMR::ZLTagValueSeq. Filters, QoS, pull and sequence proxies and supplier
// admins are not offered (NO_IMPLEMENT).
//
// ChannelCore holds the state every servant of the channel shares; the
// servants keep it alive. mu_ guards the admins and proxies; publishing
// takes mu_ briefly and never waits on a consumer (see Subscriber).
#ifndef ZL_SIM_NOTIFY_CHANNEL_H_
#define ZL_SIM_NOTIFY_CHANNEL_H_

#include <COS/CosNotifyChannelAdmin.hh>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "notify_proxy.h"
#include "notify_unimplemented.h"
#include "tag_database.h"

namespace zl::sim {

class ChannelCore : public std::enable_shared_from_this<ChannelCore> {
 public:
  // How the channel reports consumers connecting and being dropped.
  using ReportFn = std::function<void(MessageType, const char*, const std::string&)>;

  ChannelCore(PortableServer::POA_ptr poa, ReportFn report);
  ~ChannelCore();

  // Activates the channel and its default admin (id 0). Call once, before
  // anything else.
  void Activate();
  CosNotifyChannelAdmin::EventChannel_ptr Channel() const;  // a new reference

  // --- For the servants --------------------------------------------------
  CosNotifyChannelAdmin::ConsumerAdmin_ptr NewAdmin(CosNotifyChannelAdmin::AdminID* id);
  // Throws AdminNotFound.
  CosNotifyChannelAdmin::ConsumerAdmin_ptr GetAdmin(CosNotifyChannelAdmin::AdminID id);
  CosNotifyChannelAdmin::AdminIDSeq* AdminIds() const;
  // Disconnects the admin's proxies and deactivates it (the default admin
  // stays).
  void DestroyAdmin(CosNotifyChannelAdmin::AdminID id);
  CosNotifyChannelAdmin::ProxySupplier_ptr NewProxy(CosNotifyChannelAdmin::AdminID admin,
                                                     CosNotifyChannelAdmin::ProxyID* id);
  // Throws ProxyNotFound.
  CosNotifyChannelAdmin::ProxySupplier_ptr GetProxy(CosNotifyChannelAdmin::AdminID admin,
                                                     CosNotifyChannelAdmin::ProxyID id);
  CosNotifyChannelAdmin::ProxyIDSeq* ProxyIds(CosNotifyChannelAdmin::AdminID admin) const;
  // The client disconnected the proxy: stop it, forget it, deactivate it.
  void RemoveProxy(CosNotifyChannelAdmin::AdminID admin, CosNotifyChannelAdmin::ProxyID id);
  void Report(MessageType type, const char* routine, const std::string& text) const;

  // --- For the database --------------------------------------------------
  // Queues one batch for every connected consumer. Never blocks.
  void Publish(std::vector<TagChange>&& changes);
  // Queues an event as it is (tests: bodies that are not a ZLTagValueSeq).
  void PublishRaw(const CosNotification::StructuredEvent& event);
  int Consumers() const;
  uint64_t Delivered() const;  // changes pushed to consumers, all time
  uint64_t Dropped() const;    // changes dropped for slow consumers, all time

  // Forgets proxies never connected kUnusedLimit after they were made, and
  // admins without proxies kUnusedLimit after their last change (their
  // clients are gone).
  void Reap();
  static constexpr std::chrono::seconds kUnusedLimit{60};

  // Stops every subscriber and deactivates every servant of the channel.
  void Shutdown();

 private:
  struct ProxyEntry {
    std::shared_ptr<Subscriber> subscriber;
    PortableServer::ObjectId oid;
    std::chrono::steady_clock::time_point created;
  };
  struct AdminEntry {
    PortableServer::ObjectId oid;
    std::map<CosNotifyChannelAdmin::ProxyID, ProxyEntry> proxies;
    std::chrono::steady_clock::time_point touched;  // made, or its proxies changed
  };

  // A subscriber's delivery failed: forget it and its admin when that is
  // left empty (the client is gone).
  void Drop(const std::shared_ptr<Subscriber>& subscriber, const std::string& reason);
  void Deactivate(const std::vector<PortableServer::ObjectId>& oids);
  void RebuildActive();  // mu_ held

  const PortableServer::POA_var poa_;
  const ReportFn report_;

  mutable std::mutex mu_;
  // Guarded by mu_:
  PortableServer::ObjectId channel_oid_;
  std::map<CosNotifyChannelAdmin::AdminID, AdminEntry> admins_;
  std::vector<std::shared_ptr<Subscriber>> active_;  // every subscriber, for Publish
  CosNotifyChannelAdmin::AdminID next_admin_ = 1;
  CosNotifyChannelAdmin::ProxyID next_proxy_ = 1;
  uint64_t delivered_gone_ = 0;  // counts of subscribers no longer listed
  uint64_t dropped_gone_ = 0;
  bool shut_down_ = false;
};

// The EventChannel servant.
class ChannelServant : public virtual POA_CosNotifyChannelAdmin::EventChannel,
                       public NoQoSAdmin,
                       public NoAdminProperties {
 public:
  explicit ChannelServant(std::shared_ptr<ChannelCore> core) : core_(std::move(core)) {}

  CosNotifyChannelAdmin::EventChannelFactory_ptr MyFactory() override;
  CosNotifyChannelAdmin::ConsumerAdmin_ptr default_consumer_admin() override;
  CosNotifyChannelAdmin::SupplierAdmin_ptr default_supplier_admin() override;
  CosNotifyFilter::FilterFactory_ptr default_filter_factory() override;
  CosNotifyChannelAdmin::ConsumerAdmin_ptr new_for_consumers(
      CosNotifyChannelAdmin::InterFilterGroupOperator op, CosNotifyChannelAdmin::AdminID& id) override;
  CosNotifyChannelAdmin::SupplierAdmin_ptr new_for_suppliers(
      CosNotifyChannelAdmin::InterFilterGroupOperator op, CosNotifyChannelAdmin::AdminID& id) override;
  CosNotifyChannelAdmin::ConsumerAdmin_ptr get_consumeradmin(CosNotifyChannelAdmin::AdminID id) override;
  CosNotifyChannelAdmin::SupplierAdmin_ptr get_supplieradmin(CosNotifyChannelAdmin::AdminID id) override;
  CosNotifyChannelAdmin::AdminIDSeq* get_all_consumeradmins() override;
  CosNotifyChannelAdmin::AdminIDSeq* get_all_supplieradmins() override;
  CosEventChannelAdmin::ConsumerAdmin_ptr for_consumers() override;
  CosEventChannelAdmin::SupplierAdmin_ptr for_suppliers() override;
  void destroy() override;

 private:
  const std::shared_ptr<ChannelCore> core_;
};

// A ConsumerAdmin servant.
class ConsumerAdminServant : public virtual POA_CosNotifyChannelAdmin::ConsumerAdmin,
                     public NoQoSAdmin,
                     public NoFilterAdmin,
                     public IgnoreSubscriptionChange {
 public:
  ConsumerAdminServant(std::shared_ptr<ChannelCore> core, CosNotifyChannelAdmin::AdminID id,
               CosNotifyChannelAdmin::InterFilterGroupOperator op)
      : core_(std::move(core)), id_(id), op_(op) {}

  CosNotifyChannelAdmin::AdminID MyID() override { return id_; }
  CosNotifyChannelAdmin::EventChannel_ptr MyChannel() override { return core_->Channel(); }
  CosNotifyChannelAdmin::InterFilterGroupOperator MyOperator() override { return op_; }
  CosNotifyFilter::MappingFilter_ptr priority_filter() override;
  void priority_filter(CosNotifyFilter::MappingFilter_ptr) override;
  CosNotifyFilter::MappingFilter_ptr lifetime_filter() override;
  void lifetime_filter(CosNotifyFilter::MappingFilter_ptr) override;
  CosNotifyChannelAdmin::ProxyIDSeq* pull_suppliers() override;
  CosNotifyChannelAdmin::ProxyIDSeq* push_suppliers() override;
  CosNotifyChannelAdmin::ProxySupplier_ptr get_proxy_supplier(CosNotifyChannelAdmin::ProxyID id) override;
  CosNotifyChannelAdmin::ProxySupplier_ptr obtain_notification_pull_supplier(
      CosNotifyChannelAdmin::ClientType ctype, CosNotifyChannelAdmin::ProxyID& id) override;
  CosNotifyChannelAdmin::ProxySupplier_ptr obtain_notification_push_supplier(
      CosNotifyChannelAdmin::ClientType ctype, CosNotifyChannelAdmin::ProxyID& id) override;
  void destroy() override;
  CosEventChannelAdmin::ProxyPushSupplier_ptr obtain_push_supplier() override;
  CosEventChannelAdmin::ProxyPullSupplier_ptr obtain_pull_supplier() override;

 private:
  const std::shared_ptr<ChannelCore> core_;
  const CosNotifyChannelAdmin::AdminID id_;
  const CosNotifyChannelAdmin::InterFilterGroupOperator op_;
};

}  // namespace zl::sim

#endif  // ZL_SIM_NOTIFY_CHANNEL_H_
