// Fuzz target: one log set driven through its options and writes. Each
// input line is an operation, chosen by its first character; the rest of
// the line is its operand:
//   S<option> <value>  SetLogOption        G<option>  GetLogOption
//   A<text>            AddTagToLog         R<kind> <text>  AddRecord
//   W<seconds>         RunLogAt (forced)   w<seconds> RunLogAt (when due)
//   E<flag>            SetEnable           N<name>    SetName
//   L                  RecentLines, File, NextWrite, Frequency, TagNames
// Tags are read from zelvik-sim's database servant in-process.
#include <ace/Time_Value.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "logset/log_obj.h"
#include "support/in_process_server.h"

namespace {

constexpr size_t kMaxLines = 64;

// `text` split at its first blank: the word before and the rest after.
void SplitWord(const std::string& text, std::string* word, std::string* rest) {
  const size_t cut = text.find_first_of(" \t");
  *word = text.substr(0, cut);
  *rest = cut == std::string::npos ? std::string() : text.substr(cut + 1);
}

// A wall-clock time: the seconds of `text`, kept within a few million years
// of 1970 (the clock never comes near the limits of the time type).
ACE_Time_Value Seconds(const std::string& text) {
  constexpr long long kYears = 1LL << 48;
  const long long s = std::strtoll(text.c_str(), nullptr, 10);
  return ACE_Time_Value(static_cast<time_t>(s < -kYears ? -kYears : s > kYears ? kYears : s));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zl::fuzz::Setup();
  zl::testing::InProcessServer::Instance();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zl::fuzz;
  using zl::testing::InProcessServer;
  InProcessServer::Instance().Reset();
  {
    zl::CZLLogObj log([] { return InProcessServer::Instance().database(); });
    for (const std::string& line : SplitLines(ConfinedText(data, size), kMaxLines)) {
      if (line.empty()) continue;
      const std::string operand = line.substr(1);
      std::string word, rest, result;
      switch (line[0]) {
        case 'S':
          SplitWord(operand, &word, &rest);
          log.SetLogOption(word.c_str(), rest.c_str());
          break;
        case 'G':
          log.GetLogOption(operand.c_str(), &result);
          break;
        case 'A':
          log.AddTagToLog(operand.c_str());
          break;
        case 'R':
          SplitWord(operand, &word, &rest);
          log.AddRecord(word.c_str(), 1.5, -2.5, 7, rest.c_str());
          break;
        case 'W':
          log.RunLogAt(true, Seconds(operand));
          break;
        case 'w':
          log.RunLogAt(false, Seconds(operand));
          break;
        case 'E':
          log.SetEnable(!operand.empty() && operand[0] == '1');
          break;
        case 'N':
          log.SetName(operand);
          break;
        case 'L':
          log.RecentLines();
          log.File();
          log.NextWrite();
          log.Frequency();
          log.TagNames();
          break;
        default:
          break;
      }
    }
  }
  ClearWorkDir();
  return 0;
}
