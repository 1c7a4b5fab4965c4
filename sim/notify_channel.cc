#include "notify_channel.h"

#include "common/exception_text.h"
#include "wire.h"

namespace zl::sim {

namespace CNCA = CosNotifyChannelAdmin;

ChannelCore::ChannelCore(PortableServer::POA_ptr poa, ReportFn report)
    : poa_(PortableServer::POA::_duplicate(poa)), report_(std::move(report)) {}

ChannelCore::~ChannelCore() = default;

void ChannelCore::Activate() {
  auto* channel = new ChannelServant(shared_from_this());
  PortableServer::ObjectId_var oid = poa_->activate_object(channel);
  channel->_remove_ref();
  auto* admin = new ConsumerAdminServant(shared_from_this(), 0, CNCA::OR_OP);
  PortableServer::ObjectId_var admin_oid = poa_->activate_object(admin);
  admin->_remove_ref();
  std::lock_guard<std::mutex> lock(mu_);
  channel_oid_ = oid.in();
  admins_[0].oid = admin_oid.in();
  admins_[0].touched = std::chrono::steady_clock::now();
}

CNCA::EventChannel_ptr ChannelCore::Channel() const {
  PortableServer::ObjectId oid;
  {
    std::lock_guard<std::mutex> lock(mu_);
    oid = channel_oid_;
  }
  CORBA::Object_var obj = poa_->id_to_reference(oid);
  return CNCA::EventChannel::_narrow(obj);
}

void ChannelCore::Report(MessageType type, const char* routine, const std::string& text) const {
  if (report_) report_(type, routine, text);
}

// --- Admins ------------------------------------------------------------------

CNCA::ConsumerAdmin_ptr ChannelCore::NewAdmin(CNCA::AdminID* id) {
  CNCA::AdminID new_id;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (shut_down_) throw CORBA::OBJECT_NOT_EXIST();
    new_id = next_admin_++;
  }
  auto* admin = new ConsumerAdminServant(shared_from_this(), new_id, CNCA::OR_OP);
  PortableServer::ObjectId_var oid = poa_->activate_object(admin);
  admin->_remove_ref();
  {
    std::lock_guard<std::mutex> lock(mu_);
    admins_[new_id].oid = oid.in();
    admins_[new_id].touched = std::chrono::steady_clock::now();
  }
  *id = new_id;
  CORBA::Object_var obj = poa_->id_to_reference(oid.in());
  return CNCA::ConsumerAdmin::_narrow(obj);
}

CNCA::ConsumerAdmin_ptr ChannelCore::GetAdmin(CNCA::AdminID id) {
  PortableServer::ObjectId oid;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = admins_.find(id);
    if (it == admins_.end()) throw CNCA::AdminNotFound();
    oid = it->second.oid;
  }
  CORBA::Object_var obj = poa_->id_to_reference(oid);
  return CNCA::ConsumerAdmin::_narrow(obj);
}

CNCA::AdminIDSeq* ChannelCore::AdminIds() const {
  std::lock_guard<std::mutex> lock(mu_);
  auto* ids = new CNCA::AdminIDSeq;
  ids->length(static_cast<CORBA::ULong>(admins_.size()));
  CORBA::ULong i = 0;
  for (const auto& entry : admins_) (*ids)[i++] = entry.first;
  return ids;
}

void ChannelCore::DestroyAdmin(CNCA::AdminID id) {
  std::vector<PortableServer::ObjectId> oids;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = admins_.find(id);
    if (it == admins_.end()) throw CORBA::OBJECT_NOT_EXIST();
    for (auto& proxy : it->second.proxies) {
      proxy.second.subscriber->Stop();
      oids.push_back(proxy.second.oid);
    }
    it->second.proxies.clear();
    if (id != 0) {
      oids.push_back(it->second.oid);
      admins_.erase(it);
    }
    RebuildActive();
  }
  Deactivate(oids);
}

// --- Proxies -----------------------------------------------------------------

