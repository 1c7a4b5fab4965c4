// zl.Client: creation, initialisation, deallocation and the methods.
//
// Shape of every method: guard clauses (arguments, missing client), then one
// call into the library through Run (interpreter lock released, client lock
// held, the call's log lines handed to logging before it returns), or
// through Checked where a failure raises in raising mode, then one
// conversion of the plain result into a Python value.
#include "client.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "callback.h"
#include "common/log.h"
#include "doorbell.h"
#include "errors.h"
#include "exit_hook.h"
#include "log_bridge.h"
#include "questions.h"
#include "text.h"

namespace zl {
namespace py {
namespace {

// The client behind `self` when its initialisation succeeded, else null.
ZLSim* SimOf(ClientObject* self) {
  return self->state != nullptr ? self->state->sim.load() : nullptr;
}

// Runs `call` on the client's ZLSim with the interpreter lock released and
// the client's lock held. Gives `fallback` when the client is gone by then
// (the exit hook took it), else the call's result.
template <class R, class Call>
R Run(ClientObject* self, R fallback, Call&& call) {
  R result = fallback;
  ClientState* state = self->state;
  if (state == nullptr) return result;
  CheckLogLevels();
  Py_BEGIN_ALLOW_THREADS
  {
    std::lock_guard<std::mutex> lock(state->mu);
    if (ZLSim* sim = state->sim.load()) result = call(*sim);
  }
  Py_END_ALLOW_THREADS
  FlushLogLines();
  return result;
}

// Run for the operations whose failure raises in raising mode: the same,
// except that a failure the client records for `call` (lastFailure, cleared
// first) raises the zl.Error for the method `method` and gives nullopt.
// Only a failed call raises, never a result: a 0.0 read, an unknown tag that
// tagexists answers False for, a deletetag that deleted nothing are
// results. Without raising mode: Run's result.
template <class R, class Call>
std::optional<R> Checked(ClientObject* self, const char* method, R fallback, Call&& call) {
  const bool raising = self->state != nullptr && self->state->raise_errors;
  bool ran = false;
  CallFailure failure;
  const R result = Run(self, fallback, [&](ZLSim& s) {
    ran = true;
    s.ClearLastFailure();
    R r = call(s);
    if (raising && s.lastFailure().failed()) failure = s.lastFailure();
    return r;
  });
  if (raising && !ran) {
    failure = MakeFailure(FailureKind::kNotConnected, "", nullptr,
                          "the client was closed when the interpreter exited");
  }
  if (failure.failed()) {
    RaiseFailure(method, failure);
    return std::nullopt;
  }
  return result;
}

// The Python value of a checked result; null when it raised.
template <class R>
PyObject* Give(const std::optional<R>& result, PyObject* (*make)(R)) {
  return result ? make(*result) : nullptr;
}

PyObject* MakeFloat(double v) { return PyFloat_FromDouble(v); }
PyObject* MakeInt(int v) { return PyLong_FromLong(v); }
PyObject* MakeBool(bool v) { return PyBool_FromLong(v); }
PyObject* MakeText(std::string v) { return TextToStr(v); }

// The message type table of msgsexist and getnextzlmessage: 0 to 4 are the
// ZLMessageType ordinals; anything else asks for all types (0).
unsigned MessageType(int type) { return type >= 0 && type <= 4 ? static_cast<unsigned>(type) : 0; }

const char* ModeName(int mode) {
  switch (mode) {
    case 0: return "Manual";
    case 1: return "Auto";
    default: return "??";
  }
}

const char* TypeName(int type) {
  static const char* const kNames[] = {"",    "Anl",    "AnlIn", "AnlOut",
                                       "Dig", "DigIn", "DigOut", "CalcBlock"};
  return type >= 1 && type <= 7 ? kNames[type] : "";
}

#define ZL_REQUIRE_CLIENT(self, text) \
  if (SimOf(self) == nullptr) return RaiseRuntime(text)

// --- Type slots ---------------------------------------------------------------

PyObject* ClientNew(PyTypeObject* type, PyObject*, PyObject*) {
  auto* self = reinterpret_cast<ClientObject*>(type->tp_alloc(type, 0));
  if (self == nullptr) return nullptr;
  self->state = new (std::nothrow) ClientState;
  if (self->state == nullptr) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  RegisterClient(self->state);
  return reinterpret_cast<PyObject*>(self);
}

// zl.Client(options, *, raise_errors=False): the text is the client's
// option string (for example "-ORBInitRef
// NameService=corbaloc::HOST:PORT/NameService -debug"); raise_errors turns
// raising mode on.
int ClientInit(PyObject* object, PyObject* args, PyObject* kwargs) {
  auto* self = reinterpret_cast<ClientObject*>(object);
  static const char* const kKeywords[] = {"", "raise_errors", nullptr};
  const char* options = nullptr;
  int raise_errors = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s|$p:Client", const_cast<char**>(kKeywords),
                                   &options, &raise_errors)) {
    return -1;
  }
  if (self->state == nullptr) {
    PyErr_SetString(PyExc_MemoryError, "no memory for internal ZL client object");
    return -1;
  }
  if (Closing()) {
    PyErr_SetString(PyExc_RuntimeError, "the zl module has shut down");
    return -1;
  }
  NoteOrbInUse();
  NoteClientOptions(options);
  ClientState* state = self->state;
  bool allocated = true;
  Py_BEGIN_ALLOW_THREADS
  {
    ZLSim* fresh = new (std::nothrow) ZLSim(options);
    std::lock_guard<std::mutex> lock(state->mu);
    if (fresh == nullptr) {
      allocated = false;
    } else {
      // A second __init__ replaces the client made by the first.
      delete state->sim.exchange(fresh);
    }
  }
  Py_END_ALLOW_THREADS
  FlushLogLines();
  if (!allocated) {
    PyErr_SetString(PyExc_MemoryError, "no memory for internal ZL client object");
    return -1;
  }
  state->raise_errors = raise_errors != 0;
  return 0;
}

// The attribute raise_errors: raising mode, on or off at any time.
PyObject* GetRaiseErrors(PyObject* object, void*) {
  const ClientState* state = reinterpret_cast<ClientObject*>(object)->state;
  return PyBool_FromLong(state != nullptr && state->raise_errors);
}

int SetRaiseErrors(PyObject* object, PyObject* value, void*) {
  ClientState* state = reinterpret_cast<ClientObject*>(object)->state;
  if (value == nullptr) {
    PyErr_SetString(PyExc_AttributeError, "raise_errors cannot be deleted");
    return -1;
  }
  const int on = PyObject_IsTrue(value);
  if (on < 0) return -1;
  if (state != nullptr) state->raise_errors = on != 0;
  return 0;
}

void ClientDealloc(PyObject* object) {
  auto* self = reinterpret_cast<ClientObject*>(object);
  if (ClientState* state = self->state) {
    UnregisterClient(state);
    // The question thread ends by itself; the desk outlives the ZLSim that
    // may still hold it as its client interface.
    if (state->questions) {
      state->questions->DropHandler();
      state->questions->Stop();
    }
    ZLSim* sim = state->sim.exchange(nullptr);
    // Destroying a client disconnects it: remote calls, so without the
    // interpreter lock. Nobody else holds a reference, so nobody else is
    // inside one of its methods.
    Py_BEGIN_ALLOW_THREADS
    delete sim;
    Py_END_ALLOW_THREADS
    ReleaseRegisteredCallback(state);
    delete state;
  }
  Py_TYPE(object)->tp_free(object);
}

// --- Connection and listing -------------------------------------------------

PyObject* Connect(ClientObject* self, PyObject* args) {
  const char* name;
  if (!PyArg_ParseTuple(args, "s", &name)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  // A disconnect drops the client interface: a question handler set before
  // is registered again with the new connection. A connect tears the
  // notifications of the earlier connection down: the registered callback,
  // if any, is connected to the new server's channel.
  QuestionDesk* desk = self->state->questions.get();
  ClientState* state = self->state;
  return Give(Checked(self, "connect", -1, [&](ZLSim& s) {
    const int status = s.Connect(name);
    if (status == 0 && desk != nullptr && desk->has_handler()) {
      s.SetClientInterface(desk);
    }
    if (status == 0 && !CORBA::is_nil(state->consumer)) {
      const long set_up = s.SetupNotifications(state->consumer.in());
      if (set_up != 0) {
        WriteErrorLine("SetupNotifications() returned " + std::to_string(set_up) +
                       " for the registered callback");
      }
    }
    return status;
  }), MakeInt);
}

// Also ends the registration of the client's callback.
PyObject* Disconnect(ClientObject* self, PyObject*) {
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  const int status = Run(self, -1, [](ZLSim& s) { return s.Disconnect(); });
  ReleaseRegisteredCallback(self->state);
  return PyLong_FromLong(status);
}

PyObject* ListZLDatabases(ClientObject* self, PyObject* args) {
  if (!PyArg_ParseTuple(args, "")) return nullptr;
  ZL_REQUIRE_CLIENT(self, kClientNotInitialised);
  return Give(Checked(self, "listzldatabases", std::string(),
                      [](ZLSim& s) { return s.ListZLDatabases(); }),
              MakeText);
}

PyObject* CreateServer(ClientObject* self, PyObject* args) {
  const char* server;
  const char* host;
  if (!PyArg_ParseTuple(args, "ss", &server, &host)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "createserver", -1,
                      [&](ZLSim& s) { return s.CreateServer(server, host); }),
              MakeInt);
}

// --- Methods of one tag name ------------------------------------------------
//
// Each parses "s", needs a client, and turns the one call's result into the
// Python type of its maker.

template <class R, class Call>
PyObject* OnTag(ClientObject* self, PyObject* args, const char* method, R fallback,
                PyObject* (*make)(R), Call&& call) {
  const char* tag;
  if (!PyArg_ParseTuple(args, "s", &tag)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, method, fallback, [&](ZLSim& s) { return call(s, tag); }), make);
}

