#include "control_commands.h"

#include <COS/CosNotification.hh>

#include <cstdio>
#include <vector>

#include "database_host.h"
#include "fault_table.h"
#include "server.h"
#include "text.h"
#include "wire.h"

namespace zl::sim {
namespace {

// Splits at blanks; `rest` (when asked for) receives the text after the
// first `n` words, untouched.
std::vector<std::string> Words(std::string_view line, size_t n = SIZE_MAX, std::string* rest = nullptr) {
  std::vector<std::string> words;
  size_t pos = 0;
  while (words.size() < n) {
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string_view::npos) break;
    const size_t end = std::min(line.find_first_of(" \t", pos), line.size());
    words.emplace_back(line.substr(pos, end - pos));
    pos = end;
  }
  if (rest != nullptr) {
    const size_t start = pos < line.size() ? line.find_first_not_of(" \t", pos) : std::string_view::npos;
    *rest = start == std::string_view::npos ? std::string() : std::string(line.substr(start));
  }
  return words;
}

bool ParseMessageType(const std::string& word, uint32_t* type) {
  const char* const kNames[] = {"all", "error", "warning", "info", "debug"};
  for (uint32_t i = 0; i < 5; ++i) {
    if (EqualsIgnoreCase(word, kNames[i])) {
      *type = i;
      return true;
    }
  }
  long long n = 0;
  if (!ParseLong(word, 0, 4294967295LL, &n)) return false;
  *type = static_cast<uint32_t>(n);
  return true;
}

// "key=value" options after a fault's fixed words.
bool ParseFaultOptions(const std::vector<std::string>& words, size_t first, Fault* fault,
                       std::string* error) {
  for (size_t i = first; i < words.size(); ++i) {
    const size_t eq = words[i].find('=');
    const std::string key = eq == std::string::npos ? words[i] : words[i].substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : words[i].substr(eq + 1);
    long long n = 0;
    if (EqualsIgnoreCase(key, "count") && ParseLong(value, 1, 1000000, &n)) {
      fault->count = static_cast<int>(n);
    } else if (EqualsIgnoreCase(key, "minor") && ParseLong(value, 0, 4294967295LL, &n)) {
      fault->minor = static_cast<CORBA::ULong>(n);
    } else if (EqualsIgnoreCase(key, "completed") && EqualsIgnoreCase(value, "yes")) {
      fault->completed = CORBA::COMPLETED_YES;
    } else if (EqualsIgnoreCase(key, "completed") && EqualsIgnoreCase(value, "no")) {
      fault->completed = CORBA::COMPLETED_NO;
    } else if (EqualsIgnoreCase(key, "completed") && EqualsIgnoreCase(value, "maybe")) {
      fault->completed = CORBA::COMPLETED_MAYBE;
    } else {
      *error = "bad option '" + words[i] + "'";
      return false;
    }
  }
  return true;
}

// "NAME:EU:PV:MODE" -> one ZLTagValueEvent.
bool ParseEventEntry(const std::string& word, ZEMR::ZLTagValueEvent* e) {
  const std::vector<Field> parts = Split(word, ':');
  if (parts.size() != 4 || parts[0].text.empty()) return false;
  double eu = 0, pv = 0;
  if (!ParseDouble(parts[1].text, &eu) || !ParseDouble(parts[2].text, &pv)) return false;
  TagMode mode;
  long long n = 0;
  if (ParseTagMode(parts[3].text, &mode)) {
    e->currentMode = ToWire(mode);
  } else if (EqualsIgnoreCase(parts[3].text, "NullMode")) {
    e->currentMode = ZEMR::NullMode;
  } else if (ParseLong(parts[3].text, 0, 2, &n)) {
    e->currentMode = static_cast<ZEMR::ZLModeType>(n);
  } else {
    return false;
  }
  uint32_t secs = 0, usecs = 0;
  WallClock(&secs, &usecs);
  e->timeSecs = secs;
  e->timeuS = usecs;
  e->tagname = std::string(parts[0].text).c_str();
  e->newEUValue = eu;
  e->newPVValue = pv;
  return true;
}

const char kHelp[] =
    "OK ping stop help databases status message fail delay clear faults event simtime dbchanges "
    "driver tagfile";

}  // namespace

