// Elapsed-time texts of the scenario test log: the stamp at the start of every
// line and the duration at the end of the lines of timed statements.
// Stateless; safe from any thread.
#ifndef ZL_COMMON_TIME_FORMAT_H_
#define ZL_COMMON_TIME_FORMAT_H_

#include <ace/Time_Value.h>

#include <string>

namespace zl {

// "HH:MM:SS.mmm" for the duration `d`: hours are not reduced modulo 24 (100
// hours give "100:00:00.000"), milliseconds are truncated. Each field is
// taken with truncation toward zero from the normalised time value, so a
// negative duration (a clock set back while a scenario runs) prints every
// non-zero field with its own minus sign: -3661.5 s gives "-1:-1:-1.-500".
std::string FormatDuration(const ACE_Time_Value& d);

// The duration `end` - `start` in its shortest form: "HH:MM:SS.mmm" from one
// hour on, "MM:SS.mmm" from one minute on, "0:SS.mmm" below one minute
// ("0:07.250"). Fields are taken as in FormatDuration; a negative duration
// has no positive hours and so uses one of the two shorter forms.
std::string FormatTimeSpan(ACE_Time_Value start, ACE_Time_Value end);

}  // namespace zl

#endif  // ZL_COMMON_TIME_FORMAT_H_
