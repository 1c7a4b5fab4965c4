// ZelvikFactory: makes databases in this process (create) and answers
// HelloFactory. Bound as {host, "ZelvikFactory"}. Safe from any ORB thread.
#ifndef ZL_SIM_FACTORY_SERVANT_H_
#define ZL_SIM_FACTORY_SERVANT_H_

#include "zemr.hh"

namespace zl::sim {

class Server;

class FactoryServant : public virtual POA_ZEMR::ZelvikFactory {
 public:
  explicit FactoryServant(Server* server) : server_(server) {}

  // Creates, binds and starts an empty database called `name`, or gives the
  // existing one. Nil for a name that is empty, too long or holds a "/",
  // a blank or a control character, and in legacy mode (a legacy database
  // is no ZelvikDatabase2).
  ZEMR::ZelvikDatabase2_ptr create(const char* name) override;
  // "LIST" gives the database names (comma-separated); anything else a
  // greeting naming the host and the databases.
  char* HelloFactory(const char* text) override;

 private:
  Server* const server_;
};

}  // namespace zl::sim

#endif  // ZL_SIM_FACTORY_SERVANT_H_
