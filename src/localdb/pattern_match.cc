#include "localdb/pattern_match.h"

#include <ace/Log_Msg.h>

#include <boost/regex.hpp>

namespace zl {

bool PatternMatch::Find(const char* text, const char* pattern) {
  for (std::string& s : slots_) s.clear();
  if (text == nullptr || pattern == nullptr) return false;
  try {
    const boost::regex re(pattern, boost::regex::perl | boost::regex::icase);
    boost::cmatch match;
    if (!boost::regex_search(text, match, re)) return false;
    for (int i = 0; i < kSlots; ++i) {
      if (static_cast<std::size_t>(i) < match.size() && match[i].matched) slots_[i] = match.str(i);
    }
    return true;
  } catch (...) {
    // A pattern that does not compile, or a search too complex to finish.
    for (std::string& s : slots_) s.clear();
    return false;
  }
}

std::string PatternMatch::Paste(const char* tmpl) const {
  std::string out;
  if (tmpl == nullptr) return out;
  try {
    for (const char* p = tmpl; *p != '\0'; ++p) {
      if (*p == '@') {
        out += slots_[1];
      } else if (*p == '$' && p[1] >= '1' && p[1] <= '9') {
        out += slots_[p[1] - '0'];
        ++p;
      } else {
        out += *p;
      }
    }
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "(File %s;Line %d) **Caught exception in PatPaste()!\n", __FILE__, __LINE__));
  }
  return out;
}

}  // namespace zl
