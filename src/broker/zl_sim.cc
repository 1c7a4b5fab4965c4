// ZLSim: construction, options, the Naming Service, Connect, Disconnect,
// the database listing, CreateServer and destruction.
#include "broker/zl_sim.h"

#include <ace/ARGV.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_strings.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "broker/caught_exception.h"
#include "broker/client_endpoint.h"
#include "broker/endpoint_reach.h"
#include "broker/orb_holder.h"
#include "broker/peer_servants.h"
#include "broker/server_locator.h"
#include "common/exception_text.h"
#include "common/log.h"

namespace zl {
namespace {

// The time limit of a Naming Service resolved on demand (Connect, CreateServer).
const ACE_Time_Value kOnDemandResolveLimit(2, 0);

const char kNoOrbText[] = "ORB not initialised";

std::string Given(const char* text) { return text != nullptr ? text : ""; }

// Words the client hands on to the ORB holder: the ORB's ("-ORB...", also
// the translated "-OrbListenEndpoints") and the holder's own "-nsior".
bool IsOrbWord(const char* word) {
  return ACE_OS::strncasecmp(word, "-ORB", 4) == 0 || ACE_OS::strcasecmp(word, "-nsior") == 0;
}

// Whether the process's ORB was made with `word` and `value` ("" for none).
bool OrbMadeWith(const OrbHolder& holder, const std::string& word, const std::string& value) {
  if (ACE_OS::strcasecmp(word.c_str(), "-nsior") == 0) return value == holder.nsIorFile();
  const std::vector<std::string>& args = holder.orbArgs();
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != word) continue;
    const bool has_value = i + 1 < args.size() && args[i + 1][0] != '-';
    if (value.empty() ? !has_value : has_value && args[i + 1] == value) return true;
  }
  return false;
}

// `line` without its trailing line end.
std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// The failure of `operation` whose look-up in the Naming Service raised the
// exception being handled (call only from inside a catch block): the
// translation of that exception, its reason led by "the Naming Service
// failed" (": " and the exception's text for a CORBA exception).
CallFailure NamingServiceFailure(const char* operation) {
  const char kFailed[] = "the Naming Service failed";
  CaughtException caught = DescribeCaught(operation, nullptr, kFailed);
  if (caught.kind != CaughtKind::kOther) {
    caught.failure.reason = std::string(kFailed) + ": " + caught.failure.reason;
  }
  return std::move(caught.failure);
}

}  // namespace

bool ZLSim::MakeNilReferencesOnce() {
  // A function-local static: made once, every other thread waiting for it.
  static const bool made = (ZEMR::ZelvikDatabase::_nil(), ZEMR::ZelvikDatabase2::_nil(), true);
  return made;
}

ZLSim::ZLSim(const char* options) {
  const char* words = options != nullptr ? options : "";
  const std::vector<OrbWord> orb_words = ScanOptions(words);

  // Creating the holder sets the process mask to 1968 after any "-debug"
  // above: on the first client "-debug" then holds for this thread only.
  OrbHolder* holder = OrbHolder::instance();
  const bool makes_orb = holder->initCount() == 0;
  if (makes_orb) holder->InitOrb(words);
  orb_ = CORBA::ORB::_duplicate(holder->orb());
  local_db_.SetORB(orb_.in());

  if (CORBA::is_nil(orb_)) {
    // Every later step needs an ORB: record the failure and stay a client
    // that is not connected, whose Connect and CreateServer give -1.
    last_error_ = {-1, kNoOrbText};
    ACE_DEBUG((LM_ERROR, "#error: %s, the client cannot reach a server\n", kNoOrbText));
    return;
  }
  if (!makes_orb) ReportUnappliedOrbWords(orb_words);
  FindNamingService();
}

ZLSim::~ZLSim() {
  // A destructor: nothing may escape it.
  try {
    Disconnect();
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "ZLSim::~ZLSim exception (File %s; Line %d)\n", __FILE__, __LINE__));
  }
}

