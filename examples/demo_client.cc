// A small client of a Zelvik database on the generated ZEMR stubs: finds the
// database through the Naming Service, starts its simulation, prints a few
// tags once a second while their values move, and prints the server's
// messages as they arrive on its message channel (an Event Service pull
// consumer). scripts/demo runs it against zelvik-sim and the example plant.
//
//   demo_client [--db NAME] [--seconds N] [TAG...]
//
// The Naming Service comes from ORB options in $ZL_ORB_OPTIONS (as the
// services launcher sets it), e.g. "-ORBInitRef NameService=corbaloc::...";
// the database defaults to the first of $ZL_DATABASES, else "SIM". Without
// TAG arguments it shows up to six tags, analog ones first. Exit status: 0,
// 1 when the server cannot be reached, 2 for bad arguments.
#include <COS/CosEventChannelAdmin.hh>
#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "zemr.hh"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kDefaultTagCount = 6;
constexpr size_t kColumnWidth = 12;

struct Options {
  std::string database;
  int seconds = 5;
  std::vector<std::string> tags;
};

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// Parses the command line into `options`; false (with a message) on bad input.
bool ParseOptions(int argc, char** argv, Options* options) {
  const std::string databases = Env("ZL_DATABASES");
  options->database = databases.empty() ? "SIM" : databases.substr(0, databases.find(','));
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--db" || a == "--seconds") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (a == "--db") {
        options->database = value;
      } else {
        char* end = nullptr;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (*end != '\0' || n < 1 || n > 3600) {
          std::cerr << "demo_client: --seconds wants 1..3600, not \"" << value << "\"\n";
          return false;
        }
        options->seconds = static_cast<int>(n);
      }
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "usage: demo_client [--db NAME] [--seconds N] [TAG...]\n";
      return false;
    } else {
      options->tags.push_back(a);
    }
  }
  return true;
}

const char* MessageTypeName(ZEMR::ZLMessageType type) {
  switch (type) {
    case ZEMR::ErrorMsg: return "error";
    case ZEMR::WarningMsg: return "warning";
    case ZEMR::InfoMsg: return "info";
    case ZEMR::DebugMsg: return "debug";
    default: return "message";
  }
}

bool IsAnalog(ZEMR::ZLTagType type) {
  return type == ZEMR::Analog || type == ZEMR::AnalogIn || type == ZEMR::AnalogOut ||
         type == ZEMR::CalcBlock;
}

// The server's messages as an Event Service pull consumer. The channel
// only hands out what is pushed after the connection is made.
class MessageReader {
 public:
  // Connects to the channel whose reference `ior` is; an empty or unusable
  // reference leaves the reader unconnected (Drain then prints nothing).
  MessageReader(CORBA::ORB_ptr orb, const std::string& ior) {
    if (ior.empty()) {
      std::cout << "(the server publishes no messages)\n";
      return;
    }
    try {
      CORBA::Object_var obj = orb->string_to_object(ior.c_str());
      CosEventChannelAdmin::EventChannel_var channel =
          CosEventChannelAdmin::EventChannel::_narrow(obj);
      CosEventChannelAdmin::ConsumerAdmin_var admin = channel->for_consumers();
      supplier_ = admin->obtain_pull_supplier();
      supplier_->connect_pull_consumer(CosEventComm::PullConsumer::_nil());
    } catch (const CORBA::Exception& e) {
      std::cout << "(cannot connect to the message channel: " << e._name() << ")\n";
      supplier_ = CosEventChannelAdmin::ProxyPullSupplier::_nil();
    }
  }

  ~MessageReader() {
    if (CORBA::is_nil(supplier_)) return;
    try {
      supplier_->disconnect_pull_supplier();
    } catch (const CORBA::Exception&) {
      // The channel is gone already: nothing to release.
    }
  }

