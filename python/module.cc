// The extension module zl._zl: its types, its constants, its exceptions
// (errors.h), addme, checksum, checkscenario, scenariokeywords, debug
// logging for the importing thread, the log bridge and the exit hook. The package zl
// (zl/__init__.py) imports it and re-exports every name, so that scripts
// see one module zl; the types keep their names "zl.Client", ...
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <ace/Log_Msg.h>

#include <cstdio>
#include <string>

#include "common/file_checksum.h"
#include "common/version.h"

#include "callback.h"
#include "check.h"
#include "client.h"
#include "doorbell.h"
#include "errors.h"
#include "exit_hook.h"
#include "keywords.h"
#include "lease.h"
#include "log_bridge.h"
#include "tag_changes.h"

namespace zl {
namespace py {
namespace {

PyObject* AddMe(PyObject*, PyObject* args) {
  int a;
  int b;
  if (!PyArg_ParseTuple(args, "ii", &a, &b)) return nullptr;
  return PyLong_FromLong(static_cast<long>(a) + b);
}

// checksum(data, /): the scenario checksum of a text (bytes or str, a str
// taken as UTF-8), exactly as a scenario run computes it over a file: what a
// "#$CHECK:" line of a scenario file or a test log section carries.
PyObject* Checksum(PyObject*, PyObject* args) {
  const char* data;
  Py_ssize_t size;
  if (!PyArg_ParseTuple(args, "s#", &data, &size)) return nullptr;
  std::string sum;
  if (size == 0) {
    // fmemopen refuses an empty buffer; the empty text is a file with no lines.
    std::FILE* file = std::tmpfile();
    if (file != nullptr) {
      sum = FileChecksum(file, 0);
      std::fclose(file);
    }
  } else {
    std::FILE* file = fmemopen(const_cast<char*>(data), static_cast<size_t>(size), "r");
    if (file != nullptr) {
      sum = FileChecksum(file, 0);
      std::fclose(file);
    }
  }
  if (sum.empty()) return PyErr_SetFromErrno(PyExc_OSError);
  return PyUnicode_FromStringAndSize(sum.data(), static_cast<Py_ssize_t>(sum.size()));
}

PyMethodDef module_methods[] = {
    {"addme", AddMe, METH_VARARGS, "Adds two numbers."},
    {"checksum", Checksum, METH_VARARGS,
     "checksum(data, /) -> str: the scenario checksum of a text, as a \"#$CHECK:\" line carries it."},
    // A METH_KEYWORDS function has three parameters: the table's type has two.
    {"checkscenario",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(CheckScenarioFunction)),
     METH_VARARGS | METH_KEYWORDS, kCheckScenarioDoc},
    {"scenariokeywords", ScenarioKeywordsFunction, METH_NOARGS, kScenarioKeywordsDoc},
    {"_orbstate", OrbState, METH_NOARGS,
     "_orbstate() -> dict: the process ORB's init_count, runners and exit_hooks (diagnosis)."},
    {nullptr, nullptr, 0, nullptr},
};

// Loaded as zl._zl: the name "_zl" makes the module's __name__ the full
// "zl._zl" (the import system supplies the package).
PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_zl", "Module containing ZL Client class", -1, module_methods,
    nullptr, nullptr, nullptr, nullptr,
};

struct IntConstant {
  const char* name;
  long value;
};

// In the order they are added to the module.
const IntConstant kConstants[] = {
    {"SUCCESS", 0},          {"ERR_BADPARAM", -1},     {"TagMode_Auto", 0},
    {"TagMode_Manual", 1},   {"MsgType_AllMsgs", 0},   {"MsgType_ErrorMsg", 1},
    {"MsgType_WarninMsg", 2}, {"MsgType_InfoMsg", 3},  {"MsgType_DebugMsg", 4},
};

// Adds `type` under `name`, taking a reference that the module keeps.
int AddType(PyObject* module, const char* name, PyTypeObject* type) {
  Py_INCREF(type);
  if (PyModule_AddObject(module, name, reinterpret_cast<PyObject*>(type)) == 0) return 0;
  Py_DECREF(type);
  return -1;
}

PyObject* MakeModule() {
  if (ReadyClientType() < 0 || ReadyCallbackType() < 0 || ReadyTagChangesType() < 0 ||
      ReadyLeaseType() < 0 || ReadyDoorbellType() < 0) {
    return nullptr;
  }
  PyObject* module = PyModule_Create(&module_def);
  if (module == nullptr) return nullptr;
  bool ok = PyModule_AddStringConstant(module, "__version__", kModuleVersion) == 0;
  for (const IntConstant& c : kConstants) {
    ok = ok && PyModule_AddIntConstant(module, c.name, c.value) == 0;
  }
  ok = ok && AddType(module, "Client", &ClientType) == 0 &&
       AddType(module, "ZLTagChanges", &TagChangesType) == 0 &&
       AddType(module, "Callback", &CallbackType) == 0 &&
       AddType(module, "Lease", &LeaseType) == 0 && AddErrorTypes(module) == 0 &&
       AddCheckTypes(module) == 0 && AddKeywordTypes(module) == 0 &&
       AddType(module, "_Doorbell", &DoorbellType) == 0 &&
       // The bridge's exit step runs after the exit hook (atexit runs last
       // registered first), so that it still takes the lines of the shutdown.
       InstallLogBridge() == 0 && RegisterExitHook() == 0;
  if (!ok) {
    Py_DECREF(module);
    return nullptr;
  }
  // LM_DEBUG for this thread and the process; the first client sets the
  // process mask back, so that debug lines stay with this thread.
  ACE_Log_Msg* log = ACE_LOG_MSG;
  log->priority_mask(log->priority_mask(ACE_Log_Msg::THREAD) | LM_DEBUG, ACE_Log_Msg::THREAD);
  ACE_Log_Msg::enable_debug_messages(LM_DEBUG);
  return module;
}

}  // namespace
}  // namespace py
}  // namespace zl

PyMODINIT_FUNC PyInit__zl() { return zl::py::MakeModule(); }
