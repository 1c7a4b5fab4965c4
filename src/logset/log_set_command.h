// The log set command language: one line, a command word and its tokens.
// See docs/log-set-commands.md.
//
// The scanner and the table of commands need no server; the commands act on
// a LogSetStore (the log set list). Stateless apart from the store.
#ifndef ZL_LOGSET_LOG_SET_COMMAND_H_
#define ZL_LOGSET_LOG_SET_COMMAND_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zl {

class CZLLogObj;

// Splits a line into tokens one after the other, each with its own
// separators: a token starts after any run of its separators and ends at
// the next separator (which is consumed) or at the end of the line.
class CommandScanner {
 public:
  explicit CommandScanner(std::string line) : line_(std::move(line)) {}
  // The next token; false when only separators (or nothing) remain.
  bool Next(const char* separators, std::string* token);
  // Everything after the last token and its separator; "" when nothing.
  std::string Rest();

 private:
  std::string line_;
  size_t pos_ = 0;
};

// What the commands need of the log set list. Implementations lock the list
// themselves; log sets are handed out with shared ownership.
class LogSetStore {
 public:
  virtual ~LogSetStore() = default;
  // The log set named `name` ignoring case; null when none.
  virtual std::shared_ptr<CZLLogObj> Find(const std::string& name) = 0;
  // Creates a log set named `name` unless one has that name. False when it
  // cannot be made.
  virtual bool Create(const std::string& name) = 0;
  // Removes the log set from the list; false when none has the name.
  virtual bool Remove(const std::string& name) = 0;
  virtual std::vector<std::string> Names() = 0;
};

// Longest command line kept (longer lines are cut), and of an option name.
constexpr size_t kMaxCommandLine = 2999;
constexpr size_t kMaxOptionName = 79;

// Runs one command line against `store`; gives the reply ("OK", "**Error",
// "" or the data asked for). A null line gives "**Error" and is logged.
std::string RunLogSetCommand(LogSetStore& store, const char* line);

// What is wrong with `line` as a command, found without running it: a word
// that is no command (such a line does nothing), a missing log set name, an
// LSSET without an option or with one SetLogOption refuses whatever the log
// set. "" when nothing is wrong (or the line is blank). Whether the log set
// exists is not looked at: an earlier line may create it.
std::string LogSetCommandProblem(const char* line);

}  // namespace zl

#endif  // ZL_LOGSET_LOG_SET_COMMAND_H_
