#include "server.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>

#include "common/exception_text.h"
#include "common/orb_argv.h"
#include "control_endpoint.h"
#include "database_host.h"
#include "factory_servant.h"
#include "notify_proxy.h"
#include "tag_line.h"
#include "text.h"

namespace zl::sim {

namespace {

constexpr CORBA::ULong kServiceTimeoutMs = 5000;
// Where the server listens unless its ORB options name an endpoint.
const char kDefaultEndpoint[] = "giop:tcp:127.0.0.1:";

std::string LocalHostName() {
  char name[256] = {0};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
  struct utsname u;
  if (uname(&u) == 0) return u.nodename;
  return "localhost";
}

CosNaming::Name OneName(const std::string& id, const std::string& kind) {
  CosNaming::Name name;
  name.length(1);
  name[0].id = id.c_str();
  name[0].kind = kind.c_str();
  return name;
}

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A database name is used as a Naming Service id and a file name.
bool IsUsableDatabaseName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || u == 0x7f || c == '/' || c == '\\') return false;
  }
  return true;
}

}  // namespace

Server::Server(Options options)
    : options_(std::move(options)), started_(std::chrono::steady_clock::now()) {}

Server::~Server() { Shutdown(); }

long Server::RunningTime() const {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_)
          .count());
}

int Server::Start() {
  host_ = options_.host.empty() ? LocalHostName() : options_.host;
  // Tag files first: a bad one ends start-up before anything is bound.
  if (!ReadTagFiles()) return 2;
  if (!StartOrb() || !FindNamingService() || !FindEventService() || !BindFactory() ||
      !CreateStartupDatabases() || !StartControl()) {
    return 1;
  }
  housekeeper_ = std::thread(&Server::Housekeeping, this);
  PrintReadyLine();
  return 0;
}

bool Server::ReadTagFiles() {
  for (const std::string& file : options_.tag_files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::cerr << "zelvik-sim: cannot read tag file " << file << std::endl;
      return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    try {
      ParseDefinitions(text.str());
    } catch (const DownloadError& e) {
      std::cerr << "zelvik-sim: " << file << ":" << e.line() << ": " << e.what() << std::endl;
      return false;
    }
    tag_texts_.push_back(text.str());
  }
  return true;
}

bool Server::StartOrb() {
  try {
    std::vector<std::string> words = {"zelvik-sim"};
    words.insert(words.end(), options_.orb_args.begin(), options_.orb_args.end());
    if (!NamesOrbEndpoint(words)) AddOrbEndpoint(&words, kDefaultEndpoint);
    orb_ = InitOrbWithWords(words);
    omniORB::setClientConnectTimeout(kServiceTimeoutMs);

    CORBA::Object_var obj = orb_->resolve_initial_references("RootPOA");
    poa_ = PortableServer::POA::_narrow(obj);
    PortableServer::POAManager_var manager = poa_->the_POAManager();
    manager->activate();
    obj = orb_->resolve_initial_references("POACurrent");
    poa_current_ = PortableServer::Current::_narrow(obj);
    return true;
  } catch (const CORBA::Exception& e) {
    std::cerr << "zelvik-sim: cannot start the ORB: " << ExceptionText(e) << std::endl;
    return false;
  }
}

bool Server::FindNamingService() {
  try {
    CORBA::Object_var obj = orb_->resolve_initial_references("NameService");
    omniORB::setClientCallTimeout(obj, kServiceTimeoutMs);
    naming_ = CosNaming::NamingContext::_narrow(obj);
  } catch (const CORBA::ORB::InvalidName&) {
    std::cerr << "zelvik-sim: no Naming Service configured; nothing is bound" << std::endl;
  } catch (const CORBA::Exception& e) {
    std::cerr << "zelvik-sim: cannot reach the Naming Service: " << ExceptionText(e) << std::endl;
    return false;
  }
  return true;
}

