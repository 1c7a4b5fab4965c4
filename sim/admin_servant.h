// ZelvikAdmin: the administration object of one database (GetIORAdmin).
// Stateless apart from its database; safe from any ORB thread.
#ifndef ZL_SIM_ADMIN_SERVANT_H_
#define ZL_SIM_ADMIN_SERVANT_H_

#include "zemr.hh"

namespace zl::sim {

class DatabaseHost;

class AdminServant : public virtual POA_ZEMR::ZelvikAdmin {
 public:
  explicit AdminServant(DatabaseHost* host) : host_(host) {}

  // Seconds since the server started.
  CORBA::Long RunningTime() override;
  char* Version() override;
  char* Copyright() override;
  // "name=value" pairs separated by blanks: tags, cycles, simtime, calls,
  // messages, dropped_messages, consumers, events, dropped_events.
  char* Statistics() override;

 private:
  DatabaseHost* const host_;
};

}  // namespace zl::sim

#endif  // ZL_SIM_ADMIN_SERVANT_H_
