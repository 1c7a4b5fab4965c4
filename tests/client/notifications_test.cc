// Tag-change notifications end to end: the local database's connection to
// the stand-in server's value-notifier channel (both ways of finding it),
// its teardown, and what a connected consumer receives.
#include <ace/Log_Msg.h>
#include <gtest/gtest.h>

#include <COS/CosNotifyComm.hh>
#include <mutex>
#include <string>
#include <vector>

#include "broker/orb_holder.h"
#include "broker/zl_sim.h"
#include "client_env.h"
#include "localdb/notifications.h"
#include "support/local_db_access.h"
#include "support/log_capture.h"

namespace zl {
namespace {

using testing::ClientEnvironment;
using testing::ConnectedClient;
using testing::NewClient;
using testing::WaitFor;

std::string Control(const std::string& line) { return ClientEnvironment::services().Control(line); }

// The value of `key=` in the server's status line, -1 when absent.
long Status(const std::string& key) {
  const std::string status = Control("status");
  const size_t at = status.find(" " + key + "=");
  if (at == std::string::npos) return -1;
  return std::stol(status.substr(at + key.size() + 2));
}

// A consumer that records the body of every event it receives.
class RecordingConsumer : public POA_CosNotifyComm::StructuredPushConsumer {
 public:
  void push_structured_event(const CosNotification::StructuredEvent& event) override {
    const ZEMR::ZLTagValueSeq* changes = nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    ++events_;
    if (!(event.remainder_of_body >>= changes)) return;
    for (CORBA::ULong i = 0; i < changes->length(); ++i) {
      names_.push_back(std::string((*changes)[i].tagname.in()));
      modes_.push_back((*changes)[i].currentMode);
    }
  }
  void disconnect_structured_push_consumer() override {}
  void offer_change(const CosNotification::EventTypeSeq&, const CosNotification::EventTypeSeq&) override {}

  int events() {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
  }
  std::vector<std::string> names() {
    std::lock_guard<std::mutex> lock(mu_);
    return names_;
  }
  std::vector<ZEMR::ZLModeType> modes() {
    std::lock_guard<std::mutex> lock(mu_);
    return modes_;
  }

 private:
  std::mutex mu_;
  int events_ = 0;  // guarded by mu_
  std::vector<std::string> names_;
  std::vector<ZEMR::ZLModeType> modes_;
};

class NotificationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureSimRunning();
    client_ = ConnectedClient();
    consumer_ = servant_._this();
  }
  void TearDown() override {
    client_.reset();
    PortableServer::POA_var poa = servant_._default_POA();
    PortableServer::ObjectId_var id = poa->servant_to_id(&servant_);
    poa->deactivate_object(id.in());
  }
  std::unique_ptr<ZLSim> client_;
  RecordingConsumer servant_;
  CosNotifyComm::StructuredPushConsumer_var consumer_;
};

TEST_F(NotificationsTest, EventsArriveInOrderAndOtherBodiesAreIgnored) {
  ASSERT_EQ(0, testing::LocalDb(*client_).SetupNotifications(consumer_.in()));
  // Bodies that hold no ZLTagValueSeq reach the consumer but carry nothing.
  ASSERT_EQ("OK", Control("event text not a sequence").substr(0, 2));
  ASSERT_EQ("OK", Control("event empty").substr(0, 2));
  ASSERT_EQ("OK", Control("event seq").substr(0, 2));
  ASSERT_EQ("OK", Control("event seq A:1:2:Auto B:3:4:Manual C:5:6:NullMode").substr(0, 2));
  ASSERT_TRUE(WaitFor([&] { return servant_.names().size() >= 3; }));
  EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), servant_.names());
  EXPECT_EQ((std::vector<ZEMR::ZLModeType>{ZEMR::Auto, ZEMR::Manual, ZEMR::NullMode}), servant_.modes());
}

TEST_F(NotificationsTest, SecondSetupReplacesTheFirstConnection) {
  const long before = Status("consumers");
  ASSERT_EQ(0, testing::LocalDb(*client_).SetupNotifications(consumer_.in()));
  ASSERT_EQ(0, testing::LocalDb(*client_).SetupNotifications(consumer_.in()));
  // One proxy on the channel: an event arrives once, not twice.
  EXPECT_EQ(before + 1, Status("consumers"));
  ASSERT_EQ("OK", Control("event seq ONCE:1:1:Auto").substr(0, 2));
  ASSERT_TRUE(WaitFor([&] { return !servant_.names().empty(); }));
  ASSERT_EQ("OK", Control("event seq MARK:1:1:Auto").substr(0, 2));
  ASSERT_TRUE(WaitFor([&] { return servant_.names().size() >= 2; }));
  EXPECT_EQ((std::vector<std::string>{"ONCE", "MARK"}), servant_.names());
}