CNCA::ProxySupplier_ptr ChannelCore::NewProxy(CNCA::AdminID admin, CNCA::ProxyID* id) {
  CNCA::ProxyID new_id;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (shut_down_) throw CORBA::OBJECT_NOT_EXIST();
    if (admins_.count(admin) == 0) throw CORBA::OBJECT_NOT_EXIST();
    new_id = next_proxy_++;
  }
  std::weak_ptr<ChannelCore> weak = shared_from_this();
  auto subscriber = std::make_shared<Subscriber>(
      [weak](const std::shared_ptr<Subscriber>& s, const std::string& reason) {
        if (auto core = weak.lock()) core->Drop(s, reason);
      });
  auto* proxy = new ProxyServant(shared_from_this(), admin, new_id, subscriber);
  PortableServer::ObjectId_var oid = poa_->activate_object(proxy);
  proxy->_remove_ref();
  bool orphan = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = admins_.find(admin);
    if (it == admins_.end()) {
      orphan = true;  // the admin was destroyed meanwhile
    } else {
      it->second.proxies[new_id] = {subscriber, oid.in(), std::chrono::steady_clock::now()};
      it->second.touched = std::chrono::steady_clock::now();
      RebuildActive();
    }
  }
  if (orphan) {
    Deactivate({oid.in()});
    throw CORBA::OBJECT_NOT_EXIST();
  }
  *id = new_id;
  CORBA::Object_var obj = poa_->id_to_reference(oid.in());
  return CNCA::ProxySupplier::_narrow(obj);
}

CNCA::ProxySupplier_ptr ChannelCore::GetProxy(CNCA::AdminID admin, CNCA::ProxyID id) {
  PortableServer::ObjectId oid;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = admins_.find(admin);
    if (it == admins_.end()) throw CNCA::ProxyNotFound();
    auto p = it->second.proxies.find(id);
    if (p == it->second.proxies.end()) throw CNCA::ProxyNotFound();
    oid = p->second.oid;
  }
  CORBA::Object_var obj = poa_->id_to_reference(oid);
  return CNCA::ProxySupplier::_narrow(obj);
}

CNCA::ProxyIDSeq* ChannelCore::ProxyIds(CNCA::AdminID admin) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto* ids = new CNCA::ProxyIDSeq;
  auto it = admins_.find(admin);
  if (it == admins_.end()) return ids;
  ids->length(static_cast<CORBA::ULong>(it->second.proxies.size()));
  CORBA::ULong i = 0;
  for (const auto& entry : it->second.proxies) (*ids)[i++] = entry.first;
  return ids;
}

void ChannelCore::RemoveProxy(CNCA::AdminID admin, CNCA::ProxyID id) {
  PortableServer::ObjectId oid;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = admins_.find(admin);
    if (it == admins_.end()) return;
    auto p = it->second.proxies.find(id);
    if (p == it->second.proxies.end()) return;
    p->second.subscriber->Stop();
    delivered_gone_ += p->second.subscriber->delivered();
    dropped_gone_ += p->second.subscriber->dropped();
    oid = p->second.oid;
    it->second.proxies.erase(p);
    it->second.touched = std::chrono::steady_clock::now();
    RebuildActive();
  }
  Deactivate({oid});
  Report(MessageType::kDebug, "ValueChannel", "Value consumer disconnected");
}

void ChannelCore::Drop(const std::shared_ptr<Subscriber>& subscriber, const std::string& reason) {
  std::vector<PortableServer::ObjectId> oids;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto a = admins_.begin(); a != admins_.end(); ++a) {
      auto& proxies = a->second.proxies;
      auto p = proxies.begin();
      while (p != proxies.end() && p->second.subscriber != subscriber) ++p;
      if (p == proxies.end()) continue;
      delivered_gone_ += subscriber->delivered();
      dropped_gone_ += subscriber->dropped();
      oids.push_back(p->second.oid);
      proxies.erase(p);
      // An admin left without proxies by a failed consumer belonged to a
      // client that is gone.
      if (proxies.empty() && a->first != 0) {
        oids.push_back(a->second.oid);
        admins_.erase(a);
      }
      RebuildActive();
      break;
    }
  }
  if (oids.empty()) return;  // already removed (disconnected or shut down)
  Deactivate(oids);
  Report(MessageType::kWarning, "ValueChannel", "Value consumer dropped: " + reason);
}

