// Fuzz target: the text utilities and formats. The input's leading bytes
// choose the numeric arguments; the rest gives the texts. Covers field
// extraction, the bounded copy (into a buffer of exactly the given size, so
// a write past it is caught), case conversion, quote stripping, the elapsed
// time and time-span stamps, fixed-point numbers, the pattern search and
// its templates, the scenario digest, and the log record codec.
#include <fuzzer/FuzzedDataProvider.h>

#include <ace/Time_Value.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/digest.h"
#include "common/fixed_format.h"
#include "common/text_utils.h"
#include "common/time_format.h"
#include "fuzz_support.h"
#include "localdb/pattern_match.h"
#include "logset/log_record.h"

namespace {

// Fails the run when `text` is longer than `limit`.
void CheckLength(const std::string& text, size_t limit, const char* what) {
  if (text.size() > limit) {
    std::fprintf(stderr, "%s gave %zu characters (at most %zu)\n", what, text.size(), limit);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zl::fuzz::Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int n = in.ConsumeIntegralInRange<int>(-2, 40);
  const char delim = in.ConsumeIntegral<char>();
  const int copy_size = in.ConsumeIntegralInRange<int>(-1, 300);
  // Stamps and spans come from the wall clock: times within a few million
  // years either side of 1970 (far from the limits of the time type), any
  // microsecond count.
  constexpr int64_t kYears = int64_t{1} << 48;
  const time_t sec = in.ConsumeIntegralInRange<int64_t>(-kYears, kYears);
  const suseconds_t usec = in.ConsumeIntegral<int32_t>();
  const time_t sec2 = in.ConsumeIntegralInRange<int64_t>(-kYears, kYears);
  const int decimals = in.ConsumeIntegralInRange<int>(-5, 400);
  const double value = in.ConsumeFloatingPoint<double>();
  const uint32_t elapsed = in.ConsumeIntegral<uint32_t>();
  const int64_t calendar = in.ConsumeIntegral<int64_t>();
  const std::string text = in.ConsumeRandomLengthString(512);
  const std::string pattern = in.ConsumeRandomLengthString(64);
  const std::string rest = in.ConsumeRemainingBytesAsString();

  zl::ExtractItem(text.c_str(), n, delim);
  if (copy_size > 0) {
    std::unique_ptr<char[]> dst(new char[static_cast<size_t>(copy_size)]);
    zl::strncpyz(dst.get(), text.c_str(), copy_size);
    if (std::strlen(dst.get()) >= static_cast<size_t>(copy_size)) std::abort();
  } else {
    char one = 'x';
    zl::strncpyz(&one, text.c_str(), copy_size);
    if (one != 'x') std::abort();
  }
  zl::ToUpperCopy(text.c_str());
  zl::ToLowerCopy(text.c_str());
  zl::StripQuotes(text.c_str());

  const ACE_Time_Value a(sec, usec);
  const ACE_Time_Value b(sec2, usec);
  zl::FormatDuration(a);
  zl::FormatTimeSpan(a, b);
  CheckLength(zl::FormatFixed(value, decimals), 40, "FormatFixed");

  zl::PatternMatch match;
  match.Find(text.c_str(), pattern.c_str());
  match.Paste(rest.c_str());

  zl::DigestHex(text);
  zl::FormatElapsed(elapsed);
  zl::CalendarText(calendar);

  zl::LogRecord record;
  size_t consumed = 0;
  if (zl::DecodeLogRecord(rest.data(), rest.size(), &record, &consumed)) {
    if (consumed > rest.size()) std::abort();
    CheckLength(zl::RenderLogRecord(record), 132, "RenderLogRecord");
    const std::string again = zl::EncodeLogRecord(record);
    zl::LogRecord round;
    size_t used = 0;
    if (!zl::DecodeLogRecord(again.data(), again.size(), &round, &used) || used != again.size()) {
      std::fprintf(stderr, "an encoded record does not decode\n");
      std::abort();
    }
  }
  return 0;
}
