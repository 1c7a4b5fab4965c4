#include "common/log.h"

#include <atomic>
#include <iostream>

#include "common/exception_text.h"

namespace zl {
namespace {

std::atomic<LogSink*> g_sink{nullptr};
thread_local LogContext t_context;
thread_local const LogPlace* t_place = nullptr;

}  // namespace

void LogCorbaException(ACE_Log_Priority priority, const char* file, int line,
                       const CORBA::Exception& e) {
  const std::string text = ExceptionText(e);
  ACE_DEBUG((priority, "(File %s;Line %d) CORBA %s\n", file, line, text.c_str()));
}

const LogContext& CurrentLogContext() { return t_context; }

ScopedLogContext::ScopedLogContext(const char* operation, const char* tag) : saved_(t_context) {
  t_context.operation = operation;
  t_context.tag = tag;
}

ScopedLogContext::~ScopedLogContext() { t_context = saved_; }

const LogPlace* CurrentLogPlace() { return t_place; }

ScopedLogPlace::ScopedLogPlace(const LogPlace* place) : saved_(t_place) { t_place = place; }

ScopedLogPlace::~ScopedLogPlace() { t_place = saved_; }

void SetLogSink(LogSink* sink) { g_sink = sink; }

void ReportScenarioLine(ScenarioLineKind kind, const std::string& text, const LogPlace& place,
                        unsigned testlog_line) {
  if (LogSink* sink = g_sink.load()) sink->ScenarioLine(kind, text, place, testlog_line);
}

void WriteErrorLine(const std::string& text) {
  if (LogSink* sink = g_sink.load()) {
    sink->ErrorLine(text);
    return;
  }
  std::cerr << text << std::endl;
}

void SetProcessLogMask(u_long mask) {
  ACE_LOG_MSG->priority_mask(mask, ACE_Log_Msg::PROCESS);
  if (LogSink* sink = g_sink.load()) sink->ProcessMaskSet();
}

void RequestDebugLog() {
  ACE_LOG_MSG->priority_mask(kDebugLogMask, ACE_Log_Msg::PROCESS);
  ACE_LOG_MSG->priority_mask(kDebugLogMask, ACE_Log_Msg::THREAD);
  if (LogSink* sink = g_sink.load()) sink->DebugRequested();
}

}  // namespace zl
