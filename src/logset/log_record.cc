#include "logset/log_record.h"

#include <time.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "common/fixed_format.h"

namespace zl {
namespace {

constexpr size_t kMaxKind = 7;
constexpr size_t kMaxText = 79;
constexpr size_t kMaxLine = 132;

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void PutF64(std::string* out, double d) {
  uint64_t v;
  std::memcpy(&v, &d, sizeof v);
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

uint32_t GetU32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

double GetF64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  double d;
  std::memcpy(&d, &v, sizeof d);
  return d;
}

std::string Number(double v) { return FormatFixed(v, 6); }

// printf into a line of at most kMaxLine characters.
template <class... Args>
std::string Line(const char* format, Args... args) {
  char buf[kMaxLine + 1];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

}  // namespace

LogRecord MakeLogRecord(const char* kind, uint32_t elapsed_ms, double value,
                        double value2, uint32_t mode, const char* text) {
  LogRecord r;
  r.kind = std::string(kind == nullptr ? "" : kind).substr(0, kMaxKind);
  r.elapsed_ms = elapsed_ms;
  r.value = value;
  r.value2 = value2;
  r.mode = mode;
  r.text = std::string(text == nullptr ? "" : text).substr(0, kMaxText);
  return r;
}

std::string EncodeLogRecord(const LogRecord& record) {
  std::string out;
  out.reserve(kLogRecordPrefix + kLogRecordFixedLength + record.text.size());
  std::string kind = record.kind.substr(0, 4);
  kind.resize(4, ' ');
  out += kind;
  PutU32(&out, kLogRecordFixedLength + static_cast<uint32_t>(record.text.size()));
  PutU32(&out, record.elapsed_ms);
  PutF64(&out, record.value);
  PutF64(&out, record.value2);
  PutU32(&out, record.mode);
  out += record.text;
  out.push_back('\0');
  return out;
}

bool DecodeLogRecord(const char* data, size_t size, LogRecord* record,
                     size_t* consumed) {
  if (data == nullptr || size < kLogRecordPrefix + kLogRecordFixedLength) return false;
  const uint32_t length = GetU32(data + 4);
  if (length < kLogRecordFixedLength || length > size - kLogRecordPrefix) return false;
  const char* text = data + 32;
  const size_t text_size = length - kLogRecordFixedLength;  // without the zero
  if (text[text_size] != '\0' || std::memchr(text, '\0', text_size) != nullptr) return false;
  record->kind.assign(data, 4);
  record->elapsed_ms = GetU32(data + 8);
  record->value = GetF64(data + 12);
  record->value2 = GetF64(data + 20);
  record->mode = GetU32(data + 28);
  record->text.assign(text, text_size);
  *consumed = kLogRecordPrefix + length;
  return true;
}

std::string FormatElapsed(uint32_t elapsed_ms) {
  char buf[40];
  const long ms = static_cast<long>(elapsed_ms);
  std::snprintf(buf, sizeof buf, "%6ld:%02ld.%03ld", ms / 60000, (ms / 1000) % 60, ms % 1000);
  return buf;
}

std::string CalendarText(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  char buf[64] = {0};
  if (ctime_r(&t, buf) == nullptr) return "??? ??? ?? ??:??:?? ????\n";
  return buf;
}

std::string RenderLogRecord(const LogRecord& r) {
  const std::string stamp = FormatElapsed(r.elapsed_ms);
  const char* ts = stamp.c_str();
  const char* text = r.text.c_str();
  const std::string kind = r.kind.substr(0, 4);
  if (kind == "_HD_") {
    // The start time without ctime's newline: the line ends with "\r\n".
    const std::string started = CalendarText(r.mode).substr(0, 24);
    return Line("  Log set '%s', started %s\r\n", text, started.c_str());
  }
  if (kind == "_FO_" || kind == "_DE_") return "";
  const std::string v = Number(r.value);
  const std::string v2 = Number(r.value2);
  if (kind == "_TA_")
    return Line("%s TAG %s = %s, %s\r\n", ts, text, v.c_str(), r.mode != 0 ? "Auto" : "Manual");
  if (kind == "_ZZ_")
    return Line("%s Logfile Closing value=%s, mode=%lu, %s\r\n", ts, v.c_str(),
                static_cast<unsigned long>(r.mode), text);
  if (kind == "STMA") return Line("%s Tag %s to Manual, value=%s\r\n", ts, text, v.c_str());
  if (kind == "STAU") return Line("%s Tag %s to AUTO, value=%s\r\n", ts, text, v.c_str());
  if (kind == "SVFY") {
    if (r.value == r.value2)
      return Line("%s   Verify tag %s = %s passed Value is %s\r\n", ts, text, v.c_str(), v2.c_str());
    return Line("%s **Verify tag %s = %s FAILED Value is %s\r\n", ts, text, v.c_str(), v2.c_str());
  }
  if (kind == "SASR")
    return Line("%s **Assertion tag %s = %s FAILED. Value is %s\r\n", ts, text, v.c_str(), v2.c_str());
  if (kind == "SCMT") return Line("%s COMMENT: %s\r\n", ts, text);
  return Line("%s Unknown Entry %s value=%s, alt value=%s, mode=0x%lx, %s\r\n", ts, r.kind.c_str(),
              v.c_str(), v2.c_str(), static_cast<unsigned long>(r.mode), text);
}

}  // namespace zl
