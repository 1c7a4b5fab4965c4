// Log sets made and removed by scenarios (ZLCMD) on their workers while the
// client timer writes every enabled log set on its own thread, and the host
// keeps a log set of its own running through it all.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "logset/log_record.h"
#include "scenario/scenario_fixture.h"

namespace zl {
namespace {

using ScenarioLogSetTest = testing::ScenarioTest;

// The number of whole records at the start of `path`, and whether nothing
// but whole records is there.
struct Records {
  size_t count = 0;
  bool whole = false;
};
Records ReadRecords(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Records r;
  size_t at = 0, used = 0;
  LogRecord record;
  while (at < bytes.size() && DecodeLogRecord(bytes.data() + at, bytes.size() - at, &record, &used)) {
    at += used;
    ++r.count;
  }
  r.whole = at == bytes.size();
  return r;
}

TEST_F(ScenarioLogSetTest, TimerWritesWhileScenariosCreateAndDelete) {
  auto cmd = [&](const std::string& line) {
    CORBA::String_var reply = testing::LocalDb(*client_).LSCmd(line.c_str());
    return std::string(reply.in());
  };
  const std::string host_log = (dir_ / "host.log").string();
  ASSERT_EQ("OK", cmd("LSCREATE host"));
  ASSERT_EQ("OK", cmd("LSSET host FILE " + host_log));
  ASSERT_EQ("OK", cmd("LSSET host FREQ 1"));
  ASSERT_EQ("OK", cmd("LSSET host ALWAYS T"));  // a write even when nothing changed
  ASSERT_EQ("OK", cmd("LSADDTAGS host FIC101,TIC200"));
  ASSERT_EQ("OK", cmd("LSSET host ENABLE T"));

  // Each scenario makes its own log set three times over: written by the
  // timer while it lives, deleted under the timer's feet.
  const int kScenarios = 4;
  for (int i = 0; i < kScenarios; ++i) {
    const std::string name = "S" + std::to_string(i);
    std::string text;
    for (int round = 0; round < 3; ++round) {
      text += "ZLCMD LSCREATE " + name + "\n" +
              "ZLCMD LSSET " + name + " FILE " + (dir_ / (name + ".log")).string() + "\n" +
              "ZLCMD LSSET " + name + " FREQ 1\n" +
              "ZLCMD LSADDTAGS " + name + " FIC101,XV300\n" +
              "ZLCMD LSSET " + name + " ENABLE T\n" +
              "DELAY 1200\n" +
              "ZLCMD LSCOMMENT " + name + " round done\n" +
              "ZLCMD LSDELETE " + name + "\n";
    }
    ASSERT_GT(Start(Write(name + ".scn", text)), 0);
  }
  ASSERT_TRUE(WaitAllEnded());

  // Only the host's log set is left, still writing.
  EXPECT_EQ("HOST", cmd("LSLIST"));
  const size_t before = ReadRecords((dir_ / "HOST.LOG").string()).count;
  EXPECT_TRUE(testing::WaitFor([&] { return ReadRecords((dir_ / "HOST.LOG").string()).count > before; }));
  EXPECT_EQ("", cmd("LSDELETE host"));
  for (const std::string name : {"HOST", "S0", "S1", "S2", "S3"}) {
    SCOPED_TRACE(name);
    const Records r = ReadRecords((dir_ / (name + ".LOG")).string());
    EXPECT_GT(r.count, 0u);
    EXPECT_TRUE(r.whole);  // no record torn by a delete during a write
  }
}

}  // namespace
}  // namespace zl
