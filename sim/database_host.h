// One served database and everything that belongs to it: the tag database,
// its calculation loop, its message channel (when an event service is
// configured), its value-notifier channel, its servants (database, admin,
// tags) and its Naming Service binding. It is the database's observer:
// tag changes go to the value-notifier channel, messages to the message
// channel.
//
// Created by the server at start or by the factory, which then starts its
// calculation loop (the tests' in-process server drives the loop from its
// own clock instead); lives until the process ends. Thread-safe: after
// construction only Stop changes anything, and every part guards itself.
#ifndef ZL_SIM_DATABASE_HOST_H_
#define ZL_SIM_DATABASE_HOST_H_

#include <omniORB4/CORBA.h>

#include <atomic>
#include <memory>
#include <string>

#include "message_publisher.h"
#include "notify_channel.h"
#include "simulation_loop.h"
#include "tag_database.h"

namespace zl::sim {

class ServerContext;

class DatabaseHost : public DatabaseObserver {
 public:
  // Builds the database and its parts and activates its servants; throws
  // std::runtime_error when the message channel cannot be created. The
  // loop is not started. `server` must outlive the host.
  DatabaseHost(ServerContext* server, const std::string& name);
  ~DatabaseHost() override;
  DatabaseHost(const DatabaseHost&) = delete;
  DatabaseHost& operator=(const DatabaseHost&) = delete;

  const std::string& name() const { return db_.name(); }
  ServerContext& server() const { return *server_; }
  TagDatabase& db() { return db_; }
  SimulationLoop& loop() { return loop_; }
  ChannelCore& channel() { return *channel_; }

  // The database object: a ZelvikDatabase2, or a ZelvikDatabase in legacy
  // mode. A new reference.
  CORBA::Object_ptr Reference() const;
  const std::string& Ior() const { return ior_; }
  const std::string& AdminIor() const { return admin_ior_; }
  const std::string& ChannelIor() const { return channel_ior_; }
  // "" without an event service.
  std::string MessageChannelIor() const;
  // A reference to the tag `name`, or nil when no such tag exists.
  CORBA::Object_ptr TagReference(const std::string& name);

  // Publishes a message on the message channel (and to standard error in
  // verbose mode). `type` may lie outside ZLMessageType.
  void Publish(uint32_t type, const std::string& routine, const std::string& text);

  // Counters for statistics.
  uint64_t Calls() const { return calls_.load(); }
  void CountCall() { calls_.fetch_add(1, std::memory_order_relaxed); }
  uint64_t MessagesPublished() const;
  uint64_t MessagesDropped() const;

  // Stops the loop, the channels and the publisher (with `destroy_channel`
  // the message channel is destroyed on the event service).
  void Stop(bool destroy_channel);

  // DatabaseObserver (called with the database lock held).
  void OnTagChanges(std::vector<TagChange>&& changes) override;
  void OnMessage(MessageType type, const char* routine, const std::string& text) override;

 private:
  ServerContext* const server_;
  TagDatabase db_;
  SimulationLoop loop_;
  std::shared_ptr<ChannelCore> channel_;
  std::unique_ptr<MessagePublisher> publisher_;  // null without an event service
  PortableServer::POA_var tag_poa_;
  std::string ior_;
  std::string admin_ior_;
  std::string channel_ior_;
  PortableServer::ObjectId db_oid_;
  PortableServer::ObjectId admin_oid_;
  std::atomic<uint64_t> calls_{0};
};

}  // namespace zl::sim

#endif  // ZL_SIM_DATABASE_HOST_H_
