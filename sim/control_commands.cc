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

struct Request;
using Handler = std::string (*)(const Request&);

// One row of the command set (kCommands below).
struct Command {
  const char* name;      // the command word, matched without regard to case
  const char* operands;  // for the usage error; "" for none
  Handler handler;
};

// One command line as its handler sees it. Everything lives for the call.
struct Request {
  const Command& command;
  Server& server;
  DatabaseHost& host;                    // the addressed database
  const std::string& rest;               // the text after the command word, untouched
  const std::vector<std::string>& args;  // `rest` split at blanks
  bool* stop;                            // set to stop once the reply is sent

  // The reply to operands the command cannot take.
  std::string Usage() const { return std::string("ERR usage: ") + command.name + " " + command.operands; }
};

// ping
std::string Ping(const Request&) { return "OK"; }

// stop
std::string Stop(const Request& r) {
  *r.stop = true;
  return "OK";
}

std::string Help(const Request&);

// databases
std::string Databases(const Request& r) {
  std::string names;
  for (const std::string& n : r.server.DatabaseNames()) names += (names.empty() ? "" : ",") + n;
  return "OK " + names;
}

// status
std::string Status(const Request& r) {
  DatabaseHost& host = r.host;
  TagDatabase& db = host.db();
  char simtime[32];
  std::snprintf(simtime, sizeof simtime, "%.3f", db.SimTime());
  return "OK database=" + host.name() + " tags=" + std::to_string(db.Count()) +
         " simtime=" + simtime + " cycles=" + std::to_string(db.Cycles()) +
         " cycletime=" + FormatDouble(host.loop().CycleTime()) +
         " warp=" + FormatDouble(host.loop().Warp()) +
         " algs=" + (db.AlgorithmsEnabled() ? "1" : "0") + " io=" + (db.IoEnabled() ? "1" : "0") +
         " held=" + (host.loop().Held() ? "1" : "0") +
         " dbchanges=" + std::to_string(db.ChangeCount()) +
         " consumers=" + std::to_string(host.channel().Consumers()) +
         " events=" + std::to_string(host.channel().Delivered()) +
         " dropped_events=" + std::to_string(host.channel().Dropped()) +
         " messages=" + std::to_string(host.MessagesPublished()) +
         " dropped_messages=" + std::to_string(host.MessagesDropped()) +
         " iterators=" + std::to_string(r.server.iterators().Live()) +
         " faults=" + std::to_string(r.server.faults().Pending());
}

// message TYPE ROUTINE [TEXT...]
std::string Message(const Request& r) {
  std::string message_text;
  const std::vector<std::string> w = Words(r.rest, 2, &message_text);
  uint32_t type = 0;
  if (w.size() < 2) return r.Usage();
  if (!ParseMessageType(w[0], &type)) return "ERR bad message type '" + w[0] + "'";
  r.host.Publish(type, w[1], message_text);
  return "OK";
}

// fail OPERATION EXCEPTION [count=N] [minor=N] [completed=yes|no|maybe]
std::string Fail(const Request& r) {
  const std::vector<std::string>& args = r.args;
  if (args.size() < 2) return r.Usage();
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
  r.server.faults().Arm(args[0], fault);
  return "OK";
}

// delay OPERATION MILLISECONDS [count=N]
std::string Delay(const Request& r) {
  const std::vector<std::string>& args = r.args;
  long long ms = 0;
  if (args.size() < 2) return r.Usage();
  if (!FaultTable::IsOperation(args[0])) return "ERR unknown operation '" + args[0] + "'";
  if (!ParseLong(args[1], 0, 3600000, &ms)) return "ERR bad delay '" + args[1] + "'";
  Fault fault;
  fault.kind = Fault::kDelay;
  fault.delay_ms = static_cast<int>(ms);
  std::string error;
  if (!ParseFaultOptions(args, 2, &fault, &error)) return "ERR " + error;
  r.server.faults().Arm(args[0], fault);
  return "OK";
}

