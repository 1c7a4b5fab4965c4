// Captures the process log (ACE's log facility) for assertions on exact lines.
//
// While a LogCapture lives, every record logged by any thread goes to it
// instead of standard error (a process-wide backend with the CUSTOM flag).
// Only one may live at a time. Thread-safe: records arrive under a lock.
#ifndef ZL_TESTS_SUPPORT_LOG_CAPTURE_H_
#define ZL_TESTS_SUPPORT_LOG_CAPTURE_H_

#include <ace/Log_Priority.h>

#include <mutex>
#include <string>
#include <vector>

namespace zl::testing {

struct LogLine {
  ACE_Log_Priority priority;
  std::string text;  // the formatted message, line end included
};

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogLine> Lines() const;
  // Whether some record has exactly this text at this priority.
  bool Has(ACE_Log_Priority priority, const std::string& text) const;
  void Clear();

  void Add(ACE_Log_Priority priority, std::string text);  // called by the backend

 private:
  mutable std::mutex mu_;
  std::vector<LogLine> lines_;  // guarded by mu_
};

}  // namespace zl::testing

#endif  // ZL_TESTS_SUPPORT_LOG_CAPTURE_H_
