// zl.checkscenario and zl.ScenarioDiagnostic (check.h).
#include "check.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "scenario/scenario_check.h"
#include "struct_sequence.h"
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
  PyObject* fields[] = {
      PyUnicode_DecodeFSDefault(d.file.c_str()),
      PyLong_FromUnsignedLong(d.line),
      PyLong_FromUnsignedLong(d.column),
      PyUnicode_FromString(d.severity == Severity::kError ? "error" : "warning"),
      PyUnicode_FromString(d.code),
      TextToStr(d.message),
  };
  return NewStructSequence(g_diagnostic_type, fields);
}

// The whole file at `path` into `*text`; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Whether the check's `opened` (a path as the check resolved it) is the
// file `main` that the caller named: the same file on disk, or, for a file
// not on disk (a buffer never saved), the same path once made absolute.
bool SameFile(const std::string& opened, const std::string& main) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::equivalent(opened, main, error)) return true;
  const fs::path a = fs::absolute(opened, error).lexically_normal();
  const fs::path b = fs::absolute(main, error).lexically_normal();
  return !error && a == b;
}

// The text argument: a str (taken as UTF-8) or bytes, into `*out`; false
// with a Python error set for anything else.
bool TextArgument(PyObject* value, std::string* out) {
  const char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyUnicode_Check(value)) {
    data = PyUnicode_AsUTF8AndSize(value, &size);
    if (data == nullptr) return false;  // lone surrogates: not encodable
  } else if (PyBytes_Check(value)) {
    data = PyBytes_AS_STRING(value);
    size = PyBytes_GET_SIZE(value);
  } else {
    PyErr_Format(PyExc_TypeError, "text must be str or bytes, not %.100s",
                 Py_TYPE(value)->tp_name);
    return false;
  }
  out->assign(data, static_cast<std::size_t>(size));
  return true;
}

}  // namespace

const char kCheckScenarioDoc[] =
    "checkscenario(path, tags=None, args=None, text=None) -> list[ScenarioDiagnostic]: the "
    "static check of a scenario file and its subtests, without a server. tags: the tag names "
    "that exist (None: not looked up). args: the options text of a run (str) or its arguments "
    "$1..$8 (a sequence of str); None: not known. text: the content of the file at path (str "
    "or bytes), as an editor holds it unsaved; None: read from disk. Subtests are read from "
    "disk.";

PyObject* CheckScenarioFunction(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kKeywords[] = {"path", "tags", "args", "text", nullptr};
  PyObject* path_bytes = nullptr;
  PyObject* tags = Py_None;
  PyObject* arguments = Py_None;
  PyObject* text = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O&|OOO", const_cast<char**>(kKeywords),
                                   PyUnicode_FSConverter, &path_bytes, &tags, &arguments,
                                   &text)) {
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
  std::string main_text;
  if (text != Py_None) {
    if (!TextArgument(text, &main_text)) return nullptr;
    // The main file is the text; every other file (its subtests) is read
    // from disk as the check would read it.
    options.read_file = [&path, &main_text](const std::string& opened, std::string* out) {
      if (SameFile(opened, path)) {
        *out = main_text;
        return true;
      }
      return ReadWholeFile(opened, out);
    };
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
  return AddStructSequenceType(module, "ScenarioDiagnostic", &kDiagnosticDesc,
                               &g_diagnostic_type);
}

}  // namespace py
}  // namespace zl
