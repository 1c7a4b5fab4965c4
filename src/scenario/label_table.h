// The labels of one scenario file (":NAME" lines) and where each one is, for
// GOTO.
//
// Threads: each table has its own reader/writer lock; the worker scans
// (writes) and jumps (reads).
#ifndef ZL_SCENARIO_LABEL_TABLE_H_
#define ZL_SCENARIO_LABEL_TABLE_H_

#include <cstdio>
#include <map>
#include <shared_mutex>
#include <string>

namespace zl {

// Where a file is read: the file and the number of the line read last.
struct FileCursor {
  std::FILE* file;  // null: no file open
  unsigned* line;
};

// The label that the line `piece` (as read from the file) defines: when it
// begins with ":", its first word (up to a blank, tab or line feed), colon
// included, upper-cased, into `*label`; false for any other line.
bool LabelOfLine(const char* piece, std::string* label);

class LabelTable {
 public:
  // Records the labels of `file` (upper-cased, colon included), scanning from
  // its position, then rewinds it. Lines are counted as the statement loop
  // counts them (a piece of a long line is a line), from the file's start.
  // A null `file` leaves the table empty.
  void Scan(std::FILE* file);
  // Moves `cursor` after the line of `label` (upper-cased before the look-up);
  // false, leaving it where it is, for an unknown label or no file.
  bool Jump(const char* label, FileCursor cursor) const;

 private:
  struct Target {
    long offset;    // file position after the label line
    unsigned line;  // line number of the label line in its file
  };
  mutable std::shared_mutex mu_;
  std::map<std::string, Target> positions_;  // guarded by mu_
};

}  // namespace zl

#endif  // ZL_SCENARIO_LABEL_TABLE_H_