#define ZL_TAG_METHOD(Name, method, R, fallback, make, expr)                               \
  PyObject* Name(ClientObject* self, PyObject* args) {                                     \
    return OnTag<R>(self, args, method, fallback, make,                                    \
                    [](ZLSim& s, const char* tag) { return expr; });                       \
  }

ZL_TAG_METHOD(PVE, "pve", double, 0.0, MakeFloat, s.PVE(tag))
ZL_TAG_METHOD(PV, "pv", double, 0.0, MakeFloat, s.PV(tag))
ZL_TAG_METHOD(EUHi, "euhi", double, 0.0, MakeFloat, s.EUHi(tag))
ZL_TAG_METHOD(EULo, "eulo", double, 0.0, MakeFloat, s.EULo(tag))
ZL_TAG_METHOD(ZLExpr, "zlexpr", double, 0.0, MakeFloat, s.ZLExpr(tag))
ZL_TAG_METHOD(PVEStr, "pvestr", std::string, std::string(), MakeText, s.PVEStr(tag))
ZL_TAG_METHOD(TagMode, "tagmode", std::string, std::string(), MakeText, s.TagMode(tag))
ZL_TAG_METHOD(TagType, "tagtype", std::string, std::string(), MakeText, s.TagType(tag))
ZL_TAG_METHOD(Upload, "upload", std::string, std::string(), MakeText, s.Upload(tag))
ZL_TAG_METHOD(TagStats, "tagstats", std::string, std::string(), MakeText, s.TagStats(tag))
ZL_TAG_METHOD(HelloZL, "hellozl", std::string, std::string(), MakeText, s.HelloZL(tag))
ZL_TAG_METHOD(TagExists, "tagexists", bool, false, MakeBool, s.TagExists(tag))
ZL_TAG_METHOD(IsForced, "isforced", bool, false, MakeBool, s.IsForced(tag))
ZL_TAG_METHOD(InitPV, "initpv", int, -1, MakeInt, s.InitPV(tag))
ZL_TAG_METHOD(Download, "download", int, 0, MakeInt, s.Download(tag))
ZL_TAG_METHOD(SimInit, "siminit", int, -1, MakeInt, s.SimInit(tag))
ZL_TAG_METHOD(SaveTags, "savetags", int, -1, MakeInt, s.SaveTags(tag))
ZL_TAG_METHOD(ReadTags, "readtags", int, -1, MakeInt, s.ReadTags(tag))
// True only when the server took the change (see ZLSim).
ZL_TAG_METHOD(SetMan, "setman", bool, false, MakeBool, s.SetMan(tag))
ZL_TAG_METHOD(SetAuto, "setauto", bool, false, MakeBool, s.SetAuto(tag))
ZL_TAG_METHOD(DeleteTag, "deletetag", bool, false, MakeBool, s.DeleteTag(tag))

