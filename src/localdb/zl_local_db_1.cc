#include "localdb/zl_local_db_1.h"

namespace zl {

void ZLLocalDB_1::ScenarioEnded(CORBA::ULong id, const char* file) {
  WithClientInterface([&](ZLClientInterface* iface) {
    if (iface != nullptr) iface->ScenarioEnded(id, file);
  });
}

bool ZLLocalDB_1::ClientCmd(const char* cmd, const char* arg, std::string& result) {
  return WithClientInterface([&](ZLClientInterface* iface) {
    if (iface != nullptr) return iface->HandleCmd(cmd, arg, result);
    result = std::string("Client interface not registered, cmd=") + (cmd != nullptr ? cmd : "");
    return false;
  });
}

}  // namespace zl