void ChannelCore::Reap() {
  const auto cutoff = std::chrono::steady_clock::now() - kUnusedLimit;
  std::vector<PortableServer::ObjectId> oids;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto a = admins_.begin(); a != admins_.end();) {
      auto& proxies = a->second.proxies;
      for (auto p = proxies.begin(); p != proxies.end();) {
        if (p->second.created < cutoff && !p->second.subscriber->connected()) {
          p->second.subscriber->Stop();
          oids.push_back(p->second.oid);
          p = proxies.erase(p);
        } else {
          ++p;
        }
      }
      if (a->first != 0 && proxies.empty() && a->second.touched < cutoff) {
        oids.push_back(a->second.oid);
        a = admins_.erase(a);
      } else {
        ++a;
      }
    }
    if (!oids.empty()) RebuildActive();
  }
  Deactivate(oids);
}

void ChannelCore::Deactivate(const std::vector<PortableServer::ObjectId>& oids) {
  for (const PortableServer::ObjectId& oid : oids) {
    try {
      poa_->deactivate_object(oid);
    } catch (const CORBA::Exception&) {
      // Already deactivated, or the POA is going away: nothing to undo.
    }
  }
}

void ChannelCore::RebuildActive() {
  active_.clear();
  for (const auto& admin : admins_) {
    for (const auto& proxy : admin.second.proxies) active_.push_back(proxy.second.subscriber);
  }
}

// --- Publishing --------------------------------------------------------------

void ChannelCore::Publish(std::vector<TagChange>&& changes) {
  std::lock_guard<std::mutex> lock(mu_);
  if (active_.empty()) return;
  auto batch = std::make_shared<const std::vector<TagChange>>(std::move(changes));
  for (const auto& subscriber : active_) subscriber->Enqueue(batch);
}

void ChannelCore::PublishRaw(const CosNotification::StructuredEvent& event) {
  // Copies of an `any` share one marshalled buffer, counted by the ORB
  // where the checker cannot see it, and reading a shared `any` from two
  // threads is not safe either. Each delivery thread gets a copy made
  // through the wire encoding, which shares nothing.
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& subscriber : active_) subscriber->EnqueueRaw(IndependentCopy(event));
}

int ChannelCore::Consumers() const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& subscriber : active_) n += subscriber->connected() ? 1 : 0;
  return n;
}

uint64_t ChannelCore::Delivered() const {
  std::lock_guard<std::mutex> lock(mu_);
  uint64_t n = delivered_gone_;
  for (const auto& subscriber : active_) n += subscriber->delivered();
  return n;
}

uint64_t ChannelCore::Dropped() const {
  std::lock_guard<std::mutex> lock(mu_);
  uint64_t n = dropped_gone_;
  for (const auto& subscriber : active_) n += subscriber->dropped();
  return n;
}

void ChannelCore::Shutdown() {
  std::vector<PortableServer::ObjectId> oids;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (shut_down_) return;
    shut_down_ = true;
    for (auto& admin : admins_) {
      for (auto& proxy : admin.second.proxies) {
        proxy.second.subscriber->Stop();
        oids.push_back(proxy.second.oid);
      }
      oids.push_back(admin.second.oid);
    }
    admins_.clear();
    active_.clear();
    if (channel_oid_.length() != 0) oids.push_back(channel_oid_);
  }
  Deactivate(oids);
}

// --- ChannelServant ----------------------------------------------------------

CNCA::EventChannelFactory_ptr ChannelServant::MyFactory() { return CNCA::EventChannelFactory::_nil(); }

CNCA::ConsumerAdmin_ptr ChannelServant::default_consumer_admin() { return core_->GetAdmin(0); }

CNCA::SupplierAdmin_ptr ChannelServant::default_supplier_admin() { throw CORBA::NO_IMPLEMENT(); }

