// BaseZLCallback_i: the structured push consumer that receives the server's
// tag-change events for one zl.Callback and hands each change to it; with
// a filter (a subscription to chosen tags), only the changes of those tags.
//
// The events are read, and the filter applied, by TagChangeConsumer
// (tag_change_consumer.h), which hands over the chosen changes of each.
//
// Threads: created, registered and destroyed by the script's thread;
// Deliver runs in an ORB thread, one event at a time. The
// Python reference is written under the interpreter lock; the upcall checks
// it without the lock (an atomic pointer) and uses it only as read again
// under the lock, which it takes per tag change, so the script's thread can
// run between two changes. Once Detach has run (under the interpreter
// lock), no call of `tagschanged` starts any more. The filter is fixed at
// construction and tested on the ORB thread, before the interpreter lock is
// taken: a change it leaves out, or an event without a change it keeps,
// never touches the interpreter.
//
// The servant lives among the peer servants (peer_servants.h): its object
// id is random, so only the channel it was connected to can call it.
#ifndef ZL_PYTHON_CALLBACK_SERVANT_H_
#define ZL_PYTHON_CALLBACK_SERVANT_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <omniORB4/CORBA.h>

#include <atomic>
#include <memory>

#include "broker/peer_servants.h"
#include "localdb/tag_change_consumer.h"

namespace zl {
namespace py {

class BaseZLCallback_i : public TagChangeConsumer {
 public:
  // Starts with a counted reference to None. `filter`: the tags whose
  // changes are delivered; null for every tag. Needs the interpreter lock.
  explicit BaseZLCallback_i(std::shared_ptr<const TagFilter> filter = nullptr);
  // Drops the Python reference, taking the interpreter lock for it unless
  // the interpreter is closing (then the reference is left). Any thread.
  ~BaseZLCallback_i() override;

  BaseZLCallback_i(const BaseZLCallback_i&) = delete;
  BaseZLCallback_i& operator=(const BaseZLCallback_i&) = delete;

  // Replaces the Python reference by a counted one to `callback`. Needs the
  // interpreter lock.
  void SetCallback(PyObject* callback);

  // Ends delivery for good: gives the Python reference (owned by the caller
  // from now on; null when none) and silently skips every later change.
  // Needs the interpreter lock.
  PyObject* Detach();

  PortableServer::POA_ptr _default_POA() override { return PeerPoa(); }

  // Hands each change to `tagschanged`, in order (a mode outside the
  // enumeration is delivered as not Auto).
  void Deliver(const TagChanges& changes) override;

 private:
  // Converts one change into a zl.ZLTagChanges and calls `tagschanged` of
  // the registered object; an exception it raises is printed and cleared.
  void DeliverOne(const TagChangeView& change);

  std::atomic<PyObject*> callback_;  // owned reference; None until registered
  std::atomic<bool> detached_{false};
};

// True while the interpreter may still be entered from a foreign thread.
bool InterpreterAvailable();

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_CALLBACK_SERVANT_H_
