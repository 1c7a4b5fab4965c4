// zl._zl._Doorbell: a file descriptor that the library's threads ring and
// an event loop watches, so that a coroutine waiting for a scenario's end
// or a server message wakes on the event itself (zl.aio).
//
// A Doorbell owns one Linux eventfd. Ringing it adds one to the eventfd's
// counter, which makes the descriptor readable until Clear reads the
// counter back to zero: an event loop watches it with add_reader. Ringing
// takes no lock and never touches the interpreter, so the ORB's threads, the
// message listener and the scenario workers may ring it at any time, also
// while the interpreter exits.
//
// Lifetime: shared. The Python object holds one reference and every hook
// set up with it one more; the descriptor is closed when the last one goes,
// so a hook that fires after the script dropped its doorbell rings a
// descriptor that is still this doorbell's, never a number the process has
// reused for another file.
#ifndef ZL_PYTHON_DOORBELL_H_
#define ZL_PYTHON_DOORBELL_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <memory>

namespace zl {
namespace py {

class Doorbell {
 public:
  // A new doorbell; null with errno set when no eventfd could be made.
  static std::shared_ptr<Doorbell> Make();
  ~Doorbell();
  Doorbell(const Doorbell&) = delete;
  Doorbell& operator=(const Doorbell&) = delete;

  // Rings: the descriptor is readable from now until the next Clear. Any
  // thread; never blocks (a counter at its limit stays readable as it is).
  void Ring();
  // Reads the rings since the last Clear (0 when none) and makes the
  // descriptor unreadable again. Never blocks.
  std::uint64_t Clear();
  // Blocks until the doorbell has been rung, then clears it: the rings
  // taken (1 or more). For a thread that waits for work; it waits as long
  // as nobody rings.
  std::uint64_t Wait();
  int fd() const { return fd_; }

 private:
  explicit Doorbell(int fd) : fd_(fd) {}
  const int fd_;  // owned; non-blocking, close-on-exec
};

struct DoorbellObject {
  PyObject_HEAD
  std::shared_ptr<Doorbell>* bell;  // owned; null once closed
};

extern PyTypeObject DoorbellType;

// Readies DoorbellType: 0, or -1 with a Python error set.
int ReadyDoorbellType();

// The doorbell of `object`, a zl._zl._Doorbell that is not closed; else
// null with a Python error set (TypeError, ValueError). Interpreter lock
// held.
std::shared_ptr<Doorbell> DoorbellOf(PyObject* object);

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_DOORBELL_H_
