// The module's shutdown at interpreter exit.
//
// The module registers ShutdownAtExit with Python's atexit from its
// initialisation. It runs once, in the thread that finalises the
// interpreter, with the interpreter lock held: it sets the closing flag
// (upcalls from ORB threads then refuse without touching Python), releases
// the interpreter lock, destroys every live client's ZLSim (which stops its
// scenario workers, client timer, notifications and message listener) and
// stops OrbRunner and the ORB, then takes the interpreter lock back. Doing
// this while holding the interpreter lock, or later (Py_AtExit, the module's
// free hook), hangs or aborts the process with an upcall in flight.
//
// The registry of live clients is guarded by its own mutex, which is never
// held while waiting for the interpreter lock.
#ifndef ZL_PYTHON_EXIT_HOOK_H_
#define ZL_PYTHON_EXIT_HOOK_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zl {
namespace py {

struct ClientState;

// True once the exit hook has begun. Any thread; no lock needed.
bool Closing();

// Called before a client first makes a ZLSim (which creates the ORB
// holder); the exit hook stops the ORB only when one was made. Any thread.
void NoteOrbInUse();
bool OrbInUse();

// zl._orbstate() -> dict: "init_count", "runners" and "exit_hooks" of the
// process's ORB: how many times it was initialised, how many OrbRunner
// threads were started and how many exit handlers were registered for it
// (1 each once a client was made, whatever the threads; 0 before). For tests
// and diagnosis: it creates nothing.
PyObject* OrbState(PyObject* module, PyObject* unused);

// Adds and removes a client of the registry the exit hook walks. Any thread.
void RegisterClient(ClientState* state);
void UnregisterClient(ClientState* state);

// Registers the exit hook with Python's atexit: 0, or -1 with a Python error.
int RegisterExitHook();

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_EXIT_HOOK_H_
