// A log set: records the values and modes of chosen tags into a binary log
// file (docs/log-set-file.md), at a fixed period while enabled and on
// demand, and keeps the text of the last 20 records written.
//
// Threads: the client timer (RunLog every second), scenario workers and host
// threads. `mu_` (recursive) guards every member for the whole of each
// operation, server reads during a write included.
#ifndef ZL_LOGSET_LOG_OBJ_H_
#define ZL_LOGSET_LOG_OBJ_H_

#include <ace/Time_Value.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logset/log_item.h"
#include "logset/log_record.h"
#include "zemr.hh"

namespace zl {

// Result codes of the log set operations.
constexpr int kLogOk = 1;
constexpr int kLogEmptyFile = 7;
constexpr int kLogBadValue = 1006;
constexpr int kLogBadOption = 1008;
constexpr int kLogNullOption = 1010;
constexpr int kLogNoMemory = 1012;

constexpr int kRecentLines = 20;
// How many extra periods a late schedule is advanced before it is reset.
constexpr int kMaxCatchUp = 50;

// The next write time after a write at `now` that was due at `next`: one
// period later, then up to kMaxCatchUp more periods while still before
// `now`; when still before `now`, `now` plus one period.
ACE_Time_Value AdvanceSchedule(ACE_Time_Value next, const ACE_Time_Value& frequency,
                               const ACE_Time_Value& now);

class CZLLogObj {
 public:
  // `database` gives the server database the items read (nil while
  // detached). Disabled, no items, file "A.LOG", 10 s period, next write due
  // now.
  explicit CZLLogObj(std::function<ZEMR::ZelvikDatabase_ptr()> database);
  virtual ~CZLLogObj();
  CZLLogObj(const CZLLogObj&) = delete;
  CZLLogObj& operator=(const CZLLogObj&) = delete;

  // Options FREQ, FILE, ENABLE, ALWAYS, FORMAT, DELIM (and LASTWRITE to
  // read), named by any word beginning with them, in any case. Give kLogOk
  // or a result code: kLogNullOption, kLogBadOption (empty or unknown name,
  // or LASTWRITE on set), kLogBadValue (null value; bad FORMAT, empty DELIM),
  // kLogEmptyFile (get FILE while it is empty).
  int SetLogOption(const char* option, const char* value);
  // What SetLogOption would give for `option` and `value` on any log set,
  // without setting anything: kLogOk, or the code it would fail with.
  static int CheckLogOption(const char* option, const char* value);
  int GetLogOption(const char* option, std::string* result);

  // Appends an item made from `text` (see CZelvikTo). Gives kLogOk,
  // kLogBadValue for a null text, kLogNoMemory when it cannot be made.
  int AddTagToLog(const char* text);
  // Removes and deletes every item.
  void RemoveAllTags();
  // The item names in order (empty for a constant).
  std::vector<std::string> TagNames();

  // Queues a record stamped with the milliseconds since the log's start (or
  // of the calendar time, truncated, before it started); it is written at
  // the next RunLog. Never fails: gives 0.
  int AddRecord(const char* kind, double value, double value2, uint32_t mode,
                const char* text);

  // The write: header records when the log starts, pending records, then the
  // changed items (every item with ALWAYS) when enabled or forced, and the
  // schedule advanced. Does nothing when not due, nothing is pending and not
  // forced. Gives 1.
  int RunLog(bool force);
  // RunLog at the given time (the clock seam for tests).
  int RunLogAt(bool force, const ACE_Time_Value& now);

  // Disabling an enabled log set appends "_ZZ_" and ends the log, so the
  // next write starts a new one.
  void SetEnable(bool enable);
  bool IsEnabled();

  std::string Name();
  void SetName(const std::string& name);
  std::string File();
  // The text lines of the last records written, oldest first (at most 20).
  std::vector<std::string> RecentLines();
  ACE_Time_Value NextWrite();
  ACE_Time_Value Frequency();

 private:
  // Writes one record to file_ and keeps its line; false when it failed.
  bool Write(const LogRecord& record);
  void ClearRecent();
  uint32_t ElapsedMs(const ACE_Time_Value& now) const;

  const std::function<ZEMR::ZelvikDatabase_ptr()> database_;

  std::recursive_mutex mu_;
  // Guarded by mu_:
  bool format_pending_ = true;
  std::vector<std::unique_ptr<CZelvikTo>> items_;
  std::string name_ = "LOGSET_1";
  std::string file_ = "A.LOG";
  ACE_Time_Value frequency_{10};
  bool always_ = false;
  int32_t format_ = 1;
  int32_t delimiter_ = 9;
  bool enabled_ = false;
  ACE_Time_Value start_time_ = ACE_Time_Value::zero;
  ACE_Time_Value next_write_;
  int64_t last_write_ = 0;
  FILE* file_handle_ = nullptr;  // open only during a write
  std::vector<LogRecord> pending_;
  std::string recent_[kRecentLines];
  uint32_t recent_index_ = 0;
};

}  // namespace zl

#endif  // ZL_LOGSET_LOG_OBJ_H_