std::string ControlCommands::Execute(const std::string& line, bool* stop) {
  *stop = false;
  std::string text(Trim(line));
  // An optional "@NAME" chooses the database; the first one otherwise.
  std::string db_name;
  if (!text.empty() && text[0] == '@') {
    std::string rest;
    const std::vector<std::string> first = Words(text, 1, &rest);
    db_name = first[0].substr(1);
    text = rest;
  }
  std::string rest;
  const std::vector<std::string> head = Words(text, 1, &rest);
  if (head.empty()) return "ERR empty command";
  const std::string command = ToUpper(head[0]);

  DatabaseHost* host = db_name.empty() ? server_->FirstDatabase() : server_->FindDatabase(db_name);
  if (host == nullptr) return "ERR unknown database '" + db_name + "'";
  const std::vector<std::string> args = Words(rest);

  if (command == "PING") return "OK";
  if (command == "HELP") return kHelp;
  if (command == "STOP") {
    *stop = true;
    return "OK";
  }
  if (command == "DATABASES") {
    std::string names;
    for (const std::string& n : server_->DatabaseNames()) names += (names.empty() ? "" : ",") + n;
    return "OK " + names;
  }
  if (command == "STATUS") {
    TagDatabase& db = host->db();
    char simtime[32];
    std::snprintf(simtime, sizeof simtime, "%.3f", db.SimTime());
    return "OK database=" + host->name() + " tags=" + std::to_string(db.Count()) +
           " simtime=" + simtime + " cycles=" + std::to_string(db.Cycles()) +
           " cycletime=" + FormatDouble(host->loop().CycleTime()) +
           " warp=" + FormatDouble(host->loop().Warp()) +
           " algs=" + (db.AlgorithmsEnabled() ? "1" : "0") + " io=" + (db.IoEnabled() ? "1" : "0") +
           " held=" + (host->loop().Held() ? "1" : "0") +
           " dbchanges=" + std::to_string(db.ChangeCount()) +
           " consumers=" + std::to_string(host->channel().Consumers()) +
           " events=" + std::to_string(host->channel().Delivered()) +
           " dropped_events=" + std::to_string(host->channel().Dropped()) +
           " messages=" + std::to_string(host->MessagesPublished()) +
           " dropped_messages=" + std::to_string(host->MessagesDropped()) +
           " iterators=" + std::to_string(server_->iterators().Live()) +
           " faults=" + std::to_string(server_->faults().Pending());
  }
  if (command == "MESSAGE") {
    // message TYPE ROUTINE [TEXT...]
    std::string message_text;
    const std::vector<std::string> w = Words(rest, 2, &message_text);
    uint32_t type = 0;
    if (w.size() < 2) return "ERR usage: message TYPE ROUTINE [TEXT...]";
    if (!ParseMessageType(w[0], &type)) return "ERR bad message type '" + w[0] + "'";
    host->Publish(type, w[1], message_text);
    return "OK";
  }
  if (command == "FAIL") {
    // fail OPERATION EXCEPTION [count=N] [minor=N] [completed=yes|no|maybe]
    if (args.size() < 2) return "ERR usage: fail OPERATION EXCEPTION [count=N] [minor=N] [completed=yes|no|maybe]";
    if (!FaultTable::IsOperation(args[0])) return "ERR unknown operation '" + args[0] + "'";
    Fault fault;
    if (FaultTable::IsSystemException(args[1], &fault.exception)) {
      fault.kind = Fault::kSystem;
    } else if (FaultTable::IsUserException(args[1], &fault.exception)) {
      fault.kind = Fault::kUser;
    } else if (EqualsIgnoreCase(args[1], "undeclared")) {
      fault.kind = Fault::kUndeclared;
    } else {
      return "ERR unknown exception '" + args[1] + "'";
    }
    std::string error;
    if (!ParseFaultOptions(args, 2, &fault, &error)) return "ERR " + error;
    server_->faults().Arm(args[0], fault);
    return "OK";
  }
  if (command == "DELAY") {
    // delay OPERATION MILLISECONDS [count=N]
    long long ms = 0;
    if (args.size() < 2) return "ERR usage: delay OPERATION MILLISECONDS [count=N]";
    if (!FaultTable::IsOperation(args[0])) return "ERR unknown operation '" + args[0] + "'";
    if (!ParseLong(args[1], 0, 3600000, &ms)) return "ERR bad delay '" + args[1] + "'";
    Fault fault;
    fault.kind = Fault::kDelay;
    fault.delay_ms = static_cast<int>(ms);
    std::string error;
    if (!ParseFaultOptions(args, 2, &fault, &error)) return "ERR " + error;
    server_->faults().Arm(args[0], fault);
    return "OK";
  }
  if (command == "TAGFILE") {
    // tagfile endless BYTES | tagfile normal
    long long n = 0;
    if (args.size() == 1 && EqualsIgnoreCase(args[0], "normal")) {
      server_->iterators().ArmEndless(-1);
      return "OK";
    }
    if (args.size() != 2 || !EqualsIgnoreCase(args[0], "endless") ||
        !ParseLong(args[1], 0, 16 << 20, &n)) {
      return "ERR usage: tagfile endless BYTES (0 to 16777216) | tagfile normal";
    }
    server_->iterators().ArmEndless(static_cast<long>(n));
    return "OK";
  }
  if (command == "CLEAR") {
    server_->faults().Clear();
    server_->iterators().ArmEndless(-1);
    return "OK";
  }
  if (command == "FAULTS") return "OK " + std::to_string(server_->faults().Pending());
  if (command == "EVENT") {
    // event seq [NAME:EU:PV:MODE...] | event text TEXT... | event long N | event empty
    std::string body_text;
    const std::vector<std::string> w = Words(rest, 1, &body_text);
    if (w.empty()) return "ERR usage: event seq|text|long|empty ...";
    const std::string kind = ToUpper(w[0]);
    CosNotification::StructuredEvent event;
    event.header.fixed_header.event_type.domain_name = "ZEMR";
    event.header.fixed_header.event_type.type_name = "ZLTagValueSeq";
    event.header.fixed_header.event_name = "TagChanges";
    if (kind == "SEQ") {
      ZEMR::ZLTagValueSeq seq;
      for (const std::string& entry : Words(body_text)) {
        ZEMR::ZLTagValueEvent e;
        if (!ParseEventEntry(entry, &e)) return "ERR bad entry '" + entry + "' (NAME:EU:PV:MODE)";
        const CORBA::ULong n = seq.length();
        seq.length(n + 1);
        seq[n] = e;
      }
      event.remainder_of_body <<= seq;
    } else if (kind == "TEXT") {
      event.header.fixed_header.event_type.type_name = "Text";
      event.remainder_of_body <<= body_text.c_str();
    } else if (kind == "LONG") {
      long long n = 0;
      if (!ParseLong(body_text, -2147483648LL, 2147483647LL, &n)) return "ERR bad number '" + body_text + "'";
      event.header.fixed_header.event_type.type_name = "Long";
      event.remainder_of_body <<= static_cast<CORBA::Long>(n);
    } else if (kind == "EMPTY") {
      event.header.fixed_header.event_type.type_name = "Empty";
    } else {
      return "ERR unknown event kind '" + w[0] + "'";
    }
    host->channel().PublishRaw(event);
    return "OK " + std::to_string(host->channel().Consumers());
  }
  if (command == "SIMTIME") {
    double seconds = 0;
    if (args.size() != 1 || !ParseDouble(args[0], &seconds) || seconds < 0) {
      return "ERR usage: simtime SECONDS (0 or more)";
    }
    host->db().SetSimTime(seconds);
    return "OK";
  }
  if (command == "DBCHANGES") {
    long long n = 0;
    if (args.size() != 1 || !ParseLong(args[0], 0, 4294967295LL, &n)) {
      return "ERR usage: dbchanges COUNT (0 to 4294967295)";
    }
    host->db().SetChangeCount(static_cast<uint64_t>(n));
    return "OK";
  }
  if (command == "DRIVER") {
    if (args.size() != 2 || !IsValidTagName(args[0])) return "ERR usage: driver NAME HOST:PORT";
    host->db().SetDriverAddress(args[0], args[1]);
    return "OK";
  }
  return "ERR unknown command '" + head[0] + "'";
}

}  // namespace zl::sim
