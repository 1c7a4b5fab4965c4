#include "text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zl::sim {

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view text) {
  const char* const kBlank = " \t\r\n";
  const size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return text.substr(text.size());
  const size_t last = text.find_last_not_of(kBlank);
  return text.substr(first, last - first + 1);
}

std::vector<Field> Split(std::string_view line, char separator) {
  std::vector<Field> fields;
  size_t start = 0;
  while (true) {
    const size_t end = line.find(separator, start);
    if (end == std::string_view::npos) {
      fields.push_back({line.substr(start), start});
      return fields;
    }
    fields.push_back({line.substr(start, end - start), start});
    start = end + 1;
  }
}

bool ParseDouble(std::string_view text, double* value) {
  const std::string s(Trim(text));
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  // strtod accepts hexadecimal floats and "infinity"/"nan" spellings; the
  // finiteness test above refuses the latter, the check below the former.
  if (s.find_first_of("xX") != std::string::npos) return false;
  *value = v;
  return true;
}

bool ParseLong(std::string_view text, long long lo, long long hi, long long* value) {
  const std::string s(Trim(text));
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (end != s.c_str() + s.size() || errno == ERANGE || v < lo || v > hi) return false;
  *value = v;
  return true;
}

std::string FormatDouble(double value) {
  char buffer[40];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  return buffer;
}

}  // namespace zl::sim
