#include "support/in_process_server.h"

#include <omniORB4/CORBA.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "database_host.h"
#include "server_context.h"
#include "simulation_loop.h"
#include "support/test_tags.h"

namespace zl::testing {
namespace {

// The statement tests' own tags; the test plant's follow them.
constexpr char kStatementTags[] =
    "T1\tPLC1\tAI:0\tAnalog\tLevel [m]\t0\t100\t4\t20\tAuto\tNONE\t\t50\n"
    "T2\t\t\tAnalog\tFlow\t-10\t10\t\t\tAuto\tRAMP\tRATE=1\t0\n"
    "D1\tPLC1\tDI:1\tDigital\tPump [OFF/ON]\t0\t1\t0\t1\tAuto\tNONE\t\t1\n"
    "M1\t\t\tAnalog\tSetpoint\t0\t10\t\t\tManual\tNONE\t\t5\n";

// The process as the servants see it: an ORB pinned to loopback, its root
// POA, and no Naming Service, event service or factory. A stop request is
// ignored (the test program is not a server to stop).
class Context : public sim::ServerContext {
 public:
  Context() : started_(std::chrono::steady_clock::now()) {
    setenv("OMNIORB_CONFIG", "/dev/null", 1);
    const char* argv[] = {"zl-in-process-server", "-ORBendPoint", "giop:tcp:127.0.0.1:"};
    int argc = 3;
    orb_ = CORBA::ORB_init(argc, const_cast<char**>(argv), "omniORB4");
    CORBA::Object_var obj = orb_->resolve_initial_references("RootPOA");
    poa_ = PortableServer::POA::_narrow(obj);
    PortableServer::POAManager_var manager = poa_->the_POAManager();
    manager->activate();
    obj = orb_->resolve_initial_references("POACurrent");
    poa_current_ = PortableServer::Current::_narrow(obj);
  }

  CORBA::ORB_ptr orb() const override { return orb_.in(); }
  PortableServer::POA_ptr poa() const override { return poa_.in(); }
  PortableServer::Current_ptr poa_current() const override { return poa_current_.in(); }
  CosLifeCycle::GenericFactory_ptr event_factory() const override {
    return CosLifeCycle::GenericFactory::_nil();
  }
  bool legacy() const override { return false; }
  bool verbose() const override { return false; }
  const std::string& host() const override { return host_; }
  const std::string& factory_ior() const override { return factory_ior_; }
  sim::FaultTable& faults() override { return faults_; }
  sim::IteratorRegistry& iterators() override { return iterators_; }
  long RunningTime() const override {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - started_)
                                 .count());
  }
  void RequestStop(double) override {}

 private:
  const std::chrono::steady_clock::time_point started_;
  const std::string host_ = "localhost";
  const std::string factory_ior_;
  CORBA::ORB_var orb_;
  PortableServer::POA_var poa_;
  PortableServer::Current_var poa_current_;
  sim::FaultTable faults_;
  sim::IteratorRegistry iterators_;
};

}  // namespace

struct InProcessServer::Impl {
  Context context;
  sim::DatabaseHost host{&context, "SIM"};
  ZEMR::ZelvikDatabase_var ref;
};

InProcessServer& InProcessServer::Instance() {
  static InProcessServer* server = new InProcessServer();
  return *server;
}

InProcessServer::InProcessServer() : impl_(new Impl) {
  CORBA::Object_var obj = impl_->host.Reference();
  impl_->ref = ZEMR::ZelvikDatabase::_narrow(obj);
  Reset();
}

ZEMR::ZelvikDatabase_ptr InProcessServer::database() const { return impl_->ref.in(); }

sim::TagDatabase& InProcessServer::db() { return impl_->host.db(); }

sim::FaultTable& InProcessServer::faults() { return impl_->context.faults(); }

void InProcessServer::ArmChunkSource(sim::ChunkSource source) {
  impl_->context.iterators().ArmSource(std::move(source));
}

void InProcessServer::Reset() {
  impl_->context.faults().Clear();
  impl_->context.iterators().Clear();
  impl_->context.iterators().ArmSource(nullptr);
  sim::SimulationLoop& loop = impl_->host.loop();
  while (loop.Held()) loop.Release();
  loop.SetCycleTime(1);
  loop.SetWarp(1);
  sim::TagDatabase& db = impl_->host.db();
  db.Clear("");
  db.EnableAlgorithms(true, "Reset");
  db.EnableIo(true, "Reset");
  db.Download(kStatementTags);
  db.Download(kTestTags);
}

void InProcessServer::Advance(const ACE_Time_Value& elapsed) {
  if (!(elapsed > ACE_Time_Value::zero)) return;
  impl_->host.loop().Advance(std::chrono::seconds(elapsed.sec()) +
                             std::chrono::microseconds(elapsed.usec()));
}

PlantClock::PlantClock(double budget_seconds) : VirtualClock(budget_seconds) {}

void PlantClock::Moved(const ACE_Time_Value& moved) const {
  InProcessServer::Instance().Advance(moved);
}

}  // namespace zl::testing
