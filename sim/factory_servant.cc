#include "factory_servant.h"

#include "database_host.h"
#include "server.h"
#include "text.h"

namespace zl::sim {
namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) {
    if (!out.empty()) out += ',';
    out += n;
  }
  return out;
}

}  // namespace

ZEMR::ZelvikDatabase2_ptr FactoryServant::create(const char* name) {
  server_->faults().Enter("ZelvikFactory", "create");
  if (server_->legacy()) return ZEMR::ZelvikDatabase2::_nil();
  std::string error;
  DatabaseHost* host = server_->CreateDatabase(name, &error);
  if (host == nullptr) {
    if (DatabaseHost* first = server_->FirstDatabase()) {
      first->Publish(static_cast<uint32_t>(MessageType::kWarning), "ZelvikFactory::create", error);
    }
    return ZEMR::ZelvikDatabase2::_nil();
  }
  CORBA::Object_var obj = host->Reference();
  return ZEMR::ZelvikDatabase2::_narrow(obj);
}

char* FactoryServant::HelloFactory(const char* text) {
  server_->faults().Enter("ZelvikFactory", "HelloFactory");
  const std::string names = Joined(server_->DatabaseNames());
  if (EqualsIgnoreCase(Trim(text), "LIST")) return CORBA::string_dup(names.c_str());
  const std::string answer = "zelvik-sim factory on " + server_->host() + " (" + kServerVersion +
                             "), databases: " + names;
  return CORBA::string_dup(answer.c_str());
}

}  // namespace zl::sim
