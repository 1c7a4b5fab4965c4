#include "callback.h"

#include <ace/Log_Msg.h>

#include <cstdio>
#include <mutex>

#include "broker/peer_servants.h"
#include "callback_servant.h"
#include "client.h"
#include "common/log.h"

namespace zl {
namespace py {
namespace {

PyObject* CallbackNew(PyTypeObject* type, PyObject*, PyObject*) {
  auto* self = reinterpret_cast<CallbackObject*>(type->tp_alloc(type, 0));
  if (self == nullptr) return nullptr;
  self->servant = nullptr;
  self->consumer = CosNotifyComm::StructuredPushConsumer::_nil();
  return reinterpret_cast<PyObject*>(self);
}

// Deactivates the servant in its POA and drops the reference and the servant.
// The interpreter lock is released meanwhile: deactivation waits for a
// delivery in flight, which needs that lock.
void Release(CallbackObject* self) {
  PortableServer::ServantBase* servant = self->servant;
  CosNotifyComm::StructuredPushConsumer_ptr consumer = self->consumer;
  self->servant = nullptr;
  self->consumer = CosNotifyComm::StructuredPushConsumer::_nil();
  Py_BEGIN_ALLOW_THREADS
  if (!CORBA::is_nil(consumer) && servant != nullptr) {
    try {
      PortableServer::POA_var poa = servant->_default_POA();
      PortableServer::ObjectId_var id = poa->servant_to_id(servant);
      poa->deactivate_object(id.in());
    } catch (const CORBA::Exception& e) {
      ZL_LOG_CORBA(LM_DEBUG, e);
    }
  }
  CORBA::release(consumer);
  if (servant != nullptr) servant->_remove_ref();
  Py_END_ALLOW_THREADS
}

// Arguments are ignored, so that subclasses may take their own. A
// registration held from before is released: the object starts unregistered.
int CallbackInit(PyObject* object, PyObject*, PyObject*) {
  Release(reinterpret_cast<CallbackObject*>(object));
  return 0;
}

void CallbackDealloc(PyObject* object) {
  Release(reinterpret_cast<CallbackObject*>(object));
  Py_TYPE(object)->tp_free(object);
}

// register(client): replaces an earlier registration by a fresh servant and
// connects it to the client's value-notifier channel. The channel is set up
// with the interpreter lock released and the client's lock held: it calls
// the server, and an upcall of an earlier registration may need the lock.
PyObject* Register(PyObject* object, PyObject* args) {
  auto* self = reinterpret_cast<CallbackObject*>(object);
  PyObject* client = nullptr;
  if (!PyArg_ParseTuple(args, "O!:register", &ClientType, &client)) {
    std::fputs("ZLCallback.register() could not parse parameters\n", stderr);
    return nullptr;
  }
  if (ClientSim(client) == nullptr) {
    std::fputs("zl.Client object passed to ZLCallback.register was not initialied\n", stderr);
    return PyLong_FromLong(-1);
  }
  Release(self);
  auto* servant = new BaseZLCallback_i();
  self->servant = servant;
  try {
    CORBA::Object_var reference = ActivatePeerServant(servant);
    self->consumer = CosNotifyComm::StructuredPushConsumer::_narrow(reference.in());
  } catch (const CORBA::Exception& e) {
    ZL_LOG_CORBA(LM_ERROR, e);
    return PyLong_FromLong(-1);
  }
  ClientState* state = reinterpret_cast<ClientObject*>(client)->state;
  CosNotifyComm::StructuredPushConsumer_ptr consumer = self->consumer;
  long result = -1;
  Py_BEGIN_ALLOW_THREADS
  {
    std::lock_guard<std::mutex> lock(state->mu);
    if (ZLSim* sim = state->sim.load()) result = sim->localDb().SetupNotifications(consumer);
  }
  Py_END_ALLOW_THREADS
  if (result == 0) {
    servant->SetCallback(object);
  } else {
    std::fprintf(stderr, "SetupNotifications() returned %ld in ZLCallback.register\n", result);
  }
  return PyLong_FromLong(result);
}

// The default handler: ignores the change and gives 0.
PyObject* TagsChanged(PyObject*, PyObject*) { return PyLong_FromLong(0); }

PyMethodDef callback_methods[] = {
    {"register", Register, METH_VARARGS,
     "Registers this callback with the passed zl.Client\n\n"
     "register(client: Client) -> int: 0 when tag changes will arrive, else -1."},
    {"tagschanged", TagsChanged, METH_VARARGS,
     "Handle notification of changed tags\n\n"
     "tagschanged(change: ZLTagChanges) -> int. Override it in a subclass; "
     "the default ignores the change and gives 0."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

// Filled in by ReadyCallbackType: value-initialised here, so every slot not set
// there is empty.
PyTypeObject CallbackType{};

int ReadyCallbackType() {
  if (PyType_HasFeature(&CallbackType, Py_TPFLAGS_READY)) return 0;
  Py_SET_REFCNT(&CallbackType, 1);  // a static type object is never freed
  CallbackType.tp_name = "zl.Callback";
  CallbackType.tp_doc = "Client callback object that receives tag data changes";
  CallbackType.tp_basicsize = sizeof(CallbackObject);
  CallbackType.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  CallbackType.tp_new = CallbackNew;
  CallbackType.tp_init = CallbackInit;
  CallbackType.tp_dealloc = CallbackDealloc;
  CallbackType.tp_methods = callback_methods;
  return PyType_Ready(&CallbackType);
}

}  // namespace py
}  // namespace zl
