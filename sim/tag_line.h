// Tag definition lines: the tab-delimited text that Download accepts and
// Upload gives back, one tag per line, and the "$DRIVER" directive that
// sets a driver's remote address. The fields are documented in
// docs/zelvik-sim.md. Stateless; safe from any thread.
#ifndef ZL_SIM_TAG_LINE_H_
#define ZL_SIM_TAG_LINE_H_

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "algorithm.h"
#include "tag.h"

namespace zl::sim {

// The zlErrorCode values of ZLDownloadException.
enum class DownloadErrorCode {
  kBadName = 1,         // tag name missing, malformed or reserved
  kBadType = 2,         // unknown tag type
  kBadNumber = 3,       // a numeric field that is not a finite number
  kBadMode = 4,         // mode other than Auto or Manual
  kBadAlgorithm = 5,    // unknown algorithm
  kBadParams = 6,       // parameters the algorithm cannot use
  kTooManyFields = 7,
  kBadRange = 8,        // empty EU range, or a digital range other than 0..1
  kBadDirective = 9,    // unknown "$" directive or bad directive fields
  kMissingFields = 10,  // fewer than the four required fields
  kBadDriver = 11,      // malformed driver name
};

// One bad line. `position` is the byte offset (in the whole downloaded text)
// of the field at fault; `line` counts from 1.
class DownloadError : public std::runtime_error {
 public:
  DownloadError(DownloadErrorCode code, size_t position, int line, const std::string& what)
      : std::runtime_error(what), code_(code), position_(position), line_(line) {}
  DownloadErrorCode code() const { return code_; }
  size_t position() const { return position_; }
  int line() const { return line_; }

 private:
  DownloadErrorCode code_;
  size_t position_;
  int line_;
};

// The number of fields of a complete tag definition line.
constexpr int kTagLineFields = 13;

struct DefinitionLine {
  enum Kind { kTag, kDriver } kind = kTag;
  TagDefinition def;                     // kTag
  std::unique_ptr<Algorithm> algorithm;  // kTag: built from def (nullptr for NONE)
  std::string driver;                    // kDriver
  std::string remote_address;            // kDriver
};

// Parses the lines of `text` (separated by "\n"; a trailing "\r" is
// ignored). Blank lines and lines whose first non-blank character is "#"
// are skipped. Throws DownloadError for the first bad line; nothing is
// returned then.
std::vector<DefinitionLine> ParseDefinitions(std::string_view text);

// Parses one line that starts at byte `base` of a larger text.
DefinitionLine ParseDefinitionLine(std::string_view line, size_t base, int line_number);

// The complete 13-field line for `def`; ParseDefinitionLine gives `def`
// back from it.
std::string FormatDefinitionLine(const TagDefinition& def);

// Whether `name` can name a tag: IsValidTagName and not a keyword of the
// expression language (AND, OR, NOT).
bool IsUsableTagName(std::string_view name);

}  // namespace zl::sim

#endif  // ZL_SIM_TAG_LINE_H_
