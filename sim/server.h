// The zelvik-sim process: its ORB and POA, the Naming Service and event
// service it uses, the databases it serves, the factory, the fault table,
// the control endpoint and the stop request. It is the servants'
// ServerContext.
//
// Start runs on the main thread; afterwards ORB threads (servants), the
// control endpoint and the housekeeping thread use the server. mu_ guards
// the database list and the stop request; everything else is fixed once
// Start has returned.
#ifndef ZL_SIM_SERVER_H_
#define ZL_SIM_SERVER_H_

#include <COS/CosLifeCycle.hh>
#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fault_table.h"
#include "options.h"
#include "server_context.h"
#include "tagfile_iterator.h"

namespace zl::sim {

class ControlEndpoint;
class DatabaseHost;

class Server : public ServerContext {
 public:
  explicit Server(Options options);
  ~Server() override;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Brings everything up and prints the ready line. Gives 0, or the exit
  // status after printing the reason on standard error (2 for bad tag
  // files, 1 for anything else).
  int Start();
  // Waits until a stop is requested (and its delay has passed).
  void WaitForStop();
  // Unbinds, stops every thread and shuts the ORB down. Idempotent.
  void Shutdown();

  // Asks the main thread to stop after `delay_seconds`. Returns at once;
  // safe from any thread, including servant upcalls.
  void RequestStop(double delay_seconds) override;

  // Creates, activates, binds (and writes the IOR file of) a database, or
  // gives the one of exactly that name. Null, with a reason, for a bad name
  // or a failure.
  DatabaseHost* CreateDatabase(const std::string& name, std::string* error);
  // The database of that name; an exact match first, then any case.
  DatabaseHost* FindDatabase(const std::string& name) const;
  DatabaseHost* FirstDatabase() const;
  std::vector<std::string> DatabaseNames() const;

  CORBA::ORB_ptr orb() const override { return orb_.in(); }
  PortableServer::POA_ptr poa() const override { return poa_.in(); }
  PortableServer::Current_ptr poa_current() const override { return poa_current_.in(); }
  CosLifeCycle::GenericFactory_ptr event_factory() const override { return event_factory_.in(); }
  FaultTable& faults() override { return faults_; }
  IteratorRegistry& iterators() override { return iterators_; }
  const Options& options() const { return options_; }
  bool legacy() const override { return options_.legacy; }
  bool verbose() const override { return options_.verbose; }
  const std::string& host() const override { return host_; }
  const std::string& factory_ior() const override { return factory_ior_; }
  long RunningTime() const override;

 private:
  // The steps of Start, in order. Each gives false after printing the
  // reason on standard error.
  bool ReadTagFiles();            // checks and keeps the --tags files
  bool StartOrb();                // the ORB (on loopback unless told otherwise), the POA
  bool FindNamingService();       // none configured: naming_ stays nil, nothing is bound
  bool FindEventService();        // the --event-service factory, if any
  bool BindFactory();
  bool CreateStartupDatabases();  // the --db databases, loaded with the tag files
  bool StartControl();
  void PrintReadyLine() const;

  void Bind(const CosNaming::Name& name, CORBA::Object_ptr obj);
  void Unbind(const CosNaming::Name& name);
  void BindLegacyChannel(DatabaseHost* host);
  void Housekeeping();

  const Options options_;
  const std::chrono::steady_clock::time_point started_;
  std::string host_;
  std::vector<std::string> tag_texts_;  // contents of the --tags files

  CORBA::ORB_var orb_;
  PortableServer::POA_var poa_;
  PortableServer::Current_var poa_current_;
  CosNaming::NamingContext_var naming_;  // nil without a Naming Service
  CosLifeCycle::GenericFactory_var event_factory_;  // nil without --event-service
  std::string factory_ior_;
  FaultTable faults_;
  IteratorRegistry iterators_;
  std::unique_ptr<ControlEndpoint> control_;
  std::thread housekeeper_;

  mutable std::mutex mu_;
  std::condition_variable cv_;
  // Guarded by mu_:
  std::vector<std::unique_ptr<DatabaseHost>> databases_;
  bool stop_requested_ = false;
  std::chrono::steady_clock::time_point stop_at_;
  bool shut_down_ = false;
  bool stopping_ = false;  // for the housekeeping thread
};

}  // namespace zl::sim

#endif  // ZL_SIM_SERVER_H_
