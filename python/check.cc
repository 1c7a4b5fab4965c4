// zl.checkscenario and zl.ScenarioDiagnostic (check.h).
#include "check.h"

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "scenario/scenario_check.h"
#include "text.h"

namespace zl {
namespace py {
namespace {

// zl.ScenarioDiagnostic: a named tuple of one finding.
PyTypeObject* g_diagnostic_type = nullptr;  // made once by AddCheckTypes

PyStructSequence_Field kDiagnosticFields[] = {
    {"file", "the file as a run names it: the path checked, or a subtest beside it"},
    {"line", "1-based line of the file"},
    {"column", "1-based column (byte) of the word concerned"},
    {"severity", "\"error\" or \"warning\""},
    {"code", "a stable code, such as \"unknown-keyword\""},
    {"message", "what is wrong; for a statement error the run's own text"},
    {nullptr, nullptr},
};

PyStructSequence_Desc kDiagnosticDesc = {
    "zl.ScenarioDiagnostic",
    "One finding of checkscenario: (file, line, column, severity, code, message).",
    kDiagnosticFields,
    6,
};

// A str of `value`, or an iterable of str, into `*out`; false with a Python
// error set otherwise.
bool Strings(PyObject* value, const char* what, std::vector<std::string>* out) {
  if (PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s must be an iterable of str, not a str", what);
    return false;
  }
  PyObject* iterator = PyObject_GetIter(value);
  if (iterator == nullptr) {
    PyErr_Format(PyExc_TypeError, "%s must be an iterable of str", what);
    return false;
  }
  bool ok = true;
  while (PyObject* item = PyIter_Next(iterator)) {
    const char* text = PyUnicode_Check(item) ? PyUnicode_AsUTF8(item) : nullptr;
    if (text == nullptr) {
      if (!PyErr_Occurred()) PyErr_Format(PyExc_TypeError, "%s must hold only str", what);
      ok = false;
    } else {
      out->emplace_back(text);
    }
    Py_DECREF(item);
    if (!ok) break;
  }
  Py_DECREF(iterator);
  return ok && !PyErr_Occurred();
}

// One diagnostic as a zl.ScenarioDiagnostic; null with a Python error set.
PyObject* ToPython(const Diagnostic& d) {
  PyObject* item = PyStructSequence_New(g_diagnostic_type);
  if (item == nullptr) return nullptr;
  PyObject* fields[] = {
      PyUnicode_DecodeFSDefault(d.file.c_str()),
      PyLong_FromUnsignedLong(d.line),
      PyLong_FromUnsignedLong(d.column),
      PyUnicode_FromString(d.severity == Severity::kError ? "error" : "warning"),
      PyUnicode_FromString(d.code),
      TextToStr(d.message),
  };
  bool ok = true;
  for (int i = 0; i < 6; ++i) {
    ok = ok && fields[i] != nullptr;
    PyStructSequence_SetItem(item, i, fields[i]);  // steals; a null slot is fine to drop
  }
  if (!ok) {
    Py_DECREF(item);
    return nullptr;
  }
  return item;
}

}  // namespace

const char kCheckScenarioDoc[] =
    "checkscenario(path, tags=None, args=None) -> list[ScenarioDiagnostic]: the static check of "
    "a scenario file and its subtests, without a server. tags: the tag names that exist (None: "
    "not looked up). args: the options text of a run (str) or its arguments $1..$8 (a sequence "
    "of str); None: not known.";

PyObject* CheckScenarioFunction(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kKeywords[] = {"path", "tags", "args", nullptr};
  PyObject* path_bytes = nullptr;
  PyObject* tags = Py_None;
  PyObject* arguments = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O&|OO", const_cast<char**>(kKeywords),
                                   PyUnicode_FSConverter, &path_bytes, &tags, &arguments)) {
    return nullptr;
  }
  const std::string path(PyBytes_AS_STRING(path_bytes));
  Py_DECREF(path_bytes);
  CheckOptions options;
  if (tags != Py_None) {
    std::vector<std::string> names;
    if (!Strings(tags, "tags", &names)) return nullptr;
    options.tags = TagSet(names);
  }
  if (PyUnicode_Check(arguments)) {
    const char* text = PyUnicode_AsUTF8(arguments);
    if (text == nullptr) return nullptr;
    options.arguments = ArgumentsOfOptions(text);
  } else if (arguments != Py_None) {
    std::vector<std::string> given;
    if (!Strings(arguments, "args", &given)) return nullptr;
    options.arguments = std::move(given);
  }

  std::vector<Diagnostic> found;
  bool no_memory = false;
  // The C-API boundary: nothing the check throws may cross it.
  Py_BEGIN_ALLOW_THREADS
  try {
    found = CheckScenario(path, options);
  } catch (const std::exception&) {
    no_memory = true;  // the check throws nothing else than allocation failures
  }
  Py_END_ALLOW_THREADS
  if (no_memory) return PyErr_NoMemory();

  PyObject* list = PyList_New(static_cast<Py_ssize_t>(found.size()));
  if (list == nullptr) return nullptr;
  for (std::size_t i = 0; i < found.size(); ++i) {
    PyObject* item = ToPython(found[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

int AddCheckTypes(PyObject* module) {
  if (g_diagnostic_type == nullptr) {
    g_diagnostic_type = PyStructSequence_NewType(&kDiagnosticDesc);
    if (g_diagnostic_type == nullptr) return -1;
  }
  Py_INCREF(g_diagnostic_type);
  if (PyModule_AddObject(module, "ScenarioDiagnostic",
                         reinterpret_cast<PyObject*>(g_diagnostic_type)) == 0) {
    return 0;
  }
  Py_DECREF(g_diagnostic_type);
  return -1;
}

}  // namespace py
}  // namespace zl
