#include "database_host.h"

#include <iostream>
#include <stdexcept>

#include "admin_servant.h"
#include "database_servant.h"
#include "server_context.h"
#include "tag_servant.h"

namespace zl::sim {
namespace {

const char* TypeName(uint32_t type) {
  switch (type) {
    case 0: return "all";
    case 1: return "error";
    case 2: return "warning";
    case 3: return "info";
    case 4: return "debug";
    default: return "type?";
  }
}

// A child POA whose one default servant serves every tag object; object
// ids are tag names.
PortableServer::POA_ptr MakeTagPoa(PortableServer::POA_ptr root, const std::string& db) {
  CORBA::PolicyList policies;
  policies.length(4);
  policies[0] = root->create_id_assignment_policy(PortableServer::USER_ID);
  policies[1] = root->create_request_processing_policy(PortableServer::USE_DEFAULT_SERVANT);
  policies[2] = root->create_servant_retention_policy(PortableServer::NON_RETAIN);
  policies[3] = root->create_id_uniqueness_policy(PortableServer::MULTIPLE_ID);
  PortableServer::POAManager_var manager = root->the_POAManager();
  PortableServer::POA_ptr poa = root->create_POA(("tags:" + db).c_str(), manager, policies);
  for (CORBA::ULong i = 0; i < policies.length(); ++i) policies[i]->destroy();
  return poa;
}

}  // namespace

DatabaseHost::DatabaseHost(ServerContext* server, const std::string& name)
    : server_(server), db_(name, this), loop_(&db_) {
  PortableServer::POA_ptr poa = server->poa();
  CORBA::ORB_ptr orb = server->orb();

  channel_ = std::make_shared<ChannelCore>(
      poa, [this](MessageType type, const char* routine, const std::string& text) {
        Publish(static_cast<uint32_t>(type), routine, text);
      });
  channel_->Activate();
  {
    CosNotifyChannelAdmin::EventChannel_var channel = channel_->Channel();
    CORBA::String_var ior = orb->object_to_string(channel);
    channel_ior_ = ior.in();
  }

  if (!CORBA::is_nil(server->event_factory())) {
    std::string error;
    publisher_ = MessagePublisher::Create(orb, server->event_factory(), &error);
    if (!publisher_) {
      channel_->Shutdown();
      throw std::runtime_error("cannot create the message channel of database " + name + ": " + error);
    }
  }

  tag_poa_ = MakeTagPoa(poa, name);
  auto* tags = new TagServant(this);
  tag_poa_->set_servant(tags);
  tags->_remove_ref();

  PortableServer::Servant database;
  if (server->legacy()) {
    database = new DatabaseServant(this);
  } else {
    database = new Database2Servant(this);
  }
  PortableServer::ObjectId_var oid = poa->activate_object(database);
  database->_remove_ref();
  db_oid_ = oid.in();
  CORBA::Object_var obj = poa->id_to_reference(oid.in());
  CORBA::String_var ior = orb->object_to_string(obj);
  ior_ = ior.in();

  auto* admin = new AdminServant(this);
  PortableServer::ObjectId_var admin_oid = poa->activate_object(admin);
  admin->_remove_ref();
  admin_oid_ = admin_oid.in();
  CORBA::Object_var admin_obj = poa->id_to_reference(admin_oid.in());
  CORBA::String_var admin_ior = orb->object_to_string(admin_obj);
  admin_ior_ = admin_ior.in();
}

DatabaseHost::~DatabaseHost() { Stop(false); }

CORBA::Object_ptr DatabaseHost::Reference() const { return server_->poa()->id_to_reference(db_oid_); }

std::string DatabaseHost::MessageChannelIor() const {
  return publisher_ ? publisher_->ChannelIor() : std::string();
}

CORBA::Object_ptr DatabaseHost::TagReference(const std::string& name) {
  std::string canonical;
  try {
    canonical = db_.Definition(name).name;
  } catch (const TagNotFound&) {
    return CORBA::Object::_nil();
  }
  PortableServer::ObjectId_var oid = PortableServer::string_to_ObjectId(canonical.c_str());
  return tag_poa_->create_reference_with_id(oid.in(), "IDL:ZEMR/ZelvikTag:1.0");
}

void DatabaseHost::Publish(uint32_t type, const std::string& routine, const std::string& text) {
  if (server_->verbose()) {
    std::cerr << "zelvik-sim[" << name() << "] " << TypeName(type) << " " << routine << ": " << text
              << std::endl;
  }
  if (publisher_) publisher_->Publish(type, routine, text);
}

uint64_t DatabaseHost::MessagesPublished() const { return publisher_ ? publisher_->published() : 0; }

uint64_t DatabaseHost::MessagesDropped() const { return publisher_ ? publisher_->dropped() : 0; }

void DatabaseHost::Stop(bool destroy_channel) {
  loop_.Stop();
  channel_->Shutdown();
  if (publisher_) publisher_->Stop(destroy_channel);
}

void DatabaseHost::OnTagChanges(std::vector<TagChange>&& changes) {
  channel_->Publish(std::move(changes));
}

void DatabaseHost::OnMessage(MessageType type, const char* routine, const std::string& text) {
  Publish(static_cast<uint32_t>(type), routine, text);
}

}  // namespace zl::sim
