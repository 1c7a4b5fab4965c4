#include "callback_servant.h"

#include <utility>
#include <vector>

#include "exit_hook.h"
#include "common/log.h"
#include "tag_changes.h"

namespace zl {
namespace py {

bool InterpreterAvailable() { return !Closing() && !_Py_IsFinalizing(); }

namespace {

// The method's name, made once (under the interpreter lock, which guards
// it) and kept for the process's life.
PyObject* TagsChangedName() {
  static PyObject* name = nullptr;
  if (name == nullptr) name = PyUnicode_InternFromString("tagschanged");
  return name;
}

}  // namespace

BaseZLCallback_i::BaseZLCallback_i(std::shared_ptr<const TagFilter> filter)
    : TagChangeConsumer(std::move(filter)) {
  Py_INCREF(Py_None);
  callback_.store(Py_None);
}

BaseZLCallback_i::~BaseZLCallback_i() {
  PyObject* callback = callback_.exchange(nullptr);
  if (callback == nullptr || !InterpreterAvailable()) return;
  PyGILState_STATE gil = PyGILState_Ensure();
  Py_DECREF(callback);
  PyGILState_Release(gil);
}

void BaseZLCallback_i::SetCallback(PyObject* callback) {
  Py_INCREF(callback);
  PyObject* old = callback_.exchange(callback);
  Py_XDECREF(old);
}

PyObject* BaseZLCallback_i::Detach() {
  detached_ = true;
  return callback_.exchange(nullptr);
}

void BaseZLCallback_i::Deliver(const TagChanges& chosen) {
  const std::vector<TagChangeView>& changes = chosen.changes;
  // Keeps this thread's Python thread state alive across the event, without
  // the interpreter lock: each change then takes the lock with
  // PyGILState_Ensure alone, instead of making and freeing a thread state.
  PyThreadState* outer = nullptr;
  PyGILState_STATE outer_gil = PyGILState_UNLOCKED;
  if (changes.size() > 1 && InterpreterAvailable()) {
    outer_gil = PyGILState_Ensure();
    outer = PyEval_SaveThread();
  }
  for (const TagChangeView& change : changes) DeliverOne(change);
  if (outer != nullptr) {
    PyEval_RestoreThread(outer);
    PyGILState_Release(outer_gil);
  }
}

void BaseZLCallback_i::DeliverOne(const TagChangeView& change) {
  if (detached_) return;
  PyObject* seen = callback_.load();
  if (seen == nullptr || seen == Py_None) {
    WriteErrorLine("#Whoa, there is no myself internal variable");
    return;
  }
  if (!InterpreterAvailable()) {
    WriteErrorLine("## Too late! Python is outta here, avoiding thread exit");
    return;
  }
  PyGILState_STATE gil = PyGILState_Ensure();
  // Read again under the lock: the script may have unregistered (and the
  // object may be gone) while this thread waited for it. The exit hook may
  // have begun meanwhile too.
  PyObject* callback = callback_.load();
  if (!detached_ && callback != nullptr && callback != Py_None && !Closing()) {
    // The record is made directly and the method called without a bound
    // method or an argument tuple: per change, one object and one call.
    PyObject* record = NewTagChanges(change);
    PyObject* name = TagsChangedName();
    PyObject* result = nullptr;
    if (record != nullptr && name != nullptr) {
      PyObject* args[] = {callback, record};
      result = PyObject_VectorcallMethod(name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    }
    if (result == nullptr && PyErr_Occurred()) PyErr_WriteUnraisable(callback);
    Py_XDECREF(result);
    Py_XDECREF(record);
  }
  PyGILState_Release(gil);
}

}  // namespace py
}  // namespace zl
