// zl.Error and its subclasses, and the one place that turns a failed client
// operation into one of them (a client made with raise_errors=True).
//
//   zl.Error                  any failure; itself for the kinds below do not
//                             name (a local step that failed, an argument
//                             the library refuses, an exception that is not
//                             the ORB's)
//   +- zl.NotConnected        no call was made: the client is not connected
//   +- zl.TagNotFound         the server raised ZLTagNotFound
//   +- zl.ServerError         the server raised another exception
//   +- zl.CallTimeout         no answer within the call time limit
//   +- zl.CommunicationFailure  the server cannot be reached
//
// Every instance has the attributes `operation` (the method, "pve"), `tag`
// (the tag of an operation on one tag, else None), `exception` (the
// exception's name, "ZLTagNotFound" or "TIMEOUT", else None) and `reason`
// (what went wrong, as one line); the classes hold None for each, so that
// an instance a script makes has them too.
//
// Every function needs the interpreter lock. The classes are made once, by
// the module's initialisation, and live as long as the process.
#ifndef ZL_PYTHON_ERRORS_H_
#define ZL_PYTHON_ERRORS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "broker/call_failure.h"

namespace zl {
namespace py {

// Makes the classes (once) and adds them to `module` in the order above:
// 0, or -1 with a Python error set.
int AddErrorTypes(PyObject* module);

// Raises the zl.Error that `failure` (one that failed) of the method
// `method` stands for, with the message
//   METHOD('TAG'): HEADLINE: REASON
// ("('TAG')" only where there is a tag; ": REASON" only where it adds to
// the headline; for zl.NotConnected the reason is the headline, such as
// "not connected"). Gives null, for the caller to return.
PyObject* RaiseFailure(const char* method, const CallFailure& failure);

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_ERRORS_H_
