#include "callback.h"

#include <ace/Log_Msg.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "broker/peer_servants.h"
#include "callback_servant.h"
#include "client.h"
#include "common/log.h"
#include "localdb/tag_filter.h"
#include "log_bridge.h"

namespace zl {
namespace py {
namespace {

PyObject* CallbackNew(PyTypeObject* type, PyObject*, PyObject*) {
  auto* self = reinterpret_cast<CallbackObject*>(type->tp_alloc(type, 0));
  if (self == nullptr) return nullptr;
  self->servant = nullptr;
  self->consumer = CosNotifyComm::StructuredPushConsumer::_nil();
  self->client = nullptr;
  self->weakrefs = nullptr;
  return reinterpret_cast<PyObject*>(self);
}

// Deactivates the servant in its POA and drops the reference and the servant.
// The interpreter lock is released meanwhile: deactivation waits for a
// delivery in flight, which needs that lock.
void Release(CallbackObject* self) {
  BaseZLCallback_i* servant = self->servant;
  CosNotifyComm::StructuredPushConsumer_ptr consumer = self->consumer;
  self->servant = nullptr;
  self->consumer = CosNotifyComm::StructuredPushConsumer::_nil();
  Py_BEGIN_ALLOW_THREADS
  if (!CORBA::is_nil(consumer) && servant != nullptr) {
    // The C-API boundary (also the type's deallocation): nothing may escape,
    // and the POA raises only CORBA exceptions; a servant it no longer knows
    // has nothing left to deactivate.
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

// Ends the registration of `self`, in an order that leaves nothing behind:
// the link to its client is cut, delivery stops (no `tagschanged` call
// starts after this returns), the client forgets the consumer and, with
// `tear_down`, leaves the notification channel, then the servant goes and
// with it the last reference the library held to `self`, which may free
// `self` unless the caller holds one. Gives whether a servant was held.
bool Unregister(CallbackObject* self, bool tear_down) {
  ClientState* state = self->client;
  if (state != nullptr) {
    state->callback = nullptr;
    self->client = nullptr;
  }
  PyObject* held = nullptr;
  if (self->servant != nullptr) held = self->servant->Detach();
  if (state != nullptr) {
    Py_BEGIN_ALLOW_THREADS
    {
      std::lock_guard<std::mutex> lock(state->mu);
      state->consumer = CosNotifyComm::StructuredPushConsumer::_nil();
      ZLSim* sim = state->sim.load();
      if (tear_down && sim != nullptr) sim->TearDownNotifications();
    }
    Py_END_ALLOW_THREADS
  }
  const bool registered = self->servant != nullptr;
  Release(self);
  Py_XDECREF(held);
  return registered;
}

// Arguments are ignored, so that subclasses may take their own. A
// registration held from before is ended: the object starts unregistered.
int CallbackInit(PyObject* object, PyObject*, PyObject*) {
  Unregister(reinterpret_cast<CallbackObject*>(object), true);
  return 0;
}

// A registered callback is never deallocated (its servant holds it): here
// it is unregistered, or its registration failed and left a servant
// without a Python reference.
void CallbackDealloc(PyObject* object) {
  auto* self = reinterpret_cast<CallbackObject*>(object);
  if (self->weakrefs != nullptr) PyObject_ClearWeakRefs(object);
  if (self->client != nullptr) {
    self->client->callback = nullptr;
    self->client = nullptr;
  }
  Release(self);
  Py_TYPE(object)->tp_free(object);
}

// One entry of register's `tags` into `entries`: false with a Python error
// set when it is not a str that names something.
bool AddTagEntry(PyObject* item, std::vector<std::string>* entries) {
  if (!PyUnicode_Check(item)) {
    PyErr_Format(PyExc_TypeError, "tags: every entry must be a str, not %.100s",
                 Py_TYPE(item)->tp_name);
    return false;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(item, &size);
  if (text == nullptr) return false;
  if (size == 0 || std::strlen(text) != static_cast<std::size_t>(size)) {
    PyErr_SetString(PyExc_ValueError,
                    size == 0 ? "tags: an entry is empty" : "tags: an entry holds a NUL character");
    return false;
  }
  entries->emplace_back(text, static_cast<std::size_t>(size));
  return true;
}

// The filter of register's `tags`: null for None (every tag), else one of
// the iterable's entries. Gives false with a Python error set for anything
// else; a lone str is refused rather than taken letter by letter.
bool ParseTags(PyObject* tags, std::shared_ptr<const TagFilter>* filter) {
  filter->reset();
  if (tags == Py_None) return true;
  PyObject* iterator = nullptr;
  if (!PyUnicode_Check(tags) && !PyBytes_Check(tags)) iterator = PyObject_GetIter(tags);
  if (iterator == nullptr) {
    PyErr_Format(PyExc_TypeError, "tags must be an iterable of tag names or patterns, not %.100s",
                 Py_TYPE(tags)->tp_name);
    return false;
  }
  std::vector<std::string> entries;
  bool ok = true;
  while (PyObject* item = PyIter_Next(iterator)) {
    ok = AddTagEntry(item, &entries);
    Py_DECREF(item);
    if (!ok) break;
  }
  Py_DECREF(iterator);
  if (!ok || PyErr_Occurred()) return false;
  // The C-API boundary: an allocation failure becomes MemoryError.
  try {
    *filter = std::make_shared<const TagFilter>(std::move(entries));
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return false;
  }
  return true;
}

// register(client, *, tags=None): replaces an earlier registration by a
// fresh servant and connects it to the client's value-notifier channel;
// with `tags`, the servant delivers only the changes of those tags (the
// filter is made first, so that bad `tags` leave an earlier registration
// as it was). register(None) only ends the registration. The channel is set
// up with the interpreter lock released and the client's lock held: it
// calls the server, and an upcall of an earlier registration may need the
// lock.
PyObject* Register(PyObject* object, PyObject* args, PyObject* kwargs) {
  auto* self = reinterpret_cast<CallbackObject*>(object);
  static const char* const kKeywords[] = {"", "tags", nullptr};
  char** keywords = const_cast<char**>(kKeywords);
  PyObject* client = nullptr;
  PyObject* tags = Py_None;
  if (PyArg_ParseTupleAndKeywords(args, kwargs, "O|$O:register", keywords, &client, &tags) &&
      client == Py_None) {
    Unregister(self, true);
    return PyLong_FromLong(0);
  }
  PyErr_Clear();
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!|$O:register", keywords, &ClientType,
                                   &client, &tags)) {
    WriteErrorLine("ZLCallback.register() could not parse parameters");
    FlushLogLines();
    return nullptr;
  }
  std::shared_ptr<const TagFilter> filter;
  if (!ParseTags(tags, &filter)) return nullptr;
  if (ClientSim(client) == nullptr) {
    WriteErrorLine("zl.Client object passed to ZLCallback.register was not initialied");
    FlushLogLines();
    return PyLong_FromLong(-1);
  }
  ClientState* state = reinterpret_cast<ClientObject*>(client)->state;
  // One registration per callback: its earlier client stops pushing to it.
  // One per client: the channel connection of another callback is replaced
  // below, so that callback is released too.
  Unregister(self, self->client != state);
  if (state->callback != nullptr) {
    Unregister(reinterpret_cast<CallbackObject*>(state->callback), false);
  }
  auto* servant = new BaseZLCallback_i(std::move(filter));
  self->servant = servant;
  // The C-API boundary: nothing may escape; a servant that cannot be
  // activated is a failed registration (-1, as the client's own refusals).
  try {
    CORBA::Object_var reference = ActivatePeerServant(servant);
    self->consumer = CosNotifyComm::StructuredPushConsumer::_narrow(reference.in());
  } catch (const CORBA::Exception& e) {
    ZL_LOG_CORBA(LM_ERROR, e);
    return PyLong_FromLong(-1);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  CosNotifyComm::StructuredPushConsumer_ptr consumer = self->consumer;
  long result = -1;
  Py_BEGIN_ALLOW_THREADS
  {
    std::lock_guard<std::mutex> lock(state->mu);
    if (ZLSim* sim = state->sim.load()) result = sim->SetupNotifications(consumer);
    if (result == 0) state->consumer = CosNotifyComm::StructuredPushConsumer::_duplicate(consumer);
  }
  Py_END_ALLOW_THREADS
  if (result == 0) {
    servant->SetCallback(object);
    self->client = state;
    state->callback = object;
  } else {
    WriteErrorLine("SetupNotifications() returned " + std::to_string(result) +
                   " in ZLCallback.register");
  }
  FlushLogLines();
  return PyLong_FromLong(result);
}

// unregister(): ends the registration; True when there was one.
PyObject* UnregisterMethod(PyObject* object, PyObject*) {
  return PyBool_FromLong(Unregister(reinterpret_cast<CallbackObject*>(object), true));
}

// The default handler: ignores the change and gives 0.
PyObject* TagsChanged(PyObject*, PyObject*) { return PyLong_FromLong(0); }

PyMethodDef callback_methods[] = {
    {"register", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Register)),
     METH_VARARGS | METH_KEYWORDS,
     "Registers this callback with the passed zl.Client\n"
     "\n"
     "register(client, *, tags=None) -> int: 0 when tag changes will arrive,\n"
     "else -1 (the client is not connected, the server has no channel\n"
     "for them, or the server cannot call this client back: a client\n"
     "listening on loopback only and a server on another host; the reason\n"
     "is logged as an error). A registration with another client ends first.\n"
     "register(None) ends the registration, as unregister() does, and\n"
     "gives 0.\n"
     "\n"
     "tags: an iterable of tag names and patterns; only the changes of\n"
     "those tags reach `tagschanged`. A name matches without regard to the\n"
     "case of its letters; in a pattern \"*\" stands for any run of\n"
     "characters (also none) and \"?\" for exactly one. The other changes\n"
     "are dropped as they arrive, before any Python object is made; an\n"
     "empty iterable delivers nothing. None (the default): every change."},
    {"unregister", UnregisterMethod, METH_NOARGS,
     "Ends this callback's registration\n"
     "\n"
     "True when it was registered. No `tagschanged` call starts after it\n"
     "returns, and the library no longer holds the callback: it is freed\n"
     "once the script drops it."},
    {"tagschanged", TagsChanged, METH_VARARGS,
     "Handle notification of changed tags\n"
     "\n"
     "Called once per changed tag. The value it returns is not used (the\n"
     "default gives 0)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void ReleaseRegisteredCallback(ClientState* state) {
  if (state != nullptr && state->callback != nullptr) {
    Unregister(reinterpret_cast<CallbackObject*>(state->callback), false);
  }
}

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
  CallbackType.tp_weaklistoffset = offsetof(CallbackObject, weakrefs);
  CallbackType.tp_methods = callback_methods;
  return PyType_Ready(&CallbackType);
}

}  // namespace py
}  // namespace zl