  // Prints every message that is waiting; never blocks.
  void Drain() {
    if (CORBA::is_nil(supplier_)) return;
    try {
      for (;;) {
        CORBA::Boolean has_event = false;
        CORBA::Any_var event = supplier_->try_pull(has_event);
        if (!has_event) return;
        const ZEMR::ZLMessage* m = nullptr;
        if (event.in() >>= m) {
          std::cout << "  message [" << MessageTypeName(m->msgType) << "] "
                    << m->sourceRoutine.in() << ": " << m->msgText.in() << "\n";
        }
      }
    } catch (const CORBA::Exception& e) {
      std::cout << "(message channel lost: " << e._name() << ")\n";
      supplier_ = CosEventChannelAdmin::ProxyPullSupplier::_nil();
    }
  }

 private:
  CosEventChannelAdmin::ProxyPullSupplier_var supplier_;
};

// Every tag name of the database, in the server's order.
std::vector<std::string> AllTags(ZEMR::ZelvikDatabase_ptr db) {
  std::vector<std::string> names;
  const CORBA::Long count = db->TagCount();
  for (CORBA::Long i = 0; i < count; ++i) {
    try {
      CORBA::String_var name = db->TagWithOffset(i);
      names.emplace_back(name.in());
    } catch (const ZEMR::ZLTagNotFound&) {
      break;
    }
  }
  return names;
}

// Up to kDefaultTagCount tags: analog ones first, then the others.
std::vector<std::string> PickTags(ZEMR::ZelvikDatabase_ptr db) {
  const std::vector<std::string> all = AllTags(db);
  ZEMR::ZLTagList list;
  list.length(static_cast<CORBA::ULong>(all.size()));
  for (CORBA::ULong i = 0; i < list.length(); ++i) list[i] = all[i].c_str();
  ZEMR::ZLTagStatusPayload_var status;
  db->GetMultiTag(list, status.out());
  std::vector<std::string> analog, other;
  for (CORBA::ULong i = 0; i < status->length() && i < all.size(); ++i) {
    (IsAnalog(status[i].ttype) ? analog : other).push_back(all[i]);
  }
  analog.insert(analog.end(), other.begin(), other.end());
  if (analog.size() > kDefaultTagCount) analog.resize(kDefaultTagCount);
  return analog;
}

// The width of a tag's column: its name and two blanks, at least kColumnWidth.
size_t ColumnWidth(const std::string& name) {
  return std::max(kColumnWidth, name.size() + 2);
}

// `text` right-aligned in `width` characters (cut to width - 1).
std::string Cell(const std::string& text, size_t width) {
  const std::string cell = text.size() >= width ? text.substr(0, width - 1) : text;
  return std::string(width - cell.size(), ' ') + cell;
}

// One row: the elapsed seconds, then each tag's value as the server formats it.
void PrintRow(ZEMR::ZelvikDatabase_ptr db, const std::vector<std::string>& names,
              const ZEMR::ZLTagList& tags, double seconds) {
  ZEMR::ZLTagStatusPayload_var status;
  db->GetMultiTag(tags, status.out());
  char when[32];
  std::snprintf(when, sizeof when, "%6.1f s", seconds);
  std::string row = when;
  for (CORBA::ULong i = 0; i < status->length() && i < names.size(); ++i) {
    row += Cell(status[i].pvestr.in(), ColumnWidth(names[i]));
  }
  std::cout << row << "\n";
}

