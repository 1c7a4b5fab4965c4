// The log set object without a server: options and result codes, the
// schedule, and the file written by RunLog for constants and unreadable
// tags (no database attached).
#include "logset/log_obj.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/path_case.h"
#include "support/log_capture.h"

namespace zl {
namespace {

ZEMR::ZelvikDatabase_ptr NoDatabase() { return ZEMR::ZelvikDatabase::_nil(); }

std::string Get(CZLLogObj& log, const char* option) {
  std::string value;
  EXPECT_EQ(log.GetLogOption(option, &value), kLogOk) << option;
  return value;
}

// A scratch directory, the current directory while it lives.
class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/zl_logset_XXXXXX";
    path_ = mkdtemp(tmpl);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~ScratchDir() {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(path_);
  }

 private:
  std::string path_;
  std::filesystem::path old_;
};

std::vector<LogRecord> ReadLog(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<LogRecord> records;
  size_t at = 0;
  while (at < bytes.size()) {
    LogRecord r;
    size_t used = 0;
    if (!DecodeLogRecord(bytes.data() + at, bytes.size() - at, &r, &used)) {
      ADD_FAILURE() << "bad record at " << at;
      break;
    }
    records.push_back(r);
    at += used;
  }
  return records;
}

std::string Kinds(const std::vector<LogRecord>& records) {
  std::string out;
  for (const auto& r : records) out += r.kind + " ";
  return out;
}

TEST(LogObjTest, NewLogSetDefaults) {
  CZLLogObj log(NoDatabase);
  EXPECT_EQ(Get(log, "FREQ"), "10.00");
  EXPECT_EQ(Get(log, "FILE"), "A.LOG");
  EXPECT_EQ(Get(log, "FORMAT"), "Row");
  EXPECT_EQ(Get(log, "DELIM"), "Tab");
  EXPECT_EQ(Get(log, "ENABLE"), "False");
  EXPECT_EQ(Get(log, "ALWAYS"), "False");
  EXPECT_EQ(Get(log, "LASTWRITE"), CalendarText(0));
  EXPECT_EQ(log.Name(), "LOGSET_1");
}

TEST(LogObjTest, SetOptions) {
  struct Case {
    int line;
    const char* option;
    const char* value;
    int code;
    const char* get;       // option to read back (null: none)
    const char* expected;  // its value
  };
  const Case cases[] = {
      {__LINE__, "FREQ", "2.5", kLogOk, "FREQ", "2.00"},  // fraction dropped
      {__LINE__, "frequency", "3", kLogOk, "FREQ", "3.00"},  // leading letters, any case
      {__LINE__, "FREQ", "", kLogOk, "FREQ", "0.00"},     // empty value is 0 s
      {__LINE__, "FREQ", "1e300", kLogOk, "FREQ", "1000000000.00"},  // beyond a time value: cut
      {__LINE__, "FREQ", "-1e300", kLogOk, "FREQ", "-1000000000.00"},
      // near the limit of a time value: its sum with the clock overflowed
      {__LINE__, "FREQ", "9223372036854775000", kLogOk, "FREQ", "1000000000.00"},
      {__LINE__, "FREQ", "nan", kLogOk, "FREQ", "0.00"},  // not a number: 0 s
      {__LINE__, "FILE", "dir x/a.log", kLogOk, "FILE", "DIR X/A.LOG"},  // upper case, blank kept
      {__LINE__, "FILE", "", kLogOk, nullptr, nullptr},
      {__LINE__, "ALWAYS", "yes", kLogOk, "ALWAYS", "True"},
      {__LINE__, "ALWAYS", "0", kLogOk, "ALWAYS", "False"},
      {__LINE__, "ENABLE", "1", kLogOk, "ENABLE", "True"},
      {__LINE__, "FORMAT", "col", kLogOk, "FORMAT", "Column"},
      {__LINE__, "FORMAT", "binary", kLogOk, "FORMAT", "Binary"},
      {__LINE__, "FORMAT", "xyz", kLogBadValue, "FORMAT", "Row"},  // unchanged
      {__LINE__, "FORMAT", "", kLogBadValue, nullptr, nullptr},
      {__LINE__, "DELIM", "comma", kLogOk, "DELIM", "Comma"},  // compared upper-cased
      {__LINE__, "DELIM", ";", kLogOk, "DELIM", ";"},
      {__LINE__, "DELIM", "x", kLogOk, "DELIM", "x"},  // the character as written
      {__LINE__, "DELIM", "space", kLogOk, "DELIM", "Space"},
      {__LINE__, "DELIM", "", kLogBadValue, "DELIM", "Tab"},
      {__LINE__, "LASTWRITE", "x", kLogBadOption, nullptr, nullptr},  // read only
      {__LINE__, "BOGUS", "x", kLogBadOption, nullptr, nullptr},
      {__LINE__, "", "x", kLogBadOption, nullptr, nullptr},
      {__LINE__, nullptr, "x", kLogNullOption, nullptr, nullptr},
      {__LINE__, "", nullptr, kLogBadOption, nullptr, nullptr},  // name checked first
      {__LINE__, "FREQ", nullptr, kLogBadValue, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CZLLogObj log(NoDatabase);
    log.SetLogOption("FILE", "/nonexistent-dir/none.log");  // enabling writes nothing here
    EXPECT_EQ(log.SetLogOption(c.option, c.value), c.code);
    if (c.get != nullptr) {
      EXPECT_EQ(Get(log, c.get), c.expected);
    }
  }
}

TEST(LogObjTest, GetOptionCodes) {
  CZLLogObj log(NoDatabase);
  std::string value = "stale";
  EXPECT_EQ(log.GetLogOption("BOGUS", &value), kLogBadOption);
  EXPECT_EQ(value, "");
  EXPECT_EQ(log.GetLogOption(nullptr, &value), kLogNullOption);
  EXPECT_EQ(log.GetLogOption("", &value), kLogBadOption);
  log.SetLogOption("FILE", "");
  EXPECT_EQ(log.GetLogOption("FILE", &value), kLogEmptyFile);
}

TEST(LogObjTest, AddTagToLogNull) {
  testing::LogCapture capture;
  CZLLogObj log(NoDatabase);
  EXPECT_EQ(log.AddTagToLog(nullptr), kLogBadValue);
  EXPECT_TRUE(capture.Has(LM_ERROR, "Null pointer passed to AddTagToLog\n"));
  EXPECT_EQ(log.AddTagToLog("FIC101"), kLogOk);
  EXPECT_EQ(log.AddTagToLog("12.5"), kLogOk);
  EXPECT_EQ(log.AddTagToLog("FIC101"), kLogOk);  // duplicates are not checked
  EXPECT_EQ(log.TagNames(), (std::vector<std::string>{"FIC101", "", "FIC101"}));
}

TEST(LogObjTest, Schedule) {
  const ACE_Time_Value f(10);
  struct Case {
    int line;
    long next, now, expected;
  };
  const Case cases[] = {
      {__LINE__, 100, 100, 110},   // on time: one period on
      {__LINE__, 100, 125, 130},   // late: catches up to the first slot after now
      {__LINE__, 100, 610, 610},   // 51 periods: exactly reached, not earlier than now
      {__LINE__, 100, 611, 621},   // more than 51 periods: now plus one period
      {__LINE__, 100, 5000, 5010}, // long stall
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(AdvanceSchedule(ACE_Time_Value(c.next), f, ACE_Time_Value(c.now)).sec(), c.expected);
  }
  // A zero period cannot loop: the next write is now.
  EXPECT_EQ(AdvanceSchedule(ACE_Time_Value(1), ACE_Time_Value(0), ACE_Time_Value(9)).sec(), 9);
}

TEST(LogObjTest, WritesHeaderItemsAndClosing) {
  ScratchDir dir;
  CZLLogObj log(NoDatabase);
  log.SetName("DEMO");
  log.SetLogOption("FILE", "demo.log");  // stored as DEMO.LOG
  ASSERT_EQ(log.AddTagToLog("12.5"), kLogOk);
  ASSERT_EQ(log.AddTagToLog("FIC101"), kLogOk);  // no database: read failure
  const ACE_Time_Value t0 = log.NextWrite();

  // Disabled and nothing pending: no file.
  log.RunLogAt(false, t0 + ACE_Time_Value(100));
  EXPECT_FALSE(std::filesystem::exists("DEMO.LOG"));

  log.SetLogOption("ENABLE", "true");
  log.RunLogAt(false, t0);
  EXPECT_EQ(log.NextWrite(), t0 + ACE_Time_Value(10));
  auto records = ReadLog("DEMO.LOG");
  ASSERT_EQ(Kinds(records), "_HD_ _FO_ _DE_ _TA_ _TA_ ");
  EXPECT_EQ(records[0].text, "DEMO");
  EXPECT_EQ(records[0].mode, static_cast<uint32_t>(t0.sec()));
  EXPECT_EQ(records[1].mode, 1u);  // format Row
  EXPECT_EQ(records[2].mode, 9u);  // tab
  EXPECT_EQ(records[3].value, 12.5);
  EXPECT_EQ(records[3].mode, kItemModeConstant);
  EXPECT_EQ(records[3].text, "");
  EXPECT_EQ(records[4].mode, kItemModeReadFailed);
  EXPECT_EQ(records[4].text, "FIC101");

  // Not due yet: nothing. Forced but unchanged: nothing new either.
  log.RunLogAt(false, t0 + ACE_Time_Value(5));
  log.RunLogAt(true, t0 + ACE_Time_Value(5));
  EXPECT_EQ(ReadLog("DEMO.LOG").size(), 5u);
  // ALWAYS writes every item.
  log.SetLogOption("ALWAYS", "T");
  log.RunLogAt(true, t0 + ACE_Time_Value(6));
  records = ReadLog("DEMO.LOG");
  ASSERT_EQ(records.size(), 7u);
  EXPECT_EQ(records[5].elapsed_ms, 6000u);

  // Disabling appends "_ZZ_"; enabling again starts a new log in the file.
  log.SetLogOption("ALWAYS", "F");
  log.SetEnable(false);
  log.SetEnable(true);
  log.RunLogAt(false, log.NextWrite());
  records = ReadLog("DEMO.LOG");
  EXPECT_EQ(Kinds(records),
            "_HD_ _FO_ _DE_ _TA_ _TA_ _TA_ _TA_ _ZZ_ _HD_ _FO_ _DE_ ");
  EXPECT_EQ(records[7].text, "DEMO");

  const auto lines = log.RecentLines();  // cleared when the new log started
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 18), "  Log set 'DEMO', ");
}

