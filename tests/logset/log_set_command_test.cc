// The log set command language against a log set list with no server: one
// table of command lines and replies, run in order on one list.
#include "logset/log_set_command.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "logset/log_obj.h"
#include "logset/log_set_list.h"
#include "support/log_capture.h"

namespace zl {
namespace {

ZEMR::ZelvikDatabase_ptr NoDatabase() { return ZEMR::ZelvikDatabase::_nil(); }

TEST(LogSetCommandTest, Scanner) {
  CommandScanner scan("LSSET  demo.file my dir/a.log");
  std::string t;
  ASSERT_TRUE(scan.Next(" \t", &t));
  EXPECT_EQ(t, "LSSET");
  ASSERT_TRUE(scan.Next(" \t.", &t));
  EXPECT_EQ(t, "demo");
  ASSERT_TRUE(scan.Next(" \t.", &t));
  EXPECT_EQ(t, "file");
  EXPECT_EQ(scan.Rest(), "my dir/a.log");
  EXPECT_FALSE(scan.Next(" ", &t));
  EXPECT_EQ(scan.Rest(), "");
}

TEST(LogSetCommandTest, CommandTable) {
  struct Case {
    int line;
    const char* command;
    const char* reply;
    const char* logged;  // an error line expected in the process log, or null
  };
  const Case cases[] = {
      {__LINE__, "", "", nullptr},
      {__LINE__, "LSLIST", "", nullptr},  // no log sets: empty
      {__LINE__, "LSCREATE demo", "OK", nullptr},
      {__LINE__, "lscreate Demo", "OK", nullptr},  // exists: nothing created
      {__LINE__, "LSLIST", "DEMO", nullptr},
      {__LINE__, "LSCREATE", "", nullptr},  // name missing
      {__LINE__, "LSCREATE\tother", "OK", nullptr},
      {__LINE__, "LSLISTING", "DEMO, OTHER", nullptr},  // a word beginning with LSLIST
      {__LINE__, "LSSET demo FILE dir x/a.log", "OK", nullptr},  // value keeps its blank
      {__LINE__, "LSGET demo.file", "DIR X/A.LOG", nullptr},     // period separates
      {__LINE__, "LSSET demo FORMAT", "**Error", "Err = 1006 from SetLogOption(FORMAT,...)\n"},
      {__LINE__, "LSSET demo FREQ", "OK", nullptr},  // empty value: 0 seconds
      {__LINE__, "LSGET demo FREQ", "0.00", nullptr},
      {__LINE__, "LSSET demo.BOGUS 1", "**Error", "Err = 1008 from SetLogOption(BOGUS,...)\n"},
      {__LINE__, "LSSET", "", "LSSet did not parse a save set name\n"},
      {__LINE__, "LSGET demo BOGUS", "**Error", nullptr},
      {__LINE__, "LSGET demo", "**Error", nullptr},  // option missing
      {__LINE__, "LSGET", "", nullptr},
      {__LINE__, "LSADDTAGS demo FIC101, 12.5,LIC_7", "OK", nullptr},
      {__LINE__, "LSTAGS demo", "FIC101, , LIC_7", nullptr},  // a constant has no name
      {__LINE__, "LSADDTAGS demo", "", nullptr},  // no items
      {__LINE__, "LSADDTAGS", "", nullptr},
      {__LINE__, "LSREMOVETAGS demo", "OK", nullptr},
      {__LINE__, "LSTAGS demo", "", nullptr},
      {__LINE__, "LSTAGS", "", nullptr},
      {__LINE__, "LSREMOVETAGS", "", nullptr},
      {__LINE__, "lscomment demo", "", nullptr},  // "Empty Comment" queued
      {__LINE__, "LSCOMMENT demo  two words", "", nullptr},
      {__LINE__, "LSCOMMENT", "**Error", "LSComment did not parse a save set name\n"},
      {__LINE__, "LSSNAP", "**Error", "LSSNAP Did not parse a save set name\n"},
      // every command naming a log set that does not exist
      {__LINE__, "LSDELETE nosuch", "**Error", nullptr},
      {__LINE__, "LSGET nosuch FREQ", "**Error", nullptr},
      {__LINE__, "LSSET nosuch FREQ 1", "**Error", nullptr},
      {__LINE__, "LSADDTAGS nosuch A", "**Error", nullptr},
      {__LINE__, "LSREMOVETAGS nosuch", "**Error", nullptr},
      {__LINE__, "LSTAGS nosuch", "**Error", nullptr},
      {__LINE__, "LSSNAP nosuch", "**Error", nullptr},
      {__LINE__, "LSCOMMENT nosuch hi", "**Error", nullptr},
      {__LINE__, "LSBOGUS demo", "", nullptr},  // unknown words never give an error
      {__LINE__, "LS", "", nullptr},
      {__LINE__, "LSDELETE demo", "", nullptr},
      {__LINE__, "LSDELETE", "", nullptr},
      {__LINE__, "LSLIST", "OTHER", nullptr},
  };
  LogSetList list(NoDatabase);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.line << ": " << c.command);
    testing::LogCapture capture;
    EXPECT_EQ(list.Command(c.command), c.reply);
    if (c.logged != nullptr) {
      EXPECT_TRUE(capture.Has(LM_ERROR, c.logged));
    }
  }
}