std::vector<ZLSim::OrbWord> ZLSim::ScanOptions(const char* options) {
  std::vector<OrbWord> orb_words;
  ACE_ARGV argv(options, true);
  for (int i = 0; i < argv.argc(); ++i) {
    const char* word = argv[i];
    // The ORB holder's words are also logged as ignored below: the client
    // itself does nothing with them.
    if (IsOrbWord(word)) {
      const bool has_value = i + 1 < argv.argc() && argv[i + 1][0] != '-';
      orb_words.push_back({word, has_value ? argv[i + 1] : ""});
    }
    if (ACE_OS::strcasecmp(word, "-resolveTimeout") == 0) {
      if (i + 1 < argv.argc() && argv[i + 1][0] != '-') {
        const char* value = argv[++i];
        const long ms = std::strtol(value, nullptr, 10);
        resolve_timeout_.set(ms / 1000, (ms % 1000) * 1000);
        ACE_DEBUG((LM_DEBUG, "# option -resolveTimeout %s\n", value));
      }
    } else if (ACE_OS::strcasecmp(word, "-debug") == 0) {
      RequestDebugLog();
    } else if (word[0] == '-') {
      ACE_DEBUG((LM_DEBUG, "# Unknown option: %s, ignored\n", word));
    } else {
      ACE_DEBUG((LM_DEBUG, "# Unknown file?: %s, ignored\n", word));
    }
  }
  return orb_words;
}

void ZLSim::ReportUnappliedOrbWords(const std::vector<OrbWord>& words) const {
  const OrbHolder& holder = *OrbHolder::instance();
  for (const OrbWord& w : words) {
    if (OrbMadeWith(holder, w.word, w.value)) continue;
    const std::string text = w.value.empty() ? w.word : w.word + " " + w.value;
    ACE_DEBUG((LM_WARNING,
               "# %s is not applied: the process's ORB was made by an earlier client\n",
               text.c_str()));
  }
}

void ZLSim::FindNamingService() {
  const std::string& ns_ior = OrbHolder::instance()->nsIorFile();
  if (ns_ior.empty()) {
    try {
      CosNaming::NamingContext_var context = ResolveNameService(orb_.in(), resolve_timeout_);
      local_db_.SetNamingContext(context.in());
      if (CORBA::is_nil(context)) last_error_ = {-1, "NameService not found"};
    } catch (const CORBA::UserException& e) {
      PrintException(e);
    } catch (...) {
      last_error_ = {-1, "Could not resolve NameService"};
      ACE_DEBUG((LM_DEBUG, "#warning:  Could not resolve \"NameService\"\n"));
    }
    return;
  }
  // "-nsior" names the Naming Service in a form the ORB takes as a reference
  // (IOR:..., corbaloc:..., file://...).
  try {
    CORBA::Object_var object = orb_->string_to_object(ns_ior.c_str());
    if (CORBA::is_nil(object)) return;
    LimitCallTime(object.in(), resolve_timeout_);
    CosNaming::NamingContext_var context = CosNaming::NamingContext::_narrow(object.in());
    if (!CORBA::is_nil(context)) local_db_.SetNamingContext(context.in());
  } catch (...) {
    ACE_DEBUG((LM_DEBUG, "#warning: could not find NS from -nsior %s\n", ns_ior.c_str()));
  }
}

void ZLSim::EnsureNamingContext() {
  if (local_db_.HasNamingContext()) return;
  CosNaming::NamingContext_var context = ResolveNameService(orb_.in(), kOnDemandResolveLimit);
  local_db_.SetNamingContext(context.in());
}

bool ZLSim::NarrowDatabase(CORBA::Object_ptr object, ZEMR::ZelvikDatabase_var& db,
                           ZEMR::ZelvikDatabase2_var& db2) {
  // Both narrows first, so that an exception leaves `db` and `db2` as they were.
  ZEMR::ZelvikDatabase_var found = ZEMR::ZelvikDatabase::_narrow(object);
  ZEMR::ZelvikDatabase2_var found2 = ZEMR::ZelvikDatabase2::_narrow(object);
  db = found._retn();
  db2 = found2._retn();
  return !CORBA::is_nil(db);
}

void ZLSim::TryLocalIorFile(const std::string& name, ZEMR::ZelvikDatabase_var& db,
                            ZEMR::ZelvikDatabase2_var& db2) {
  const std::string path = LocalIorPath(name);
  std::string line;
  if (!ReadFirstLine(path, line)) {
    ACE_DEBUG((LM_WARNING, "Could not find local ior file, %s\n", path.c_str()));
    return;
  }
  if (line.empty()) return;
  ACE_DEBUG((LM_DEBUG, "#info: looking for server in %s\n", path.c_str()));
  try {
    CORBA::Object_var object = orb_->string_to_object(WithoutLineEnd(line).c_str());
    NarrowDatabase(object.in(), db, db2);
  } catch (...) {
    ACE_DEBUG((LM_DEBUG, "#error: object was not a valid ZLDatabase\n"));
  }
}

