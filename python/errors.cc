#include "errors.h"

#include <string>

#include "text.h"

namespace zl {
namespace py {
namespace {

// The attributes every zl.Error carries; None on the classes.
const char* const kAttributes[] = {"operation", "tag", "exception", "reason"};

struct ErrorClass {
  const char* name;  // the qualified name, as the class reports it
  const char* attribute;
  FailureKind kind;
  const char* doc;
};

// In the order they are added to the module; the first is the base of the
// others.
const ErrorClass kClasses[] = {
    {"zl.Error", "Error", FailureKind::kOther,
     "A failed operation of a zl.Client made with raise_errors=True.\n\n"
     "Attributes: operation (the method), tag (None where there is none),\n"
     "exception (the exception's name, or None) and reason. Raised as\n"
     "itself where no subclass fits: a local step that failed (a tag file\n"
     "that cannot be written), an argument the library refuses."},
    {"zl.NotConnected", "NotConnected", FailureKind::kNotConnected,
     "No call was made: the client is not connected (or connect failed)."},
    {"zl.TagNotFound", "TagNotFound", FailureKind::kTagNotFound,
     "The server has no tag of that name (ZLTagNotFound)."},
    {"zl.ServerError", "ServerError", FailureKind::kServerError,
     "The server raised an exception: `exception` names it and `reason`\n"
     "gives its text and members."},
    {"zl.CallTimeout", "CallTimeout", FailureKind::kTimeout,
     "The server did not answer within the call time limit (TIMEOUT)."},
    {"zl.CommunicationFailure", "CommunicationFailure", FailureKind::kCommunication,
     "The server, or the Naming Service, cannot be reached (TRANSIENT,\n"
     "COMM_FAILURE, OBJECT_NOT_EXIST, INV_OBJREF)."},
};
constexpr int kClassCount = sizeof(kClasses) / sizeof(kClasses[0]);

// The classes, made once; owned for the life of the process.
PyObject* classes[kClassCount] = {};

PyObject* MakeClass(const ErrorClass& c, PyObject* base) {
  PyObject* dict = PyDict_New();
  if (dict == nullptr) return nullptr;
  for (const char* name : kAttributes) {
    if (PyDict_SetItemString(dict, name, Py_None) < 0) {
      Py_DECREF(dict);
      return nullptr;
    }
  }
  PyObject* made = PyErr_NewExceptionWithDoc(c.name, c.doc, base, dict);
  Py_DECREF(dict);
  return made;
}

PyObject* ClassFor(FailureKind kind) {
  for (int i = 0; i < kClassCount; ++i) {
    if (kClasses[i].kind == kind) return classes[i];
  }
  return classes[0];
}

// The headline of the message: what kind of failure it was (for a client
// that is not connected, why: a failed connect says which database it did
// not find).
std::string Headline(const CallFailure& f) {
  switch (f.kind) {
    case FailureKind::kNotConnected: return f.reason.empty() ? "not connected" : f.reason;
    case FailureKind::kTagNotFound: return "tag not found";
    case FailureKind::kServerError:
      return f.exception.empty() ? "the server cannot do it" : "the server raised " + f.exception;
    case FailureKind::kTimeout: return "no answer within the call time limit";
    case FailureKind::kCommunication: return "the server cannot be reached";
    default: return "failed";
  }
}

// A new str of `text`, or a new reference to None when it is empty.
PyObject* StrOrNone(const std::string& text) {
  if (text.empty()) Py_RETURN_NONE;
  return TextToStr(text);
}

// The message of the exception; null with a Python error set.
PyObject* Message(const char* method, const CallFailure& f, PyObject* tag) {
  const std::string headline = Headline(f);
  PyObject* head = tag != Py_None ? PyUnicode_FromFormat("%s(%R): %s", method, tag, headline.c_str())
                                  : PyUnicode_FromFormat("%s: %s", method, headline.c_str());
  if (head == nullptr || f.reason.empty() || f.reason == headline) return head;
  PyObject* reason = TextToStr(f.reason);
  PyObject* message = reason != nullptr ? PyUnicode_FromFormat("%U: %U", head, reason) : nullptr;
  Py_XDECREF(reason);
  Py_DECREF(head);
  return message;
}

}  // namespace

int AddErrorTypes(PyObject* module) {
  for (int i = 0; i < kClassCount; ++i) {
    if (classes[i] == nullptr) {
      classes[i] = MakeClass(kClasses[i], i == 0 ? nullptr : classes[0]);
      if (classes[i] == nullptr) return -1;
    }
    Py_INCREF(classes[i]);
    if (PyModule_AddObject(module, kClasses[i].attribute, classes[i]) < 0) {
      Py_DECREF(classes[i]);
      return -1;
    }
  }
  return 0;
}

PyObject* RaiseFailure(const char* method, const CallFailure& failure) {
  PyObject* type = ClassFor(failure.kind);
  PyObject* values[] = {PyUnicode_FromString(method), StrOrNone(failure.tag),
                        StrOrNone(failure.exception), TextToStr(failure.reason)};
  PyObject* error = nullptr;
  bool made = values[0] != nullptr && values[1] != nullptr && values[2] != nullptr &&
              values[3] != nullptr;
  if (made) {
    PyObject* message = Message(method, failure, values[1]);
    error = message != nullptr ? PyObject_CallOneArg(type, message) : nullptr;
    Py_XDECREF(message);
  }
  for (int i = 0; error != nullptr && i < 4; ++i) {
    if (PyObject_SetAttrString(error, kAttributes[i], values[i]) < 0) Py_CLEAR(error);
  }
  for (PyObject* v : values) Py_XDECREF(v);
  if (error == nullptr) return nullptr;  // the error that stopped it is set
  PyErr_SetObject(type, error);
  Py_DECREF(error);
  return nullptr;
}

}  // namespace py
}  // namespace zl