#undef ZL_TAG_METHOD

// --- Writes -------------------------------------------------------------------

PyObject* SetPVE(ClientObject* self, PyObject* args) {
  const char* tag;
  double value;
  if (!PyArg_ParseTuple(args, "sd", &tag, &value)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kClientNotInitialised);
  return Give(Checked(self, "setpve", 0, [&](ZLSim& s) { return s.SetPVE(tag, value); }), MakeInt);
}

PyObject* SetPV(ClientObject* self, PyObject* args) {
  const char* tag;
  double value;
  if (!PyArg_ParseTuple(args, "sd", &tag, &value)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "setpv", 0, [&](ZLSim& s) { return s.SetPV(tag, value); }), MakeInt);
}

PyObject* SetForce(ClientObject* self, PyObject* args) {
  const char* tag;
  int flag;
  if (!PyArg_ParseTuple(args, "si", &tag, &flag)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "setforce", false, [&](ZLSim& s) { return s.SetForced(tag, flag); }),
              MakeBool);
}

// --- Database-wide calls --------------------------------------------------------

PyObject* TagCount(ClientObject* self, PyObject* args) {
  if (!PyArg_ParseTuple(args, "")) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "tagcount", 0, [](ZLSim& s) { return s.TagCount(); }), MakeInt);
}

PyObject* SearchTags(ClientObject* self, PyObject* args) {
  const char* pattern;
  const char* field;
  if (!PyArg_ParseTuple(args, "ss", &pattern, &field)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "searchtags", std::string(),
                      [&](ZLSim& s) { return s.SearchTags(pattern, field); }),
              MakeText);
}

PyObject* DoASingleCalcCycle(ClientObject* self, PyObject* args) {
  double step;
  if (!PyArg_ParseTuple(args, "d", &step)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kClientNotInitialised);
  return Give(Checked(self, "doasinglecalccycle", -1,
                      [&](ZLSim& s) { return s.DoASingleCalcCycle(step); }),
              MakeInt);
}

