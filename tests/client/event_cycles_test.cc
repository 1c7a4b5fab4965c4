// Clients that connect, switch server messages and tag-change notifications
// on and disconnect again while the server keeps sending both: the listener,
// the queues and the consumer connection come and go under a live stream.
// Run under the thread checker this is where a race between a disconnect
// and an arriving event shows.
#include <gtest/gtest.h>

#include <COS/CosNotifyComm.hh>
#include <atomic>
#include <string>
#include <thread>

#include "broker/zl_sim.h"
#include "client_env.h"
#include "support/local_db_access.h"
#include "support/log_capture.h"

namespace zl {
namespace {

using testing::ClientEnvironment;
using testing::NewClient;
using testing::WaitFor;

std::string Control(const std::string& line) { return ClientEnvironment::services().Control(line); }

// Counts the events it receives (omniORB threads) for the test thread.
class CountingConsumer : public POA_CosNotifyComm::StructuredPushConsumer {
 public:
  void push_structured_event(const CosNotification::StructuredEvent&) override { ++events_; }
  void disconnect_structured_push_consumer() override {}
  void offer_change(const CosNotification::EventTypeSeq&, const CosNotification::EventTypeSeq&) override {}
  int events() const { return events_; }

 private:
  std::atomic<int> events_{0};
};

TEST(EventCyclesTest, ConnectDisconnectWhileEventsFlow) {
  testing::EnsureSimRunning();
  testing::LogCapture log;  // the cycles log their connections
  auto first = testing::ConnectedClient();  // initialises the ORB for the servant
  ASSERT_TRUE(first);
  // On the heap and owned by the POA once activated: a push still in flight
  // after the last disconnect ends before the POA lets the servant go.
  auto* servant = new CountingConsumer;
  CosNotifyComm::StructuredPushConsumer_var consumer = servant->_this();
  servant->_remove_ref();

  // The server sends a message and a tag-change event every few ms until
  // the cycles are done.
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    while (!stop) {
      Control("message info Feed tick");
      Control("event seq FEED:1:2:Auto");
    }
  });

  int received = 0;
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    auto client = NewClient();
    ASSERT_EQ(0, client->Connect("SIM"));
    ASSERT_EQ(0, client->EnableEvents(true));
    ASSERT_EQ(0, testing::LocalDb(*client).SetupNotifications(consumer.in()));
    // Cycles alternate: one reads what arrived, the next one leaves it queued.
    if (i % 2 == 0 && WaitFor([&] { return client->MessagesExist(0); })) ++received;
    ASSERT_EQ(0, client->Disconnect());
  }
  stop = true;
  feeder.join();
  EXPECT_GT(received, 0);
  EXPECT_GT(servant->events(), 0);

  // The server and a new client still work together.
  auto last = NewClient();
  ASSERT_EQ(0, last->Connect("SIM"));
  ASSERT_EQ(0, last->EnableEvents(true));
  ASSERT_EQ("OK", Control("message error Feed last").substr(0, 2));
  EXPECT_TRUE(WaitFor([&] { return last->GetNextZLMessage(1).find("in Feed) last") != std::string::npos; }));
  EXPECT_EQ(0, last->Disconnect());

  PortableServer::POA_var poa = servant->_default_POA();
  PortableServer::ObjectId_var id = poa->servant_to_id(servant);
  poa->deactivate_object(id.in());  // the POA frees the servant when idle
}

}  // namespace
}  // namespace zl
