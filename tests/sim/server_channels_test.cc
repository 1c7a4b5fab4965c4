// zelvik-sim's channels: server messages on the omniEvents message channel,
// tag changes as structured events on the value-notifier channel, and a
// consumer that blocks or vanishes.
#include <gtest/gtest.h>

#include <string>

#include "localdb/event_decoding.h"
#include "sim_client.h"

namespace zl::sim::testing {
namespace {

using Consumer = PortableServer::Servant_var<RecordingConsumer>;

const char kTags[] =
    "A\t\t\tAnalog\t\t0\t200\t\t\tAuto\tNONE\t\t0\n"
    "B\t\t\tAnalog\t\t0\t200\t\t\tAuto\tNONE\t\t0\n"
    "C\t\t\tDigital\t\t\t\t\t\tManual\tNONE\t\t0\n";

class ChannelTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(3, db()->Download(kTags));
    channel_ior_ = db()->GetIORValueNotifierChannel();
  }

  static int Consumers() {
    const std::string status = Control("status");
    const size_t at = status.find("consumers=");
    return at == std::string::npos ? -1 : std::stoi(status.substr(at + 10));
  }

  CORBA::String_var channel_ior_;
};

TEST_F(ChannelTest, MessagesFromServerEvents) {
  CORBA::String_var ior = db()->GetIORMessageChannel();
  MessageListener listener(ior.in());
  EXPECT_THROW(db()->SetPVE("ghost", 1), ZEMR::ZLTagNotFound);
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::ErrorMsg, "SetPVE", "Tag <ghost> not found"));
  db()->Download("D\t\t\tAnalog\n");
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::InfoMsg, "Download", "Downloaded 1 tag(s)"));
  EXPECT_THROW(db()->Download("E\t\t\tAnalogue\n"), ZEMR::ZLDownloadException);
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::ErrorMsg, "Download", "unknown tag type 'Analogue'"));
  db()->IOStop();
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::InfoMsg, "IOStop", "I/O stopped"));
  db()->IOStart();
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::InfoMsg, "IOStart", "I/O started"));
  db()->SimInit("");
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::InfoMsg, "SimInit", "4 tag(s) removed"));
}

TEST_F(ChannelTest, ControlMessagesIncludingAnUndecodableType) {
  CORBA::String_var ior = db()->GetIORMessageChannel();
  MessageListener listener(ior.in());
  ASSERT_EQ("OK", Control("message warning MyRoutine hello  world"));
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::WarningMsg, "MyRoutine", "hello  world"));
  ASSERT_EQ("OK", Control("message debug R"));
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::DebugMsg, "R", ""));

  // Type 7 is outside the enumeration: it goes out as it is, in a value
  // of the ZLMessage type code.
  ASSERT_EQ("OK", Control("message 7 Odd outside"));
  EXPECT_TRUE(listener.WaitFor([](const CORBA::Any& any) {
    ServerMessage m;
    return DecodeServerMessage(any, m) && m.type == 7 &&
           std::string(m.fields.sourceRoutine.in()) == "Odd";
  }));
  ASSERT_EQ("OK", Control("message info R after"));
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::InfoMsg, "R", "after"));
  EXPECT_EQ("ERR bad message type 'loud'", Control("message loud R x"));
  EXPECT_EQ("ERR usage: message TYPE ROUTINE [TEXT...]", Control("message info"));
}

TEST_F(ChannelTest, TagChangesArriveAsStructuredEvents) {
  Consumer consumer = new RecordingConsumer;
  Subscription s = Subscription::Connect(channel_ior_.in(), consumer.in());
  EXPECT_EQ(1, Consumers());

  EXPECT_EQ(1, db()->SetPVE("a", 50));
  ASSERT_TRUE(consumer->WaitForChange("A", 50));
  const ZEMR::ZLTagValueEvent e = consumer->Changes().back();
  EXPECT_EQ(25, e.newPVValue);
  EXPECT_EQ(ZEMR::Auto, e.currentMode);
  EXPECT_GT(e.timeSecs, 0u);
  const CosNotification::StructuredEvent event = consumer->Events().back();
  EXPECT_STREQ("ZEMR", event.header.fixed_header.event_type.domain_name.in());
  EXPECT_STREQ("ZLTagValueSeq", event.header.fixed_header.event_type.type_name.in());

  // One batch per call: a batched write is one event.
  ZEMR::ZLTagCommands commands;
  commands.length(3);
  const char* names[] = {"A", "B", "C"};
  for (CORBA::ULong i = 0; i < 3; ++i) {
    commands[i].tagname = names[i];
    commands[i].mode = ZEMR::NullMode;
    commands[i].pve = 1;
  }
  ZEMR::ZLErrorCodeList_var codes;
  EXPECT_EQ(3, db()->SetMultiPVE(commands, codes.out()));
  EXPECT_TRUE(consumer->WaitForEvent([](const CosNotification::StructuredEvent& ev) {
    const ZEMR::ZLTagValueSeq* seq = nullptr;
    return (ev.remainder_of_body >>= seq) && seq->length() == 3 &&
           std::string((*seq)[2].tagname.in()) == "C";
  }));

  // Mode changes are changes too.
  db()->SetMan("B");
  EXPECT_TRUE(consumer->WaitForEvent([](const CosNotification::StructuredEvent& ev) {
    const ZEMR::ZLTagValueSeq* seq = nullptr;
    return (ev.remainder_of_body >>= seq) && seq->length() == 1 &&
           std::string((*seq)[0].tagname.in()) == "B" && (*seq)[0].currentMode == ZEMR::Manual;
  }));

  // And so are the calculations of a cycle.
  db()->Download("R\t\t\tAnalog\t\t0\t1000\t\t\tAuto\tRAMP\tRATE=1\t0\n");
  EXPECT_EQ(0, db()->DoASingleCalcCycle(3));
  EXPECT_TRUE(consumer->WaitForChange("R", 3));
  s.Close();
  EXPECT_TRUE(WaitUntil([] { return Consumers() == 0; }));
}

