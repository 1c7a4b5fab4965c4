#include "sim_client.h"

#include <thread>

namespace zl::sim::testing {
namespace {

struct OrbHolder {
  CORBA::ORB_var orb;
  PortableServer::POA_var poa;
};

OrbHolder& Holder() {
  static OrbHolder holder = [] {
    std::vector<std::string> args = {"sim_test", "-ORBendPoint", "giop:tcp:127.0.0.1:",
                                     "-ORBclientCallTimeOutPeriod", "30000",
                                     "-ORBclientConnectTimeOutPeriod", "5000"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    int argc = static_cast<int>(argv.size());
    OrbHolder h;
    h.orb = CORBA::ORB_init(argc, argv.data(), "omniORB4");
    CORBA::Object_var obj = h.orb->resolve_initial_references("RootPOA");
    h.poa = PortableServer::POA::_narrow(obj);
    PortableServer::POAManager_var manager = h.poa->the_POAManager();
    manager->activate();
    return h;
  }();
  return holder;
}

// Shuts the ORB down after the last test, so the process ends cleanly.
class OrbEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    OrbHolder& h = Holder();
    if (!CORBA::is_nil(h.orb)) {
      h.orb->shutdown(true);
      h.orb->destroy();
    }
  }
};

::testing::Environment* const kOrbEnvironment =
    ::testing::AddGlobalTestEnvironment(new OrbEnvironment);

}  // namespace

CORBA::ORB_ptr TestOrb() { return Holder().orb.in(); }
PortableServer::POA_ptr TestPoa() { return Holder().poa.in(); }

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// --- SimTest ---------------------------------------------------------------------

std::unique_ptr<zl::testing::Services> SimTest::services_;
CosNaming::NamingContext_var SimTest::naming_;
ZEMR::ZelvikDatabase_var SimTest::db1_;
ZEMR::ZelvikDatabase2_var SimTest::db_;

void SimTest::StartServices(const zl::testing::ServicesOptions& options) {
  services_ = std::make_unique<zl::testing::Services>(options);
  const std::string ref =
      "corbaloc::127.0.0.1:" + std::to_string(services_->naming_port()) + "/NameService";
  CORBA::Object_var obj = TestOrb()->string_to_object(ref.c_str());
  naming_ = CosNaming::NamingContext::_narrow(obj);
  const std::string first = options.databases.empty() ? "SIM" : options.databases[0];
  obj = Resolve(first, "ZelvikDatabase");
  db1_ = ZEMR::ZelvikDatabase::_narrow(obj);
  if (!options.legacy) db_ = ZEMR::ZelvikDatabase2::_narrow(obj);
}

void SimTest::TearDownTestSuite() {
  db_ = ZEMR::ZelvikDatabase2::_nil();
  db1_ = ZEMR::ZelvikDatabase::_nil();
  naming_ = CosNaming::NamingContext::_nil();
  services_.reset();
}

void SimTest::SetUp() {
  ASSERT_TRUE(services_) << "services did not start";
  ASSERT_FALSE(CORBA::is_nil(db1_));
  ASSERT_EQ("OK", Control("clear"));
  ASSERT_EQ(0, db1_->SimInit(""));
  db1_->EnableAlgs(true);
  db1_->EnableIO(true);
  db1_->DoCalcsEvery(1);
  db1_->WarpFactor(1);
}

CORBA::Object_ptr SimTest::Resolve(const std::string& id, const std::string& kind) {
  CosNaming::Name name;
  name.length(1);
  name[0].id = id.c_str();
  name[0].kind = kind.c_str();
  try {
    return naming_->resolve(name);
  } catch (const CosNaming::NamingContext::NotFound&) {
    return CORBA::Object::_nil();
  }
}

// --- RecordingConsumer --------------------------------------------------------------

void RecordingConsumer::push_structured_event(const CosNotification::StructuredEvent& event) {
  std::unique_lock<std::mutex> lock(mu_);
  ++waiting_;
  cv_.notify_all();
  // A blocked consumer holds the push; bounded so a failing test ends.
  cv_.wait_for(lock, std::chrono::seconds(60), [this] { return !blocked_; });
  --waiting_;
  events_.push_back(event);
  cv_.notify_all();
}

void RecordingConsumer::disconnect_structured_push_consumer() {
  std::lock_guard<std::mutex> lock(mu_);
  disconnected_ = true;
}

