// zl.scenariokeywords: the keyword table of the statement language
// (scenario/keyword_table.h) as Python values, and their type
// zl.ScenarioKeyword. Editors complete and explain keywords from it, so
// that what they offer is what a run reads.
//
// Every function here needs the interpreter lock.
#ifndef ZL_PYTHON_KEYWORDS_H_
#define ZL_PYTHON_KEYWORDS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zl {
namespace py {

// scenariokeywords() -> list[ScenarioKeyword], in the table's matching order.
PyObject* ScenarioKeywordsFunction(PyObject* module, PyObject* unused);
extern const char kScenarioKeywordsDoc[];

// Makes zl.ScenarioKeyword and adds it to `module`; -1 with a Python error
// set when it cannot.
int AddKeywordTypes(PyObject* module);

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_KEYWORDS_H_
