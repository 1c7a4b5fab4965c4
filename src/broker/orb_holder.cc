#include "broker/orb_holder.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_stdlib.h>
#include <ace/Reactor.h>
#include <ace/Thread_Manager.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "broker/orb_args.h"
#include "common/exception_text.h"
#include "common/log.h"
#include "common/orb_argv.h"

namespace zl {
namespace {

// OrbRunner's slice: how long one turn of the reactor may take, and so how
// long a stop request may wait to be seen.
const ACE_Time_Value kSlice(0, 250000);
// How long Shutdown waits for OrbRunner to leave before giving up on it.
constexpr auto kRunnerStopLimit = std::chrono::seconds(3);
// How long Shutdown waits for the ORB's shutdown, which waits for every
// upcall in progress, before leaving the ORB to the end of the process.
constexpr auto kOrbShutdownLimit = std::chrono::seconds(5);

using HolderSingleton = ACE_Singleton<OrbHolder, ACE_Recursive_Thread_Mutex>;

void ShutdownAtExit() { OrbHolder::instance()->Shutdown(); }

}  // namespace

OrbHolder* OrbHolder::instance() {
  // ACE_Singleton's double-checked lock reads its pointer without a memory
  // barrier, so first calls on several threads at once (clients made on many
  // threads) race there. A function-local static is initialised once, the
  // other threads waiting, and later calls only read the constant.
  static OrbHolder* const holder = HolderSingleton::instance();
  return holder;
}

OrbHolder::OrbHolder() : reactor_(new ACE_Reactor) {
  SetProcessLogMask(kProcessLogMask);
}

OrbHolder::~OrbHolder() {
  // Releases references only: by now the ORB was shut down (Shutdown ran from
  // the exit handlers) or belongs to somebody else.
  root_poa_ = PortableServer::POA::_nil();
  orb_ = CORBA::ORB::_nil();
  if (!runner_running_) delete reactor_;
}

int OrbHolder::InitOrb(const char* options) {
  // Clients made at the same moment on several threads all find the count 0
  // and come here: the first initialises, the others wait for it and then
  // find the count set.
  std::lock_guard<std::mutex> lock(init_mu_);
  if (init_count_ != 0) {
    ACE_DEBUG((LM_DEBUG, "BUGFIX: Skipped InitOrb(), Errors may loom\n"));
    return 1;
  }
  try {
    OrbArgs args = AssembleOrbArgs(options, ACE_OS::getenv("Zelvik_Interface"));
    // Under omniORB's one identifier, "omniORB4": the client ORB all the same.
    CORBA::ORB_var orb = InitOrbWithWords(TranslateForOrb(args.words, args.ns_ior_file));
    orb_ = orb._retn();
    // omniORB shows no reference count; the library is the first and only
    // one to initialise the process's ORB, so it is ours to shut down.
    owns_orb_ = true;
    ns_ior_file_ = args.ns_ior_file;
    orb_args_ = std::move(args.words);
    if (exit_handlers_ == 0 && std::atexit(ShutdownAtExit) == 0) ++exit_handlers_;
    StartRunner();
    // Last: a client that reads a count of 1 uses the ORB without InitOrb.
    ++init_count_;
    return 0;
  } catch (const CORBA::Exception& e) {
    ZL_LOG_CORBA(LM_ERROR, e);
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "#error: InitOrb failed\n"));
  }
  return -1;
}

int OrbHolder::StartRunner() {
  try {
    CORBA::Object_var obj = orb_->resolve_initial_references("RootPOA");
    root_poa_ = PortableServer::POA::_narrow(obj.in());
    PortableServer::POAManager_var manager = root_poa_->the_POAManager();
    manager->activate();
    runner_running_ = true;
    if (ACE_Thread_Manager::instance()->spawn(OrbRunner, this, 0, &runner_id_, &runner_handle_,
                                              0, -1, nullptr) == -1) {
      runner_running_ = false;
      runner_id_ = 0;
      ACE_DEBUG((LM_ERROR, "Client OrbRunner did not start\n"));
      return -1;
    }
    ++runner_starts_;
    return 0;
  } catch (const CORBA::SystemException& e) {
    ZL_LOG_CORBA(LM_ERROR, e);
    return -1;
  }
}

