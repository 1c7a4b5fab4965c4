// zl._zl._Doorbell: creation, ringing, clearing and closing.
#include "doorbell.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <utility>

namespace zl {
namespace py {

std::shared_ptr<Doorbell> Doorbell::Make() {
  const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::shared_ptr<Doorbell>(new (std::nothrow) Doorbell(fd));
}

Doorbell::~Doorbell() { close(fd_); }

void Doorbell::Ring() {
  const std::uint64_t one = 1;
  // EAGAIN: the counter is at its limit, and the descriptor readable anyway.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

std::uint64_t Doorbell::Clear() {
  std::uint64_t count = 0;
  while (read(fd_, &count, sizeof count) < 0) {
    if (errno != EINTR) return 0;  // EAGAIN: nobody rang
  }
  return count;
}

std::uint64_t Doorbell::Wait() {
  for (;;) {
    const std::uint64_t count = Clear();
    if (count > 0) return count;
    pollfd ready{fd_, POLLIN, 0};
    poll(&ready, 1, -1);  // EINTR, or rung: read again
  }
}

namespace {

DoorbellObject* AsDoorbell(PyObject* object) { return reinterpret_cast<DoorbellObject*>(object); }

// The open doorbell of `self`, else null with ValueError set.
Doorbell* Open(PyObject* self) {
  std::shared_ptr<Doorbell>* bell = AsDoorbell(self)->bell;
  if (bell == nullptr) {
    PyErr_SetString(PyExc_ValueError, "the doorbell is closed");
    return nullptr;
  }
  return bell->get();
}

PyObject* DoorbellNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (!PyArg_ParseTuple(args, ":_Doorbell") ||
      (kwargs != nullptr && PyDict_Size(kwargs) != 0)) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "_Doorbell() takes no arguments");
    return nullptr;
  }
  std::shared_ptr<Doorbell> made = Doorbell::Make();
  if (!made) return PyErr_SetFromErrno(PyExc_OSError);
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  AsDoorbell(self)->bell = new (std::nothrow) std::shared_ptr<Doorbell>(std::move(made));
  if (AsDoorbell(self)->bell == nullptr) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  return self;
}

void DoorbellDealloc(PyObject* self) {
  delete AsDoorbell(self)->bell;
  Py_TYPE(self)->tp_free(self);
}

PyObject* FileNo(PyObject* self, PyObject*) {
  Doorbell* bell = Open(self);
  return bell != nullptr ? PyLong_FromLong(bell->fd()) : nullptr;
}

PyObject* Ring(PyObject* self, PyObject*) {
  Doorbell* bell = Open(self);
  if (bell == nullptr) return nullptr;
  bell->Ring();
  Py_RETURN_NONE;
}

PyObject* Clear(PyObject* self, PyObject*) {
  Doorbell* bell = Open(self);
  return bell != nullptr ? PyLong_FromUnsignedLongLong(bell->Clear()) : nullptr;
}

// Waits without the interpreter lock; the doorbell is held meanwhile, so a
// close() from another thread does not take the descriptor away under it.
PyObject* Wait(PyObject* self, PyObject*) {
  if (Open(self) == nullptr) return nullptr;
  const std::shared_ptr<Doorbell> bell = *AsDoorbell(self)->bell;
  std::uint64_t count;
  Py_BEGIN_ALLOW_THREADS
  count = bell->Wait();
  Py_END_ALLOW_THREADS
  return PyLong_FromUnsignedLongLong(count);
}

// Drops this object's hold on the descriptor; hooks that still hold the
// doorbell keep it open until they go. Again: does nothing.
PyObject* Close(PyObject* self, PyObject*) {
  delete AsDoorbell(self)->bell;
  AsDoorbell(self)->bell = nullptr;
  Py_RETURN_NONE;
}

PyMethodDef doorbell_methods[] = {
    {"fileno", FileNo, METH_NOARGS,
     "fileno() -> int: the descriptor to watch; readable once rung, until clear()."},
    {"ring", Ring, METH_NOARGS, "ring() -> None: rings the doorbell (any thread)."},
    {"clear", Clear, METH_NOARGS,
     "clear() -> int: the rings since the last clear (0 when none); never blocks."},
    {"wait", Wait, METH_NOARGS,
     "wait() -> int: blocks, without the interpreter lock, until the doorbell\n"
     "is rung; then takes the rings as clear() does and gives their number."},
    {"close", Close, METH_NOARGS,
     "close() -> None: lets go of the descriptor; fileno, ring and clear then\n"
     "raise ValueError. Stop watching the descriptor first."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

// Filled in by ReadyDoorbellType: value-initialised here, so every slot not
// set there is empty.
PyTypeObject DoorbellType{};

int ReadyDoorbellType() {
  if (PyType_HasFeature(&DoorbellType, Py_TPFLAGS_READY)) return 0;
  Py_SET_REFCNT(&DoorbellType, 1);  // a static type object is never freed
  DoorbellType.tp_name = "zl._zl._Doorbell";
  DoorbellType.tp_doc =
      "A descriptor that the library's threads ring and an event loop watches (zl.aio).";
  DoorbellType.tp_basicsize = sizeof(DoorbellObject);
  DoorbellType.tp_flags = Py_TPFLAGS_DEFAULT;
  DoorbellType.tp_new = DoorbellNew;
  DoorbellType.tp_dealloc = DoorbellDealloc;
  DoorbellType.tp_methods = doorbell_methods;
  return PyType_Ready(&DoorbellType);
}

std::shared_ptr<Doorbell> DoorbellOf(PyObject* object) {
  if (!PyObject_TypeCheck(object, &DoorbellType)) {
    PyErr_Format(PyExc_TypeError, "a zl._zl._Doorbell is needed, not %.100s",
                 Py_TYPE(object)->tp_name);
    return nullptr;
  }
  if (Open(object) == nullptr) return nullptr;
  return *AsDoorbell(object)->bell;
}

}  // namespace py
}  // namespace zl
