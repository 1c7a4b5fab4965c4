#include "callback_servant.h"

#include <cstring>
#include <vector>

#include "exit_hook.h"
#include "common/log.h"
#include "localdb/event_decoding.h"
#include "tag_changes.h"

namespace zl {
namespace py {

bool InterpreterAvailable() { return !Closing() && !_Py_IsFinalizing(); }

BaseZLCallback_i::BaseZLCallback_i() {
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

void BaseZLCallback_i::push_structured_event(const CosNotification::StructuredEvent& event) {
  std::vector<ZEMR::ZLTagValueEvent> changes;
  if (!DecodeTagChanges(event.remainder_of_body, changes) || changes.empty()) return;
  // Keeps this thread's Python thread state alive across the event, without
  // the interpreter lock: each change then takes the lock with
  // PyGILState_Ensure alone, instead of making and freeing a thread state.
  PyThreadState* outer = nullptr;
  PyGILState_STATE outer_gil = PyGILState_UNLOCKED;
  if (changes.size() > 1 && InterpreterAvailable()) {
    outer_gil = PyGILState_Ensure();
    outer = PyEval_SaveThread();
  }
  for (const ZEMR::ZLTagValueEvent& change : changes) Deliver(change);
  if (outer != nullptr) {
    PyEval_RestoreThread(outer);
    PyGILState_Release(outer_gil);
  }
}

void BaseZLCallback_i::Deliver(const ZEMR::ZLTagValueEvent& change) {
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
    PyObject* record = PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&TagChangesType));
    PyObject* result = nullptr;
    if (record != nullptr) {
      PyObject* tag = PyUnicode_DecodeUTF8(change.tagname.in(), std::strlen(change.tagname.in()), "replace");
      if (tag != nullptr && PyObject_SetAttrString(record, "tag", tag) == 0) {
        auto* fields = reinterpret_cast<TagChangesObject*>(record);
        fields->pve = change.newEUValue;
        fields->pv = change.newPVValue;
        fields->tagmode = change.currentMode == ZEMR::Auto ? 0 : 1;
        fields->secs = change.timeSecs;
        fields->usecs = change.timeuS;
        result = PyObject_CallMethod(callback, "tagschanged", "O", record);
      }
      Py_XDECREF(tag);
    }
    if (result == nullptr && PyErr_Occurred()) PyErr_WriteUnraisable(callback);
    Py_XDECREF(result);
    Py_XDECREF(record);
  }
  PyGILState_Release(gil);
}

}  // namespace py
}  // namespace zl