CosNotifyFilter::FilterFactory_ptr ChannelServant::default_filter_factory() {
  return CosNotifyFilter::FilterFactory::_nil();
}

CNCA::ConsumerAdmin_ptr ChannelServant::new_for_consumers(CNCA::InterFilterGroupOperator,
                                                          CNCA::AdminID& id) {
  return core_->NewAdmin(&id);
}

CNCA::SupplierAdmin_ptr ChannelServant::new_for_suppliers(CNCA::InterFilterGroupOperator,
                                                          CNCA::AdminID&) {
  throw CORBA::NO_IMPLEMENT();
}

CNCA::ConsumerAdmin_ptr ChannelServant::get_consumeradmin(CNCA::AdminID id) {
  return core_->GetAdmin(id);
}

CNCA::SupplierAdmin_ptr ChannelServant::get_supplieradmin(CNCA::AdminID) {
  throw CNCA::AdminNotFound();
}

CNCA::AdminIDSeq* ChannelServant::get_all_consumeradmins() { return core_->AdminIds(); }

CNCA::AdminIDSeq* ChannelServant::get_all_supplieradmins() { return new CNCA::AdminIDSeq; }

CosEventChannelAdmin::ConsumerAdmin_ptr ChannelServant::for_consumers() {
  CNCA::ConsumerAdmin_var admin = core_->GetAdmin(0);
  return CosEventChannelAdmin::ConsumerAdmin::_duplicate(admin.in());
}

CosEventChannelAdmin::SupplierAdmin_ptr ChannelServant::for_suppliers() {
  throw CORBA::NO_IMPLEMENT();
}

// The channel belongs to its database; clients cannot destroy it.
void ChannelServant::destroy() { throw CORBA::NO_PERMISSION(); }

// --- ConsumerAdminServant --------------------------------------------------------------

CosNotifyFilter::MappingFilter_ptr ConsumerAdminServant::priority_filter() {
  return CosNotifyFilter::MappingFilter::_nil();
}
void ConsumerAdminServant::priority_filter(CosNotifyFilter::MappingFilter_ptr) { throw CORBA::NO_IMPLEMENT(); }
CosNotifyFilter::MappingFilter_ptr ConsumerAdminServant::lifetime_filter() {
  return CosNotifyFilter::MappingFilter::_nil();
}
void ConsumerAdminServant::lifetime_filter(CosNotifyFilter::MappingFilter_ptr) { throw CORBA::NO_IMPLEMENT(); }

CNCA::ProxyIDSeq* ConsumerAdminServant::pull_suppliers() { return new CNCA::ProxyIDSeq; }

CNCA::ProxyIDSeq* ConsumerAdminServant::push_suppliers() { return core_->ProxyIds(id_); }

CNCA::ProxySupplier_ptr ConsumerAdminServant::get_proxy_supplier(CNCA::ProxyID id) {
  return core_->GetProxy(id_, id);
}

CNCA::ProxySupplier_ptr ConsumerAdminServant::obtain_notification_pull_supplier(CNCA::ClientType,
                                                                        CNCA::ProxyID&) {
  throw CORBA::NO_IMPLEMENT();
}

CNCA::ProxySupplier_ptr ConsumerAdminServant::obtain_notification_push_supplier(CNCA::ClientType ctype,
                                                                        CNCA::ProxyID& id) {
  if (ctype != CNCA::STRUCTURED_EVENT) throw CORBA::NO_IMPLEMENT();
  return core_->NewProxy(id_, &id);
}

void ConsumerAdminServant::destroy() { core_->DestroyAdmin(id_); }

CosEventChannelAdmin::ProxyPushSupplier_ptr ConsumerAdminServant::obtain_push_supplier() {
  throw CORBA::NO_IMPLEMENT();
}

CosEventChannelAdmin::ProxyPullSupplier_ptr ConsumerAdminServant::obtain_pull_supplier() {
  throw CORBA::NO_IMPLEMENT();
}

}  // namespace zl::sim
