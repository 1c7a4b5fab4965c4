// The named-tuple types of the module (zl.ScenarioDiagnostic,
// zl.ScenarioKeyword): made once from their description and added to the
// module under their name, and their items made from their fields.
//
// Needs the interpreter lock.
#ifndef ZL_PYTHON_STRUCT_SEQUENCE_H_
#define ZL_PYTHON_STRUCT_SEQUENCE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zl {
namespace py {

// Makes the type of `desc` into `*type` the first time, and adds it to
// `module` as `name`; -1 with a Python error set when either fails.
inline int AddStructSequenceType(PyObject* module, const char* name, PyStructSequence_Desc* desc,
                                 PyTypeObject** type) {
  if (*type == nullptr) {
    *type = PyStructSequence_NewType(desc);
    if (*type == nullptr) return -1;
  }
  Py_INCREF(*type);
  if (PyModule_AddObject(module, name, reinterpret_cast<PyObject*>(*type)) == 0) return 0;
  Py_DECREF(*type);
  return -1;
}

// A new item of `type` holding `fields` (N new references, all taken,
// whether or not the item is made); null with a Python error set when one
// of them is null or the item cannot be made.
template <int N>
PyObject* NewStructSequence(PyTypeObject* type, PyObject* (&fields)[N]) {
  PyObject* item = PyStructSequence_New(type);
  bool ok = item != nullptr;
  for (int i = 0; i < N; ++i) {
    ok = ok && fields[i] != nullptr;
    if (item != nullptr) {
      PyStructSequence_SetItem(item, i, fields[i]);  // steals; a null slot is fine to drop
    } else {
      Py_XDECREF(fields[i]);
    }
  }
  if (!ok) {
    Py_XDECREF(item);
    return nullptr;
  }
  return item;
}

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_STRUCT_SEQUENCE_H_
