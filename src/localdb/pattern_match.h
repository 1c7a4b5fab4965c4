// ZLFind and PatPaste: a case-insensitive Perl-syntax search that remembers
// the groups of its last match, and templates filled from those groups.
//
// Not locked: one thread at a time (the host's, through its client).
#ifndef ZL_LOCALDB_PATTERN_MATCH_H_
#define ZL_LOCALDB_PATTERN_MATCH_H_

#include <array>
#include <string>

namespace zl {

class PatternMatch {
 public:
  static constexpr int kSlots = 10;

  // Searches `text` for the first match of `pattern` anywhere in it. On a
  // match, slot i holds group i (0 the whole match; a group that does not
  // exist or took no part gives ""). No match, a pattern that does not
  // compile or an absent argument: false, all slots empty.
  bool Find(const char* text, const char* pattern);

  // Copies `tmpl`, replacing "@" by slot 1 and "$1".."$9" by that slot; any
  // other "$" is copied as it is and the next character processed normally.
  // An absent template gives "".
  std::string Paste(const char* tmpl) const;

  const std::string& slot(int i) const { return slots_.at(i); }

 private:
  std::array<std::string, kSlots> slots_;
};

}  // namespace zl

#endif  // ZL_LOCALDB_PATTERN_MATCH_H_
