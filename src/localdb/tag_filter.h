// The tags a tag-change subscription asks for: tag names and patterns.
//
// Rule: an entry matches a tag name without regard to the case of ASCII
// letters (as the server matches tag names). In an entry, "*" stands for
// any run of characters, also none, and "?" for exactly one character;
// every other character stands for itself (names are compared byte by
// byte: beyond ASCII, "?" stands for one byte of the name's UTF-8). An
// entry without "*" or "?" is one tag's name. A name matches the filter when it matches any entry; a
// filter without entries matches nothing.
//
// Immutable after construction: Matches is safe from any thread at once
// (the ORB's threads that receive tag changes test each change with it
// before anything else is made of it).
#ifndef ZL_LOCALDB_TAG_FILTER_H_
#define ZL_LOCALDB_TAG_FILTER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace zl {

class TagFilter {
 public:
  explicit TagFilter(std::vector<std::string> entries);
  TagFilter(const TagFilter&) = delete;
  TagFilter& operator=(const TagFilter&) = delete;

  // Whether `name` (not necessarily NUL-terminated) matches an entry.
  // Names are looked up in a hash set; patterns are tried in turn.
  bool Matches(std::string_view name) const;

  // The entries as given, in order.
  const std::vector<std::string>& entries() const { return entries_; }

 private:
  // ASCII letters folded to upper case, so that names differing only in
  // case share a hash and compare equal.
  struct FoldedHash {
    std::size_t operator()(std::string_view s) const;
  };
  struct FoldedEqual {
    bool operator()(std::string_view a, std::string_view b) const;
  };

  const std::vector<std::string> entries_;
  // Views of the entries without "*" or "?"; they point into entries_.
  std::unordered_set<std::string_view, FoldedHash, FoldedEqual> names_;
  std::vector<std::string_view> patterns_;  // the other entries
};

// Whether `name` matches the pattern `pattern` under the rule above.
bool MatchesTagPattern(std::string_view pattern, std::string_view name);

}  // namespace zl

#endif  // ZL_LOCALDB_TAG_FILTER_H_
