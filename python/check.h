// zl.checkscenario: the static check of a scenario file
// (scenario/scenario_check.h) as a module-level function, and the type of
// its findings, zl.ScenarioDiagnostic.
//
// Every function here needs the interpreter lock; the check itself runs
// without it.
#ifndef ZL_PYTHON_CHECK_H_
#define ZL_PYTHON_CHECK_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zl {
namespace py {

// checkscenario(path, tags=None, args=None, text=None) -> list[ScenarioDiagnostic].
PyObject* CheckScenarioFunction(PyObject* module, PyObject* args, PyObject* kwargs);
extern const char kCheckScenarioDoc[];

// Makes zl.ScenarioDiagnostic and adds it to `module`; -1 with a Python
// error set when it cannot.
int AddCheckTypes(PyObject* module);

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_CHECK_H_