TEST_F(ChannelTest, RawEventsFromTheControlEndpoint) {
  Consumer consumer = new RecordingConsumer;
  Subscription s = Subscription::Connect(channel_ior_.in(), consumer.in());
  EXPECT_EQ("OK 1", Control("event text not a sequence"));
  EXPECT_TRUE(consumer->WaitForEvent([](const CosNotification::StructuredEvent& ev) {
    const char* text = nullptr;
    const ZEMR::ZLTagValueSeq* seq = nullptr;
    return !(ev.remainder_of_body >>= seq) && (ev.remainder_of_body >>= text) &&
           std::string(text) == "not a sequence";
  }));
  EXPECT_EQ("OK 1", Control("event long 42"));
  EXPECT_EQ("OK 1", Control("event empty"));
  EXPECT_EQ("OK 1", Control("event seq"));
  EXPECT_TRUE(consumer->WaitForEvent([](const CosNotification::StructuredEvent& ev) {
    const ZEMR::ZLTagValueSeq* seq = nullptr;
    return (ev.remainder_of_body >>= seq) && seq->length() == 0;
  }));
  EXPECT_EQ("OK 1", Control("event seq X:1.5:3:Manual Y:0:0:2"));
  EXPECT_TRUE(consumer->WaitForChange("X", 1.5));
  EXPECT_TRUE(consumer->WaitForEvent([](const CosNotification::StructuredEvent& ev) {
    const ZEMR::ZLTagValueSeq* seq = nullptr;
    return (ev.remainder_of_body >>= seq) && seq->length() == 2 &&
           (*seq)[0].currentMode == ZEMR::Manual && (*seq)[1].currentMode == ZEMR::NullMode;
  }));
  EXPECT_FALSE(db()->TagExists("X"));  // no tag was touched
  EXPECT_EQ("ERR bad entry 'X:1' (NAME:EU:PV:MODE)", Control("event seq X:1"));
  EXPECT_EQ("ERR unknown event kind 'blob'", Control("event blob"));
  s.Close();
}

