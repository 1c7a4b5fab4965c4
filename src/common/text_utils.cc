#include "common/text_utils.h"

#include <ace/Log_Msg.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace zl {

std::string ExtractItem(const char* src, int n, char delim) {
  if (src == nullptr) {
    ACE_ERROR((LM_ERROR, "(File %s;Line %d) Null source pointer passed to ExtractItem\n",
               __FILE__, __LINE__));
    return std::string();
  }
  if (n < 1) return std::string();

  const char* p = src;
  for (int seen = 1; seen < n; ++seen) {
    p = std::strchr(p, delim);
    // A zero delimiter would find the terminator: no further field.
    if (p == nullptr || *p == '\0') return std::string();
    ++p;
  }
  while (*p == ' ') ++p;
  const char* end = std::strchr(p, delim);  // the terminator when delim is '\0'
  if (end == nullptr) end = p + std::strlen(p);
  while (end > p && (end[-1] == ' ' || end[-1] == '\r' || end[-1] == '\n')) --end;
  return std::string(p, end);
}

char* strncpyz(char* dst, const char* src, int size) {
  if (dst == nullptr) {
    ACE_ERROR((LM_ERROR, "(File %s;Line %d) Null dst pointer passed to strncpyz\n", __FILE__,
               __LINE__));
    return dst;
  }
  if (size <= 0) return dst;
  std::strncpy(dst, src != nullptr ? src : "", static_cast<std::size_t>(size));
  dst[size - 1] = '\0';
  return dst;
}

std::string ToUpperCopy(const char* text) {
  if (text == nullptr) return std::string();
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string ToLowerCopy(const char* text) {
  if (text == nullptr) return std::string();
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string StripQuotes(const char* text) {
  if (text == nullptr) return std::string();
  const std::size_t len = std::strlen(text);
  if (len >= 2 && text[0] == '"' && text[len - 1] == '"') {
    return std::string(text + 1, len - 2);
  }
  return std::string(text, len);
}

std::string FormatV(const char* format, va_list ap) {
  char small[512];
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(small, sizeof small, format, ap);
  std::string text;
  if (n < 0) {
    va_end(again);
    return text;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    text.assign(small, static_cast<std::size_t>(n));
  } else {
    text.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(&text[0], text.size(), format, again);
    text.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  return text;
}

}  // namespace zl
