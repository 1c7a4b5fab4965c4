#include "scenario/test_log.h"

#include <cstdarg>
#include <ctime>

#include "common/file_checksum.h"
#include "common/text_utils.h"
#include "common/time_format.h"
#include "scenario/clock.h"

namespace zl {
namespace {

// The local date text ("Thu Dec 10 04:14:57 2026\n"), or "" when the
// conversion fails.
std::string DateText() {
  std::time_t now = std::time(nullptr);
  char buf[64];
  if (ctime_r(&now, buf) == nullptr) return std::string();
  return buf;
}

}  // namespace

bool TestLog::Open(const std::string& name) {
  name_ = name;
  file_ = std::fopen(name_.c_str(), "a");
  if (file_ == nullptr) return false;
  std::fseek(file_, 0, SEEK_END);
  lines_ = 0;
  after_cr_ = false;
  section_start_ = std::ftell(file_);
  if (section_start_ > 0) {
    std::fputs("\n\n", file_);
    section_start_ = std::ftell(file_);
  }
  return true;
}

void TestLog::Begin(const char* path) {
  const std::string date = DateText();
  if (!date.empty()) {
    Line("%s\tStarting test '%s' at %s", "00:00:00.000", path, date.c_str());
  } else {
    Line("%s\tStarting test '%s'\n", "00:00:00.000", path);
  }
}

ACE_Time_Value TestLog::Elapsed() const { return clock_->Now() - start_time_; }

std::string TestLog::Stamp() const { return FormatDuration(Elapsed()); }

void TestLog::Line(const char* format, ...) {
  if (file_ == nullptr) return;
  va_list ap;
  va_start(ap, format);
  const std::string text = FormatV(format, ap);
  va_end(ap);
  Write(text);
}

unsigned TestLog::Write(const std::string& text) {
  if (file_ == nullptr) return 0;
  std::fwrite(text.data(), 1, text.size(), file_);
  const unsigned first = lines_ + 1;
  // "\r\n" is one line end, also when a write ends between the two.
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      if (!after_cr_) ++lines_;
      after_cr_ = false;
    } else if (c == '\r') {
      ++lines_;
      after_cr_ = true;
    } else {
      after_cr_ = false;
    }
  }
  return first;
}

void TestLog::Flush() {
  if (file_ != nullptr) std::fflush(file_);
}

void TestLog::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

void TestLog::Finish() {
  const long ms = static_cast<long>(Elapsed().msec());
  const std::string date = DateText();
  Line("%s\tClosing test log after %ld mins %.1f secs at %s", Stamp().c_str(), ms / 60000,
       static_cast<double>(ms % 60000) / 1000.0, date.empty() ? "?\n" : date.c_str());
  Close();
  std::string sum;
  if (std::FILE* in = std::fopen(name_.c_str(), "r")) {
    if (section_start_ >= 0) sum = FileChecksum(in, section_start_);
    std::fclose(in);
  }
  if (std::FILE* out = std::fopen(name_.c_str(), "a")) {
    std::fprintf(out, "#$CHECK:%s\n", sum.c_str());
    std::fclose(out);
  }
}

}  // namespace zl
