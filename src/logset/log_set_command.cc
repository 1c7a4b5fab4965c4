#include "logset/log_set_command.h"

#include <ace/Log_Msg.h>

#include <cstring>

#include "common/text_utils.h"
#include "logset/log_obj.h"

namespace zl {
namespace {

constexpr char kOk[] = "OK";
constexpr char kError[] = "**Error";

constexpr char kBlank[] = " \t";
constexpr char kBlankPeriod[] = " \t.";
constexpr char kItemSeparators[] = " \t,";

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += ", ";
    out += parts[i];
  }
  return out;
}

// The log set name token, upper-cased; false when missing.
bool NameToken(CommandScanner& scan, const char* separators, std::string* name) {
  if (!scan.Next(separators, name)) return false;
  *name = ToUpperCopy(name->c_str());
  return true;
}

// LSCREATE name
std::string Create(LogSetStore& store, CommandScanner& scan) {
  std::string name;
  if (!NameToken(scan, kBlank, &name)) return "";
  return store.Create(name) ? kOk : kError;
}

// LSDELETE name
std::string Delete(LogSetStore& store, CommandScanner& scan) {
  std::string name;
  if (!NameToken(scan, kBlank, &name)) return "";
  return store.Remove(name) ? "" : kError;
}

// LSLIST
std::string List(LogSetStore& store, CommandScanner&) { return Join(store.Names()); }

// LSGET name option
std::string Get(LogSetStore& store, CommandScanner& scan) {
  std::string name, option, value;
  if (!NameToken(scan, kBlankPeriod, &name)) return "";
  const bool has_option = scan.Next(kBlankPeriod, &option);
  option = option.substr(0, kMaxOptionName);
  auto log = store.Find(name);
  if (!log) return kError;
  if (log->GetLogOption(has_option ? option.c_str() : nullptr, &value) != kLogOk) return kError;
  return value;
}

// LSSET name option value...
std::string Set(LogSetStore& store, CommandScanner& scan) {
  std::string name, option;
  if (!NameToken(scan, kBlankPeriod, &name)) {
    ACE_DEBUG((LM_ERROR, "LSSet did not parse a save set name\n"));
    return "";
  }
  const bool has_option = scan.Next(kBlankPeriod, &option);
  option = option.substr(0, kMaxOptionName);
  const std::string value = scan.Rest();
  auto log = store.Find(name);
  if (!log) return kError;
  const int code = log->SetLogOption(has_option ? option.c_str() : nullptr, value.c_str());
  if (code != kLogOk) {
    ACE_DEBUG((LM_ERROR, "Err = %d from SetLogOption(%s,...)\n", code, option.c_str()));
    return kError;
  }
  return kOk;
}

// LSADDTAGS name item[, item ...]
std::string AddTags(LogSetStore& store, CommandScanner& scan) {
  std::string name, item;
  if (!NameToken(scan, kBlankPeriod, &name)) return "";
  auto log = store.Find(name);
  if (!log) return kError;
  std::string reply;
  while (scan.Next(kItemSeparators, &item))
    reply = log->AddTagToLog(item.c_str()) == kLogOk ? kOk : kError;
  return reply;
}

// LSREMOVETAGS name
std::string RemoveTags(LogSetStore& store, CommandScanner& scan) {
  std::string name;
  if (!NameToken(scan, kBlankPeriod, &name)) return "";
  auto log = store.Find(name);
  if (!log) return kError;
  log->RemoveAllTags();
  return kOk;
}

// LSTAGS name
std::string Tags(LogSetStore& store, CommandScanner& scan) {
  std::string name;
  if (!NameToken(scan, kBlank, &name)) return "";
  auto log = store.Find(name);
  if (!log) return kError;
  return Join(log->TagNames());
}

// LSSNAP name
std::string Snap(LogSetStore& store, CommandScanner& scan) {
  std::string name;
  if (!NameToken(scan, kBlank, &name)) {
    ACE_DEBUG((LM_ERROR, "LSSNAP Did not parse a save set name\n"));
    return kError;
  }
  auto log = store.Find(name);
  if (!log) return kError;
  log->RunLog(true);
  return kOk;
}