TEST(LogSetCommandTest, NullLineAndLongLine) {
  LogSetList list(NoDatabase);
  {
    testing::LogCapture capture;
    EXPECT_EQ(list.Command(nullptr), "**Error");
    EXPECT_TRUE(capture.Has(LM_ERROR, "Exported LSCmd() was passed a null pointer.\n"));
  }
  // The line is cut at 2999 characters: the name's end is lost.
  const std::string name = std::string(2990, 'A') + "BCDEFGHIJK";
  EXPECT_EQ(list.Command(("LSCREATE " + name).c_str()), "OK");
  EXPECT_EQ(list.Command("LSLIST"), name.substr(0, 2999 - 9));
}

TEST(LogSetCommandTest, CommentsAreWrittenAtTheNextWrite) {
  char tmpl[] = "/tmp/zl_logset_cmd_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  LogSetList list(NoDatabase);
  list.Command("LSCREATE demo");
  // The command language upper-cases the path; the directory is still found.
  ASSERT_EQ(list.Command(("LSSET demo FILE " + dir + "/c.log").c_str()), "OK");
  list.Command("LSCOMMENT demo");
  list.Command(("LSCOMMENT demo " + std::string(100, 'c') + "\nnot this").c_str());
  list.RunAll();  // disabled, no items: the pending comments are still written

  std::ifstream in(dir + "/C.LOG", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> texts;
  size_t at = 0;
  LogRecord r;
  size_t used = 0;
  while (at < bytes.size() && DecodeLogRecord(bytes.data() + at, bytes.size() - at, &r, &used)) {
    texts.push_back(r.kind + ":" + r.text);
    at += used;
  }
  std::filesystem::remove_all(dir);
  EXPECT_EQ(at, bytes.size());
  EXPECT_EQ(texts, (std::vector<std::string>{"_HD_:DEMO", "_FO_:", "_DE_:", "SCMT:Empty Comment",
                                             "SCMT:" + std::string(79, 'c')}));
  EXPECT_TRUE(list.Find("Demo"));
  EXPECT_EQ(list.Find(nullptr), nullptr);
  EXPECT_EQ(list.Find("nosuch"), nullptr);
}

// A log set deleted by one thread while another runs every log set: the
// timer's run keeps it alive; nothing crashes and the file stays whole.
TEST(LogSetCommandTest, DeleteWhileRunning) {
  char tmpl[] = "/tmp/zl_logset_race_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  LogSetList list(NoDatabase);
  std::atomic<bool> stop{false};
  std::thread timer([&] {
    while (!stop) list.RunAll();
  });
  for (int i = 0; i < 300; ++i) {
    list.Command("LSCREATE racer");
    list.Command(("LSSET racer FILE " + dir + "/r.log").c_str());
    list.Command("LSADDTAGS racer 1");
    list.Command("LSCOMMENT racer hi");
    list.Command("LSDELETE racer");
  }
  stop = true;
  timer.join();
  EXPECT_EQ(list.Command("LSLIST"), "");
  EXPECT_EQ(list.DeleteAll(), 1);

  std::ifstream in(dir + "/R.LOG", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = 0;
  LogRecord r;
  size_t used = 0;
  while (at < bytes.size() && DecodeLogRecord(bytes.data() + at, bytes.size() - at, &r, &used))
    at += used;
  std::filesystem::remove_all(dir);
  EXPECT_EQ(at, bytes.size());  // only whole records
}

}  // namespace
}  // namespace zl
