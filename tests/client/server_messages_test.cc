// Server messages end to end: the message channel of the stand-in server,
// the listener, the four queues, and the clean-up that switches events off.
#include <ace/Log_Msg.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "broker/orb_holder.h"
#include "broker/peer_servants.h"
#include "broker/zl_sim.h"
#include "client_env.h"
#include "support/local_db_access.h"
#include "support/log_capture.h"

namespace zl {
namespace {

using testing::ClientEnvironment;
using testing::ConnectedClient;
using testing::NewClient;
using testing::WaitFor;

std::string Control(const std::string& line) { return ClientEnvironment::services().Control(line); }

// Reads messages of `type` until one holds `needle`, passing over what the
// server said by itself (bounded). Gives whether it came.
bool AwaitMessage(ZLSim& client, unsigned type, const std::string& needle) {
  return WaitFor([&] { return client.GetNextZLMessage(type).find(needle) != std::string::npos; });
}

class ServerMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureSimRunning();
    ACE_LOG_MSG->priority_mask(LM_DEBUG | LM_INFO, ACE_Log_Msg::THREAD);
    client_ = ConnectedClient();
    ASSERT_EQ(0, client_->EnableEvents(true));
    // Whatever the server said before is of no interest here.
    ASSERT_EQ("OK", Control("message error Test sync").substr(0, 2));
    ASSERT_TRUE(AwaitMessage(*client_, 1, "in Test) sync"));
    while (!client_->GetNextZLMessage(0).empty()) {
    }
  }
  testing::LogCapture log_;
  std::unique_ptr<ZLSim> client_;
};

TEST_F(ServerMessagesTest, EnableTwiceAndWithoutDatabase) {
  EXPECT_EQ(1, client_->EnableEvents(true));
  EXPECT_TRUE(log_.Has(LM_INFO, " Events are already enabled\n"));

  auto idle = NewClient();
  EXPECT_EQ(-1, idle->EnableEvents(true));
  EXPECT_TRUE(log_.Has(LM_ERROR, "EnableEvents() called while not connected\n"));
  EXPECT_FALSE(idle->MessagesExist(0));
}

// Anybody holding the consumer's reference may disconnect it; the client
// then joins the channel again on the next enable, and messages flow.
TEST_F(ServerMessagesTest, DisconnectedByAPeerThenEnabledAgain) {
  CosEventComm::PullConsumer_var consumer = testing::LocalDb(*client_).MessageConsumer();
  ASSERT_FALSE(CORBA::is_nil(consumer));
  PortableServer::POA_var poa = PeerPoa();
  PortableServer::ObjectId_var id = poa->reference_to_id(consumer.in());
  EXPECT_EQ(kPeerIdBytes, id->length());

  // As a peer would: from the stringified reference, through the ORB.
  CORBA::ORB_ptr orb = OrbHolder::instance()->orb();
  CORBA::String_var text = orb->object_to_string(consumer.in());
  CORBA::Object_var object = orb->string_to_object(text.in());
  CosEventComm::PullConsumer_var peer = CosEventComm::PullConsumer::_narrow(object.in());
  peer->disconnect_pull_consumer();

  EXPECT_EQ(0, client_->EnableEvents(true));
  EXPECT_TRUE(log_.Has(LM_INFO, "#info: the message consumer was disconnected; joining the channel again\n"));
  EXPECT_FALSE(log_.Has(LM_INFO, " Events are already enabled\n"));
  // The old reference is dead; a new one was handed to the channel.
  CosEventComm::PullConsumer_var renewed = testing::LocalDb(*client_).MessageConsumer();
  PortableServer::ObjectId_var new_id = poa->reference_to_id(renewed.in());
  EXPECT_NE(std::string(reinterpret_cast<const char*>(id->get_buffer()), id->length()),
            std::string(reinterpret_cast<const char*>(new_id->get_buffer()), new_id->length()));
  EXPECT_THROW(peer->disconnect_pull_consumer(), CORBA::OBJECT_NOT_EXIST);

  ASSERT_EQ("OK", Control("message error R back").substr(0, 2));
  EXPECT_TRUE(AwaitMessage(*client_, 1, "in R) back"));
  EXPECT_EQ(1, client_->EnableEvents(true));  // connected: already enabled
}

TEST_F(ServerMessagesTest, MessagesArriveFormattedInTheirQueues) {
  ASSERT_EQ("OK", Control("message warning Loader tank level high").substr(0, 2));
  std::string text;
  WaitFor([&] { return (text = client_->GetNextZLMessage(2)).find("in Loader)") != std::string::npos; });
  EXPECT_TRUE(std::regex_match(
      text, std::regex(R"([1-9][0-9]?/[1-9][0-9]?/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} in Loader\) tank level high)")))
      << text;

  struct Case { int line; const char* type; unsigned queue; };
  const Case kCases[] = {
      {__LINE__, "error", 1},
      {__LINE__, "debug", 4},
      {__LINE__, "info", 3},
      {__LINE__, "all", 3},  // "any type" on the wire counts as information
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    ASSERT_EQ("OK", Control(std::string("message ") + c.type + " R m").substr(0, 2));
    EXPECT_TRUE(WaitFor([&] { return client_->MessagesExist(c.queue); }));
    for (unsigned t = 1; t <= 4; ++t) {
      if (t != c.queue) {
        EXPECT_FALSE(client_->MessagesExist(t)) << t;
      }
    }
    EXPECT_NE("", client_->GetNextZLMessage(c.queue));
  }
}

