// A small client of zelvik-sim for the server's integration tests: the test
// process's ORB, a fixture that starts the services per suite, a structured
// push consumer that records (and can block), and a pull listener on a
// message channel.
#ifndef ZL_TESTS_SIM_SIM_CLIENT_H_
#define ZL_TESTS_SIM_SIM_CLIENT_H_

#include <COS/CosEventChannelAdmin.hh>
#include <COS/CosNotifyChannelAdmin.hh>
#include <COS/CosNotifyComm.hh>
#include <gtest/gtest.h>
#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/services.h"
#include "zemr.hh"

namespace zl::sim::testing {

// The process's ORB: listens on loopback (consumers are served on its
// threads), 30 s call time-out. Made on first use, destroyed at exit.
CORBA::ORB_ptr TestOrb();
PortableServer::POA_ptr TestPoa();

// Polls `done` every 10 ms until it is true or `limit` has passed.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

// Services (omniNames, omniEvents, zelvik-sim) for one test suite, and the
// references a test needs. Each test starts from an empty first database
// with default timing and no armed faults.
class SimTest : public ::testing::Test {
 public:
  // Starts the services; a suite with other options calls it from its own
  // SetUpTestSuite.
  static void StartServices(const zl::testing::ServicesOptions& options);
  static void SetUpTestSuite() { StartServices({}); }
  static void TearDownTestSuite();
  void SetUp() override;

  // The running services and references into them (valid between
  // SetUpTestSuite and TearDownTestSuite).
  static zl::testing::Services& services() { return *services_; }
  static std::string Control(const std::string& line) { return services_->Control(line); }
  static CosNaming::NamingContext_ptr naming() { return naming_.in(); }
  // Resolves a one-component name; nil when it is not bound.
  static CORBA::Object_ptr Resolve(const std::string& id, const std::string& kind);
  static ZEMR::ZelvikDatabase2_ptr db() { return db_.in(); }
  static ZEMR::ZelvikDatabase_ptr db1() { return db1_.in(); }

 private:
  static std::unique_ptr<zl::testing::Services> services_;
  static CosNaming::NamingContext_var naming_;
  static ZEMR::ZelvikDatabase_var db1_;   // the first database as ZelvikDatabase
  static ZEMR::ZelvikDatabase2_var db_;   // nil in legacy mode
};

// A StructuredPushConsumer that keeps every event. Block() makes pushes
// wait (inside the upcall) until Unblock(); the test thread never waits on
// a push.
class RecordingConsumer : public POA_CosNotifyComm::StructuredPushConsumer {
 public:
  void push_structured_event(const CosNotification::StructuredEvent& event) override;
  void disconnect_structured_push_consumer() override;
  void offer_change(const CosNotification::EventTypeSeq&, const CosNotification::EventTypeSeq&) override {}

  void Block();
  void Unblock();
  int pushes_waiting() const;

  // Tag changes received so far, in order, from ZLTagValueSeq bodies.
  std::vector<ZEMR::ZLTagValueEvent> Changes() const;
  std::vector<CosNotification::StructuredEvent> Events() const;
  // Waits for an event for which `match` is true.
  bool WaitForEvent(const std::function<bool(const CosNotification::StructuredEvent&)>& match,
                    std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Waits for a change of `tag` to `eu`.
  bool WaitForChange(const std::string& tag, double eu,
                     std::chrono::milliseconds limit = std::chrono::seconds(10));

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<CosNotification::StructuredEvent> events_;
  bool blocked_ = false;
  int waiting_ = 0;
  bool disconnected_ = false;
};

// One connection of a consumer to a value-notifier channel.
struct Subscription {
  CosNotifyChannelAdmin::EventChannel_var channel;
  CosNotifyChannelAdmin::ConsumerAdmin_var admin;
  CosNotifyChannelAdmin::AdminID admin_id = -1;
  CosNotifyChannelAdmin::StructuredProxyPushSupplier_var proxy;
  CosNotifyChannelAdmin::ProxyID proxy_id = -1;
  PortableServer::ObjectId_var consumer_oid;

  // Activates `consumer` in the test POA and connects it as a client does.
  static Subscription Connect(const char* channel_ior, RecordingConsumer* consumer);
  // Disconnects the proxy, destroys the admin and deactivates the consumer.
  void Close();
  // Deactivates the consumer without telling the channel (a client that
  // vanished).
  void Vanish();
};

// A pull consumer on a message channel; sees messages pushed after it
// connected.
class MessageListener {
 public:
  explicit MessageListener(const char* channel_ior);
  ~MessageListener();
  // Polls the channel until an event satisfies `match`; false after `limit`.
  bool WaitFor(const std::function<bool(const CORBA::Any&)>& match,
               std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Waits for a ZLMessage of `type` from `routine` whose text contains `text`.
  bool WaitForMessage(ZEMR::ZLMessageType type, const std::string& routine, const std::string& text);

 private:
  CosEventChannelAdmin::ProxyPullSupplier_var proxy_;
};

}  // namespace zl::sim::testing

#endif  // ZL_TESTS_SIM_SIM_CLIENT_H_
