// The test services for GoogleTest: omniNames, omniEvents and zelvik-sim on
// free loopback ports, started for one test (or one test program) and always
// stopped.
//
// A Services object runs `tools/zl_services.py --serve` as a child process;
// that launcher starts the three services in a new temporary directory, waits
// until each answers and reports where they are. The destructor closes the
// launcher's standard input, which makes it stop everything and remove the
// directory; because the launcher watches that pipe, the services also stop
// when the test process crashes or is killed.
//
//   zl::testing::ServicesOptions options;
//   options.databases = {"SIM", "PLANT"};
//   options.tag_files = {"examples/plant.tags"};   // relative to the repository
//   zl::testing::Services services(options);      // throws if they do not come up
//   // client ORB: ORB_init with services.OrbArgs() plus
//   //   -ORBendPoint giop:tcp:127.0.0.1:
//   EXPECT_EQ("OK", services.Control("stop"));
//
// The repository and the zelvik-sim binary are found through definitions
// fixed at build time; the environment variable ZL_SIM (a path) overrides
// the server binary. Tests that use this must set OMNIORB_CONFIG=/dev/null
// (zl_add_gtest does).
//
// Threads: one thread at a time per object (the accessors are const and may
// be read from any thread while no fault helper runs).
#ifndef ZL_TESTS_SUPPORT_SERVICES_H_
#define ZL_TESTS_SUPPORT_SERVICES_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zl::testing {

struct ServicesOptions {
  // Databases the server creates and binds as {NAME, "ZelvikDatabase"};
  // empty: the server's default, one database "SIM".
  std::vector<std::string> databases;
  // Tag definition files loaded into every database at start. A relative
  // name is taken from the repository root (e.g. "examples/plant.tags").
  std::vector<std::string> tag_files;
  // Serve only ZelvikDatabase, with the legacy value-notifier binding.
  bool legacy = false;
  // Extra arguments for zelvik-sim (after the launcher's own).
  std::vector<std::string> sim_args;
  // Bound on the start of all services, in seconds.
  int start_timeout_s = 60;
};

class Services {
 public:
  // Starts the services and returns once all of them answer. Throws
  // std::runtime_error (with the launcher's reason) if they do not come up;
  // GoogleTest reports that as a failure of the test.
  explicit Services(const ServicesOptions& options = ServicesOptions());
  // Stops every service: closes the launcher's input, waits a bounded time
  // for it to finish, then kills it. Never throws.
  ~Services();
  Services(const Services&) = delete;
  Services& operator=(const Services&) = delete;

  // "-ORBInitRef NameService=corbaloc::127.0.0.1:PORT/NameService".
  const std::string& orb_options() const { return Var("ZL_ORB_OPTIONS"); }
  // orb_options() split at blanks, for an ORB_init argument vector.
  std::vector<std::string> OrbArgs() const;
  int naming_port() const;
  // The omniEvents factory: "corbaloc::127.0.0.1:PORT/omniEvents".
  const std::string& event_factory() const { return Var("ZL_EVENT_FACTORY"); }
  // The server's control endpoint, 127.0.0.1:control_port().
  int control_port() const;
  // Directory where the server writes NAME.txt (a database's IOR) per database.
  const std::string& ior_dir() const { return Var("ZL_IOR_DIR"); }
  // The host name the factory is bound under ({host, "ZelvikFactory"}).
  const std::string& host() const { return Var("ZL_HOST"); }
  // The server's process id (0 while it is stopped).
  pid_t sim_pid() const;
  // The temporary directory holding the services' data and logs.
  const std::string& directory() const { return Var("ZL_SERVICES_DIR"); }
  // Every variable the launcher reported (ZL_ORB_OPTIONS, ZL_NAMING_PORT, ...).
  const std::map<std::string, std::string>& variables() const { return vars_; }

  // One round trip on the control endpoint: sends `line` and gives the reply
  // line without its line end ("OK", "OK data" or "ERR reason"). A failure to
  // connect, send or receive within `timeout_ms` gives "ERR " and the cause.
  std::string Control(const std::string& line, int timeout_ms = 10000) const;

  // Fault helpers. Each returns true on success; on false, LastError() says why.
  bool StopSim();     // SIGTERM to the server, bounded wait (then SIGKILL)
  bool KillSim();     // SIGKILL to the server
  bool StartSim();    // starts a stopped server again (new control port)
  bool RestartSim();  // StopSim then StartSim
  bool PauseSim();    // SIGSTOP: the server accepts connections but never answers
  bool ResumeSim();   // SIGCONT
  const std::string& LastError() const { return last_error_; }

  // The repository root and the zelvik-sim binary fixed at build time.
  static std::string SourceDir();
  static std::string SimPath();

 private:
  const std::string& Var(const std::string& name) const;
  // Sends one command line to the launcher and reads its answer.
  bool Command(const std::string& command);
  // Reads NAME=VALUE lines into vars_ up to a final line; gives that line
  // ("" on timeout or end of input).
  std::string ReadAnswer(int timeout_ms);
  void Shutdown();

  pid_t launcher_ = -1;
  int to_launcher_ = -1;    // its standard input
  int from_launcher_ = -1;  // its standard output
  std::string pending_;     // bytes read from from_launcher_, not yet a line
  std::map<std::string, std::string> vars_;
  std::string last_error_;
};

// A GoogleTest environment holding one set of services for a whole test
// program, for suites that register it with ::testing::AddGlobalTestEnvironment.
// Get() is valid between SetUp and TearDown.
class ServicesEnvironment : public ::testing::Environment {
 public:
  explicit ServicesEnvironment(ServicesOptions options = ServicesOptions());
  void SetUp() override;
  void TearDown() override;
  static Services& Get();

 private:
  const ServicesOptions options_;
};

}  // namespace zl::testing

#endif  // ZL_TESTS_SUPPORT_SERVICES_H_