ACE_THR_FUNC_RETURN OrbHolder::OrbRunner(void* arg) {
  auto* holder = static_cast<OrbHolder*>(arg);
  if (holder == nullptr) return reinterpret_cast<ACE_THR_FUNC_RETURN>(255);

  ACE_Thread_Manager* manager = ACE_Thread_Manager::instance();
  const ACE_thread_t self = ACE_Thread::self();
  CORBA::ORB_var orb = CORBA::ORB::_duplicate(holder->orb_.in());
  ACE_Reactor* reactor = holder->reactor_;
  reactor->owner(self);
  holder->stop_flag_ = false;

  long status = 255;
  if (!manager->testcancel(self)) {
    // The runner thread's entry: nothing may escape it; the status tells
    // how it ended.
    try {
      for (;;) {
        ACE_Time_Value slice = kSlice;
        reactor->handle_events(slice);
        while (orb->work_pending()) orb->perform_work();
        if (manager->testcancel(self)) {
          status = 0;
          break;
        }
        if (holder->stop_flag_) {
          ACE_DEBUG((LM_WARNING, "[CLIENT](%P/%t) OR used backup cancel flag.\n"));
          status = 1;
          break;
        }
      }
    } catch (const CORBA::Exception& e) {
      const std::string text = ExceptionText(e);
      ACE_DEBUG((LM_DEBUG, "#[CLIENT] (%P/%t) OR threw CORBA exception %s\n", text.c_str()));
      status = 240;
    } catch (...) {
      ACE_DEBUG((LM_CRITICAL, "#[CLIENT](%P/%t) OR threw something\n"));
      status = 254;
    }
  }
  orb = CORBA::ORB::_nil();
  holder->runner_running_ = false;
  return reinterpret_cast<ACE_THR_FUNC_RETURN>(status);
}

void OrbHolder::Shutdown() {
  std::lock_guard<std::mutex> lock(shutdown_mu_);
  if (shut_down_) return;
  shut_down_ = true;
  // Waits for an InitOrb in progress on another thread; a later InitOrb
  // finds the count set and leaves the ORB shut down.
  std::lock_guard<std::mutex> init_lock(init_mu_);

  if (runner_id_ != ACE_thread_t{} && runner_running_) {
    ACE_Thread_Manager* manager = ACE_Thread_Manager::instance();
    manager->cancel(runner_id_);
    reactor_->notify();
    const auto limit = std::chrono::steady_clock::now() + kRunnerStopLimit;
    while (runner_running_ && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (runner_running_) {
      ACE_DEBUG((LM_WARNING, "#warning: client OrbRunner did not stop\n"));
    } else {
      manager->join(runner_id_);
    }
  }
  if (CORBA::is_nil(orb_)) return;
  if (owns_orb_) {
    // shutdown(true) waits for every upcall in progress, and an upcall that
    // never returns (a host's consumer callback blocked for good) would hold
    // the process at its exit. So the shutdown runs on a thread of its own
    // and is waited for a bounded time; past that it is left running and
    // the process's end takes it (and the blocked upcall) along.
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread closer([orb = CORBA::ORB::_duplicate(orb_.in()), done]() mutable {
      // The closing thread's entry: nothing may escape a std::thread (it
      // would end the process), and `done` must be set in every case.
      try {
        orb->shutdown(true);
        orb->destroy();
      } catch (const CORBA::Exception& e) {
        ZL_LOG_CORBA(LM_ERROR, e);
      } catch (...) {
        // Not the ORB's: the ORB is as far shut down as it got.
      }
      CORBA::release(orb);
      *done = true;
    });
    const auto limit = std::chrono::steady_clock::now() + kOrbShutdownLimit;
    while (!*done && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (*done) {
      closer.join();
    } else {
      ACE_DEBUG((LM_WARNING, "#warning: client ORB shutdown waits on a call in progress; left to the process's end\n"));
      closer.detach();
    }
  }
  root_poa_ = PortableServer::POA::_nil();
  orb_ = CORBA::ORB::_nil();
}

}  // namespace zl
