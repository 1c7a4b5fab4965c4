// zl.scenariokeywords and zl.ScenarioKeyword (keywords.h).
#include "keywords.h"

#include <string>

#include "scenario/keyword_table.h"
#include "struct_sequence.h"

namespace zl {
namespace py {
namespace {

// zl.ScenarioKeyword: a named tuple of one row of the keyword table.
PyTypeObject* g_keyword_type = nullptr;  // made once by AddKeywordTypes

PyStructSequence_Field kKeywordFields[] = {
    {"name", "the keyword, upper case"},
    {"form", "the statement as a line writes it: \"VERIFY taglist value\""},
    {"help", "what the statement does, in one line"},
    {"prefix", "True when every keyword that begins with the name is this statement"},
    {"timed", "True when a timed block collects the statement"},
    {"operands", "what each operand means, in order: \"tag\", \"taglist\", \"number\", ..."},
    {nullptr, nullptr},
};

PyStructSequence_Desc kKeywordDesc = {
    "zl.ScenarioKeyword",
    "One statement of the scenario language: (name, form, help, prefix, timed, operands).",
    kKeywordFields,
    6,
};

// The meanings of a row's operands as a tuple of str; null with a Python
// error set.
PyObject* Meanings(const OperandShape& shape) {
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(shape.count));
  if (tuple == nullptr) return nullptr;
  Py_ssize_t i = 0;
  for (const OperandSpec& operand : shape) {
    PyObject* name = PyUnicode_FromString(MeaningName(operand.meaning));
    if (name == nullptr) {
      Py_DECREF(tuple);
      return nullptr;
    }
    PyTuple_SET_ITEM(tuple, i++, name);
  }
  return tuple;
}

// One row as a zl.ScenarioKeyword; null with a Python error set.
PyObject* ToPython(const KeywordRow& row) {
  const std::string form = KeywordForm(row);
  PyObject* fields[] = {
      PyUnicode_FromString(row.name),
      PyUnicode_FromStringAndSize(form.data(), static_cast<Py_ssize_t>(form.size())),
      PyUnicode_FromString(row.help),
      PyBool_FromLong(row.prefix),
      PyBool_FromLong(row.timed),
      Meanings(row.shape),
  };
  return NewStructSequence(g_keyword_type, fields);
}

}  // namespace

const char kScenarioKeywordsDoc[] =
    "scenariokeywords() -> list[ScenarioKeyword]: every statement keyword of the scenario "
    "language, its form, a line of help and what its operands mean, in the order a run matches "
    "them.";

PyObject* ScenarioKeywordsFunction(PyObject*, PyObject*) {
  PyObject* list = PyList_New(0);
  if (list == nullptr) return nullptr;
  for (const KeywordRow* row = KeywordRows(); row->name != nullptr; ++row) {
    PyObject* item = ToPython(*row);
    if (item == nullptr || PyList_Append(list, item) < 0) {
      Py_XDECREF(item);
      Py_DECREF(list);
      return nullptr;
    }
    Py_DECREF(item);
  }
  return list;
}

int AddKeywordTypes(PyObject* module) {
  return AddStructSequenceType(module, "ScenarioKeyword", &kKeywordDesc, &g_keyword_type);
}

}  // namespace py
}  // namespace zl
