#include "bench_server.h"

#include <omniORB4/Naming.hh>

#include <cstdlib>
#include <sstream>

namespace zl::bench {
namespace {

BenchServer* instance = nullptr;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

}  // namespace

bool BenchServer::Connect(int* argc, char** argv, std::string* error) {
  const std::string options = Env("ZL_ORB_OPTIONS");
  if (options.empty()) {
    *error = "ZL_ORB_OPTIONS is not set: run under tools/zl_services.py (scripts/bench does)";
    return false;
  }
  // The ORB's arguments: ours first, then the launcher's, then loopback only.
  std::vector<std::string> args;
  for (int i = 0; i < *argc; ++i) args.emplace_back(argv[i]);
  std::istringstream words(options);
  for (std::string w; words >> w;) args.push_back(w);
  args.insert(args.end(), {"-ORBendPoint", "giop:tcp:127.0.0.1:",
                           "-ORBclientCallTimeOutPeriod", "30000"});
  std::vector<char*> orb_argv;
  for (std::string& a : args) orb_argv.push_back(a.data());
  int orb_argc = static_cast<int>(orb_argv.size());

  static BenchServer server;
  try {
    server.orb_ = CORBA::ORB_init(orb_argc, orb_argv.data(), "omniORB4");
    CORBA::Object_var obj = server.orb_->resolve_initial_references("RootPOA");
    server.poa_ = PortableServer::POA::_narrow(obj);
    PortableServer::POAManager_var manager = server.poa_->the_POAManager();
    manager->activate();

    const std::string databases = Env("ZL_DATABASES");
    const std::string name = databases.empty() ? "SIM" : databases.substr(0, databases.find(','));
    obj = server.orb_->resolve_initial_references("NameService");
    CosNaming::NamingContext_var naming = CosNaming::NamingContext::_narrow(obj);
    CosNaming::Name n;
    n.length(1);
    n[0].id = name.c_str();
    n[0].kind = "ZelvikDatabase";
    server.db_ = ZEMR::ZelvikDatabase2::_narrow(naming->resolve(n));
    if (CORBA::is_nil(server.db_)) {
      *error = "database " + name + " is not a ZelvikDatabase2";
      return false;
    }

    server.tags_ = BenchTagNames();
    server.db_->Download(BenchTagDefinitions(server.tags_).c_str());
  } catch (const ZEMR::ZLDownloadException& e) {
    *error = "Download of the benchmark tags failed: code " + std::to_string(e.zlErrorCode) +
             " at " + std::to_string(e.zlStringPos);
    return false;
  } catch (const CORBA::Exception& e) {
    *error = std::string("cannot reach the server: ") + e._name();
    return false;
  }
  instance = &server;
  return true;
}

BenchServer& BenchServer::Get() { return *instance; }

void BenchServer::Shutdown() {
  db_ = ZEMR::ZelvikDatabase2::_nil();
  poa_ = PortableServer::POA::_nil();
  if (!CORBA::is_nil(orb_)) orb_->destroy();
  orb_ = CORBA::ORB::_nil();
}

}  // namespace zl::bench
