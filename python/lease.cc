// zl.Lease(client, database): creation, the methods, deallocation.
#include "lease.h"

#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "broker/naming_lease.h"
#include "client.h"
#include "exit_hook.h"
#include "text.h"

namespace zl {
namespace py {
namespace {

struct LeaseState {
  std::mutex mu;                      // held around every use of `lease`
  std::unique_ptr<NamingLease> lease; // set by initialisation; guarded by mu
  std::string database;               // constant after initialisation
};

struct LeaseObject {
  PyObject_HEAD
  LeaseState* state;
};

PyObject* LeaseNew(PyTypeObject* type, PyObject*, PyObject*) {
  auto* self = reinterpret_cast<LeaseObject*>(type->tp_alloc(type, 0));
  if (self == nullptr) return nullptr;
  self->state = new (std::nothrow) LeaseState;
  if (self->state == nullptr) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  return reinterpret_cast<PyObject*>(self);
}

// zl.Lease(client, database): the Naming Service is the client's (found as
// connect finds it); nothing is taken yet.
int LeaseInit(PyObject* object, PyObject* args, PyObject*) {
  auto* self = reinterpret_cast<LeaseObject*>(object);
  PyObject* client;
  const char* database;
  if (!PyArg_ParseTuple(args, "O!s", &ClientType, &client, &database)) return -1;
  ZLSim* sim = ClientSim(client);
  if (sim == nullptr) {
    RaiseRuntime(kNotInitialised);
    return -1;
  }
  ClientState* client_state = reinterpret_cast<ClientObject*>(client)->state;
  LeaseState* state = self->state;
  bool made = true;
  Py_BEGIN_ALLOW_THREADS
  {
    CosNaming::NamingContext_var root;
    {
      std::lock_guard<std::mutex> lock(client_state->mu);
      if (ZLSim* s = client_state->sim.load()) {
        root = s->NamingContext();
      }
    }
    std::lock_guard<std::mutex> lock(state->mu);
    state->lease.reset(new (std::nothrow) NamingLease(root.in(), database));
    made = state->lease != nullptr;
  }
  Py_END_ALLOW_THREADS
  if (!made) {
    PyErr_NoMemory();
    return -1;
  }
  state->database = database;
  return 0;
}

void LeaseDealloc(PyObject* object) {
  auto* self = reinterpret_cast<LeaseObject*>(object);
  // Not released here: the lease is given back by release(), or taken over
  // once this process has ended. Freeing makes no remote call. After the
  // exit hook the ORB is gone, and with it what the lease's references
  // point into: they are left to the process's end.
  if (!Closing()) delete self->state;
  Py_TYPE(object)->tp_free(object);
}

// Runs `call` on the lease with the interpreter lock released and the
// lease's lock held; `fallback` for a lease that was never initialised or
// once the module has shut down.
template <class R, class Call>
R Run(LeaseObject* self, R fallback, Call&& call) {
  R result = fallback;
  LeaseState* state = self->state;
  if (Closing()) return result;
  Py_BEGIN_ALLOW_THREADS
  {
    std::lock_guard<std::mutex> lock(state->mu);
    if (state->lease) result = call(*state->lease);
  }
  Py_END_ALLOW_THREADS
  return result;
}

PyObject* Acquire(LeaseObject* self, PyObject*) {
  return PyLong_FromLong(Run(self, -1L, [](NamingLease& l) { return long(l.Acquire()); }));
}

PyObject* Release(LeaseObject* self, PyObject*) {
  return PyLong_FromLong(Run(self, -1L, [](NamingLease& l) { return long(l.Release()); }));
}

PyObject* Held(LeaseObject* self, PyObject*) {
  return PyBool_FromLong(Run(self, false, [](NamingLease& l) { return l.Held(); }));
}

PyObject* Error(LeaseObject* self, PyObject*) {
  return TextToStr(Run(self, std::string(), [](NamingLease& l) { return l.error(); }));
}

PyObject* Database(PyObject* object, void*) {
  return TextToStr(reinterpret_cast<LeaseObject*>(object)->state->database);
}

#define ZL_LEASE_METHOD(name, function, doc) \
  {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)), METH_NOARGS, doc}

PyMethodDef lease_methods[] = {
    ZL_LEASE_METHOD("acquire", Acquire,
                    "Takes the lease.\n\n"
                    "acquire() -> int: 1 when this process holds it now (newly taken,\n"
                    "held already, or taken over from a holder that no longer answers),\n"
                    "0 when a holder that answers has it, -1 when the Naming Service\n"
                    "failed (see error())."),
    ZL_LEASE_METHOD("release", Release,
                    "Gives the lease back.\n\n"
                    "release() -> int: 1 when this process's lease was removed, 0 when\n"
                    "the lease was not this process's, -1 when the Naming Service failed."),
    ZL_LEASE_METHOD("held", Held,
                    "Whether this process holds the lease now.\n\nheld() -> bool"),
    ZL_LEASE_METHOD("error", Error,
                    "The reason of the last failure.\n\nerror() -> str (\"\" after a success)"),
    {nullptr, nullptr, 0, nullptr},
};

#undef ZL_LEASE_METHOD

PyGetSetDef lease_getset[] = {
    {const_cast<char*>("database"), Database, nullptr,
     const_cast<char*>("The database this lease is for."), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject LeaseType{};

int ReadyLeaseType() {
  if (PyType_HasFeature(&LeaseType, Py_TPFLAGS_READY)) return 0;
  Py_SET_REFCNT(&LeaseType, 1);  // a static type object is never freed
  LeaseType.tp_name = "zl.Lease";
  LeaseType.tp_doc =
      "Lease(client, database): a lease of one database in the client's Naming\n"
      "Service, so that the workers of a campaign never share a database.\n"
      "\n"
      "acquire() binds {database, \"ZelvikLease\"} in the context \"leases\" to an\n"
      "object of this process; the Naming Service refuses a second holder. A\n"
      "lease whose holder no longer answers (its process ended) is taken over.\n"
      "release() unbinds it.";
  LeaseType.tp_basicsize = sizeof(LeaseObject);
  LeaseType.tp_flags = Py_TPFLAGS_DEFAULT;
  LeaseType.tp_new = LeaseNew;
  LeaseType.tp_init = LeaseInit;
  LeaseType.tp_dealloc = LeaseDealloc;
  LeaseType.tp_methods = lease_methods;
  LeaseType.tp_getset = lease_getset;
  return PyType_Ready(&LeaseType);
}

}  // namespace py
}  // namespace zl
