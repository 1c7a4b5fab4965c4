// What the servants of a database need from the process that serves them:
// its ORB and POAs, the fault table and tag-file iterators that every
// database of the process shares, its identity and its stop request.
//
// zelvik-sim's Server is one; the tests' in-process server (tests/support)
// is another, so that the servants run unchanged inside a test program.
// Implementations are thread-safe: servants call them from any ORB thread.
#ifndef ZL_SIM_SERVER_CONTEXT_H_
#define ZL_SIM_SERVER_CONTEXT_H_

#include <COS/CosLifeCycle.hh>
#include <omniORB4/CORBA.h>

#include <string>

namespace zl::sim {

class FaultTable;
class IteratorRegistry;

// The text HelloZL gives for "$KERNEL.VERSION" and ZelvikAdmin::Version.
inline constexpr char kServerVersion[] = "zelvik-sim 1.0.0";

class ServerContext {
 public:
  virtual ~ServerContext() = default;

  // Fixed once the servants exist (borrowed references).
  virtual CORBA::ORB_ptr orb() const = 0;
  virtual PortableServer::POA_ptr poa() const = 0;
  virtual PortableServer::Current_ptr poa_current() const = 0;
  // The Event Service factory of the message channels; nil: a database has
  // no message channel and its messages go nowhere.
  virtual CosLifeCycle::GenericFactory_ptr event_factory() const = 0;
  // Serves ZelvikDatabase only (no ZelvikDatabase2).
  virtual bool legacy() const = 0;
  // Copies every published message to standard error.
  virtual bool verbose() const = 0;
  // The host name HelloZL gives for "$KERNEL.HOST".
  virtual const std::string& host() const = 0;
  // The factory's stringified reference; "" without a factory.
  virtual const std::string& factory_ior() const = 0;

  virtual FaultTable& faults() = 0;
  virtual IteratorRegistry& iterators() = 0;
  // Seconds since the server started.
  virtual long RunningTime() const = 0;
  // Asks the process to stop after `delay_seconds`. Returns at once; safe
  // from servant upcalls.
  virtual void RequestStop(double delay_seconds) = 0;
};

}  // namespace zl::sim

#endif  // ZL_SIM_SERVER_CONTEXT_H_
