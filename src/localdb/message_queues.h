// The four queues of formatted server messages of one client, by severity,
// each bounded in bytes and counting what it had to drop.
//
// Thread-safe: the event listener appends while the host reads; every step
// runs under `mu_`, held only for that step. A host that waits for messages
// without polling sets an arrival hook, which the appending thread calls
// after each message it offered; `hook_mu_` guards the hook, and neither
// lock is held while the hook runs.
#ifndef ZL_LOCALDB_MESSAGE_QUEUES_H_
#define ZL_LOCALDB_MESSAGE_QUEUES_H_

#include <omniORB4/CORBA.h>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "zemr.hh"

namespace zl {

class MessageQueues {
 public:
  // A queue is full once the sizes of its texts, each counted with its
  // terminating zero, reach this many bytes.
  static constexpr std::size_t kQueueLimit = 16384;

  // Queues `text` by `msg_type` (1 error, 2 warning, 4 debug, anything else
  // information), or drops it and counts the drop when that queue is full.
  // Gives true when queued. Then calls the arrival hook, if any (also
  // after a drop: the drop notice is news too).
  bool Offer(CORBA::ULong msg_type, std::string text);

  // Sets the hook that Offer calls after each message (null: none). It runs
  // in the thread that offers (the message listener, or a host thread that
  // pulled messages itself) once the message is in its queue, with no lock
  // of the queues held; it must be quick and must not block. An Offer that
  // began before a change of the hook may still run the earlier hook once
  // the change has returned.
  void SetArrivalHook(std::function<void()> hook);

  // Type 1..4: whether that queue has a message or a drop to report. Any
  // other type: whether any queue has.
  bool Exists(CORBA::ULong msg_type) const;

  // Type 1..4: the head of that queue; when it is empty and messages were
  // dropped, the type's drop notice ("More Warning messages were dropped"),
  // resetting its counter; else "". Any other type: the first queue in the
  // order error, warning, information, debug that gives something: its head,
  // or "More messages were dropped" for an empty queue with drops.
  std::string TakeNext(CORBA::ULong msg_type);

 private:
  enum Index { kError, kWarning, kInfo, kDebug, kCount };
  struct Queue {
    std::deque<std::string> texts;
    std::size_t bytes = 0;
    CORBA::Long dropped = 0;
  };
  static int IndexOf(CORBA::ULong msg_type);  // -1 for "any"
  static int IndexForOffer(CORBA::ULong msg_type);
  static std::string TakeHead(Queue& q);

  mutable std::mutex mu_;
  std::array<Queue, kCount> queues_;  // guarded by mu_

  std::mutex hook_mu_;
  std::shared_ptr<const std::function<void()>> hook_;  // guarded by hook_mu_
};

// The text of one server message: "M/D/YYYY hh:mm:ss.mmm in ROUTINE) TEXT",
// in local time, month and day not padded, milliseconds truncated.
std::string FormatServerMessage(const ZEMR::ZLMessage& msg);

}  // namespace zl

#endif  // ZL_LOCALDB_MESSAGE_QUEUES_H_
