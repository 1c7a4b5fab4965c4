#include "logset/log_obj.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_sys_time.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/path_case.h"
#include "common/text_utils.h"

namespace zl {
namespace {

constexpr size_t kMaxValue = 255;
// The longest period, either sign (about 31 years): no run outlives it, and
// any time of the clock plus or minus it stays far inside a time value.
constexpr double kMaxFrequencySeconds = 1e9;

// The option named by `name`: a name beginning with the option word, in any
// case. Gives "" when none.
const char* MatchOption(const char* name) {
  static const char* const kOptions[] = {"FREQ",   "FILE",  "ENABLE",   "ALWAYS",
                                         "FORMAT", "DELIM", "LASTWRITE"};
  for (const char* o : kOptions)
    if (strncasecmp(name, o, std::strlen(o)) == 0) return o;
  return "";
}

bool IsTrue(const std::string& v) {
  return !v.empty() && (v[0] == 'T' || v[0] == 'Y' || v[0] == '1');
}

bool StartsWith(const std::string& v, const char* prefix) {
  return v.compare(0, std::strlen(prefix), prefix) == 0;
}

// The FORMAT code of value `v` (upper case): 1 ROW, 0 COL, 2 BIN by its
// first letters; -1 for any other value.
int FormatCode(const std::string& v) {
  if (StartsWith(v, "ROW")) return 1;
  if (StartsWith(v, "COL")) return 0;
  if (StartsWith(v, "BIN")) return 2;
  return -1;
}

}  // namespace

ACE_Time_Value AdvanceSchedule(ACE_Time_Value next, const ACE_Time_Value& frequency,
                               const ACE_Time_Value& now) {
  next += frequency;
  for (int i = 0; i < kMaxCatchUp && next < now; ++i) next += frequency;
  if (next < now) next = now + frequency;
  return next;
}

CZLLogObj::CZLLogObj(std::function<ZEMR::ZelvikDatabase_ptr()> database)
    : database_(std::move(database)), next_write_(ACE_OS::gettimeofday()) {
  ClearRecent();
}

CZLLogObj::~CZLLogObj() {
  if (file_handle_ != nullptr) std::fclose(file_handle_);
}

int CZLLogObj::CheckLogOption(const char* option, const char* value) {
  if (option == nullptr) return kLogNullOption;
  if (option[0] == '\0') return kLogBadOption;
  if (value == nullptr) return kLogBadValue;
  const std::string written = std::string(value).substr(0, kMaxValue);
  const std::string v = ToUpperCopy(written.c_str());
  const std::string o = MatchOption(option);
  if (o == "FREQ" || o == "FILE" || o == "ENABLE" || o == "ALWAYS") return kLogOk;
  if (o == "FORMAT") return FormatCode(v) >= 0 ? kLogOk : kLogBadValue;
  if (o == "DELIM") return v.empty() ? kLogBadValue : kLogOk;
  return kLogBadOption;  // unknown, or LASTWRITE (read only)
}

int CZLLogObj::SetLogOption(const char* option, const char* value) {
  const int check = CheckLogOption(option, value);
  if (check != kLogOk) return check;
  std::lock_guard<std::recursive_mutex> lock(mu_);
  const std::string written = std::string(value).substr(0, kMaxValue);
  const std::string v = ToUpperCopy(written.c_str());
  const std::string o = MatchOption(option);
  if (o == "FREQ") {
    // Whole seconds: the fraction is dropped; a period beyond the limit is
    // cut to it, and text that is not a number ("NAN") gives 0 s.
    double seconds = std::strtod(v.c_str(), nullptr);
    if (std::isnan(seconds)) seconds = 0;
    seconds = std::clamp(seconds, -kMaxFrequencySeconds, kMaxFrequencySeconds);
    frequency_ = ACE_Time_Value(static_cast<time_t>(seconds));
  } else if (o == "FILE") {
    file_ = v;
  } else if (o == "ENABLE") {
    SetEnable(IsTrue(v));
  } else if (o == "ALWAYS") {
    always_ = IsTrue(v);
  } else if (o == "FORMAT") {
    format_ = FormatCode(v);
  } else if (o == "DELIM") {
    if (v == "COMMA") delimiter_ = 44;
    else if (v == "TAB") delimiter_ = 9;
    else if (v == "SPACE") delimiter_ = 32;
    else delimiter_ = static_cast<unsigned char>(written[0]);
  }
  return kLogOk;
}

int CZLLogObj::GetLogOption(const char* option, std::string* result) {
  if (option == nullptr) return kLogNullOption;
  if (option[0] == '\0') return kLogBadOption;
  if (result == nullptr) return kLogBadValue;
  std::lock_guard<std::recursive_mutex> lock(mu_);
  result->clear();
  const std::string o = MatchOption(option);
  if (o == "FREQ") {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%4.2lf", static_cast<double>(frequency_.sec()));
    *result = buf;
  } else if (o == "FILE") {
    *result = file_;
    if (file_.empty()) return kLogEmptyFile;
  } else if (o == "ENABLE") {
    *result = enabled_ ? "True" : "False";
  } else if (o == "ALWAYS") {
    *result = always_ ? "True" : "False";
  } else if (o == "FORMAT") {
    *result = format_ == 0 ? "Column" : format_ == 2 ? "Binary" : "Row";
  } else if (o == "DELIM") {
    if (delimiter_ == 9) *result = "Tab";
    else if (delimiter_ == 44) *result = "Comma";
    else if (delimiter_ == 32) *result = "Space";
    else *result = std::string(1, static_cast<char>(delimiter_));
  } else if (o == "LASTWRITE") {
    *result = CalendarText(last_write_);
  } else {
    return kLogBadOption;
  }
  return kLogOk;
}

int CZLLogObj::AddTagToLog(const char* text) {
  if (text == nullptr) {
    ACE_DEBUG((LM_ERROR, "Null pointer passed to AddTagToLog\n"));
    return kLogBadValue;
  }
  std::lock_guard<std::recursive_mutex> lock(mu_);
  try {
    items_.push_back(std::make_unique<CZelvikTo>(text, database_));
  } catch (const std::bad_alloc&) {
    return kLogNoMemory;
  }
  return kLogOk;
}

void CZLLogObj::RemoveAllTags() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  items_.clear();
}

