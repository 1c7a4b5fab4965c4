#include "localdb/tag_filter.h"

#include <utility>

namespace zl {
namespace {

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsPattern(std::string_view entry) {
  return entry.find_first_of("*?") != std::string_view::npos;
}

}  // namespace

std::size_t TagFilter::FoldedHash::operator()(std::string_view s) const {
  std::size_t h = 14695981039346656037ull;  // FNV-1a
  for (char c : s) {
    h ^= static_cast<unsigned char>(Fold(c));
    h *= 1099511628211ull;
  }
  return h;
}

bool TagFilter::FoldedEqual::operator()(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

TagFilter::TagFilter(std::vector<std::string> entries) : entries_(std::move(entries)) {
  // entries_ no longer changes, so the views into it stay valid.
  for (const std::string& e : entries_) {
    if (IsPattern(e)) {
      patterns_.push_back(e);
    } else {
      names_.insert(e);
    }
  }
}

bool TagFilter::Matches(std::string_view name) const {
  if (names_.count(name) != 0) return true;
  for (std::string_view p : patterns_) {
    if (MatchesTagPattern(p, name)) return true;
  }
  return false;
}

bool MatchesTagPattern(std::string_view pattern, std::string_view name) {
  // The classic matcher: on a mismatch after a "*", that "*" takes one
  // more character and the rest is tried again. Time at most the product
  // of the two lengths; no recursion.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;  // the last "*" seen
  std::size_t resume = 0;                     // where the name goes on after it
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace zl