// LSCOMMENT name comment...
std::string Comment(LogSetStore& store, CommandScanner& scan) {
  std::string name, comment;
  if (!NameToken(scan, kBlank, &name)) {
    ACE_DEBUG((LM_ERROR, "LSComment did not parse a save set name\n"));
    return kError;
  }
  if (!scan.Next("\n", &comment)) comment = "Empty Comment";
  auto log = store.Find(name);
  if (!log) return kError;
  log->AddRecord("SCMT", 0, 0, 0, comment.c_str());  // the record cuts it at 79
  return "";
}

struct CommandEntry {
  const char* keyword;
  std::string (*run)(LogSetStore&, CommandScanner&);
  // The separators that end the log set name; null for a command without one.
  const char* name_separators;
};

// Compared in this order; a word that begins with a keyword is that command
// (so LSLISTING is LSLIST).
const CommandEntry kCommands[] = {
    {"LSCREATE", Create, kBlank},
    {"LSDELETE", Delete, kBlank},
    {"LSLIST", List, nullptr},
    {"LSGET", Get, kBlankPeriod},
    {"LSSET", Set, kBlankPeriod},
    {"LSADDTAGS", AddTags, kBlankPeriod},
    {"LSREMOVETAGS", RemoveTags, kBlankPeriod},
    {"LSTAGS", Tags, kBlank},
    {"LSSNAP", Snap, kBlank},
    {"LSCOMMENT", Comment, kBlank},
};

// The command that `word` (upper case) names, or null.
const CommandEntry* FindCommand(const std::string& word) {
  for (const CommandEntry& c : kCommands)
    if (word.compare(0, std::strlen(c.keyword), c.keyword) == 0) return &c;
  return nullptr;
}

// The line cut as the commands cut it.
std::string CutLine(const char* line) {
  std::string text(line);
  if (text.size() > kMaxCommandLine) text.resize(kMaxCommandLine);
  return text;
}

}  // namespace

bool CommandScanner::Next(const char* separators, std::string* token) {
  token->clear();
  while (pos_ < line_.size() && std::strchr(separators, line_[pos_]) != nullptr &&
         line_[pos_] != '\0')
    ++pos_;
  if (pos_ >= line_.size()) return false;
  const size_t start = pos_;
  while (pos_ < line_.size() && std::strchr(separators, line_[pos_]) == nullptr) ++pos_;
  *token = line_.substr(start, pos_ - start);
  if (pos_ < line_.size()) ++pos_;  // the separator that ended the token
  return true;
}

std::string CommandScanner::Rest() {
  std::string rest = pos_ < line_.size() ? line_.substr(pos_) : std::string();
  pos_ = line_.size();
  return rest;
}

std::string RunLogSetCommand(LogSetStore& store, const char* line) {
  if (line == nullptr) {
    ACE_DEBUG((LM_ERROR, "Exported LSCmd() was passed a null pointer.\n"));
    return kError;
  }
  CommandScanner scan(CutLine(line));
  std::string word;
  if (!scan.Next(kBlank, &word)) return "";
  const CommandEntry* command = FindCommand(ToUpperCopy(word.c_str()));
  return command != nullptr ? command->run(store, scan) : "";
}

std::string LogSetCommandProblem(const char* line) {
  if (line == nullptr) return "";
  CommandScanner scan(CutLine(line));
  std::string word;
  if (!scan.Next(kBlank, &word)) return "";
  const CommandEntry* command = FindCommand(ToUpperCopy(word.c_str()));
  if (command == nullptr) return "'" + word + "' is no log set command";
  std::string name;
  if (command->name_separators == nullptr) return "";
  if (!scan.Next(command->name_separators, &name)) {
    return std::string(command->keyword) + " without a log set name";
  }
  if (command->run != Set) return "";
  std::string option;
  if (!scan.Next(kBlankPeriod, &option)) return "LSSET without an option";
  option = option.substr(0, kMaxOptionName);
  const std::string value = scan.Rest();
  switch (CZLLogObj::CheckLogOption(option.c_str(), value.c_str())) {
    case kLogOk: return "";
    case kLogBadValue: return "LSSET " + option + ": the value '" + value + "' is refused";
    default: return "LSSET: '" + option + "' is no option that can be set";
  }
}

}  // namespace zl