std::vector<std::string> CZLLogObj::TagNames() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  std::vector<std::string> names;
  for (const auto& item : items_) names.push_back(item->name());
  return names;
}

uint32_t CZLLogObj::ElapsedMs(const ACE_Time_Value& now) const {
  if (start_time_ == ACE_Time_Value::zero) {
    // Before the log started: the calendar time's milliseconds, truncated.
    return static_cast<uint32_t>(static_cast<uint64_t>(now.sec()) * 1000u +
                                 static_cast<uint64_t>(now.usec() / 1000));
  }
  const ACE_Time_Value d = now - start_time_;
  return static_cast<uint32_t>(static_cast<int64_t>(d.sec()) * 1000 + d.usec() / 1000);
}

int CZLLogObj::AddRecord(const char* kind, double value, double value2, uint32_t mode,
                         const char* text) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  pending_.push_back(
      MakeLogRecord(kind, ElapsedMs(ACE_OS::gettimeofday()), value, value2, mode, text));
  return 0;
}

bool CZLLogObj::Write(const LogRecord& record) {
  const std::string bytes = EncodeLogRecord(record);
  if (file_handle_ == nullptr ||
      std::fwrite(bytes.data(), 1, bytes.size(), file_handle_) != bytes.size())
    return false;
  recent_[recent_index_] = RenderLogRecord(record);
  recent_index_ = (recent_index_ + 1) % kRecentLines;
  return true;
}

void CZLLogObj::ClearRecent() {
  for (auto& line : recent_) line.clear();
  recent_index_ = 0;
}

int CZLLogObj::RunLog(bool force) { return RunLogAt(force, ACE_OS::gettimeofday()); }

int CZLLogObj::RunLogAt(bool force, const ACE_Time_Value& now) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  const bool due = enabled_ && !items_.empty() && next_write_ <= now;
  if (!due && pending_.empty() && !force) return 1;
  try {
    const std::string path = ResolvePathCase(file_);
    struct stat st;
    const bool existed = ::stat(path.c_str(), &st) == 0;
    file_handle_ = std::fopen(path.c_str(), "ab");
    if (file_handle_ == nullptr) return 1;
    if (!existed) start_time_ = ACE_Time_Value::zero;

    if (start_time_ == ACE_Time_Value::zero) {
      ClearRecent();
      start_time_ = now;
      if (!Write(MakeLogRecord("_HD_", 0, 0, 0, static_cast<uint32_t>(now.sec()),
                               name_.c_str())))
        ACE_DEBUG((LM_ERROR, "Did not capture %s line\n", "_HD_"));
      format_pending_ = true;
    }
    if (format_pending_) {
      if (!Write(MakeLogRecord("_FO_", ElapsedMs(now), 0, 0, static_cast<uint32_t>(format_), "")))
        ACE_DEBUG((LM_ERROR, "Did not capture %s line\n", "_FO_"));
      Write(MakeLogRecord("_DE_", ElapsedMs(now), 0, 0, static_cast<uint32_t>(delimiter_), ""));
      format_pending_ = false;
    }
    for (const LogRecord& record : pending_) Write(record);
    pending_.clear();

    if (enabled_ || force) {
      for (const auto& item : items_) {
        double value = 0;
        uint32_t mode = 0;
        item->Read(&value, &mode);
        if (!always_ && item->written && value == item->last_value && mode == item->last_mode)
          continue;
        if (Write(MakeLogRecord("_TA_", ElapsedMs(now), value, 0, mode, item->name().c_str()))) {
          item->last_value = value;
          item->last_mode = mode;
          item->written = true;
        } else {
          ACE_DEBUG((LM_ERROR, "Did not capture %s line\n", "_TA_"));
        }
      }
    }
    std::fclose(file_handle_);
    file_handle_ = nullptr;
    next_write_ = AdvanceSchedule(next_write_, frequency_, now);
    last_write_ = static_cast<int64_t>(ACE_OS::gettimeofday().sec());
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "[Client](%P/%t): RunLog() threw something\n"));
    if (file_handle_ != nullptr) std::fclose(file_handle_);
    file_handle_ = nullptr;
  }
  return 1;
}

void CZLLogObj::SetEnable(bool enable) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (enabled_ && !enable) {
    AddRecord("_ZZ_", 0, 0, 0, name_.c_str());
    RunLog(false);
    start_time_ = ACE_Time_Value::zero;
  }
  enabled_ = enable;
}

bool CZLLogObj::IsEnabled() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return enabled_;
}

std::string CZLLogObj::Name() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return name_;
}

void CZLLogObj::SetName(const std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  name_ = name;
}

std::string CZLLogObj::File() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return file_;
}

std::vector<std::string> CZLLogObj::RecentLines() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  std::vector<std::string> lines;
  for (int i = 0; i < kRecentLines; ++i) {
    const std::string& line = recent_[(recent_index_ + i) % kRecentLines];
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

ACE_Time_Value CZLLogObj::NextWrite() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return next_write_;
}

ACE_Time_Value CZLLogObj::Frequency() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return frequency_;
}

}  // namespace zl
