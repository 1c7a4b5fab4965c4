// One nest level of a scenario run: the file read at that depth (level 0 the
// scenario file, each subtest call the next level) and what belongs to it.
//
// A level holds two kinds of state, and scenario authors meet the
// difference (docs/scenarios.md, "Subtests"):
//  - the file's own, set afresh each time a file opens at the level (Open):
//    the file, how the test log and the run name it, the "@" line that
//    called it, where it is read, its labels, its stored and computed
//    checksums;
//  - the depth's, which outlives the file and passes to the next subtest
//    opened at the same depth: the arguments $1..$8 (a call without
//    arguments keeps those of the last call at this depth), the monitors (a
//    list lives until MON_CLEAR at the level; closing the file keeps it) and
//    the count of lines read.
//
// Threads: the scenario's worker opens, reads and closes a level; host
// threads read lines_read() (an atomic). The label table has its own lock.
#ifndef ZL_SCENARIO_LEVEL_H_
#define ZL_SCENARIO_LEVEL_H_

#include <array>
#include <atomic>
#include <cstdio>
#include <string>

#include "scenario/check_statements.h"
#include "scenario/label_table.h"

namespace zl {

class Level {
 public:
  Level() = default;
  ~Level() { Close(); }
  Level(const Level&) = delete;
  Level& operator=(const Level&) = delete;

  // Takes over `file` (open for reading, at its start) as this level's file:
  // `name` is how the test log names it, `shown_name` how the run's places
  // name it, `call_site` "FILE:LINE" of the "@" line that called it (empty
  // at level 0). The file's state starts afresh: no line read, its labels
  // scanned, its checksum computed, no stored checksum yet. The depth's
  // state stays. A file open before is closed first.
  void Open(std::FILE* file, std::string name, std::string shown_name, std::string call_site);
  // Closes the file (nothing when none is open); the depth's state stays.
  void Close();
  bool is_open() const { return file_ != nullptr; }

  // Reads the next piece of the file (at most size - 1 characters, up to and
  // including a line feed) into `buf`; false at the end of the file or
  // without one. Every piece read counts as a line.
  bool ReadLine(char* buf, int size);
  // Where the file is read, for GOTO: the file and the number of the line
  // read last.
  FileCursor cursor() { return FileCursor{file_, &file_line_}; }
  // The number of the line read last in the file (0 before the first); a
  // GOTO moves it to its label's line.
  unsigned file_line() const { return file_line_; }

  const std::string& name() const { return name_; }
  const std::string& shown_name() const { return shown_name_; }
  const std::string& call_site() const { return call_site_; }
  LabelTable& labels() { return labels_; }
  // Rescans the labels from the file's current position (ScanLabels).
  void ScanLabels() { labels_.Scan(file_); }

  // The "#$CHECK:" text read last in this file (empty: none yet), and the
  // checksum of the file computed when it was opened.
  const std::string& stored_checksum() const { return stored_checksum_; }
  void set_stored_checksum(std::string text) { stored_checksum_ = std::move(text); }
  const std::string& computed_checksum() const { return computed_checksum_; }

  // The depth's arguments $1..$8; SetArguments replaces them all
  // (SplitArguments, tokenizer.h).
  const std::array<std::string, 8>& arguments() const { return arguments_; }
  void SetArguments(const char* options, bool top_level);
  MonitorList& monitors() { return monitors_; }
  // The lines read at this depth so far, every file and every read
  // ("sceLineNumber"). Any thread.
  unsigned lines_read() const { return lines_read_; }
  void ResetLineCount() { lines_read_ = 0; }

 private:
  // The file's own.
  std::FILE* file_ = nullptr;
  std::string name_;
  std::string shown_name_;
  std::string call_site_;
  unsigned file_line_ = 0;
  LabelTable labels_;
  std::string stored_checksum_;
  std::string computed_checksum_;

  // The depth's.
  std::array<std::string, 8> arguments_;
  MonitorList monitors_;
  std::atomic<unsigned> lines_read_{0};  // written by the worker, read by host threads
};

}  // namespace zl

#endif  // ZL_SCENARIO_LEVEL_H_