TEST(LogObjTest, EnabledWithoutItemsWritesOnlyWhenForcedOrPending) {
  ScratchDir dir;
  CZLLogObj log(NoDatabase);
  log.SetLogOption("FILE", "e.log");
  log.SetEnable(true);
  log.RunLogAt(false, log.NextWrite() + ACE_Time_Value(1));
  EXPECT_FALSE(std::filesystem::exists("E.LOG"));

  log.AddRecord("SCMT", 0, 0, 0, "note");
  log.RunLogAt(false, log.NextWrite());
  auto records = ReadLog("E.LOG");
  ASSERT_EQ(Kinds(records), "_HD_ _FO_ _DE_ SCMT ");
  EXPECT_EQ(records[3].text, "note");

  log.RunLogAt(true, log.NextWrite());  // forced: nothing more to write
  EXPECT_EQ(ReadLog("E.LOG").size(), 4u);

  // The file removed: the next write starts the log again.
  std::filesystem::remove("E.LOG");
  log.RunLogAt(true, log.NextWrite());
  EXPECT_EQ(Kinds(ReadLog("E.LOG")), "_HD_ _FO_ _DE_ ");
}

TEST(LogObjTest, UnopenableFileLeavesLogSetUsable) {
  ScratchDir dir;
  CZLLogObj log(NoDatabase);
  log.SetLogOption("FILE", "missing/dir/x.log");
  log.AddTagToLog("1");
  log.SetEnable(true);
  const ACE_Time_Value next = log.NextWrite();
  log.RunLogAt(false, next);
  EXPECT_EQ(log.NextWrite(), next);  // schedule not advanced
  log.SetLogOption("FILE", "ok.log");
  log.RunLogAt(false, next);
  EXPECT_EQ(Kinds(ReadLog("OK.LOG")), "_HD_ _FO_ _DE_ _TA_ ");
}

TEST(PathCaseTest, ResolvesExistingComponentsIgnoringCase) {
  ScratchDir dir;
  std::filesystem::create_directories("logs/Sub");
  { std::ofstream("logs/Sub/run.log") << "x"; }
  struct Case {
    int line;
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {__LINE__, "LOGS/SUB/RUN.LOG", "logs/Sub/run.log"},  // every component found
      {__LINE__, "LOGS/NEW.LOG", "logs/NEW.LOG"},          // a new file keeps its name
      {__LINE__, "NEWDIR/SUB/X", "NEWDIR/SUB/X"},          // from the first missing one on
      {__LINE__, "./LOGS//SUB", "./logs//Sub"},            // "." and empty parts kept
      {__LINE__, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ResolvePathCase(c.in), c.out);
  }
}

}  // namespace
}  // namespace zl