void RecordingConsumer::Block() {
  std::lock_guard<std::mutex> lock(mu_);
  blocked_ = true;
}

void RecordingConsumer::Unblock() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    blocked_ = false;
  }
  cv_.notify_all();
}

int RecordingConsumer::pushes_waiting() const {
  std::lock_guard<std::mutex> lock(mu_);
  return waiting_;
}

std::vector<CosNotification::StructuredEvent> RecordingConsumer::Events() const {
  std::lock_guard<std::mutex> lock(mu_);
  return events_;
}

std::vector<ZEMR::ZLTagValueEvent> RecordingConsumer::Changes() const {
  std::vector<ZEMR::ZLTagValueEvent> changes;
  for (const auto& event : Events()) {
    const ZEMR::ZLTagValueSeq* seq = nullptr;
    if (!(event.remainder_of_body >>= seq)) continue;
    for (CORBA::ULong i = 0; i < seq->length(); ++i) changes.push_back((*seq)[i]);
  }
  return changes;
}

bool RecordingConsumer::WaitForEvent(
    const std::function<bool(const CosNotification::StructuredEvent&)>& match,
    std::chrono::milliseconds limit) {
  return WaitUntil([&] {
    for (const auto& e : Events()) {
      if (match(e)) return true;
    }
    return false;
  }, limit);
}

bool RecordingConsumer::WaitForChange(const std::string& tag, double eu,
                                      std::chrono::milliseconds limit) {
  return WaitUntil([&] {
    for (const auto& c : Changes()) {
      if (tag == c.tagname.in() && c.newEUValue == eu) return true;
    }
    return false;
  }, limit);
}

// --- Subscription -------------------------------------------------------------------

Subscription Subscription::Connect(const char* channel_ior, RecordingConsumer* consumer) {
  Subscription s;
  CORBA::Object_var obj = TestOrb()->string_to_object(channel_ior);
  s.channel = CosNotifyChannelAdmin::EventChannel::_narrow(obj);
  s.admin = s.channel->new_for_consumers(CosNotifyChannelAdmin::OR_OP, s.admin_id);
  CosNotifyChannelAdmin::ProxySupplier_var proxy =
      s.admin->obtain_notification_push_supplier(CosNotifyChannelAdmin::STRUCTURED_EVENT, s.proxy_id);
  s.proxy = CosNotifyChannelAdmin::StructuredProxyPushSupplier::_narrow(proxy);
  s.consumer_oid = TestPoa()->activate_object(consumer);
  CORBA::Object_var ref = TestPoa()->id_to_reference(s.consumer_oid.in());
  CosNotifyComm::StructuredPushConsumer_var c = CosNotifyComm::StructuredPushConsumer::_narrow(ref);
  s.proxy->connect_structured_push_consumer(c);
  return s;
}

void Subscription::Close() {
  proxy->disconnect_structured_push_supplier();
  admin->destroy();
  Vanish();
}

void Subscription::Vanish() {
  TestPoa()->deactivate_object(consumer_oid.in());
}

// --- MessageListener ------------------------------------------------------------------

MessageListener::MessageListener(const char* channel_ior) {
  CORBA::Object_var obj = TestOrb()->string_to_object(channel_ior);
  CosEventChannelAdmin::EventChannel_var channel = CosEventChannelAdmin::EventChannel::_narrow(obj);
  CosEventChannelAdmin::ConsumerAdmin_var admin = channel->for_consumers();
  proxy_ = admin->obtain_pull_supplier();
  proxy_->connect_pull_consumer(CosEventComm::PullConsumer::_nil());
}

MessageListener::~MessageListener() {
  try {
    proxy_->disconnect_pull_supplier();
  } catch (const CORBA::Exception&) {
  }
}

bool MessageListener::WaitFor(const std::function<bool(const CORBA::Any&)>& match,
                              std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    CORBA::Boolean has_event = false;
    CORBA::Any_var any = proxy_->try_pull(has_event);
    if (!has_event) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (match(any.in())) return true;
  }
  return false;
}

bool MessageListener::WaitForMessage(ZEMR::ZLMessageType type, const std::string& routine,
                                     const std::string& text) {
  return WaitFor([&](const CORBA::Any& any) {
    const ZEMR::ZLMessage* m = nullptr;
    if (!(any >>= m)) return false;
    return m->msgType == type && routine == m->sourceRoutine.in() &&
           std::string(m->msgText.in()).find(text) != std::string::npos;
  });
}

}  // namespace zl::sim::testing
