// The local database object without a server: options, the client
// interface, and the operations that need a database when there is none.
#include "localdb/zl_local_db_1.h"

#include <ace/Log_Msg.h>
#include <ace/Reactor.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "broker/orb_holder.h"
#include "support/log_capture.h"

namespace zl {
namespace {

TEST(LocalDbTest, SetOptionFindsTheToolbookWindow) {
  ZLLocalDB_1 db;
  const WindowHandle window = RegisterWindow("Plant Toolbook");
  struct Case { int line; const char* name; const char* value; long want; WindowHandle window; };
  const Case kCases[] = {
      {__LINE__, nullptr, "x", -2, kNoWindow},
      {__LINE__, "ToolbookHWND", nullptr, -2, kNoWindow},
      {__LINE__, "toolbookhwnd", "Plant Toolbook", -1, kNoWindow},  // names are case-sensitive
      {__LINE__, "ToolbookHWND", "Plant Toolbook", 0, window},
      {__LINE__, "ToolbookHWND", "No Such Title", 0, kNoWindow},   // clears the window
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, db.SetOption(c.name, c.value));
    EXPECT_EQ(c.window, db.toolbook_window());
  }
  DestroyWindow(window);
  EXPECT_EQ(db.tbm_evaluate(), RegisterWindowMessage("TBM_EVALUATE"));
  EXPECT_NE(db.tbm_evaluate(), db.tbm_execute());
}

class CountingInterface : public ZLClientInterface {
 public:
  CountingInterface(std::string name, int* deleted) : ZLClientInterface(std::move(name)), deleted_(deleted) {}
  ~CountingInterface() override { ++*deleted_; }
  void ScenarioEnded(CORBA::ULong id, const char* file) override { ended = std::to_string(id) + file; }
  std::string ended;

 private:
  int* deleted_;
};

TEST(LocalDbTest, ClientInterfaceDefaultsAndOwnership) {
  ZLLocalDB_1 db;
  std::string result;
  EXPECT_EQ("none", db.ClientInterfaceName());
  EXPECT_FALSE(db.ClientCmd("TB_POST", "x", result));
  EXPECT_EQ("Client interface not registered, cmd=TB_POST", result);
  db.ScenarioEnded(3, "a.scn");  // nothing registered: nothing happens

  int deleted = 0;
  auto* owned = new CountingInterface("host", &deleted);
  db.SetClientInterface(owned, true);
  EXPECT_EQ("host", db.ClientInterfaceName());
  EXPECT_FALSE(db.ClientCmd("TB_POST", "x", result));
  EXPECT_EQ("host interface cannot handle TB_POST", result);
  db.ScenarioEnded(3, "a.scn");
  EXPECT_EQ("3a.scn", owned->ended);

  db.SetClientInterface(owned, false);  // the same again changes nothing, not even ownership
  CountingInterface kept("kept", &deleted);
  db.SetClientInterface(&kept, false);  // replacing an owned one deletes it
  EXPECT_EQ(1, deleted);
  db.SetClientInterface(nullptr, false);  // not owned: not deleted
  EXPECT_EQ(1, deleted);
  EXPECT_EQ("none", db.ClientInterfaceName());

  ZLClientInterface plain;
  EXPECT_EQ("default", plain.name());
  EXPECT_FALSE(plain.HandleCmd("X", "", result));
  EXPECT_EQ("default interface cannot handle X", result);
}

TEST(LocalDbTest, WithoutDatabase) {
  testing::LogCapture log;
  ZLLocalDB_1 db;
  EXPECT_EQ(-1, db.SetDatabase(ZEMR::ZelvikDatabase::_nil()));
  EXPECT_EQ(-1, db.EnableEvents(true));
  EXPECT_TRUE(log.Has(LM_ERROR, "EnableEvents() called while not connected\n"));
  EXPECT_EQ(0, db.EnableEvents(false));
  EXPECT_FALSE(db.MessagesExist(0));
  CORBA::String_var text = db.GetNextZLMessage(0);
  EXPECT_STREQ("", text.in());
  text = db.ListZLDatabases();
  EXPECT_STREQ("!Error: No naming context!", text.in());
  text = db.LSCmd(nullptr);
  EXPECT_STREQ("**Error", text.in());
  EXPECT_TRUE(log.Has(LM_ERROR, "Exported LSCmd() was passed a null pointer.\n"));
  CORBA::ULong count = 7;
  EXPECT_EQ(-1, db.SaveTags("never-written.tags", count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(-1, db.ReadTags("never-read.tags", count));
  EXPECT_TRUE(db.ZLFind("FV101", "fv(1)"));
  text = db.PatPaste("<@>");
  EXPECT_STREQ("<1>", text.in());
}

class CountingOwner : public ClientTimerOwner {
 public:
  void OnClientTimer() override {
    if (++ticks == 2) throw 42;  // a failing tick is logged; the timer goes on
  }
  std::atomic<int> ticks{0};
};

template <class Pred>
bool WaitFor(Pred pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(ClientTimerTest, TicksOnTheRunnerAndStopsWithoutOwner) {
  testing::LogCapture log;
  OrbHolder* holder = OrbHolder::instance();
  ASSERT_NE(-1, holder->InitOrb("-ORBendPoint giop:tcp:127.0.0.1:"));
  ACE_Reactor* reactor = holder->reactor();
  const ACE_Time_Value step(0, 10000);

  CountingOwner owner;
  const long id = reactor->schedule_timer(new ClientOrbTimer(&owner), nullptr, step, step);
  ASSERT_NE(-1, id);
  EXPECT_TRUE(WaitFor([&] { return owner.ticks >= 4; }));
  EXPECT_EQ(1, reactor->cancel_timer(id, nullptr, 0));  // handle_close deletes it
  bool logged = false;
  for (const testing::LogLine& line : log.Lines()) {
    logged |= line.priority == LM_ERROR &&
              line.text.find(") Caught ex in ClientOrbTimer::handle_timeout\n") != std::string::npos;
  }
  EXPECT_TRUE(logged);

  // Without an owner the first tick asks the reactor to drop the timer.
  const long orphan = reactor->schedule_timer(new ClientOrbTimer(nullptr), nullptr, step, step);
  ASSERT_NE(-1, orphan);
  EXPECT_TRUE(WaitFor([&] { return reactor->cancel_timer(orphan, nullptr, 0) == 0; }));
  holder->Shutdown();
}

}  // namespace
}  // namespace zl
