#include "questions.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

#include "exit_hook.h"
#include "text.h"

namespace zl {
namespace py {

const char kNoHandlerAnswer[] = "No questions handled by client";

namespace {

const char kCapsuleName[] = "zl.QuestionDesk";
// The question thread's wait slice: how soon it sees a stop or the exit hook.
constexpr std::chrono::milliseconds kSlice(250);

void FreeHolder(PyObject* capsule) {
  delete static_cast<std::shared_ptr<QuestionDesk>*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

}  // namespace

QuestionDesk::QuestionDesk() : ZLClientInterface("python") {}

QuestionDesk::~QuestionDesk() = default;

void QuestionDesk::AskQuestion(CORBA::Long id, CORBA::ULong number, const char* file,
                               const char* question) {
  Question q;
  q.id = id;
  q.number = number;
  q.file = file != nullptr ? file : "";
  q.text = question != nullptr ? question : "";
  {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.push_back(std::move(q));
  }
  ready_.notify_all();
}

void QuestionDesk::ScenarioEnded(CORBA::ULong id, const char*) {
  std::lock_guard<std::mutex> lock(mu_);
  queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                              [id](const Question& q) {
                                return static_cast<CORBA::ULong>(q.id) == id;
                              }),
               queue_.end());
}

int QuestionDesk::SetHandler(const std::shared_ptr<QuestionDesk>& self, PyObject* handler) {
  const bool on = handler != nullptr && handler != Py_None;
  if (on && !self->thread_started_) {
    if (StartThread(self) < 0) return -1;
    self->thread_started_ = true;
  }
  PyObject* fresh = on ? handler : nullptr;
  Py_XINCREF(fresh);
  PyObject* old = self->handler_;
  self->handler_ = fresh;
  {
    std::lock_guard<std::mutex> lock(self->mu_);
    self->active_ = on;
  }
  self->ready_.notify_all();
  Py_XDECREF(old);
  return 0;
}

void QuestionDesk::DropHandler() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    active_ = false;
  }
  Py_CLEAR(handler_);
}

bool QuestionDesk::has_handler() const {
  std::lock_guard<std::mutex> lock(mu_);
  return active_;
}

std::vector<Question> QuestionDesk::TakeQueued() {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<Question> taken(std::make_move_iterator(queue_.begin()),
                              std::make_move_iterator(queue_.end()));
  queue_.clear();
  return taken;
}

void QuestionDesk::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  ready_.notify_all();
}

bool QuestionDesk::WaitReady() {
  std::unique_lock<std::mutex> lock(mu_);
  return ready_.wait_for(lock, kSlice, [this] { return stop_ || (active_ && !queue_.empty()); }) &&
         !stop_;
}

bool QuestionDesk::stopped() {
  std::lock_guard<std::mutex> lock(mu_);
  return stop_;
}

bool QuestionDesk::TakeForHandler(Question* question, PyObject** handler) {
  if (handler_ == nullptr) return false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (queue_.empty()) return false;
    *question = std::move(queue_.front());
    queue_.pop_front();
  }
  Py_INCREF(handler_);
  *handler = handler_;
  return true;
}

void QuestionDesk::Deliver(PyObject* handler, const Question& question) {
  PyObject* args = PyTuple_New(4);
  PyObject* result = nullptr;
  if (args != nullptr) {
    PyObject* items[] = {PyLong_FromLong(question.id), PyLong_FromUnsignedLong(question.number),
                         TextToStr(question.file), TextToStr(question.text)};
    bool built = true;
    for (Py_ssize_t i = 0; i < 4; ++i) {
      if (items[i] == nullptr) built = false;
      PyTuple_SET_ITEM(args, i, items[i] != nullptr ? items[i] : (Py_INCREF(Py_None), Py_None));
    }
    if (built) result = PyObject_Call(handler, args, nullptr);
    Py_DECREF(args);
  }
  // The question stays pending in its scenario: answered later, or timed out.
  if (result == nullptr && PyErr_Occurred()) PyErr_WriteUnraisable(handler);
  Py_XDECREF(result);
}

PyObject* QuestionDesk::Loop(PyObject* capsule, PyObject*) {
  auto* holder =
      static_cast<std::shared_ptr<QuestionDesk>*>(PyCapsule_GetPointer(capsule, kCapsuleName));
  if (holder == nullptr) return nullptr;
  const std::shared_ptr<QuestionDesk> desk = *holder;
  for (;;) {
    bool ready;
    Py_BEGIN_ALLOW_THREADS
    ready = desk->WaitReady();
    Py_END_ALLOW_THREADS
    if (Closing() || desk->stopped()) break;
    if (!ready) continue;
    Question question;
    PyObject* handler = nullptr;
    if (!desk->TakeForHandler(&question, &handler)) continue;
    Deliver(handler, question);
    Py_DECREF(handler);
  }
  Py_RETURN_NONE;
}

int QuestionDesk::StartThread(const std::shared_ptr<QuestionDesk>& self) {
  static PyMethodDef loop_def = {"_zl_questions", Loop, METH_NOARGS,
                                 "Hands a client's operator questions to its handler."};
  auto* holder = new (std::nothrow) std::shared_ptr<QuestionDesk>(self);
  if (holder == nullptr) {
    PyErr_NoMemory();
    return -1;
  }
  PyObject* capsule = PyCapsule_New(holder, kCapsuleName, FreeHolder);
  if (capsule == nullptr) {
    delete holder;
    return -1;
  }
  PyObject* target = PyCFunction_New(&loop_def, capsule);
  Py_DECREF(capsule);
  PyObject* threading = target != nullptr ? PyImport_ImportModule("threading") : nullptr;
  PyObject* thread_type = threading != nullptr ? PyObject_GetAttrString(threading, "Thread") : nullptr;
  PyObject* no_args = thread_type != nullptr ? PyTuple_New(0) : nullptr;
  PyObject* kwargs = no_args != nullptr ? Py_BuildValue("{s:O,s:s,s:O}", "target", target, "name",
                                                        "zl-questions", "daemon", Py_True)
                                        : nullptr;
  PyObject* thread = kwargs != nullptr ? PyObject_Call(thread_type, no_args, kwargs) : nullptr;
  PyObject* started = thread != nullptr ? PyObject_CallMethod(thread, "start", nullptr) : nullptr;
  const int status = started != nullptr ? 0 : -1;
  Py_XDECREF(started);
  Py_XDECREF(thread);
  Py_XDECREF(kwargs);
  Py_XDECREF(no_args);
  Py_XDECREF(thread_type);
  Py_XDECREF(threading);
  Py_XDECREF(target);
  return status;
}

}  // namespace py
}  // namespace zl
