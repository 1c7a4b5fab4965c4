#include "support/log_capture.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Record.h>

namespace zl::testing {
namespace {

class CaptureBackend : public ACE_Log_Msg_Backend {
 public:
  explicit CaptureBackend(LogCapture* sink) : sink_(sink) {}
  int open(const ACE_TCHAR*) override { return 0; }
  int reset() override { return 0; }
  int close() override { return 0; }
  ssize_t log(ACE_Log_Record& record) override {
    sink_->Add(static_cast<ACE_Log_Priority>(record.type()), record.msg_data());
    return 0;
  }

 private:
  LogCapture* const sink_;
};

CaptureBackend* g_backend = nullptr;
ACE_Log_Msg_Backend* g_previous = nullptr;

}  // namespace

LogCapture::LogCapture() {
  g_backend = new CaptureBackend(this);
  g_previous = ACE_Log_Msg::msg_backend(g_backend);
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
}

LogCapture::~LogCapture() {
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::CUSTOM);
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::STDERR);
  ACE_Log_Msg::msg_backend(g_previous);
  delete g_backend;
  g_backend = nullptr;
}

std::vector<LogLine> LogCapture::Lines() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

bool LogCapture::Has(ACE_Log_Priority priority, const std::string& text) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const LogLine& line : lines_) {
    if (line.priority == priority && line.text == text) return true;
  }
  return false;
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.clear();
}

void LogCapture::Add(ACE_Log_Priority priority, std::string text) {
  std::lock_guard<std::mutex> lock(mu_);
  lines_.push_back({priority, std::move(text)});
}

}  // namespace zl::testing
