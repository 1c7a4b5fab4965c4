#include "localdb/tag_change_consumer.h"

#include <omniORB4/callDescriptor.h>
#include <omniORB4/callHandle.h>

#include <cstring>
#include <utility>

namespace zl {
namespace {

constexpr char kPushOperation[] = "push_structured_event";

// The server's push_structured_event(in StructuredEvent event), read by
// this consumer instead of the skeleton: the header and the filterable
// fields as the stubs read them, the body with ReadTagChanges. The ORB
// calls unmarshalArguments, then Upcall, then sends the (empty) reply.
class PushCall : public omniCallDescriptor {
 public:
  explicit PushCall(TagChangeConsumer* consumer)
      : omniCallDescriptor(&PushCall::Upcall, kPushOperation, sizeof kPushOperation,
                           false, nullptr, 0, true),
        consumer_(consumer) {}

  void unmarshalArguments(cdrStream& s) override {
    CosNotification::EventHeader header;
    header <<= s;
    CosNotification::FilterableEventBody filterable;
    filterable <<= s;
    chosen_ = ReadTagChanges(s, consumer_->filter(), changes_) && !changes_.changes.empty();
  }

 private:
  static void Upcall(omniCallDescriptor* call, omniServant*) {
    auto* self = static_cast<PushCall*>(call);
    if (self->chosen_) self->consumer_->Deliver(self->changes_);
  }

  TagChangeConsumer* const consumer_;
  TagChanges changes_;
  bool chosen_ = false;
};

}  // namespace

TagChangeConsumer::TagChangeConsumer(std::shared_ptr<const TagFilter> filter)
    : filter_(std::move(filter)) {}

void TagChangeConsumer::push_structured_event(const CosNotification::StructuredEvent& event) {
  TagChanges changes;
  if (DecodeTagChanges(event.remainder_of_body, filter_.get(), changes) &&
      !changes.changes.empty()) {
    Deliver(changes);
  }
}

CORBA::Boolean TagChangeConsumer::_dispatch(omniCallHandle& handle) {
  // A request from a connection (not a call made in this process, which
  // carries its event unmarshalled already).
  if (handle.iop_s() != nullptr && std::strcmp(handle.operation_name(), kPushOperation) == 0) {
    PushCall call(this);
    handle.upcall(this, call);
    return true;
  }
  return CosNotifyComm::_impl_StructuredPushConsumer::_dispatch(handle);
}

}  // namespace zl