int ZLSim::Connect(const char* name) {
  ScopedLogContext context("Connect", nullptr);
  const std::string given = Given(name);
  const std::string server = given.empty() ? DefaultServerName() : given;
  if (CORBA::is_nil(orb_)) {
    last_error_ = {-1, kNoOrbText};
    last_failure_ = MakeFailure(FailureKind::kOther, "Connect", nullptr, kNoOrbText);
    ACE_DEBUG((LM_ERROR, "#error: %s, cannot connect to %s\n", kNoOrbText, server.c_str()));
    return -1;
  }
  last_failure_.Clear();

  // Looked up into locals: the database attached before stays attached, and
  // the client keeps its name, until a database named `server` is found.
  ZEMR::ZelvikDatabase_var found;
  ZEMR::ZelvikDatabase2_var found2;
  try {
    EnsureNamingContext();
    CosNaming::NamingContext_ptr context = local_db_.naming_context();
    if (CORBA::is_nil(context)) {
      ACE_DEBUG((LM_DEBUG, "Zelvik server, %s, NOT FOUND\n", server.c_str()));
    } else {
      CORBA::Object_var object =
          context->resolve(OneComponentName(server.c_str(), kDatabaseKind));
      NarrowDatabase(object.in(), found, found2);
    }
  } catch (const CosNaming::NamingContext::NotFound&) {
    ACE_DEBUG((LM_DEBUG, "Zelvik server, %s, NOT FOUND\n", server.c_str()));
  } catch (const CORBA::Exception& e) {
    const std::string text = ExceptionText(e);
    ACE_DEBUG((LM_DEBUG, "CORBA exception resolving Zelvik server, %s\n", text.c_str()));
    // Kept for the case that the local IOR file does not help either.
    last_failure_ = NamingServiceFailure("Connect");
  } catch (...) {
    // Not a failure of the Naming Service: the local IOR file is tried.
  }

  if (CORBA::is_nil(found)) TryLocalIorFile(server, found, found2);
  if (CORBA::is_nil(found)) {
    ACE_DEBUG((LM_DEBUG, "%s is not the name of a ZelvikDatabase reference\n", server.c_str()));
    if (!last_failure_.failed()) {
      last_failure_ =
          MakeFailure(FailureKind::kNotConnected, "Connect", nullptr,
                      "no database named '" + server +
                          "' in the Naming Service or the local IOR file");
    }
    return -1;
  }
  last_failure_.Clear();

  int status = -1;
  db_ = found._retn();
  db2_ = found2._retn();
  try {
    status = static_cast<int>(local_db_.SetDatabase(db_.in()));
  } catch (...) {
    ACE_DEBUG((LM_DEBUG, "Caught an exception in ZLSim::Connect\n"));
  }
  // SetDatabase also gives 0 when it only dropped the database attached
  // before and the new one did not answer (a server that died since): the
  // client is connected only when the local database holds a database now.
  if (CORBA::is_nil(local_db_.database())) {
    db_ = ZEMR::ZelvikDatabase::_nil();
    db2_ = ZEMR::ZelvikDatabase2::_nil();
    unreachable_.clear();
    last_failure_ = MakeFailure(FailureKind::kCommunication, "Connect", nullptr,
                                      "the database '" + server + "' does not answer");
    return -1;
  }
  if (status == 0) server_name_ = given;
  CheckCallbackReach();
  return status;
}

void ZLSim::CheckCallbackReach() {
  unreachable_.clear();
  std::vector<std::string> server_hosts;
  try {
    CORBA::String_var text = orb_->object_to_string(db_.in());
    server_hosts = HostsOfIor(text.in());
  } catch (const CORBA::Exception&) {
    return;  // nothing to tell from
  }
  unreachable_ = UnreachableEndpointReason(PublishedPeerHosts(), server_hosts);
  if (!unreachable_.empty()) {
    ACE_DEBUG((LM_ERROR, "#error: no tag change can arrive: %s\n", unreachable_.c_str()));
  }
}

int ZLSim::Disconnect() {
  int status = -1;
  try {
    local_db_.SetClientInterface(nullptr, false);
    status = static_cast<int>(local_db_.SetDatabase(ZEMR::ZelvikDatabase::_nil()));
  } catch (...) {
    ACE_DEBUG((LM_DEBUG, "Caught an exception in ZLSim::Disconnect\n"));
  }
  db_ = ZEMR::ZelvikDatabase::_nil();
  db2_ = ZEMR::ZelvikDatabase2::_nil();
  unreachable_.clear();
  return status;
}

