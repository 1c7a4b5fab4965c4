#include "admin_servant.h"

#include <cstdio>

#include "database_host.h"
#include "fault_table.h"
#include "server_context.h"

namespace zl::sim {

CORBA::Long AdminServant::RunningTime() {
  host_->server().faults().Enter("ZelvikAdmin", "RunningTime");
  return static_cast<CORBA::Long>(host_->server().RunningTime());
}

char* AdminServant::Version() {
  host_->server().faults().Enter("ZelvikAdmin", "Version");
  return CORBA::string_dup(kServerVersion);
}

char* AdminServant::Copyright() {
  host_->server().faults().Enter("ZelvikAdmin", "Copyright");
  return CORBA::string_dup(
      "zelvik-sim, a stand-in Zelvik server for tests and scenario development. "
      "Copyright (c) the zl developers.");
}

char* AdminServant::Statistics() {
  host_->server().faults().Enter("ZelvikAdmin", "Statistics");
  char simtime[32];
  std::snprintf(simtime, sizeof simtime, "%.3f", host_->db().SimTime());
  const std::string text =
      "database=" + host_->name() + " tags=" + std::to_string(host_->db().Count()) +
      " cycles=" + std::to_string(host_->db().Cycles()) + " simtime=" + simtime +
      " calls=" + std::to_string(host_->Calls()) +
      " messages=" + std::to_string(host_->MessagesPublished()) +
      " dropped_messages=" + std::to_string(host_->MessagesDropped()) +
      " consumers=" + std::to_string(host_->channel().Consumers()) +
      " events=" + std::to_string(host_->channel().Delivered()) +
      " dropped_events=" + std::to_string(host_->channel().Dropped());
  return CORBA::string_dup(text.c_str());
}

}  // namespace zl::sim
