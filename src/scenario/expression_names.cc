#include "scenario/expression_names.h"

#include <strings.h>

#include <cctype>

namespace zl {
namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool IsNameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$';
}
bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' || c == '.';
}

bool IsOperatorWord(std::string_view word) {
  for (const char* op : {"AND", "OR", "NOT"}) {
    if (word.size() == std::char_traits<char>::length(op) &&
        strncasecmp(word.data(), op, word.size()) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<NameAt> TagNamesIn(std::string_view text) {
  std::vector<NameAt> names;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (IsDigit(c) || (c == '.' && i + 1 < text.size() && IsDigit(text[i + 1]))) {
      // A number, with its exponent and whatever is glued to it.
      ++i;
      while (i < text.size() &&
             (IsNameChar(text[i]) ||
              ((text[i] == '+' || text[i] == '-') && (text[i - 1] == 'e' || text[i - 1] == 'E')))) {
        ++i;
      }
    } else if (IsNameStart(c)) {
      const std::size_t start = i;
      while (i < text.size() && IsNameChar(text[i])) ++i;
      const std::string_view word = text.substr(start, i - start);
      std::size_t next = i;
      while (next < text.size() && std::isspace(static_cast<unsigned char>(text[next]))) ++next;
      const bool function = next < text.size() && text[next] == '(';
      if (c != '$' && !function && !IsOperatorWord(word)) names.push_back({start, word.size()});
    } else {
      ++i;
    }
  }
  return names;
}

}  // namespace zl