PyObject* Shutdown(ClientObject* self, PyObject* args) {
  int how;
  int delay;
  if (!PyArg_ParseTuple(args, "ii", &how, &delay)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  const std::optional<int> status =
      Checked(self, "shutdown", -1, [&](ZLSim& s) { return s.Shutdown(how, delay); });
  return status ? PyBool_FromLong(*status == 0) : nullptr;
}

PyObject* ZLFind(ClientObject* self, PyObject* args) {
  const char* text;
  const char* pattern;
  if (!PyArg_ParseTuple(args, "ss", &text, &pattern)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  const std::optional<bool> found =
      Checked(self, "zlfind", false, [&](ZLSim& s) { return s.ZLFind(text, pattern); });
  return found ? PyLong_FromLong(*found ? 1 : 0) : nullptr;
}

// --- Query-then-set ---------------------------------------------------------
//
// Without an argument: the current state. With one: the state from before
// the change, and the change made. The query and the change run under one
// hold of the client's lock, so no other call of this client comes between.
// In raising mode a failed query raises before any change is made.

// Parses the optional one argument with `format`; with `message` a parse
// failure raises RuntimeError `message` instead of the parser's TypeError.
template <class T>
bool ParseOptional(PyObject* args, const char* format, const char* message, T* value, bool* given) {
  *given = PyTuple_GET_SIZE(args) != 0;
  if (!*given) return true;
  if (PyArg_ParseTuple(args, format, value)) return true;
  if (message != nullptr) {
    PyErr_Clear();
    RaiseRuntime(message);
  }
  return false;
}

PyObject* Build(double v) { return PyFloat_FromDouble(v); }
PyObject* Build(bool v) { return PyBool_FromLong(v); }

template <class T, class Query, class Set>
PyObject* QueryThenSet(ClientObject* self, PyObject* args, const char* method,
                       const char* format, const char* message, Query&& query, Set&& set) {
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  T value{};
  bool given = false;
  if (!ParseOptional(args, format, message, &value, &given)) return nullptr;
  using R = decltype(query(std::declval<ZLSim&>()));
  const bool raising = self->state->raise_errors;
  const std::optional<R> before = Checked(self, method, R{}, [&](ZLSim& s) {
    R was = query(s);
    if (given && !(raising && s.lastFailure().failed())) set(s, value);
    return was;
  });
  return before ? Build(*before) : nullptr;
}

PyObject* CycleTime(ClientObject* self, PyObject* args) {
  return QueryThenSet<double>(
      self, args, "cycletime", "d", "Could not parse first argument to a double",
      [](ZLSim& s) { return s.CycleTime(); }, [](ZLSim& s, double v) { s.CycleTime(v); });
}

PyObject* WarpFactor(ClientObject* self, PyObject* args) {
  return QueryThenSet<double>(
      self, args, "warpfactor", "d", "Could not parse first argument to a double",
      [](ZLSim& s) { return s.WarpFactor(); }, [](ZLSim& s, double v) { s.WarpFactor(v); });
}

PyObject* IOEnabled(ClientObject* self, PyObject* args) {
  return QueryThenSet<int>(
      self, args, "ioenabled", "i", "Could not parse first argument to an integer",
      [](ZLSim& s) { return s.IOEnabled(); }, [](ZLSim& s, int v) { s.IOEnabled(v != 0); });
}

PyObject* AlgsRunning(ClientObject* self, PyObject* args) {
  return QueryThenSet<int>(
      self, args, "algsrunning", "i", nullptr, [](ZLSim& s) { return s.AlgsRunning(); },
      [](ZLSim& s, int v) { s.AlgsRunning(v != 0); });
}

// --- Events and messages ------------------------------------------------------

PyObject* EnableEvents(ClientObject* self, PyObject* args) {
  unsigned char enable;
  if (!PyArg_ParseTuple(args, "b", &enable)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return PyLong_FromLong(Run(self, -1L, [&](ZLSim& s) { return s.EnableEvents(enable != 0); }));
}

PyObject* MsgsExist(ClientObject* self, PyObject* args) {
  int type;
  if (!PyArg_ParseTuple(args, "i", &type)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "msgsexist", false,
                      [&](ZLSim& s) { return s.MessagesExist(MessageType(type)); }),
              MakeBool);
}

PyObject* GetNextZLMessage(ClientObject* self, PyObject* args) {
  int type;
  if (!PyArg_ParseTuple(args, "i", &type)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "getnextzlmessage", std::string(),
                      [&](ZLSim& s) { return s.GetNextZLMessage(MessageType(type)); }),
              MakeText);
}

// --- Scenarios ----------------------------------------------------------------

PyObject* StartScenario(ClientObject* self, PyObject* args) {
  const char* file;
  const char* options = "";
  if (!PyArg_ParseTuple(args, "s|s", &file, &options)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "startscenario", 0,
                      [&](ZLSim& s) { return s.StartScenario(file, options); }),
              MakeInt);
}

PyObject* StopScenario(ClientObject* self, PyObject* args) {
  int id;
  if (!PyArg_ParseTuple(args, "i", &id)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "stopscenario", 0, [&](ZLSim& s) { return s.StopScenario(id); }),
              MakeInt);
}

// waitscenario(id[, timeout]): True once scenario `id` no longer runs (also
// when it ended earlier or never ran), False when `timeout` seconds passed
// first; no timeout waits until the end. The end comes from the scenario
// manager (its worker has closed the test log by then), not from asking it
// again and again. The client's lock is held only to find the manager's
// board of running scenarios; the wait holds no lock of the client, so a
// question handler, stopscenario and the other calls go on meanwhile. The
// wait runs in slices without the interpreter lock and takes it between
// them, so that Ctrl-C raises KeyboardInterrupt here.
PyObject* WaitScenario(ClientObject* self, PyObject* args) {
  constexpr std::chrono::milliseconds kSlice(100);
  constexpr double kForeverS = 1e9;  // longer waits are waits without a limit
  int id;
  PyObject* timeout_arg = Py_None;
  if (!PyArg_ParseTuple(args, "i|O", &id, &timeout_arg)) return nullptr;
  double timeout = -1.0;
  if (timeout_arg != Py_None) {
    timeout = PyFloat_AsDouble(timeout_arg);
    if (timeout == -1.0 && PyErr_Occurred()) return nullptr;
    if (!(timeout >= 0.0)) {
      PyErr_SetString(PyExc_ValueError, "timeout must be a number of seconds, 0 or more");
      return nullptr;
    }
    if (timeout > kForeverS) timeout = -1.0;
  }
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  const std::shared_ptr<ScenarioEnds> ends = Run(
      self, std::shared_ptr<ScenarioEnds>(), [](ZLSim& s) { return s.scenario_ends(); });
  if (!ends) Py_RETURN_TRUE;  // the exit hook took the client and ended its scenarios
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(timeout >= 0.0 ? timeout : 0.0));
  for (;;) {
    std::chrono::milliseconds slice = kSlice;
    if (timeout >= 0.0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      slice = std::max(std::chrono::milliseconds(0), std::min(slice, left));
    }
    bool ended;
    Py_BEGIN_ALLOW_THREADS
    ended = ends->WaitEnded(id, slice);
    Py_END_ALLOW_THREADS
    if (ended) Py_RETURN_TRUE;
    if (PyErr_CheckSignals() < 0) return nullptr;
    if (timeout >= 0.0 && Clock::now() >= deadline) Py_RETURN_FALSE;
  }
}

