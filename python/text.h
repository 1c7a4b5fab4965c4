// Texts crossing between the library and Python, and the one place that
// turns a missing or unusable client into a Python error.
//
// Every function here needs the interpreter lock.
#ifndef ZL_PYTHON_TEXT_H_
#define ZL_PYTHON_TEXT_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

namespace zl {
namespace py {

// A new str from a library text: decoded as UTF-8, or as Latin-1 when it is
// not valid UTF-8, so that a server text already taken from its queue is
// never lost to a decoding error. Null only when memory runs out.
PyObject* TextToStr(const std::string& text);

// The errors of a client whose initialisation did not succeed.
extern const char kNotInitialised[];        // "initzl() not called or unsuccessful"
extern const char kClientNotInitialised[];  // "ZL Client not initialized successfully"

// Raises RuntimeError with `text`; gives null for the caller to return.
PyObject* RaiseRuntime(const char* text);
// Raises TypeError with `text`; gives null.
PyObject* RaiseType(const char* text);

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_TEXT_H_
