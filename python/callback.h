// zl.Callback: the object a script subclasses to receive tag changes; its
// method `tagschanged` gets one zl.ZLTagChanges per changed tag.
//
// It holds the consumer servant that receives the server's notifications and
// the servant's object reference; both are set by registration with a
// connected zl.Client. A registration links the callback and the client
// (one callback per client, one client per callback): the client's every
// later successful connect sets the notifications up again for it, and it
// ends with unregister(), register(None), a registration on another client
// or of another callback on this client, the client's disconnect or the
// client's deallocation. While registered, the servant holds a counted
// reference to the callback, so it stays alive; after that, nothing of the
// library does. Slots run in the script's thread under the interpreter
// lock, which also guards the link.
#ifndef ZL_PYTHON_CALLBACK_H_
#define ZL_PYTHON_CALLBACK_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <COS/CosNotifyComm.hh>
#include <omniORB4/CORBA.h>

namespace zl {
namespace py {

struct ClientState;
class BaseZLCallback_i;

struct CallbackObject {
  PyObject_HEAD
  BaseZLCallback_i* servant;                          // owned; null until registered
  CosNotifyComm::StructuredPushConsumer_ptr consumer;  // owned; nil until registered
  ClientState* client;  // the client registered with; not owned; null when none
  PyObject* weakrefs;   // the weak reference list
};

extern PyTypeObject CallbackType;

// Readies CallbackType: 0, or -1 with a Python error set.
int ReadyCallbackType();

// Ends the registration of the callback registered to `state`, if any; the
// client's notifications are not touched (its disconnect tore them down).
// Needs the interpreter lock, and not the client's lock. The callback may be
// freed before this returns.
void ReleaseRegisteredCallback(ClientState* state);

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_CALLBACK_H_