// --- Wake-ups for event loops (zl.aio) -----------------------------------------
//
// An event loop cannot block in waitscenario, nor poll getnextzlmessage: it
// watches a zl._zl._Doorbell (doorbell.h) that the library's threads ring.

// _ringonend(id, doorbell): rings the doorbell once scenario `id` no longer
// runs: at once when it does not run now (also for an id that never ran),
// else when it ends, or when the client's scenarios end with it (its
// destruction, the interpreter's exit). The client's lock is held only to
// find the board of running scenarios.
PyObject* RingOnEnd(ClientObject* self, PyObject* args) {
  int id;
  PyObject* bell_arg;
  if (!PyArg_ParseTuple(args, "iO", &id, &bell_arg)) return nullptr;
  const std::shared_ptr<Doorbell> bell = DoorbellOf(bell_arg);
  if (!bell) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  const std::shared_ptr<ScenarioEnds> ends = Run(
      self, std::shared_ptr<ScenarioEnds>(), [](ZLSim& s) { return s.scenario_ends(); });
  if (ends) {
    ends->NotifyWhenEnded(id, [bell] { bell->Ring(); });
  } else {
    bell->Ring();  // the exit hook took the client and ended its scenarios
  }
  Py_RETURN_NONE;
}

// _ringonmessage(doorbell): rings the doorbell after each server message
// that reaches the client's queues (also one they had to drop), from the
// thread that queued it; None stops that. One doorbell per client: a
// second replaces the first.
PyObject* RingOnMessage(ClientObject* self, PyObject* args) {
  PyObject* bell_arg;
  if (!PyArg_ParseTuple(args, "O", &bell_arg)) return nullptr;
  std::function<void()> hook;
  if (bell_arg != Py_None) {
    const std::shared_ptr<Doorbell> bell = DoorbellOf(bell_arg);
    if (!bell) return nullptr;
    hook = [bell] { bell->Ring(); };
  }
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  Run(self, 0, [&](ZLSim& s) {
    s.SetMessageHook(std::move(hook));
    return 0;
  });
  Py_RETURN_NONE;
}

PyObject* ListScenarios(ClientObject* self, PyObject*) {
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "listscenarios", std::string(),
                      [](ZLSim& s) { return s.ListScenarios(); }),
              MakeText);
}

PyObject* ScenarioInfo(ClientObject* self, PyObject* args) {
  int id;
  if (!PyArg_ParseTuple(args, "i", &id)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return Give(Checked(self, "scenarioinfo", std::string(),
                      [&](ZLSim& s) { return s.ScenarioInfo(id); }),
              MakeText);
}

// --- Operator questions and the context manager --------------------------------

// setquestionhandler(handler): a callable, or None to remove the handler.
// Registering and unregistering the client interface, and answering the
// questions a removed handler left queued, run in one hold of the client's
// lock. A question the old handler is already running with goes on; no
// later one is handed to it.
PyObject* SetQuestionHandler(ClientObject* self, PyObject* args) {
  PyObject* handler;
  if (!PyArg_ParseTuple(args, "O", &handler)) return nullptr;
  if (handler != Py_None && !PyCallable_Check(handler)) {
    return RaiseType("the question handler must be callable or None");
  }
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  std::shared_ptr<QuestionDesk>& slot = self->state->questions;
  if (!slot) {
    // The C-API boundary: an allocation failure becomes MemoryError.
    try {
      slot = std::make_shared<QuestionDesk>();
    } catch (const std::bad_alloc&) {
      return PyErr_NoMemory();
    }
  }
  if (QuestionDesk::SetHandler(slot, handler) < 0) return nullptr;
  QuestionDesk* desk = slot.get();
  const bool on = handler != Py_None;
  Run(self, 0, [&](ZLSim& s) {
    s.SetClientInterface(on ? desk : nullptr);
    if (!on) {
      for (const Question& q : desk->TakeQueued()) {
        s.AnswerQuestion(q.id, q.number, kNoHandlerAnswer);
      }
    }
    return 0;
  });
  Py_RETURN_NONE;
}

// answerquestion(id, number, answer): the library's result, 1 when a
// scenario waiting on that question took the answer, else 0.
PyObject* AnswerQuestion(ClientObject* self, PyObject* args) {
  int id;
  unsigned long number;
  const char* answer;
  if (!PyArg_ParseTuple(args, "iks", &id, &number, &answer)) return nullptr;
  ZL_REQUIRE_CLIENT(self, kNotInitialised);
  return PyLong_FromLong(Run(self, 0L, [&](ZLSim& s) {
    return s.AnswerQuestion(id, static_cast<unsigned>(number), answer);
  }));
}

PyObject* Enter(ClientObject* self, PyObject*) {
  Py_INCREF(self);
  return reinterpret_cast<PyObject*>(self);
}

// __exit__: disconnects and lets the exception of the block, if any, go on.
// Never raises: a client whose creation failed, or one the exit hook already
// stopped, has nothing to disconnect, and a failed disconnect is only
// reported on standard error like any other failed call.
PyObject* Exit(ClientObject* self, PyObject*) {
  if (SimOf(self) != nullptr) Run(self, -1, [](ZLSim& s) { return s.Disconnect(); });
  ReleaseRegisteredCallback(self->state);
  Py_RETURN_FALSE;
}

// --- Batches ------------------------------------------------------------------

// multipve(names): one dict per tag the server answered for, in the order of
// `names` ("tagname", "value", "mode", "type").
PyObject* MultiPVE(ClientObject* self, PyObject* args) {
  PyObject* list;
  if (!PyArg_ParseTuple(args, "O", &list)) return nullptr;
  ZL_REQUIRE_CLIENT(self, "multipve() not called or unsuccessful");
  if (!PyList_Check(list)) return RaiseRuntime("argument 1 to multipve() is not a list");

  // str() of every element, kept alive until the dicts are built. The list
  // may change under a str() of an element, so its length is read each step.
  std::vector<PyObject*> names;
  std::vector<const char*> texts;
  auto release = [&names] {
    for (PyObject* n : names) Py_DECREF(n);
  };
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    PyObject* item = PyList_GET_ITEM(list, i);
    Py_INCREF(item);
    PyObject* name = PyObject_Str(item);
    Py_DECREF(item);
    const char* text = name != nullptr ? PyUnicode_AsUTF8(name) : nullptr;
    if (text == nullptr) {
      Py_XDECREF(name);
      release();
      return nullptr;
    }
    names.push_back(name);
    texts.push_back(text);
  }
  const int n = static_cast<int>(names.size());
  std::vector<double> values(names.size());
  std::vector<int> types(names.size());
  std::vector<int> modes(names.size());
  const std::optional<int> answered = Checked(self, "multipve", -1, [&](ZLSim& s) {
    return s.GetMultiPVE(texts.data(), n, values.data(), types.data(), modes.data());
  });
  if (!answered) {
    release();
    return nullptr;
  }
  int k = *answered;
  if (k > n) k = n;
  if (k < 0) k = 0;

  PyObject* result = PyList_New(k);
  for (int i = 0; result != nullptr && i < k; ++i) {
    PyObject* dict = Py_BuildValue("{s:O,s:d,s:s,s:s}", "tagname", names[i], "value", values[i],
                                   "mode", ModeName(modes[i]), "type", TypeName(types[i]));
    if (dict == nullptr) Py_CLEAR(result);
    else PyList_SET_ITEM(result, i, dict);
  }
  release();
  return result;
}

