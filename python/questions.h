// Operator questions of one zl.Client: the client interface the client
// registers with its local database while a Python handler is set, the queue
// between the scenario workers that ask and the handler, and the question
// thread that drains that queue.
//
// Why a queue and a thread of its own: AskQuestion runs on a scenario worker
// under the local database's client-interface lock. Calling Python there
// would make the worker wait for the interpreter lock while a script's
// thread may hold it and wait for that very worker (disconnect and
// stopscenario end workers), and a handler that blocks (a prompt at a
// terminal) would block the worker and every other scenario's question with
// it. So AskQuestion only queues the question and returns; the scenario goes
// on into its wait phase, as it does for any host. One Python daemon thread
// per client ("zl-questions") takes the questions in the order asked and
// calls the handler with the interpreter lock, outside every lock of the
// library; the handler answers through zl.Client.answerquestion, at once or
// later, from any thread. Being a Python thread, it is never left inside a
// finalising interpreter: it returns once the module's exit hook has begun
// (or its desk was stopped), and daemon status lets the interpreter exit
// while it waits.
//
// Locks: `mu_` guards the queue, `stop_` and `active_`'s wake-ups; it is
// never held while taking another lock. The handler reference is guarded by
// the interpreter lock. Taking a question for the handler happens under the
// interpreter lock, so that removing the handler (also under it) and taking
// the queue's remaining questions cannot lose one in between.
#ifndef ZL_PYTHON_QUESTIONS_H_
#define ZL_PYTHON_QUESTIONS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <omniORB4/CORBA.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "localdb/client_interface.h"

namespace zl {
namespace py {

// The answer given to questions that were queued for a handler that has
// since been removed: what scenarios get without any client interface.
extern const char kNoHandlerAnswer[];  // "No questions handled by client"

// One question a scenario asked.
struct Question {
  CORBA::Long id = 0;
  CORBA::ULong number = 0;
  std::string file;
  std::string text;
};

class QuestionDesk : public ZLClientInterface {
 public:
  // Named "python": the answering party in the test log's question lines.
  QuestionDesk();
  // Never touches Python: the handler must have been dropped (DropHandler).
  ~QuestionDesk() override;

  // --- The client interface: scenario workers, no interpreter lock -------
  // Queues the question for the handler and returns at once.
  void AskQuestion(CORBA::Long id, CORBA::ULong number, const char* file,
                   const char* question) override;
  // Drops the queued questions of the scenario that ended.
  void ScenarioEnded(CORBA::ULong id, const char* file) override;

  // --- The client's side: interpreter lock held ---------------------------
  // Makes `handler` (a callable, or None for none) the handler; starts the
  // question thread with the first handler. `self` is this desk's owner.
  // 0, or -1 with a Python error set (the handler is then unchanged).
  static int SetHandler(const std::shared_ptr<QuestionDesk>& self, PyObject* handler);
  // Drops the handler reference (None afterwards).
  void DropHandler();
  // True while a handler is set. Any thread.
  bool has_handler() const;

  // --- Any thread, no interpreter lock needed ----------------------------
  // Removes and gives the queued questions no handler has taken yet.
  std::vector<Question> TakeQueued();
  // Tells the question thread to end; questions are no longer handed out.
  void Stop();

 private:
  // The question thread's loop (a builtin run by threading.Thread).
  static PyObject* Loop(PyObject* capsule, PyObject* unused);
  // Starts the question thread: 0, or -1 with a Python error set.
  static int StartThread(const std::shared_ptr<QuestionDesk>& self);
  // Waits at most one slice for a question to hand out; true when one waits
  // and a handler is set. Called without the interpreter lock.
  bool WaitReady();
  bool stopped();
  // Takes the next question and a new reference to the handler: false when
  // there is none of either. Interpreter lock held.
  bool TakeForHandler(Question* question, PyObject** handler);
  // Calls the handler with one question; an exception it raises is printed
  // as an unraisable error and cleared. Interpreter lock held.
  static void Deliver(PyObject* handler, const Question& question);

  mutable std::mutex mu_;
  std::condition_variable ready_;
  std::deque<Question> queue_;  // guarded by mu_
  bool stop_ = false;           // guarded by mu_
  bool active_ = false;         // guarded by mu_: a handler is set

  PyObject* handler_ = nullptr;     // owned; guarded by the interpreter lock
  bool thread_started_ = false;     // guarded by the interpreter lock
};

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_QUESTIONS_H_
