#include "broker/naming_lease.h"

#include <COS/CosEventComm.hh>

#include <mutex>
#include <utility>

#include "broker/caught_exception.h"
#include "broker/orb_holder.h"
#include "broker/peer_servants.h"
#include "broker/server_locator.h"

namespace zl {

const char kLeaseContext[] = "leases";
const char kLeaseKind[] = "ZelvikLease";
const char kLeaseTakeoverKind[] = "ZelvikLeaseTakeover";

namespace {

// The servant that stands for this process: the smallest interface at hand,
// whose one operation nobody calls. Owned by the POA once activated. It is a
// peer-called servant (other workers ask whether it still exists), so its id
// is random: a later process that reuses this one's port cannot answer for
// it and pin a dead holder's lease.
class LeaseHolder_i : public POA_CosEventComm::PushConsumer {
 public:
  PortableServer::POA_ptr _default_POA() override { return PeerPoa(); }
  void push(const CORBA::Any&) override { throw CORBA::NO_IMPLEMENT(); }
  void disconnect_push_consumer() override {}
};

}  // namespace

CORBA::Object_ptr LeaseHolderObject() {
  static std::mutex mu;
  // Guarded by mu. Never released: the ORB it belongs to is destroyed before
  // static destructors run.
  static CORBA::Object_ptr holder = CORBA::Object::_nil();
  std::lock_guard<std::mutex> lock(mu);
  if (CORBA::is_nil(holder) && !CORBA::is_nil(OrbHolder::instance()->orb())) {
    auto* servant = new LeaseHolder_i;
    holder = ActivatePeerServant(servant);
    servant->_remove_ref();  // the POA holds it from here on
  }
  return CORBA::Object::_duplicate(holder);
}

bool HolderAnswers(CORBA::Object_ptr holder) {
  if (CORBA::is_nil(holder)) return false;
  try {
    return !holder->_non_existent();
  } catch (const CORBA::TRANSIENT&) {
  } catch (const CORBA::OBJECT_NOT_EXIST&) {
  } catch (const CORBA::COMM_FAILURE&) {
  } catch (const CORBA::SystemException&) {
    return true;  // a holder that is there but busy (a time-out) still holds
  }
  return false;
}

NamingLease::NamingLease(CosNaming::NamingContext_ptr root, std::string database)
    : root_(CosNaming::NamingContext::_duplicate(root)), database_(std::move(database)) {}

CosNaming::NamingContext_ptr NamingLease::Context() {
  const CosNaming::Name name = OneComponentName(kLeaseContext, "");
  try {
    return root_->bind_new_context(name);
  } catch (const CosNaming::NamingContext::AlreadyBound&) {
    CORBA::Object_var object = root_->resolve(name);
    return CosNaming::NamingContext::_narrow(object.in());
  }
}

template <class Step>
NamingLease::Result NamingLease::OnNamingService(Step&& step) {
  error_.clear();
  if (CORBA::is_nil(root_)) {
    error_ = "no Naming Service";
    return kFailed;
  }
  try {
    return step();
  } catch (const CosNaming::NamingContext::NotFound&) {
    // The lease's name went between two calls (released meanwhile), or was
    // never bound: held by nobody that this process could act for.
    return kHeldByOther;
  } catch (...) {
    error_ = DescribeCaught(nullptr, nullptr, "unknown exception").text;
  }
  return kFailed;
}

NamingLease::Result NamingLease::Acquire() {
  return OnNamingService([&] {
    CORBA::Object_var me = LeaseHolderObject();
    if (CORBA::is_nil(me)) {
      error_ = "the client's ORB is not initialised";
      return kFailed;
    }
    CosNaming::NamingContext_var context = Context();
    const CosNaming::Name name = OneComponentName(database_.c_str(), kLeaseKind);
    try {
      context->bind(name, me.in());
      return kTaken;
    } catch (const CosNaming::NamingContext::AlreadyBound&) {
    }
    CORBA::Object_var holder = context->resolve(name);
    if (holder->_is_equivalent(me.in())) return kTaken;
    if (HolderAnswers(holder.in())) return kHeldByOther;
    return TakeOver(context.in(), holder.in());
  });
}

NamingLease::Result NamingLease::TakeOver(CosNaming::NamingContext_ptr context,
                                          CORBA::Object_ptr dead) {
  CORBA::Object_var me = LeaseHolderObject();
  const CosNaming::Name guard = OneComponentName(database_.c_str(), kLeaseTakeoverKind);
  try {
    context->bind(guard, me.in());
  } catch (const CosNaming::NamingContext::AlreadyBound&) {
    // Another process is taking it over, or died while doing so: a dead
    // guard is cleared for the next attempt.
    CORBA::Object_var other = context->resolve(guard);
    if (!HolderAnswers(other.in())) context->unbind(guard);
    return kHeldByOther;
  }
  Result result = kHeldByOther;
  try {
    const CosNaming::Name name = OneComponentName(database_.c_str(), kLeaseKind);
    CORBA::Object_var current = context->resolve(name);
    if (current->_is_equivalent(dead)) {
      context->rebind(name, me.in());
      result = kTaken;
    }
  } catch (const CosNaming::NamingContext::NotFound&) {
    // Released meanwhile: an ordinary bind next time.
  } catch (...) {
    context->unbind(guard);
    throw;
  }
  context->unbind(guard);
  return result;
}

NamingLease::Result NamingLease::Release() {
  return OnNamingService([&] {
    CORBA::Object_var me = LeaseHolderObject();
    CosNaming::NamingContext_var context = Context();
    const CosNaming::Name name = OneComponentName(database_.c_str(), kLeaseKind);
    CORBA::Object_var holder = context->resolve(name);
    if (CORBA::is_nil(me) || !holder->_is_equivalent(me.in())) return kHeldByOther;
    context->unbind(name);
    return kTaken;
  });
}

bool NamingLease::Held() {
  if (CORBA::is_nil(root_)) return false;
  try {
    CORBA::Object_var me = LeaseHolderObject();
    CosNaming::NamingContext_var context = Context();
    CORBA::Object_var holder = context->resolve(OneComponentName(database_.c_str(), kLeaseKind));
    return !CORBA::is_nil(me) && holder->_is_equivalent(me.in());
  } catch (...) {
    return false;
  }
}

}  // namespace zl
