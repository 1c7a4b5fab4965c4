#include "text.h"

namespace zl {
namespace py {

const char kNotInitialised[] = "initzl() not called or unsuccessful";
const char kClientNotInitialised[] = "ZL Client not initialized successfully";

PyObject* TextToStr(const std::string& text) {
  const auto size = static_cast<Py_ssize_t>(text.size());
  PyObject* str = PyUnicode_DecodeUTF8(text.data(), size, nullptr);
  if (str != nullptr || !PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return str;
  PyErr_Clear();
  return PyUnicode_DecodeLatin1(text.data(), size, nullptr);
}

PyObject* RaiseRuntime(const char* text) {
  PyErr_SetString(PyExc_RuntimeError, text);
  return nullptr;
}

PyObject* RaiseType(const char* text) {
  PyErr_SetString(PyExc_TypeError, text);
  return nullptr;
}

}  // namespace py
}  // namespace zl