TEST_F(NotificationsTest, DisconnectTearsTheConnectionDown) {
  const long before = Status("consumers");
  ASSERT_EQ(0, testing::LocalDb(*client_).SetupNotifications(consumer_.in()));
  EXPECT_EQ(before + 1, Status("consumers"));
  EXPECT_EQ(0, client_->Disconnect());
  EXPECT_TRUE(WaitFor([&] { return Status("consumers") == before; }));
  // Nothing is left to tear down.
  EXPECT_EQ(0, testing::LocalDb(*client_).TearDownNotifications());
}

TEST_F(NotificationsTest, WithoutDatabaseSetupFails) {
  std::unique_ptr<ZLSim> idle = NewClient();
  EXPECT_EQ(-1, testing::LocalDb(*idle).SetupNotifications(consumer_.in()));
  EXPECT_EQ(0, testing::LocalDb(*idle).TearDownNotifications());
}

TEST_F(NotificationsTest, TeardownOfAVanishedServerIsLoggedAndGivesZero) {
  ASSERT_EQ(0, testing::LocalDb(*client_).SetupNotifications(consumer_.in()));
  ASSERT_TRUE(ClientEnvironment::services().KillSim());
  {
    testing::LogCapture log;
    EXPECT_EQ(0, testing::LocalDb(*client_).TearDownNotifications());
    bool logged = false;
    for (const auto& line : log.Lines()) {
      if (line.priority == LM_ERROR &&
          line.text.rfind("(File src/localdb/notifications.cc;Line ", 0) == 0 &&
          line.text.find("CORBA ") != std::string::npos) {
        logged = true;
      }
    }
    EXPECT_TRUE(logged);
  }
  // Nothing stays stored: a second teardown does not call the server.
  testing::LogCapture log;
  EXPECT_EQ(0, testing::LocalDb(*client_).TearDownNotifications());
  EXPECT_TRUE(log.Lines().empty());
  client_.reset();
  ASSERT_TRUE(ClientEnvironment::services().StartSim());
}

// An older server: no ZelvikDatabase2, the channel bound under the kernel
// name. Its own services, reached through their Naming Service directly.
TEST_F(NotificationsTest, OlderServerChannelFromNamingService) {
  testing::ServicesOptions options;
  options.legacy = true;
  testing::Services legacy(options);
  CORBA::ORB_ptr orb = OrbHolder::instance()->orb();
  CORBA::Object_var object = orb->string_to_object(
      ("corbaloc::127.0.0.1:" + std::to_string(legacy.naming_port()) + "/NameService").c_str());
  CosNaming::NamingContext_var naming = CosNaming::NamingContext::_narrow(object.in());
  ASSERT_FALSE(CORBA::is_nil(naming));
  CosNaming::Name name;
  name.length(1);
  name[0].id = CORBA::string_dup("SIM");
  name[0].kind = CORBA::string_dup("ZelvikDatabase");
  object = naming->resolve(name);
  ZEMR::ZelvikDatabase_var db = ZEMR::ZelvikDatabase::_narrow(object.in());
  ASSERT_FALSE(db->_is_a("IDL:ZEMR/ZelvikDatabase2:1.0"));

  {
    // Without a naming context the channel cannot be found.
    testing::LogCapture log;
    TagChangeNotifications none;
    EXPECT_EQ(-1, none.Setup(db.in(), orb, CosNaming::NamingContext::_nil(), consumer_.in()));
    EXPECT_TRUE(log.Has(LM_ERROR, "There is no value channel for server, sim.svcs\n"));
  }
  TagChangeNotifications notifications;
  ASSERT_EQ(0, notifications.Setup(db.in(), orb, naming.in(), consumer_.in()));
  ASSERT_EQ("OK", legacy.Control("event seq OLD:1:2:Manual").substr(0, 2));
  ASSERT_TRUE(WaitFor([&] { return !servant_.names().empty(); }));
  EXPECT_EQ("OLD", servant_.names()[0]);
  EXPECT_EQ(0, notifications.TearDown());
}

}  // namespace
}  // namespace zl