// setmultipve(names, values): every value a number and every name a str,
// checked before any call.
PyObject* SetMultiPVE(ClientObject* self, PyObject* args) {
  PyObject* names_arg;
  PyObject* values_arg;
  if (!PyArg_ParseTuple(args, "OO", &names_arg, &values_arg)) return nullptr;
  PyObject* names = PySequence_Fast(names_arg, "first argument must be iterable");
  if (names == nullptr) return nullptr;
  PyObject* values = PySequence_Fast(values_arg, "second argument must be iterable");
  if (values == nullptr) {
    Py_DECREF(names);
    return nullptr;
  }
  PyObject* result = nullptr;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(names);
  std::vector<const char*> texts;
  std::vector<double> numbers;
  if (n != PySequence_Fast_GET_SIZE(values)) {
    RaiseRuntime("number of tags and values must be equal");
    goto done;
  }
  for (Py_ssize_t i = 0; i < n; ++i) {
    // Both checks run; the name's message wins when both fail.
    const char* failure = nullptr;
    const double number = PyFloat_AsDouble(PySequence_Fast_GET_ITEM(values, i));
    if (number == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      failure = "all values must be numbers";
    }
    PyObject* name = PySequence_Fast_GET_ITEM(names, i);
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : nullptr;
    if (text == nullptr) {
      PyErr_Clear();
      failure = "all tagnames must be strings";
    }
    if (failure != nullptr) {
      RaiseType(failure);
      goto done;
    }
    texts.push_back(text);
    numbers.push_back(number);
  }
  if (SimOf(self) == nullptr) {
    result = PyLong_FromLong(-1);
  } else {
    // An empty batch is still a call: the arrays must not be null.
    const char* no_name = "";
    double no_value = 0.0;
    const char* const* name_array = texts.empty() ? &no_name : texts.data();
    const double* value_array = numbers.empty() ? &no_value : numbers.data();
    result = Give(Checked(self, "setmultipve", -1,
                          [&](ZLSim& s) {
                            return s.SetMultiPVE(name_array, static_cast<int>(n), value_array);
                          }),
                  MakeInt);
  }
done:
  Py_DECREF(names);
  Py_DECREF(values);
  return result;
}

#undef ZL_REQUIRE_CLIENT

// --- Method table ---------------------------------------------------------------

#define ZL_METHOD(name, function, doc) \
  {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)), METH_VARARGS, doc}

