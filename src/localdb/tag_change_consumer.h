// TagChangeConsumer: the structured push consumer that a host connects to
// the server's value-notifier channel (SetupNotifications) to receive tag
// changes, with an optional filter of the tags it wants (tag_filter.h).
//
// A host derives from it and implements Deliver, which gets the chosen
// changes of one event together, in the order sent, and is never called
// for an event without one. The filter is applied as the request is read
// from the connection: the event's body is read in place from the request
// (ReadTagChanges), so a change that is not chosen costs its reading and
// its match only, and only the chosen names are copied. A call made in
// this process (never the server's) arrives as push_structured_event with
// the event already unmarshalled, and takes the same filter.
//
// Threads: events arrive on the ORB's threads, one at a time per
// connection; the filter is fixed at construction, so nothing here is
// locked. Created, activated and destroyed by the host.
#ifndef ZL_LOCALDB_TAG_CHANGE_CONSUMER_H_
#define ZL_LOCALDB_TAG_CHANGE_CONSUMER_H_

#include <COS/CosNotifyComm.hh>
#include <omniORB4/CORBA.h>

#include <memory>

#include "localdb/event_decoding.h"
#include "localdb/tag_filter.h"

namespace zl {

class TagChangeConsumer : public POA_CosNotifyComm::StructuredPushConsumer {
 public:
  // `filter`: the tags whose changes are delivered; null for every tag.
  explicit TagChangeConsumer(std::shared_ptr<const TagFilter> filter);
  ~TagChangeConsumer() override = default;

  TagChangeConsumer(const TagChangeConsumer&) = delete;
  TagChangeConsumer& operator=(const TagChangeConsumer&) = delete;

  // The chosen changes of one event (not empty), in the order sent; valid
  // for the call only. Runs on an ORB thread; must not throw.
  virtual void Deliver(const TagChanges& changes) = 0;

  // An event whose body holds no readable ZLTagValueSeq is ignored.
  void push_structured_event(const CosNotification::StructuredEvent& event) override;
  // Nothing to do: the local database owns the connection.
  void disconnect_structured_push_consumer() override {}
  void offer_change(const CosNotification::EventTypeSeq&,
                    const CosNotification::EventTypeSeq&) override {}

  // The server's push_structured_event, read as described above; every
  // other request as the skeleton dispatches it.
  CORBA::Boolean _dispatch(omniCallHandle& handle) override;

  const TagFilter* filter() const { return filter_.get(); }

 private:
  const std::shared_ptr<const TagFilter> filter_;  // null: every change
};

}  // namespace zl

#endif  // ZL_LOCALDB_TAG_CHANGE_CONSUMER_H_