// A severity outside the enumeration is information, as any other type
// that is not error, warning or debug; the listener goes on with the next.
TEST_F(ServerMessagesTest, SeverityOutsideTheEnumerationIsInformation) {
  ASSERT_EQ("OK", Control("message 7 R seven").substr(0, 2));
  ASSERT_EQ("OK", Control("message 4294967295 R max").substr(0, 2));
  ASSERT_EQ("OK", Control("message error R after").substr(0, 2));
  ASSERT_TRUE(AwaitMessage(*client_, 1, "in R) after"));
  EXPECT_NE(std::string::npos, client_->GetNextZLMessage(3).find("in R) seven"));
  EXPECT_NE(std::string::npos, client_->GetNextZLMessage(3).find("in R) max"));
}

TEST_F(ServerMessagesTest, FullQueueKeepsOrderAndReportsDrops) {
  const std::string filler(80, 'w');
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ("OK", Control("message warning R " + std::to_string(1000 + i) + filler).substr(0, 2));
  }
  // Events arrive in order: once this one is here, every warning is too.
  ASSERT_EQ("OK", Control("message error R last").substr(0, 2));
  ASSERT_TRUE(AwaitMessage(*client_, 1, "in R) last"));

  int expected = 1000, kept = 0;
  std::string text;
  while ((text = client_->GetNextZLMessage(2)).find(" in R) ") != std::string::npos) {
    ASSERT_EQ(std::to_string(expected++), text.substr(text.find(" in R) ") + 7, 4));
    ++kept;
  }
  EXPECT_LT(kept, 300);
  EXPECT_GT(kept, 100);
  EXPECT_EQ("More Warning messages were dropped", text);
  EXPECT_EQ("", client_->GetNextZLMessage(2));
}

TEST_F(ServerMessagesTest, QueuesOutliveEvents) {
  ASSERT_EQ("OK", Control("message info R one").substr(0, 2));
  ASSERT_EQ("OK", Control("message error R sentinel").substr(0, 2));
  ASSERT_TRUE(AwaitMessage(*client_, 1, "in R) sentinel"));
  EXPECT_EQ(0, client_->EnableEvents(false));
  EXPECT_FALSE(testing::LocalDb(*client_).EventsEnabled());
  EXPECT_FALSE(client_->MessagesExist(3));  // events off: false although one waits
  EXPECT_NE(std::string::npos, client_->GetNextZLMessage(3).find("in R) one"));

  EXPECT_EQ(0, client_->EnableEvents(true));  // a second life of the consumer
  ASSERT_EQ("OK", Control("message info R two").substr(0, 2));
  EXPECT_TRUE(AwaitMessage(*client_, 3, "in R) two"));
}

TEST_F(ServerMessagesTest, DisconnectAndDestructionSwitchEventsOff) {
  EXPECT_TRUE(testing::LocalDb(*client_).EventsEnabled());
  EXPECT_EQ(0, client_->Disconnect());
  EXPECT_FALSE(testing::LocalDb(*client_).EventsEnabled());
  // The client timer went with the database: a new one starts quietly.
  ASSERT_EQ(0, client_->Connect("SIM"));
  log_.Clear();
  EXPECT_EQ(0, testing::LocalDb(*client_).StartClientTimer());
  EXPECT_TRUE(log_.Has(LM_INFO, "Avoiding multiple StartClientTimer() calls\n"));
  EXPECT_EQ(0, client_->EnableEvents(true));
  client_.reset();  // destruction runs the same clean-up with events on
}

// The server dies while events are on: the channel lives in the event
// service, so the client keeps its queues and stays usable.
TEST_F(ServerMessagesTest, ServerKilledWhileEventsEnabled) {
  ASSERT_TRUE(ClientEnvironment::services().KillSim());
  EXPECT_EQ("", client_->GetNextZLMessage(0));
  EXPECT_FALSE(client_->MessagesExist(0));
  EXPECT_EQ(0.0, client_->PVE("FIC101"));
  EXPECT_EQ(0, client_->Disconnect());
  testing::EnsureSimRunning();
  EXPECT_EQ(0, client_->Connect("SIM"));
  EXPECT_EQ(0, client_->EnableEvents(true));
  ASSERT_EQ("OK", Control("message info R back").substr(0, 2));
  // The new server announces itself too; wait for ours.
  EXPECT_TRUE(AwaitMessage(*client_, 3, "in R) back"));
}

}  // namespace
}  // namespace zl
