// The local database class a simulator client holds: its host hooks forward
// to the registered client interface.
#ifndef ZL_LOCALDB_ZL_LOCAL_DB_1_H_
#define ZL_LOCALDB_ZL_LOCAL_DB_1_H_

#include "localdb/zl_local_db.h"

namespace zl {

class ZLLocalDB_1 : public ZEMR_ZLLocalDB_i {
 public:
  // Tells the client interface, when one is registered.
  void ScenarioEnded(CORBA::ULong id, const char* file) override;
  // The interface's HandleCmd; without one, false with "Client interface not
  // registered, cmd=" and the command in `result`.
  bool ClientCmd(const char* cmd, const char* arg, std::string& result) override;
};

}  // namespace zl

#endif  // ZL_LOCALDB_ZL_LOCAL_DB_1_H_
