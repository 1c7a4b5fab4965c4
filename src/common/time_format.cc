#include "common/time_format.h"

#include <cstdio>

namespace zl {
namespace {

// The fields of a duration, each truncated toward zero. ACE keeps seconds and
// microseconds with the same sign, so every field has the sign of the whole.
struct Fields {
  long long hours;
  long long minutes;
  long long seconds;
  long long millis;
};

Fields Split(const ACE_Time_Value& d) {
  long long secs = static_cast<long long>(d.sec());
  Fields f{};
  f.hours = secs / 3600;
  secs -= f.hours * 3600;
  f.minutes = secs / 60;
  secs -= f.minutes * 60;
  f.seconds = secs;
  f.millis = static_cast<long long>(d.usec()) / 1000;
  return f;
}

}  // namespace

std::string FormatDuration(const ACE_Time_Value& d) {
  const Fields f = Split(d);
  // The text never exceeds 31 characters (hours have at most 16 digits); the
  // buffer is sized for the field types so no output can be cut.
  char buf[96];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03d", f.hours, f.minutes,
                f.seconds, static_cast<int>(f.millis));
  return buf;
}

std::string FormatTimeSpan(ACE_Time_Value start, ACE_Time_Value end) {
  const Fields f = Split(end - start);
  char buf[96];
  if (f.hours > 0) {
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld", f.hours, f.minutes,
                  f.seconds, f.millis);
  } else if (f.minutes < 1) {
    std::snprintf(buf, sizeof buf, "0:%02lld.%03lld", f.seconds, f.millis);
  } else {
    std::snprintf(buf, sizeof buf, "%02lld:%02lld.%03lld", f.minutes, f.seconds, f.millis);
  }
  return buf;
}

}  // namespace zl
