#include "scenario/scenario_line.h"

#include <cstring>

#include "common/text_utils.h"

namespace zl {

LineKind PrepareLine(char* line, const std::array<std::string, 8>& args, Tokenizer& tokens,
                     char (&keyword)[80], std::string* checksum, std::vector<unsigned>* origins) {
  const std::string as_written(line);
  strncpyz(line, SubstituteArguments(line, args).c_str(), kLineSize);
  if (std::strncmp(line, "#$CHECK:", 8) == 0) {
    std::string stored(line + 8);
    while (!stored.empty() && (stored.back() == '\n' || stored.back() == '\r')) stored.pop_back();
    *checksum = std::move(stored);
    return LineKind::kChecksum;
  }
  if (line[0] == '#') return LineKind::kComment;

  // A statement runs upper-cased, its arguments too. The line and the
  // arguments are upper-cased before they meet, which gives the same line,
  // except that the escapes of an argument's control characters keep their
  // lower-case letters ("\n", "\x1b") and read as the test log's escapes.
  std::array<std::string, 8> upper = args;
  for (std::string& a : upper) a = ToUpperCopy(a.c_str());
  strncpyz(line,
           SubstituteArguments(ToUpperCopy(as_written.c_str()).c_str(), upper, origins).c_str(),
           kLineSize);
  const std::size_t len = std::strlen(line);
  if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';

  tokens.Start(line);
  const char* token = tokens.Next(kBlanks);
  if (token == nullptr) return LineKind::kEmpty;
  strncpyz(keyword, token, sizeof keyword);
  if (keyword[0] == ':') return LineKind::kLabel;
  if (keyword[0] == '@') return LineKind::kSubtest;
  return LineKind::kStatement;
}

}  // namespace zl
