// The four bounded message queues and the message text.
#include "localdb/message_queues.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace zl {
namespace {

TEST(MessageQueuesTest, SeverityChoosesTheQueue) {
  struct Case { int line; CORBA::ULong type; CORBA::ULong read_as; };
  const Case kCases[] = {
      {__LINE__, 1, 1},  // error
      {__LINE__, 2, 2},  // warning
      {__LINE__, 3, 3},  // information
      {__LINE__, 4, 4},  // debug
      {__LINE__, 0, 3},  // "any type" counts as information
      {__LINE__, 7, 3},  // outside the enumeration: information
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    MessageQueues q;
    q.Offer(c.type, "m");
    for (CORBA::ULong t = 1; t <= 4; ++t) EXPECT_EQ(t == c.read_as, q.Exists(t)) << t;
    EXPECT_EQ("m", q.TakeNext(c.read_as));
    EXPECT_FALSE(q.Exists(0));
  }
}

// Fills the warning queue with 100-character texts: 163 fit below 16384
// bytes (101 each, counted with their terminating zero), the 163rd reaches
// the limit, so the rest are dropped.
TEST(MessageQueuesTest, FullQueueDropsAndReportsInPlace) {
  MessageQueues q;
  int kept = 0;
  for (int i = 0; i < 200; ++i) {
    std::string text(97, 'w');
    char num[4];
    std::snprintf(num, sizeof num, "%03d", i);
    if (q.Offer(2, text + num)) ++kept;
  }
  EXPECT_EQ(163, kept);  // 162 * 101 = 16362 < 16384; 163 * 101 reaches it
  for (int i = 0; i < kept; ++i) {
    const std::string got = q.TakeNext(2);
    ASSERT_EQ(100u, got.size());
    EXPECT_EQ(i, std::atoi(got.c_str() + 97)) << "arrival order";
  }
  EXPECT_TRUE(q.Exists(2)) << "a pending drop notice counts";
  EXPECT_EQ("More Warning messages were dropped", q.TakeNext(2));
  EXPECT_EQ("", q.TakeNext(2));
  EXPECT_FALSE(q.Exists(0));
}

TEST(MessageQueuesTest, NoticesPerType) {
  struct Case { int line; CORBA::ULong type; const char* notice; };
  const Case kCases[] = {
      {__LINE__, 1, "More Error messages were dropped"},
      {__LINE__, 2, "More Warning messages were dropped"},
      {__LINE__, 3, "More Information messages were dropped"},
      {__LINE__, 4, "More Debug messages were dropped"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    MessageQueues q;
    while (q.Offer(c.type, std::string(1000, 'x'))) {
    }
    std::string got;
    for (int reads = 0; reads < 100; ++reads) {
      got = q.TakeNext(c.type);
      if (got.size() != 1000) break;
    }
    EXPECT_EQ(c.notice, got);
    EXPECT_EQ("", q.TakeNext(c.type));
  }
}

TEST(MessageQueuesTest, AnyTypeReadsInSeverityOrder) {
  // The error queue is read empty but had drops; warnings wait behind it.
  MessageQueues r;
  int kept = 0;
  while (r.Offer(1, std::string(4000, 'e'))) ++kept;
  for (int i = 0; i < kept; ++i) r.TakeNext(1);  // the kept ones; drops remain
  r.Offer(4, "debug");
  r.Offer(2, "w1");
  r.Offer(2, "w2");
  r.Offer(3, "info");
  EXPECT_EQ("More messages were dropped", r.TakeNext(0));
  EXPECT_EQ("w1", r.TakeNext(0));
  EXPECT_EQ("w2", r.TakeNext(0));
  EXPECT_EQ("info", r.TakeNext(0));
  EXPECT_EQ("debug", r.TakeNext(99));  // any other value reads like 0
  EXPECT_EQ("", r.TakeNext(0));
}

TEST(FormatServerMessageTest, LocalTimeUnpaddedMonthAndDay) {
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz != nullptr ? old_tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  ZEMR::ZLMessage msg;
  msg.msgType = ZEMR::InfoMsg;
  msg.utime1 = 1772874303;  // 2026-03-07 09:05:03 UTC
  msg.utime2 = 250999;      // milliseconds are truncated
  msg.sourceRoutine = CORBA::string_dup("R");
  msg.msgText = CORBA::string_dup("tank level high");
  EXPECT_EQ("3/7/2026 09:05:03.250 in R) tank level high", FormatServerMessage(msg));
  msg.sourceRoutine = CORBA::string_dup("");
  msg.msgText = CORBA::string_dup("");
  EXPECT_EQ("3/7/2026 09:05:03.250 in ) ", FormatServerMessage(msg));
  if (old_tz != nullptr) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

// The arrival hook wakes a host that waits for messages: it must come after
// every offer, queued or dropped, with the message already readable, and
// stop once removed.
TEST(MessageQueuesTest, ArrivalHookFollowsEveryOffer) {
  MessageQueues q;
  int calls = 0;
  bool readable = true;
  q.SetArrivalHook([&] {
    ++calls;
    readable = readable && q.Exists(1);  // no lock of the queues is held here
  });
  const std::string text(1000, 'e');
  int queued = 0;
  for (int i = 0; i < 20; ++i) queued += q.Offer(1, text) ? 1 : 0;
  EXPECT_EQ(17, queued);  // 1001 bytes each: the 17th reaches 16384
  EXPECT_EQ(20, calls) << "a drop is news too: its notice waits to be read";
  EXPECT_TRUE(readable);
  q.SetArrivalHook(nullptr);
  q.Offer(2, "w");
  EXPECT_EQ(20, calls);
}

}  // namespace
}  // namespace zl