PyMethodDef client_methods[] = {
    ZL_METHOD("connect", Connect,
              "Connects to a Zelvik server registered on the network.\n\n"
              "connect(name) -> int: 0 when connected, else a negative status. "
              "An empty name connects to the default server."),
    ZL_METHOD("disconnect", Disconnect,
              "Disconnects from a Zelvik server.\n\n"
              "disconnect() -> int: 0 when a server was connected, else -1.\n"
              "Also ends the registration of the client's zl.Callback."),
    ZL_METHOD("listzldatabases", ListZLDatabases,
              "Lists the available ZL Databases registered on the network.\n\n"
              "listzldatabases() -> str: the names separated by commas, \"\" when none."),
    ZL_METHOD("setpve", SetPVE,
              "Set the engineering unit value of a Zelvik tag.\n\nsetpve(tag, value) -> int"),
    ZL_METHOD("setpv", SetPV, "Set the percentage value of a Zelvik tag.\n\nsetpv(tag, value) -> int"),
    ZL_METHOD("pve", PVE,
              "Returns the engineering unit value of a Zelvik tag.\n\npve(tag) -> float (0.0 on failure)"),
    ZL_METHOD("pv", PV, "Returns the percentage value of a Zelvik tag.\n\npv(tag) -> float (0.0 on failure)"),
    ZL_METHOD("pvestr", PVEStr,
              "Returns the display value of a Zelvik tag.\n\npvestr(tag) -> str (\"\" on failure)"),
    ZL_METHOD("tagexists", TagExists, "Returns True if the specified tag exists.\n\ntagexists(tag) -> bool"),
    ZL_METHOD("tagmode", TagMode, "Returns the mode of the tag.\n\ntagmode(tag) -> str: \"Auto\" or \"Manual\""),
    ZL_METHOD("tagtype", TagType, "Returns the type of the tag.\n\ntagtype(tag) -> str"),
    ZL_METHOD("zlexpr", ZLExpr,
              "Returns the result of evaluating the Zelvik expression.\n\nzlexpr(expression) -> float"),
    ZL_METHOD("initpv", InitPV, "Initializes the tag.\n\ninitpv(tag) -> int"),
    ZL_METHOD("tagcount", TagCount, "Find out how many tags are in the database.\n\ntagcount() -> int"),
    ZL_METHOD("searchtags", SearchTags,
              "Searches for tags in the database that match certain criteria.\n\n"
              "searchtags(pattern, field) -> str"),
    ZL_METHOD("setman", SetMan,
              "Sets the tagmode of a Zelvik tag to Manual.\n\n"
              "setman(tag) -> bool: True when the server made the change; False for an\n"
              "unknown tag, a client that is not connected or a call that failed."),
    ZL_METHOD("setauto", SetAuto,
              "Sets the tagmode of a Zelvik tag to Auto.\n\n"
              "setauto(tag) -> bool: True when the server made the change; False for an\n"
              "unknown tag, a client that is not connected or a call that failed."),
    ZL_METHOD("algsrunning", AlgsRunning,
              "Sets the state of the Zelvik calculations.\n\n"
              "algsrunning([on]) -> bool: the state before any change."),
    ZL_METHOD("doasinglecalccycle", DoASingleCalcCycle,
              "Tell the Zelvik server to do a single Calculation cycle.\n\n"
              "doasinglecalccycle(seconds) -> int"),
    ZL_METHOD("upload", Upload,
              "Returns the tag definition as a tab-delimited string ready to download.\n\n"
              "upload(tag) -> str"),
    ZL_METHOD("createserver", CreateServer,
              "Creates a new Zelvik server on the host specified.\n\n"
              "createserver(server, host) -> int: 0 when created, else -1."),
    ZL_METHOD("enableevents", EnableEvents,
              "Enables errors and warnings to be pushed to this client.\n\n"
              "enableevents(on) -> int: 0 enabled, 1 already enabled or no channel, -1 failure.\n"
              "A client whose consumer the channel disconnected joins it again: 0."),
    ZL_METHOD("download", Download,
              "Downloads one or more tags (separate lines) to the database.\n\ndownload(lines) -> int"),
    ZL_METHOD("deletetag", DeleteTag,
              "Deletes the tag from the database\n\n"
              "deletetag(tag) -> bool: True when the call reached the server and it raised\n"
              "nothing (the server's result code is its own and is not read); False\n"
              "for a client that is not connected or a call that failed."),
    ZL_METHOD("euhi", EUHi, "Returns the engineering unit high value of a Zelvik tag.\n\neuhi(tag) -> float"),
    ZL_METHOD("eulo", EULo, "Returns the engineering unit low value of a Zelvik tag.\n\neulo(tag) -> float"),
    ZL_METHOD("setforce", SetForce,
              "Sets the force status of the tag.\n\n"
              "setforce(tag, on) -> bool: True when the server took the request (it may\n"
              "still refuse to force a tag in Auto mode, with a warning message); False\n"
              "for an unknown tag, a client that is not connected or a call that failed."),
    ZL_METHOD("isforced", IsForced, "Returns the force status of the tag.\n\nisforced(tag) -> bool"),
    ZL_METHOD("cycletime", CycleTime,
              "Sets or gets the master Zelvik cycle time.\n\n"
              "cycletime([seconds]) -> float: the cycle time before any change."),
    ZL_METHOD("ioenabled", IOEnabled,
              "Sets or gets the current state of the I/O.\n\n"
              "ioenabled([on]) -> bool: the state before any change."),
    ZL_METHOD("warpfactor", WarpFactor,
              "Sets or gets the Zelvik warpfactor.\n\n"
              "warpfactor([factor]) -> float: the warp factor before any change."),
    ZL_METHOD("savetags", SaveTags, "Saves a .TAG file.\n\nsavetags(path) -> int: the number of tags saved."),
    ZL_METHOD("readtags", ReadTags,
              "Restores a .TAG file.\n\nreadtags(path) -> int: the number of tags restored."),
    ZL_METHOD("startscenario", StartScenario,
              "Starts a Zelvik scenario.\n\nstartscenario(file[, options]) -> int"),
    ZL_METHOD("stopscenario", StopScenario, "Stops a Zelvik scenario.\n\nstopscenario(id) -> int"),
    ZL_METHOD("waitscenario", WaitScenario,
              "Waits for scenario `id` to end.\n\n"
              "waitscenario(id, timeout=None) -> bool: True once the scenario no longer\n"
              "runs (its test log is then complete; also True at once for a scenario\n"
              "that ended earlier or an id that never ran), False when `timeout`\n"
              "seconds passed first. Without a timeout it waits until the end. The\n"
              "interpreter lock is released while waiting, and other calls of the\n"
              "client go on meanwhile; Ctrl-C raises KeyboardInterrupt."),
    ZL_METHOD("listscenarios", ListScenarios,
              "Returns a list of scenarios that are running.\n\nlistscenarios() -> str"),
    ZL_METHOD("scenarioinfo", ScenarioInfo,
              "Gets information about a running scenario.\n\nscenarioinfo(id) -> str"),
    ZL_METHOD("tagstats", TagStats,
              "Returns information about the tags in the Zelvik database.\n\ntagstats(selector) -> str"),
    ZL_METHOD("msgsexist", MsgsExist,
              "Returns whether or not warning and erorr messages have been pushed to the client.\n\n"
              "msgsexist(type) -> bool; type is one of the MsgType_ constants."),
    ZL_METHOD("getnextzlmessage", GetNextZLMessage,
              "Returns the next message available to the client of the specific type.\n\n"
              "getnextzlmessage(type) -> str (\"\" when none)"),
    ZL_METHOD("hellozl", HelloZL,
              "Returns various information about the Zelvik server.\n\nhellozl(selector) -> str"),
    ZL_METHOD("zlfind", ZLFind,
              "Returns various information about the Zelvik server.\n\n"
              "zlfind(text, pattern) -> int: 1 when the pattern matches the text, else 0."),
    ZL_METHOD("shutdown", Shutdown,
              "Stops the Zelvik server, causing it to exit.\n\nshutdown(how, delay) -> bool"),
    ZL_METHOD("siminit", SimInit,
              "Reinitialzes the Zelvik database, wiping out all the tags.\n\nsiminit(options) -> int"),
    ZL_METHOD("multipve", MultiPVE,
              "Returns the values and modes for multiple tags in one call.\n\n"
              "multipve(names: list) -> list of dict with \"tagname\", \"value\", \"mode\", \"type\"."),
    ZL_METHOD("setmultipve", SetMultiPVE,
              "sets a number of tags all at once.\n\nsetmultipve(names, values) -> int"),
    ZL_METHOD("setquestionhandler", SetQuestionHandler,
              "Sets the handler of the operator questions (ANSWER statements) that\n"
              "this client's scenarios ask; None removes it.\n"
              "\n"
              "Thread rules: the handler runs on the client's question thread (a\n"
              "daemon thread named \"zl-questions\"), never on a scenario worker; it\n"
              "gets the questions one at a time in the order they were asked, as\n"
              "handler(scenario_id, question_number, scenario_file, question_text).\n"
              "The asking scenario waits meanwhile (at most the ANSWER's timeout),\n"
              "other scenarios go on. The handler answers with answerquestion, at\n"
              "once or later from any thread; it may call every method of the\n"
              "client. An exception it raises is printed as an unraisable error and\n"
              "the question stays unanswered. A handler that blocks delays only the\n"
              "later questions of this client.\n"
              "\n"
              "While a handler is set the client's interface is named \"python\" (the\n"
              "answering party in the test log). Removing the handler answers the\n"
              "questions not yet handed to it with \"No questions handled by client\",\n"
              "as later questions are answered without a handler. A disconnect keeps\n"
              "the handler; the next connect uses it again. Questions are no longer\n"
              "handed out once the interpreter exits."),
    ZL_METHOD("answerquestion", AnswerQuestion,
              "Answers question `number` of scenario `id`: 1 when a scenario\n"
              "waiting on that question took the answer, 0 otherwise (a wrong\n"
              "number, a question that timed out, a scenario that ended). An answer\n"
              "starting with 1, Y or T (any case) passes."),
    ZL_METHOD("_ringonend", RingOnEnd,
              "_ringonend(id, doorbell) -> None: rings the zl._zl._Doorbell once scenario\n"
              "`id` no longer runs (at once when it does not run now)."),
    ZL_METHOD("_ringonmessage", RingOnMessage,
              "_ringonmessage(doorbell) -> None: rings the zl._zl._Doorbell after each\n"
              "server message that reaches the client's queues; None stops that."),
    {"__enter__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Enter)), METH_NOARGS,
     "Gives the client itself."},
    {"__exit__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Exit)), METH_VARARGS,
     "Disconnects the client; never suppresses the block's exception."},
    {nullptr, nullptr, 0, nullptr},
};