bool Server::FindEventService() {
  if (options_.event_service.empty()) return true;
  try {
    CORBA::Object_var obj = orb_->string_to_object(options_.event_service.c_str());
    omniORB::setClientCallTimeout(obj, kServiceTimeoutMs);
    event_factory_ = CosLifeCycle::GenericFactory::_narrow(obj);
  } catch (const CORBA::Exception& e) {
    std::cerr << "zelvik-sim: cannot reach the event service " << options_.event_service << ": "
              << ExceptionText(e) << std::endl;
    return false;
  }
  if (CORBA::is_nil(event_factory_)) {
    std::cerr << "zelvik-sim: " << options_.event_service << " is no event channel factory"
              << std::endl;
    return false;
  }
  return true;
}

bool Server::BindFactory() {
  try {
    auto* factory = new FactoryServant(this);
    PortableServer::ObjectId_var oid = poa_->activate_object(factory);
    factory->_remove_ref();
    CORBA::Object_var obj = poa_->id_to_reference(oid.in());
    CORBA::String_var ior = orb_->object_to_string(obj);
    factory_ior_ = ior.in();
    Bind(OneName(host_, "ZelvikFactory"), obj);
    return true;
  } catch (const CORBA::Exception& e) {
    std::cerr << "zelvik-sim: cannot bind the factory: " << ExceptionText(e) << std::endl;
    return false;
  }
}

bool Server::CreateStartupDatabases() {
  for (const std::string& name : options_.databases) {
    std::string error;
    DatabaseHost* host = CreateDatabase(name, &error);
    if (host == nullptr) {
      std::cerr << "zelvik-sim: " << error << std::endl;
      return false;
    }
    for (const std::string& text : tag_texts_) host->db().Download(text);
  }
  return true;
}

bool Server::StartControl() {
  control_ = std::make_unique<ControlEndpoint>(this);
  std::string error;
  if (!control_->Start(options_.control_port, &error)) {
    std::cerr << "zelvik-sim: " << error << std::endl;
    return false;
  }
  return true;
}

void Server::PrintReadyLine() const {
  std::string names;
  for (const std::string& n : DatabaseNames()) names += (names.empty() ? "" : ",") + n;
  std::cout << "zelvik-sim ready control=127.0.0.1:" << control_->port() << " databases=" << names
            << " host=" << host_ << std::endl;
}

void Server::Bind(const CosNaming::Name& name, CORBA::Object_ptr obj) {
  if (CORBA::is_nil(naming_)) return;
  naming_->rebind(name, obj);
}

void Server::Unbind(const CosNaming::Name& name) {
  if (CORBA::is_nil(naming_)) return;
  try {
    naming_->unbind(name);
  } catch (const CORBA::Exception&) {
    // Gone already, or the Naming Service is: nothing to tidy.
  }
}

void Server::BindLegacyChannel(DatabaseHost* host) {
  if (CORBA::is_nil(naming_)) return;
  const CosNaming::Name context_name = OneName(Lower(host->name()) + ".svcs", "");
  CosNaming::NamingContext_var context;
  try {
    context = naming_->bind_new_context(context_name);
  } catch (const CosNaming::NamingContext::AlreadyBound&) {
    CORBA::Object_var obj = naming_->resolve(context_name);
    context = CosNaming::NamingContext::_narrow(obj);
  }
  CosNotifyChannelAdmin::EventChannel_var channel = host->channel().Channel();
  context->rebind(OneName("TagNotifier", "NotifyChannel"), channel);
}

