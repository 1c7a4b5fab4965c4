// The ORB holder in a live process: one InitOrb, the runner and its reactor,
// a repeated InitOrb, Shutdown. The ORB exists once per process, so the
// stages run in order inside one test.
#include "broker/orb_holder.h"

#include <ace/Event_Handler.h>
#include <ace/Reactor.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/log_capture.h"

namespace zl {
namespace {

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class Tick : public ACE_Event_Handler {
 public:
  int handle_timeout(const ACE_Time_Value&, const void*) override {
    ++count;
    return 0;
  }
  std::atomic<int> count{0};
};

TEST(OrbHolderTest, Lifecycle) {
  testing::LogCapture log;
  OrbHolder* holder = OrbHolder::instance();
  ASSERT_EQ(holder, OrbHolder::instance());
  EXPECT_EQ(1968u, ACE_LOG_MSG->priority_mask(ACE_Log_Msg::PROCESS));
  EXPECT_EQ(0, holder->initCount());
  EXPECT_TRUE(CORBA::is_nil(holder->orb()));

  setenv("Zelvik_Interface", "127.0.0.1", 1);
  ACE_LOG_MSG->priority_mask(LM_DEBUG | LM_INFO, ACE_Log_Msg::THREAD);
  ASSERT_EQ(0, holder->InitOrb("-nsior ns.ior -ORBtraceLevel 0"));
  EXPECT_EQ(1, holder->initCount());
  EXPECT_EQ("ns.ior", holder->nsIorFile());
  EXPECT_EQ((std::vector<std::string>{"ZLSim", "-ORBtraceLevel", "0", "-OrbListenEndpoints",
                                      "127.0.0.1", "ns.ior", "-nsior"}),
            holder->orbArgs());
  ASSERT_FALSE(CORBA::is_nil(holder->orb()));
  EXPECT_TRUE(log.Has(LM_INFO, "NS ior file: ns.ior \n"));
  EXPECT_TRUE(holder->runnerRunning());

  // The runner drives the holder's reactor: a timer scheduled there fires.
  Tick tick;
  ASSERT_NE(-1, holder->reactor()->schedule_timer(&tick, nullptr, ACE_Time_Value(0, 10000),
                                                  ACE_Time_Value(0, 10000)));
  EXPECT_TRUE(WaitFor([&] { return tick.count >= 3; }));
  holder->reactor()->cancel_timer(&tick);

  // A second InitOrb changes nothing.
  CORBA::ORB_ptr orb = holder->orb();
  log.Clear();
  EXPECT_EQ(1, holder->InitOrb("-nsior other.ior"));
  EXPECT_EQ(orb, holder->orb());
  EXPECT_EQ("ns.ior", holder->nsIorFile());
  EXPECT_EQ(1, holder->initCount());
  EXPECT_TRUE(log.Has(LM_DEBUG, "BUGFIX: Skipped InitOrb(), Errors may loom\n"));
  EXPECT_EQ(1u, log.Lines().size());

  // Shutdown stops the runner promptly and drops the ORB; it runs once.
  holder->Shutdown();
  EXPECT_FALSE(holder->runnerRunning());
  EXPECT_TRUE(CORBA::is_nil(holder->orb()));
  holder->Shutdown();
}

}  // namespace
}  // namespace zl
