// Small mixins for the parts of the notification interfaces the value
// channel does not offer: QoS and admin properties, filters, subscription
// changes. The skeletons inherit their bases virtually, so a servant that
// derives from its skeleton and from these gets these as the final
// overriders. Stateless.
#ifndef ZL_SIM_NOTIFY_UNIMPLEMENTED_H_
#define ZL_SIM_NOTIFY_UNIMPLEMENTED_H_

#include <COS/CosNotification.hh>
#include <COS/CosNotifyChannelAdmin.hh>
#include <COS/CosNotifyComm.hh>
#include <COS/CosNotifyFilter.hh>

namespace zl::sim {

// No QoS: the properties read as empty; setting or validating is refused.
class NoQoSAdmin : public virtual CosNotification::_impl_QoSAdmin {
 public:
  CosNotification::QoSProperties* get_qos() override { return new CosNotification::QoSProperties; }
  void set_qos(const CosNotification::QoSProperties&) override { throw CORBA::NO_IMPLEMENT(); }
  void validate_qos(const CosNotification::QoSProperties&,
                    CosNotification::NamedPropertyRangeSeq_out) override {
    throw CORBA::NO_IMPLEMENT();
  }
};

class NoAdminProperties : public virtual CosNotification::_impl_AdminPropertiesAdmin {
 public:
  CosNotification::AdminProperties* get_admin() override {
    return new CosNotification::AdminProperties;
  }
  void set_admin(const CosNotification::AdminProperties&) override { throw CORBA::NO_IMPLEMENT(); }
};

// No filters: every event passes; adding a filter is refused.
class NoFilterAdmin : public virtual CosNotifyFilter::_impl_FilterAdmin {
 public:
  CosNotifyFilter::FilterID add_filter(CosNotifyFilter::Filter_ptr) override {
    throw CORBA::NO_IMPLEMENT();
  }
  void remove_filter(CosNotifyFilter::FilterID) override { throw CosNotifyFilter::FilterNotFound(); }
  CosNotifyFilter::Filter_ptr get_filter(CosNotifyFilter::FilterID) override {
    throw CosNotifyFilter::FilterNotFound();
  }
  CosNotifyFilter::FilterIDSeq* get_all_filters() override { return new CosNotifyFilter::FilterIDSeq; }
  void remove_all_filters() override {}
};

// Subscription changes are accepted and have no effect (everything is
// delivered anyway).
class IgnoreSubscriptionChange : public virtual CosNotifyComm::_impl_NotifySubscribe {
 public:
  void subscription_change(const CosNotification::EventTypeSeq&,
                           const CosNotification::EventTypeSeq&) override {}
};

}  // namespace zl::sim

#endif  // ZL_SIM_NOTIFY_UNIMPLEMENTED_H_
