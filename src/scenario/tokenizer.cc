#include "scenario/tokenizer.h"

#include <cstring>

#include "scenario/outside_text.h"

namespace zl {
namespace {

bool IsDelim(const char* delims, char c) { return c != '\0' && std::strchr(delims, c) != nullptr; }

}  // namespace

char* Tokenizer::Next(const char* delims, bool groups) {
  if (pos_ == nullptr) return nullptr;
  char* p = pos_;
  while (IsDelim(delims, *p)) ++p;
  if (*p == '\0') {
    pos_ = p;
    return nullptr;
  }
  char* start = p;
  bool quoted = false;
  bool escaped = false;
  while (*p != '\0') {
    const char c = *p;
    if (!escaped) {
      if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        quoted = !quoted;
      } else if (groups && c == '(' && !quoted) {
        int depth = 1;
        ++p;
        while (*p != '\0' && depth > 0) {
          if (*p == '(') ++depth;
          if (*p == ')') --depth;
          ++p;
        }
        continue;
      }
    }
    if (!quoted && IsDelim(delims, c)) {
      *p = '\0';
      pos_ = p + 1;
      return start;
    }
    ++p;
  }
  pos_ = p;
  return start;
}

std::string SubstituteArguments(const char* line, const std::array<std::string, 8>& args) {
  std::string out;
  if (line == nullptr) return out;
  for (const char* p = line; *p != '\0'; ++p) {
    if (*p == '\\') {
      if (p[1] == '$' || p[1] == '\\') {
        out += p[1];
        ++p;
      } else if (p[1] != '\0') {
        out += p[0];
        out += p[1];
        ++p;
      } else {
        out += '\\';
      }
    } else if (*p == '$') {
      if (p[1] >= '1' && p[1] <= '8') {
        const std::string& arg = args[p[1] - '1'];
        out += HasControlCharacter(arg) ? EscapeOutsideText(arg) : arg;
        ++p;
      } else if (p[1] != '\0') {
        out += p[0];
        out += p[1];
        ++p;
      } else {
        out += '$';
      }
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace zl