// clear
std::string Clear(const Request& r) {
  r.server.faults().Clear();
  r.server.iterators().ArmEndless(-1);
  return "OK";
}

// tagfile endless BYTES | tagfile normal
std::string TagFile(const Request& r) {
  long long n = 0;
  if (r.args.size() == 1 && EqualsIgnoreCase(r.args[0], "normal")) {
    r.server.iterators().ArmEndless(-1);
    return "OK";
  }
  if (r.args.size() != 2 || !EqualsIgnoreCase(r.args[0], "endless") ||
      !ParseLong(r.args[1], 0, 16 << 20, &n)) {
    return r.Usage();
  }
  r.server.iterators().ArmEndless(static_cast<long>(n));
  return "OK";
}

// faults
std::string Faults(const Request& r) { return "OK " + std::to_string(r.server.faults().Pending()); }

// event seq [NAME:EU:PV:MODE...] | event text TEXT... | event long N | event empty
std::string Event(const Request& r) {
  std::string body_text;
  const std::vector<std::string> w = Words(r.rest, 1, &body_text);
  if (w.empty()) return r.Usage();
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
  r.host.channel().PublishRaw(event);
  return "OK " + std::to_string(r.host.channel().Consumers());
}

// simtime SECONDS
std::string SimTime(const Request& r) {
  double seconds = 0;
  if (r.args.size() != 1 || !ParseDouble(r.args[0], &seconds) || seconds < 0) return r.Usage();
  r.host.db().SetSimTime(seconds);
  return "OK";
}

// dbchanges COUNT
std::string DbChanges(const Request& r) {
  long long n = 0;
  if (r.args.size() != 1 || !ParseLong(r.args[0], 0, 4294967295LL, &n)) return r.Usage();
  r.host.db().SetChangeCount(static_cast<uint64_t>(n));
  return "OK";
}

// driver NAME HOST:PORT
std::string Driver(const Request& r) {
  if (r.args.size() != 2 || !IsValidTagName(r.args[0])) return r.Usage();
  r.host.db().SetDriverAddress(r.args[0], r.args[1]);
  return "OK";
}

// The command set, in the order `help` lists it. To add a command: write
// its handler above (reply "OK", "OK data" or "ERR reason"; r.Usage() for
// operands it cannot take), add its row here, and document it in the
// control endpoint table of docs/zelvik-sim.md.
const Command kCommands[] = {
    {"ping", "", Ping},
    {"stop", "", Stop},
    {"help", "", Help},
    {"databases", "", Databases},
    {"status", "", Status},
    {"message", "TYPE ROUTINE [TEXT...]", Message},
    {"fail", "OPERATION EXCEPTION [count=N] [minor=N] [completed=yes|no|maybe]", Fail},
    {"delay", "OPERATION MILLISECONDS [count=N]", Delay},
    {"clear", "", Clear},
    {"faults", "", Faults},
    {"event", "seq|text|long|empty ...", Event},
    {"simtime", "SECONDS (0 or more)", SimTime},
    {"dbchanges", "COUNT (0 to 4294967295)", DbChanges},
    {"driver", "NAME HOST:PORT", Driver},
    {"tagfile", "endless BYTES (0 to 16777216) | tagfile normal", TagFile},
};

// help: "OK" and the command names.
std::string Help(const Request&) {
  std::string reply = "OK";
  for (const Command& c : kCommands) reply += std::string(" ") + c.name;
  return reply;
}

const Command* FindCommand(const std::string& word) {
  for (const Command& c : kCommands) {
    if (EqualsIgnoreCase(word, c.name)) return &c;
  }
  return nullptr;
}

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

  DatabaseHost* host = db_name.empty() ? server_->FirstDatabase() : server_->FindDatabase(db_name);
  if (host == nullptr) return "ERR unknown database '" + db_name + "'";
  const Command* command = FindCommand(head[0]);
  if (command == nullptr) return "ERR unknown command '" + head[0] + "'";

  const std::vector<std::string> args = Words(rest);
  return command->handler(Request{*command, *server_, *host, rest, args, stop});
}

}  // namespace zl::sim
