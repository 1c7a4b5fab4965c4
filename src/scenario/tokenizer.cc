#include "scenario/tokenizer.h"

#include <cstring>

#include "common/text_utils.h"
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

std::string SubstituteArguments(const char* line, const std::array<std::string, 8>& args,
                                std::vector<unsigned>* origins) {
  std::string out;
  if (line == nullptr) return out;
  // Appends `text`, which comes from offset `from` of the line.
  auto put = [&](const std::string& text, const char* from) {
    out += text;
    if (origins != nullptr) {
      origins->insert(origins->end(), text.size(), static_cast<unsigned>(from - line));
    }
  };
  auto put_char = [&](char c, const char* from) {
    out += c;
    if (origins != nullptr) origins->push_back(static_cast<unsigned>(from - line));
  };
  for (const char* p = line; *p != '\0'; ++p) {
    if (*p == '\\') {
      if (p[1] == '$' || p[1] == '\\') {
        put_char(p[1], p + 1);
        ++p;
      } else if (p[1] != '\0') {
        put_char(p[0], p);
        put_char(p[1], p + 1);
        ++p;
      } else {
        put_char('\\', p);
      }
    } else if (*p == '$') {
      if (p[1] >= '1' && p[1] <= '8') {
        const std::string& arg = args[p[1] - '1'];
        put(HasControlCharacter(arg) ? EscapeOutsideText(arg) : arg, p);
        ++p;
      } else if (p[1] != '\0') {
        put_char(p[0], p);
        put_char(p[1], p + 1);
        ++p;
      } else {
        put_char('$', p);
      }
    } else {
      put_char(*p, p);
    }
  }
  return out;
}

int SplitArguments(const char* options, bool top_level, std::array<std::string, 8>* args) {
  char buf[256];
  strncpyz(buf, options, sizeof buf);
  for (std::string& a : *args) a.clear();
  int stored = 0;
  char* save = nullptr;  // strtok_r: workers and host threads split at once
  for (char* tok = strtok_r(buf, " \t", &save); tok != nullptr && stored < 8;
       tok = strtok_r(nullptr, " \t", &save)) {
    if (top_level && (ToLowerCopy(tok).compare(0, 10, "-skipuserq") == 0 ||
                      std::strncmp(tok, "--", 2) == 0)) {
      continue;
    }
    (*args)[stored++] = tok;
  }
  return stored;
}

}  // namespace zl
