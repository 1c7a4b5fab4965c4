// The test log of one scenario run: the ".tlg" file beside the scenario,
// opened for appending, each run's section separated from the previous one
// by a blank line and signed at its end with a "#$CHECK:" line over the
// section (docs/scenarios.md describes the file).
//
// Every line starts with the elapsed-time stamp "HH:MM:SS.mmm" measured from
// the moment given to StartClock. No line is written while the file is not
// open.
//
// Threads: used by the scenario's worker only (and by the manager once the
// worker is gone).
#ifndef ZL_SCENARIO_TEST_LOG_H_
#define ZL_SCENARIO_TEST_LOG_H_

#include <ace/Time_Value.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace zl {

class Clock;

class TestLog {
 public:
  // `clock` gives the stamps; borrowed, it outlives the log.
  explicit TestLog(const Clock* clock) : clock_(clock) {}
  ~TestLog() { Close(); }
  TestLog(const TestLog&) = delete;
  TestLog& operator=(const TestLog&) = delete;

  // Opens `name` for appending and takes the offset where this run's section
  // begins (after a "\n\n" separator when the file is not empty). False when
  // it cannot be opened; the log then stays closed for the whole run.
  bool Open(const std::string& name);
  // Stamps count from `start`.
  void StartClock(const ACE_Time_Value& start) { start_time_ = start; }
  bool is_open() const { return file_ != nullptr; }
  const std::string& name() const { return name_; }

  // The elapsed-time stamp of now.
  std::string Stamp() const;
  // The opening line of the section, "Starting test '<path>' at <date>",
  // stamped 00:00:00.000.
  void Begin(const char* path);
  // The time since StartClock.
  ACE_Time_Value Elapsed() const;
  // One formatted line (the format holds its own stamp and newline);
  // nothing when the log is closed.
  void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Writes `text` as it is; gives the number, in this run's section (1: the
  // "Starting test" line), of the line the text begins on, or 0 when the
  // log is closed. Lines end as a reader that splits at "\n", "\r\n" and
  // "\r" sees them.
  unsigned Write(const std::string& text);
  // Writes what is buffered (before the worker waits or runs a command).
  void Flush();
  // Closes the file as it is: no closing line, no signature (an abort).
  void Close();
  // The normal end of a run: the "Closing test log" line, then the file is
  // closed and the section signed with "#$CHECK:<checksum>".
  void Finish();

 private:
  const Clock* const clock_;
  std::string name_;
  std::FILE* file_ = nullptr;
  long section_start_ = -1;  // offset of this run's section; -1 unknown
  unsigned lines_ = 0;       // line ends written in this run's section
  bool after_cr_ = false;    // the last character written was a "\r"
  ACE_Time_Value start_time_;
};

}  // namespace zl

#endif  // ZL_SCENARIO_TEST_LOG_H_
