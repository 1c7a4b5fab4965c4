#include "exit_hook.h"

#include <atomic>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "broker/orb_holder.h"
#include "client.h"

namespace zl {
namespace py {
namespace {

std::atomic<bool> closing{false};
std::atomic<bool> orb_in_use{false};

std::mutex registry_mu;
// Never destroyed: deallocations may still run after static destructors.
auto* const registry = new std::unordered_set<ClientState*>;  // guarded by registry_mu

PyObject* ShutdownAtExit(PyObject*, PyObject*) {
  if (closing.exchange(true)) Py_RETURN_NONE;
  Py_BEGIN_ALLOW_THREADS
  {
    // Each client's lock waits for a call still running in another thread
    // (bounded by the ORB's call time limit); the ZLSim is taken out under
    // it, so that thread finds the client gone afterwards.
    std::lock_guard<std::mutex> lock(registry_mu);
    for (ClientState* state : *registry) {
      ZLSim* sim;
      {
        std::lock_guard<std::mutex> client_lock(state->mu);
        sim = state->sim.exchange(nullptr);
      }
      delete sim;
    }
  }
  // Stops OrbRunner, then shuts the ORB down; does nothing when no client
  // ever made one (OrbHolder::instance would otherwise create the holder).
  if (OrbInUse()) OrbHolder::instance()->Shutdown();
  Py_END_ALLOW_THREADS
  Py_RETURN_NONE;
}

PyMethodDef shutdown_def = {"_zl_shutdown", ShutdownAtExit, METH_NOARGS,
                            "Stops every client of the zl module and the ORB."};

}  // namespace

bool Closing() { return closing.load(); }

void NoteOrbInUse() { orb_in_use = true; }

bool OrbInUse() { return orb_in_use.load(); }

PyObject* OrbState(PyObject*, PyObject*) {
  int init_count = 0;
  int runners = 0;
  int exit_hooks = 0;
  if (OrbInUse()) {
    const OrbHolder* holder = OrbHolder::instance();
    init_count = holder->initCount();
    runners = holder->runnerStarts();
    exit_hooks = holder->exitHandlers();
  }
  return Py_BuildValue("{s:i,s:i,s:i}", "init_count", init_count, "runners", runners,
                       "exit_hooks", exit_hooks);
}

void RegisterClient(ClientState* state) {
  std::lock_guard<std::mutex> lock(registry_mu);
  registry->insert(state);
}

void UnregisterClient(ClientState* state) {
  std::lock_guard<std::mutex> lock(registry_mu);
  registry->erase(state);
}

int RegisterExitHook() {
  PyObject* hook = PyCFunction_New(&shutdown_def, nullptr);
  if (hook == nullptr) return -1;
  PyObject* atexit = PyImport_ImportModule("atexit");
  PyObject* result = atexit != nullptr ? PyObject_CallMethod(atexit, "register", "O", hook) : nullptr;
  Py_XDECREF(atexit);
  Py_DECREF(hook);
  if (result == nullptr) return -1;
  Py_DECREF(result);
  return 0;
}

}  // namespace py
}  // namespace zl
