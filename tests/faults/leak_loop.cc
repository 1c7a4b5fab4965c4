// leak_loop: the client's whole life cycle, over and over, for a leak check.
//
//   leak_loop ITERATIONS WORKDIR
//
// Each iteration makes a new ZLSim on the services named by $ZL_ORB_OPTIONS
// (tools/zl_services.py sets it), connects to "SIM", enables server
// messages, connects a tag-change consumer and waits for its first event,
// runs a scenario that records into a log set made with LSCmd, saves and
// restores the tag file, takes the messages, disconnects and destroys the
// client. At the end it shuts the ORB down, as a process's exit would.
// Exit status 0 when every step worked, 1 (with the step on standard error)
// otherwise. scripts/leakcheck runs it under valgrind with two counts and
// compares what leaked.
//
// Threads: the main thread runs the loop; omniORB's threads deliver events
// to the consumer, whose count is atomic.
#include <ace/Log_Msg.h>
#include <omniORB4/CORBA.h>

#include <COS/CosNotifyComm.hh>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "broker/orb_holder.h"
#include "broker/zl_sim.h"
#include "support/local_db_access.h"

namespace {

// Counts the structured events pushed to it.
class CountingConsumer : public POA_CosNotifyComm::StructuredPushConsumer {
 public:
  void push_structured_event(const CosNotification::StructuredEvent&) override { ++events_; }
  void disconnect_structured_push_consumer() override {}
  void offer_change(const CosNotification::EventTypeSeq&, const CosNotification::EventTypeSeq&) override {}
  int events() const { return events_.load(); }

 private:
  std::atomic<int> events_{0};
};

// Polls `done` in 20 ms slices for at most `seconds`.
bool WaitFor(const std::function<bool()>& done, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// One log set command; gives its reply.
std::string Command(zl::ZLSim& sim, const std::string& line) {
  CORBA::String_var reply = zl::testing::LocalDb(sim).LSCmd(line.c_str());
  return reply.in();
}

bool Fail(int iteration, const char* step) {
  std::fprintf(stderr, "leak_loop: iteration %d: %s failed\n", iteration, step);
  return false;
}

// One life cycle of a client. The consumer is activated once by the caller.
bool Iteration(int i, const std::string& options, const std::string& dir,
               CountingConsumer& consumer, CosNotifyComm::StructuredPushConsumer_ptr ref) {
  auto sim = std::make_unique<zl::ZLSim>(options.c_str());
  if (sim->Connect("SIM") != 0) return Fail(i, "connect");
  if (sim->EnableEvents(true) != 0) return Fail(i, "enable events");
  const int before = consumer.events();
  if (zl::testing::LocalDb(*sim).SetupNotifications(ref) != 0) return Fail(i, "notifications");
  if (!WaitFor([&] { return consumer.events() > before; }, 60)) return Fail(i, "first event");

  const std::string log = dir + "/leak.log";
  if (Command(*sim, "LSCREATE LEAK") != "OK") return Fail(i, "LSCREATE");
  if (Command(*sim, "LSSET LEAK FILE " + log) != "OK") return Fail(i, "LSSET FILE");
  if (Command(*sim, "LSADDTAGS LEAK TANK_LEVEL, TANK_TEMP, 1.5") != "OK") return Fail(i, "LSADDTAGS");
  if (Command(*sim, "LSSET LEAK ENABLE true") != "OK") return Fail(i, "LSSET ENABLE");
  const int id = sim->StartScenario((dir + "/leak.scn").c_str(), "ARG");
  if (id <= 0) return Fail(i, "start scenario");
  if (!WaitFor([&] { return sim->ScenarioInfo(id).empty(); }, 120)) return Fail(i, "scenario end");
  Command(*sim, "LSDELETE LEAK");

  const std::string tags = dir + "/leak.tag";
  if (sim->SaveTags(tags.c_str()) <= 0) return Fail(i, "savetags");
  if (sim->ReadTags(tags.c_str()) <= 0) return Fail(i, "readtags");
  while (!sim->GetNextZLMessage(0).empty()) {
  }
  if (sim->Disconnect() != 0) return Fail(i, "disconnect");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[1]) <= 0) {
    std::fprintf(stderr, "usage: leak_loop ITERATIONS WORKDIR (with ZL_ORB_OPTIONS set)\n");
    return 2;
  }
  const int iterations = std::atoi(argv[1]);
  const std::string dir = argv[2];
  const char* env = std::getenv("ZL_ORB_OPTIONS");
  const std::string options = std::string(env != nullptr ? env : "");
  ACE_LOG_MSG->priority_mask(LM_WARNING | LM_ERROR | LM_CRITICAL | LM_ALERT | LM_EMERGENCY, ACE_Log_Msg::PROCESS);

  {
    std::ofstream scn(dir + "/leak.scn");
    scn << "# one leak-check round\n"
           "USELOG LEAK\n"
           "ZLCMD LSCOMMENT LEAK round $1\n"
           "MONITOR TEMP_SP 60\n"
           "VERIFY FEED_PUMP_CMD 1\n"
           "SETPVE LEVEL_SP 3\n"
           "DELAY 300 (LEVEL_SP > 2.9)\n"
           "VERIFY LEVEL_SP 3\n"
           "SETPVE LEVEL_SP 2.5\n"
           "ZLCMD LSSNAP LEAK\n";
    if (!scn) {
      std::fprintf(stderr, "leak_loop: cannot write %s/leak.scn\n", dir.c_str());
      return 1;
    }
  }

  // The ORB comes up with the first client. The consumer lives across the
  // clients; at the end it is deactivated and its POA holds the last
  // reference: a push may still be in flight when the last client
  // disconnects, and the servant goes only when that push has completed,
  // however long the ORB's shutdown takes (its wait is bounded).
  int status = 0;
  auto consumer = std::make_unique<CountingConsumer>();
  {
    zl::ZLSim first(options.c_str());
    CORBA::ORB_ptr orb = zl::OrbHolder::instance()->orb();
    if (CORBA::is_nil(orb)) {
      std::fprintf(stderr, "leak_loop: no ORB\n");
      return 1;
    }
    CORBA::Object_var root = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(root.in());
    PortableServer::ObjectId_var oid = poa->activate_object(consumer.get());
    CORBA::Object_var object = poa->id_to_reference(oid.in());
    CosNotifyComm::StructuredPushConsumer_var ref =
        CosNotifyComm::StructuredPushConsumer::_narrow(object.in());
    for (int i = 1; i <= iterations && status == 0; ++i) {
      if (!Iteration(i, options, dir, *consumer, ref.in())) status = 1;
    }
    // The last disconnect tore the consumer's connection down; let a push
    // that was already on its way arrive before the ORB goes (bounded).
    for (int k = 0, seen = -1; k < 20 && consumer->events() != seen; ++k) {
      seen = consumer->events();
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    poa->deactivate_object(oid.in());
  }
  consumer.release()->_remove_ref();
  zl::OrbHolder::instance()->Shutdown();
  if (status == 0) std::printf("leak_loop: %d iterations done\n", iterations);
  return status;
}