#undef ZL_METHOD

PyGetSetDef client_getset[] = {
    {"raise_errors", GetRaiseErrors, SetRaiseErrors,
     "Raising mode: True makes a failed call raise a zl.Error (zl.NotConnected,\n"
     "zl.TagNotFound, zl.ServerError, zl.CallTimeout, zl.CommunicationFailure)\n"
     "instead of giving its failure value. Set by zl.Client(options,\n"
     "raise_errors=True); may be changed at any time.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// Filled in by ReadyClientType: value-initialised here, so every slot not set
// there is empty.
PyTypeObject ClientType{};

int ReadyClientType() {
  if (PyType_HasFeature(&ClientType, Py_TPFLAGS_READY)) return 0;
  Py_SET_REFCNT(&ClientType, 1);  // a static type object is never freed
  ClientType.tp_name = "zl.Client";
  ClientType.tp_doc = "Zelvik Client object that connects to a Zelvik Server";
  ClientType.tp_basicsize = sizeof(ClientObject);
  ClientType.tp_itemsize = 0;
  ClientType.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  ClientType.tp_new = ClientNew;
  ClientType.tp_init = ClientInit;
  ClientType.tp_dealloc = ClientDealloc;
  ClientType.tp_methods = client_methods;
  ClientType.tp_getset = client_getset;
  return PyType_Ready(&ClientType);
}

ZLSim* ClientSim(PyObject* client) {
  if (!PyObject_TypeCheck(client, &ClientType)) return nullptr;
  return SimOf(reinterpret_cast<ClientObject*>(client));
}

}  // namespace py
}  // namespace zl