std::string ZLSim::ListZLDatabases() {
  std::string names;
  CallLadder("ListZLDatabases", last_error_, [&] {
    CORBA::String_var list = local_db_.ListZLDatabases();
    names = list.in() != nullptr ? list.in() : "";
  }, &last_failure_);
  if (names.find("!Error") != std::string::npos) {
    last_error_.text = names;
    // "!Error: REASON": the Naming Service is unknown or failed.
    const std::string::size_type colon = names.find(": ");
    last_failure_ =
        MakeFailure(FailureKind::kCommunication, "ListZLDatabases", nullptr,
                    colon != std::string::npos ? names.substr(colon + 2) : names);
    names.clear();
  }
  return names;
}

int ZLSim::CreateServer(const char* server, const char* host) {
  ScopedLogContext context("CreateServer", nullptr);
  const std::string host_arg = Given(host);
  const std::string name = Given(server).empty() ? DefaultServerName() : Given(server);
  const std::string factory_host = host_arg.empty() ? LocalHostName() : host_arg;
  ACE_DEBUG((LM_DEBUG, "in ZLSim::CreateServer(%s, %s)\n", name.c_str(), host_arg.c_str()));
  if (CORBA::is_nil(orb_)) {
    last_error_ = {-1, kNoOrbText};
    last_failure_ = MakeFailure(FailureKind::kOther, "CreateServer", nullptr, kNoOrbText);
    ACE_DEBUG((LM_ERROR, "#error: %s, cannot create %s\n", kNoOrbText, name.c_str()));
    return -1;
  }
  const std::string no_factory = "no Zelvik factory on host '" + factory_host + "'";
  last_failure_.Clear();

  ZEMR::ZelvikFactory_var factory;
  try {
    EnsureNamingContext();
    CosNaming::NamingContext_ptr context = local_db_.naming_context();
    if (!CORBA::is_nil(context)) {
      CORBA::Object_var object =
          context->resolve(OneComponentName(factory_host.c_str(), kFactoryKind));
      factory = ZEMR::ZelvikFactory::_narrow(object.in());
    }
  } catch (const CosNaming::NamingContext::NotFound&) {
    ACE_DEBUG((LM_ERROR, "No Zelvik factory on host '%s'\n", host_arg.c_str()));
    last_failure_ = MakeFailure(FailureKind::kOther, "CreateServer", nullptr, no_factory);
    return -1;
  } catch (...) {
    ACE_DEBUG((LM_DEBUG, "Some issue with the NamingServer\n"));
    last_failure_ = NamingServiceFailure("CreateServer");
    return -1;
  }
  if (CORBA::is_nil(factory)) {
    ACE_DEBUG((LM_ERROR, "No Zelvik factory on host '%s'\n", host_arg.c_str()));
    last_failure_ = MakeFailure(FailureKind::kOther, "CreateServer", nullptr, no_factory);
    return -1;
  }

  ACE_DEBUG((LM_DEBUG, "About to create(%s)\n", name.c_str()));
  try {
    // The new database is released at once: a later Connect attaches it.
    ZEMR::ZelvikDatabase2_var created = factory->create(name.c_str());
    if (CORBA::is_nil(created)) {
      ACE_DEBUG((LM_DEBUG, "Did NOT create server '%s'\n", name.c_str()));
      last_failure_ = MakeFailure(FailureKind::kServerError, "CreateServer", nullptr,
                                        "the factory created no database '" + name + "'");
      return -1;
    }
    ACE_DEBUG((LM_DEBUG, "Created server '%s'\n", name.c_str()));
    return 0;
  } catch (...) {
    // The ladder's rungs, logged in lines of their own; unlike the ladder,
    // a user exception is recorded too (with status -1).
    CaughtException caught = DescribeCaught("CreateServer", nullptr, "General Exception");
    switch (caught.kind) {
      case CaughtKind::kUser:
        last_error_ = {-1, caught.text};
        ACE_DEBUG((LM_ERROR, "UsrEx %s\n", caught.text.c_str()));
        break;
      case CaughtKind::kSystem:
        last_error_ = {caught.minor, caught.text};
        ACE_DEBUG((LM_ERROR, "SysEx %s\n", caught.text.c_str()));
        break;
      case CaughtKind::kOther:
        ACE_DEBUG((LM_ERROR, "General Exception\n"));
        break;
    }
    last_failure_ = std::move(caught.failure);
  }
  return -1;
}

}  // namespace zl
