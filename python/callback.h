// zl.Callback: the object a script subclasses to receive tag changes; its
// method `tagschanged` gets one zl.ZLTagChanges per changed tag.
//
// It holds the consumer servant that receives the server's notifications and
// the servant's object reference; both are set by registration with a
// connected zl.Client and released at deallocation. Slots run in the
// script's thread under the interpreter lock.
#ifndef ZL_PYTHON_CALLBACK_H_
#define ZL_PYTHON_CALLBACK_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <COS/CosNotifyComm.hh>
#include <omniORB4/CORBA.h>

namespace zl {
namespace py {

struct CallbackObject {
  PyObject_HEAD
  PortableServer::ServantBase* servant;               // owned; null until registered
  CosNotifyComm::StructuredPushConsumer_ptr consumer;  // owned; nil until registered
};

extern PyTypeObject CallbackType;

// Readies CallbackType: 0, or -1 with a Python error set.
int ReadyCallbackType();

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_CALLBACK_H_