int Run(CORBA::ORB_ptr orb, const Options& options) {
  CORBA::Object_var obj = orb->resolve_initial_references("NameService");
  CosNaming::NamingContext_var naming = CosNaming::NamingContext::_narrow(obj);
  CosNaming::Name name;
  name.length(1);
  name[0].id = options.database.c_str();
  name[0].kind = "ZelvikDatabase";
  ZEMR::ZelvikDatabase_var db = ZEMR::ZelvikDatabase::_narrow(naming->resolve(name));

  CORBA::String_var kernel = db->HelloZL("$KERNEL.NAME");
  CORBA::String_var version = db->HelloZL("$KERNEL.VERSION");
  std::cout << "database " << options.database << ": kernel " << kernel.in() << ", version "
            << version.in() << ", " << db->TagCount() << " tags\n";

  CORBA::String_var channel = db->GetIORMessageChannel();
  MessageReader messages(orb, channel.in());

  const std::vector<std::string> names = options.tags.empty() ? PickTags(db) : options.tags;
  ZEMR::ZLTagList tags;
  tags.length(static_cast<CORBA::ULong>(names.size()));
  std::string header = "  time  ";
  for (CORBA::ULong i = 0; i < tags.length(); ++i) {
    tags[i] = names[i].c_str();
    header += Cell(names[i], ColumnWidth(names[i]));
  }

  std::cout << "starting the simulation (calculations and I/O on)\n";
  db->EnableAlgs(true);
  db->IOStart();
  std::cout << header << "\n";
  const auto start = Clock::now();
  for (int tick = 0; tick <= options.seconds; ++tick) {
    // Once a second a row; in between, messages as they come.
    const auto due = start + std::chrono::seconds(tick);
    while (Clock::now() < due) {
      messages.Drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    PrintRow(db, names, tags, std::chrono::duration<double>(Clock::now() - start).count());
    if (tick == options.seconds / 2) {
      std::cout << "writing to a tag that does not exist (the server reports it)\n";
      try {
        db->SetPVE("NO.SUCH.TAG", 1.0);
      } catch (const ZEMR::ZLTagNotFound&) {
        std::cout << "  SetPVE(\"NO.SUCH.TAG\") raised ZLTagNotFound\n";
      }
    }
  }
  std::cout << "stopping I/O\n";
  db->IOStop();
  // Give the last messages a moment to travel through the channel.
  const auto last = Clock::now() + std::chrono::milliseconds(500);
  while (Clock::now() < last) {
    messages.Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;
  if (Env("ZL_ORB_OPTIONS").empty() && Env("ORBInitRef").empty()) {
    std::cerr << "demo_client: no Naming Service: set ZL_ORB_OPTIONS to \"-ORBInitRef "
                 "NameService=corbaloc::127.0.0.1:PORT/NameService\" (tools/zl_services.py "
                 "does)\n";
    return 2;
  }

  // The ORB's arguments: the launcher's options, then loopback only and
  // bounded waits so that a server that is gone cannot hang the demo.
  std::vector<std::string> args = {argv[0]};
  std::istringstream orb_options(Env("ZL_ORB_OPTIONS"));
  for (std::string word; orb_options >> word;) args.push_back(word);
  for (const char* a : {"-ORBendPoint", "giop:tcp:127.0.0.1:", "-ORBclientCallTimeOutPeriod",
                        "10000", "-ORBclientConnectTimeOutPeriod", "5000"}) {
    args.emplace_back(a);
  }
  std::vector<char*> orb_argv;
  for (std::string& a : args) orb_argv.push_back(a.data());
  int orb_argc = static_cast<int>(orb_argv.size());

  int status = 1;
  CORBA::ORB_var orb;
  try {
    orb = CORBA::ORB_init(orb_argc, orb_argv.data(), "omniORB4");
    status = Run(orb, options);
  } catch (const CosNaming::NamingContext::NotFound&) {
    std::cerr << "demo_client: database \"" << options.database
              << "\" is not bound in the Naming Service\n";
  } catch (const CORBA::ORB::InvalidName&) {
    std::cerr << "demo_client: the ORB options name no Naming Service\n";
  } catch (const CORBA::SystemException& e) {
    std::cerr << "demo_client: " << e._name() << " (minor " << e.minor() << ")\n";
  } catch (const CORBA::Exception& e) {
    std::cerr << "demo_client: " << e._name() << "\n";
  }
  if (!CORBA::is_nil(orb)) {
    try {
      orb->destroy();
    } catch (const CORBA::Exception&) {
      // Exiting anyway.
    }
  }
  return status;
}
