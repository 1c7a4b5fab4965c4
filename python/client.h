// zl.Client: the Python face of one simulator client (ZLSim).
//
// Each instance owns a ClientState: the ZLSim, created by initialisation
// and destroyed by deallocation (or by the module's exit hook), and the lock
// that makes the instance's calls run one at a time. Every method parses
// its arguments under the interpreter lock, then releases the interpreter
// lock and takes the client's lock around its call into the library, so
// that a tag-change upcall or another thread can run Python meanwhile and
// `disconnect` cannot free what another thread is using. A client made with
// raise_errors=True raises a zl.Error (errors.h) where a failed call would
// give its failure value.
#ifndef ZL_PYTHON_CLIENT_H_
#define ZL_PYTHON_CLIENT_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <COS/CosNotifyComm.hh>

#include <atomic>
#include <memory>
#include <mutex>

#include "broker/zl_sim.h"

namespace zl {
namespace py {

class QuestionDesk;

// The C++ side of one zl.Client; lives from object creation to deallocation.
struct ClientState {
  // Held around every use of `sim` (never together with the interpreter
  // lock: it is taken after the interpreter lock was released).
  std::mutex mu;
  // Owned; null until initialisation succeeds and again after the exit
  // hook. Written under `mu`; read under `mu`, or under the interpreter lock
  // for the missing-client checks.
  std::atomic<ZLSim*> sim{nullptr};
  // Operator questions (questions.h): made by the first setquestionhandler;
  // outlives `sim`, which may hold it as its client interface. The pointer
  // is guarded by the interpreter lock.
  std::shared_ptr<QuestionDesk> questions;
  // The zl.Callback registered to this client (callback.h); borrowed (its
  // servant keeps it alive while registered); null when none. Guarded by
  // the interpreter lock.
  PyObject* callback = nullptr;
  // That callback's consumer reference, which every successful connect
  // connects to the server's notifications again; nil when none. Guarded by
  // `mu`.
  CosNotifyComm::StructuredPushConsumer_var consumer;
  // Raising mode (zl.Client(options, raise_errors=True)): a failed
  // operation raises a zl.Error (errors.h) instead of giving its failure
  // value. Guarded by the interpreter lock.
  bool raise_errors = false;
};

struct ClientObject {
  PyObject_HEAD
  ClientState* state;  // null only when creation ran out of memory
};

extern PyTypeObject ClientType;

// Readies ClientType: 0, or -1 with a Python error set.
int ReadyClientType();

// The client's ZLSim, null when its initialisation did not succeed (or the
// interpreter is exiting). Needs the interpreter lock; borrowed.
ZLSim* ClientSim(PyObject* client);

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_CLIENT_H_