DatabaseHost* Server::CreateDatabase(const std::string& name, std::string* error) {
  if (!IsUsableDatabaseName(name)) {
    *error = "'" + name + "' cannot name a database (1 to 64 characters, no blanks or slashes)";
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mu_);
  // Naming Service ids are case-sensitive, so database names are too.
  for (const auto& db : databases_) {
    if (db->name() == name) return db.get();
  }
  if (shut_down_) {
    *error = "the server is stopping";
    return nullptr;
  }
  std::unique_ptr<DatabaseHost> host;
  try {
    host = std::make_unique<DatabaseHost>(this, name);
    host->loop().Start();
    CORBA::Object_var obj = host->Reference();
    Bind(OneName(name, "ZelvikDatabase"), obj);
    if (options_.legacy) BindLegacyChannel(host.get());
  } catch (const CORBA::Exception& e) {
    if (host) host->Stop(true);
    *error = "cannot create database " + name + ": " + ExceptionText(e);
    return nullptr;
  } catch (const std::exception& e) {
    if (host) host->Stop(true);
    *error = e.what();
    return nullptr;
  }
  if (!options_.ior_dir.empty()) {
    std::ofstream out(options_.ior_dir + "/" + name + ".txt", std::ios::trunc);
    out << host->Ior() << "\n";
    if (!out) std::cerr << "zelvik-sim: cannot write " << options_.ior_dir << "/" << name << ".txt" << std::endl;
  }
  host->Publish(static_cast<uint32_t>(MessageType::kInfo), "ZelvikFactory::create",
                "Database " + name + " created");
  databases_.push_back(std::move(host));
  return databases_.back().get();
}

DatabaseHost* Server::FindDatabase(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& db : databases_) {
    if (db->name() == name) return db.get();
  }
  for (const auto& db : databases_) {
    if (EqualsIgnoreCase(db->name(), name)) return db.get();
  }
  return nullptr;
}

DatabaseHost* Server::FirstDatabase() const {
  std::lock_guard<std::mutex> lock(mu_);
  return databases_.empty() ? nullptr : databases_.front().get();
}

std::vector<std::string> Server::DatabaseNames() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> names;
  for (const auto& db : databases_) names.push_back(db->name());
  return names;
}

void Server::RequestStop(double delay_seconds) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    const auto at = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(delay_seconds < 0 ? 0 : delay_seconds));
    if (!stop_requested_ || at < stop_at_) stop_at_ = at;
    stop_requested_ = true;
  }
  cv_.notify_all();
}

void Server::WaitForStop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!(stop_requested_ && std::chrono::steady_clock::now() >= stop_at_)) {
    if (stop_requested_) {
      cv_.wait_until(lock, stop_at_);
    } else {
      cv_.wait(lock);
    }
  }
}

void Server::Housekeeping() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    cv_.wait_for(lock, std::chrono::seconds(1));
    if (stopping_) break;
    std::vector<DatabaseHost*> hosts;
    for (const auto& db : databases_) hosts.push_back(db.get());
    lock.unlock();
    iterators_.Reap();
    for (DatabaseHost* host : hosts) host->channel().Reap();
    lock.lock();
  }
}

void Server::Shutdown() {
  std::vector<DatabaseHost*> hosts;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (shut_down_) return;
    shut_down_ = true;
    stopping_ = true;
    for (const auto& db : databases_) hosts.push_back(db.get());
  }
  cv_.notify_all();
  if (housekeeper_.joinable()) housekeeper_.join();
  if (control_) control_->Stop();
  faults_.Stop();
  if (CORBA::is_nil(orb_)) return;
  iterators_.Clear();
  for (DatabaseHost* host : hosts) {
    Unbind(OneName(host->name(), "ZelvikDatabase"));
    if (options_.legacy && !CORBA::is_nil(naming_)) {
      CosNaming::Name name;
      name.length(2);
      name[0].id = (Lower(host->name()) + ".svcs").c_str();
      name[1].id = "TagNotifier";
      name[1].kind = "NotifyChannel";
      Unbind(name);
    }
    try {
      host->Stop(true);
    } catch (const CORBA::Exception&) {
    }
  }
  Unbind(OneName(host_, "ZelvikFactory"));
  if (!Subscriber::WaitForAllThreads(std::chrono::milliseconds(7000))) {
    std::cerr << "zelvik-sim: a value consumer is still being called; stopping anyway" << std::endl;
  }
  try {
    orb_->shutdown(true);
    orb_->destroy();
  } catch (const CORBA::Exception& e) {
    std::cerr << "zelvik-sim: ORB shutdown: " << ExceptionText(e) << std::endl;
  }
  std::lock_guard<std::mutex> lock(mu_);
  databases_.clear();
}

}  // namespace zl::sim