TEST_F(ChannelTest, AdminsAndProxiesAsAClientUsesThem) {
  Consumer first = new RecordingConsumer;
  Consumer second = new RecordingConsumer;
  Subscription a = Subscription::Connect(channel_ior_.in(), first.in());
  Subscription b = Subscription::Connect(channel_ior_.in(), second.in());
  EXPECT_NE(a.admin_id, b.admin_id);
  CosNotifyChannelAdmin::ProxyIDSeq_var ids = a.admin->push_suppliers();
  ASSERT_EQ(1u, ids->length());
  EXPECT_EQ(a.proxy_id, ids[0]);
  EXPECT_EQ(a.admin_id, a.admin->MyID());
  EXPECT_EQ(CosNotifyChannelAdmin::PUSH_STRUCTURED, a.proxy->MyType());
  CosNotifyChannelAdmin::ConsumerAdmin_var same = a.channel->get_consumeradmin(a.admin_id);
  EXPECT_TRUE(same->_is_equivalent(a.admin));
  EXPECT_THROW(a.channel->get_consumeradmin(9999), CosNotifyChannelAdmin::AdminNotFound);
  EXPECT_THROW(a.proxy->connect_structured_push_consumer(CosNotifyComm::StructuredPushConsumer::_nil()),
               CORBA::BAD_PARAM);

  // Suspended: events are not delivered until resumed.
  a.proxy->suspend_connection();
  EXPECT_THROW(a.proxy->suspend_connection(), CosNotifyChannelAdmin::ConnectionAlreadyInactive);
  db()->SetPVE("A", 7);
  ASSERT_TRUE(second->WaitForChange("A", 7));
  a.proxy->resume_connection();
  db()->SetPVE("A", 8);
  ASSERT_TRUE(first->WaitForChange("A", 8));
  EXPECT_FALSE(first->WaitForChange("A", 7, std::chrono::milliseconds(0)));

  // Disconnected: the admin lists no proxy, the consumer gets nothing more.
  a.proxy->disconnect_structured_push_supplier();
  ids = a.admin->push_suppliers();
  EXPECT_EQ(0u, ids->length());
  a.admin->destroy();
  a.Vanish();
  CosNotifyChannelAdmin::AdminIDSeq_var admins = b.channel->get_all_consumeradmins();
  EXPECT_EQ(2u, admins->length());  // the default admin and b's
  db()->SetPVE("A", 9);
  ASSERT_TRUE(second->WaitForChange("A", 9));
  EXPECT_FALSE(first->WaitForChange("A", 9, std::chrono::milliseconds(0)));
  b.Close();

  // The default admin serves too.
  Consumer third = new RecordingConsumer;
  CosNotifyChannelAdmin::ConsumerAdmin_var admin = a.channel->default_consumer_admin();
  EXPECT_EQ(0, admin->MyID());
  CosNotifyChannelAdmin::ProxyID id;
  CosNotifyChannelAdmin::ProxySupplier_var proxy =
      admin->obtain_notification_push_supplier(CosNotifyChannelAdmin::STRUCTURED_EVENT, id);
  CosNotifyChannelAdmin::StructuredProxyPushSupplier_var structured =
      CosNotifyChannelAdmin::StructuredProxyPushSupplier::_narrow(proxy);
  PortableServer::ObjectId_var oid = TestPoa()->activate_object(third.in());
  CORBA::Object_var ref = TestPoa()->id_to_reference(oid.in());
  CosNotifyComm::StructuredPushConsumer_var consumer = CosNotifyComm::StructuredPushConsumer::_narrow(ref);
  structured->connect_structured_push_consumer(consumer);
  db()->SetPVE("B", 3);
  EXPECT_TRUE(third->WaitForChange("B", 3));
  structured->disconnect_structured_push_supplier();
  TestPoa()->deactivate_object(oid.in());
  EXPECT_THROW(admin->obtain_notification_push_supplier(CosNotifyChannelAdmin::ANY_EVENT, id),
               CORBA::NO_IMPLEMENT);
}

TEST_F(ChannelTest, BlockedConsumerDoesNotStallWrites) {
  Consumer blocked = new RecordingConsumer;
  Consumer healthy = new RecordingConsumer;
  Subscription a = Subscription::Connect(channel_ior_.in(), blocked.in());
  Subscription b = Subscription::Connect(channel_ior_.in(), healthy.in());
  blocked->Block();
  db()->SetPVE("A", 1);
  ASSERT_TRUE(WaitUntil([&] { return blocked->pushes_waiting() == 1; }));
  // The server's delivery thread for `blocked` now waits inside a push.
  // Writes go on (each would time out after 30 s if they waited on it), and
  // the other consumer keeps receiving.
  for (int i = 2; i <= 200; ++i) EXPECT_EQ(1, db()->SetPVE("A", i));
  EXPECT_TRUE(healthy->WaitForChange("A", 200));
  blocked->Unblock();
  // The queued batches arrive, merged, and end with the last value.
  EXPECT_TRUE(blocked->WaitForChange("A", 200));
  EXPECT_LT(blocked->Events().size(), 199u);
  a.Close();
  b.Close();
}

TEST_F(ChannelTest, VanishedConsumerIsDropped) {
  CORBA::String_var ior = db()->GetIORMessageChannel();
  MessageListener listener(ior.in());
  Consumer consumer = new RecordingConsumer;
  Subscription s = Subscription::Connect(channel_ior_.in(), consumer.in());
  EXPECT_EQ(1, Consumers());
  s.Vanish();  // the client is gone without a word
  db()->SetPVE("A", 5);
  EXPECT_TRUE(WaitUntil([] { return Consumers() == 0; }));
  EXPECT_TRUE(listener.WaitForMessage(ZEMR::WarningMsg, "ValueChannel", "Value consumer dropped"));
  // Its admin went with it; the server goes on.
  CosNotifyChannelAdmin::AdminIDSeq_var admins = s.channel->get_all_consumeradmins();
  ASSERT_EQ(1u, admins->length());
  EXPECT_EQ(0, admins[0]);
  EXPECT_EQ(1, db()->SetPVE("A", 6));
}

}  // namespace
}  // namespace zl::sim::testing
