// zl::testing::Services: the services come up and answer on loopback, the
// fault helpers do what they say, and nothing is left behind — neither after
// the object ends nor after the test process dies.
#include "support/services.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <omniORB4/CORBA.h>
#include <omniORB4/Naming.hh>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "zemr.hh"

extern char** environ;

namespace {

using zl::testing::Services;
using zl::testing::ServicesOptions;

// Polls `done` in 20 ms slices for up to `seconds`.
bool Eventually(const std::function<bool()>& done, int seconds = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Whether a process (not a zombie) with this id exists.
bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (pid <= 0 || !std::getline(stat, line)) return false;
  size_t paren = line.rfind(')');
  return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] != 'Z';
}

// Live processes whose command line mentions `text` (every service names its
// directory on its command line).
std::vector<pid_t> ProcessesMentioning(const std::string& text) {
  std::vector<pid_t> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  while (dirent* e = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
    if (pid <= 0 || pid == getpid()) continue;
    std::ifstream in("/proc/" + std::string(e->d_name) + "/cmdline");
    std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (cmdline.find(text) != std::string::npos && Running(pid)) found.push_back(pid);
  }
  closedir(proc);
  return found;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// All services of `dir` have ended and the directory is gone.
bool AllGone(const std::string& dir) {
  return ProcessesMentioning(dir).empty() && !Exists(dir);
}

// One client ORB for the test process, on loopback, with short time limits.
CORBA::ORB_ptr Orb() {
  static CORBA::ORB_ptr orb = [] {
    const char* args[] = {"services_test", "-ORBendPoint", "giop:tcp:127.0.0.1:",
                          "-ORBclientCallTimeOutPeriod", "10000",
                          "-ORBclientConnectTimeOutPeriod", "5000"};
    int argc = sizeof args / sizeof args[0];
    return CORBA::ORB_init(argc, const_cast<char**>(args), "omniORB4");
  }();
  return orb;
}

CosNaming::NamingContext_ptr NamingService(const Services& s) {
  CORBA::Object_var obj = Orb()->string_to_object(
      ("corbaloc::127.0.0.1:" + std::to_string(s.naming_port()) + "/NameService").c_str());
  return CosNaming::NamingContext::_narrow(obj);
}

// Resolves {id, kind} in the Naming Service; nil when it is not bound.
CORBA::Object_ptr Resolve(const Services& s, const std::string& id, const char* kind) {
  CosNaming::NamingContext_var naming = NamingService(s);
  CosNaming::Name name;
  name.length(1);
  name[0].id = id.c_str();
  name[0].kind = kind;
  try {
    return naming->resolve(name);
  } catch (const CosNaming::NamingContext::NotFound&) {
    return CORBA::Object::_nil();
  }
}

// The database `name` answers a call through its Naming Service binding.
void ExpectDatabaseAnswers(const Services& s, const std::string& name) {
  SCOPED_TRACE(name);
  CORBA::Object_var obj = Resolve(s, name, "ZelvikDatabase");
  ASSERT_FALSE(CORBA::is_nil(obj)) << name << " is not bound";
  ZEMR::ZelvikDatabase_var db = ZEMR::ZelvikDatabase::_narrow(obj);
  ASSERT_FALSE(CORBA::is_nil(db));
  EXPECT_GE(db->TagCount(), 0);
}

TEST(ServicesTest, ComeUpAndAnswerOnLoopback) {
  ServicesOptions options;
  options.databases = {"ALPHA", "BETA"};
  Services s(options);

  EXPECT_EQ("-ORBInitRef NameService=corbaloc::127.0.0.1:" + std::to_string(s.naming_port()) +
                "/NameService",
            s.orb_options());
  EXPECT_EQ(2u, s.OrbArgs().size());
  ExpectDatabaseAnswers(s, "ALPHA");
  ExpectDatabaseAnswers(s, "BETA");
  CORBA::Object_var factory = Resolve(s, s.host(), "ZelvikFactory");
  EXPECT_FALSE(CORBA::is_nil(factory)) << "no factory under host " << s.host();
  EXPECT_TRUE(Exists(s.ior_dir() + "/ALPHA.txt"));

  CORBA::Object_var events = Orb()->string_to_object(s.event_factory().c_str());
  EXPECT_FALSE(events->_non_existent());

  EXPECT_EQ("ERR ", s.Control("no-such-command").substr(0, 4));
  const pid_t sim = s.sim_pid();
  ASSERT_TRUE(Running(sim));
  EXPECT_EQ("OK", s.Control("stop"));
  EXPECT_TRUE(Eventually([&] { return !Running(sim); })) << "the server did not end on stop";
}

TEST(ServicesTest, NothingLeftAfterTheObjectEnds) {
  std::string dir;
  {
    Services s;
    dir = s.directory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(3u, ProcessesMentioning(dir).size());  // omniNames, omniEvents, zelvik-sim
  }
  EXPECT_TRUE(AllGone(dir));  // the destructor waits for the launcher
}

TEST(ServicesTest, FaultHelpers) {
  Services s;
  const pid_t first = s.sim_pid();

  ASSERT_TRUE(s.KillSim()) << s.LastError();
  EXPECT_TRUE(Eventually([&] { return !Running(first); }));
  EXPECT_EQ(0, s.sim_pid());
  EXPECT_EQ("ERR ", s.Control("stop").substr(0, 4));  // nothing to talk to

  ASSERT_TRUE(s.StartSim()) << s.LastError();
  EXPECT_NE(first, s.sim_pid());
  ExpectDatabaseAnswers(s, "SIM");  // bound again, at the new server

  // A paused server accepts the connection but never answers.
  ASSERT_TRUE(s.PauseSim()) << s.LastError();
  EXPECT_EQ("ERR no reply", s.Control("no-such-command", 300).substr(0, 12));
  ASSERT_TRUE(s.ResumeSim()) << s.LastError();
  EXPECT_EQ("ERR ", s.Control("no-such-command").substr(0, 4));

  const pid_t second = s.sim_pid();
  ASSERT_TRUE(s.RestartSim()) << s.LastError();
  EXPECT_FALSE(Running(second));
  ExpectDatabaseAnswers(s, "SIM");

  ASSERT_TRUE(s.StopSim()) << s.LastError();
  ASSERT_TRUE(s.StartSim()) << s.LastError();
  EXPECT_FALSE(s.StartSim());  // already running
  EXPECT_FALSE(s.LastError().empty());
}

TEST(ServicesTest, ServerThatCannotStartIsReported) {
  ServicesOptions options;
  options.tag_files = {"no/such/file.tags"};
  try {
    Services s(options);
    FAIL() << "services came up with a missing tag file";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("zelvik-sim")) << e.what();
  }
}

// A test process that dies without any cleanup of its own (SIGKILL): its
// launcher sees its input close and stops every service.
TEST(ServicesTest, StopAfterTheTestProcessDies) {
  int out[2];
  ASSERT_EQ(0, pipe(out));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const char* path = ZL_SERVICES_CRASH_CHILD;
  char* const argv[] = {const_cast<char*>(path), nullptr};
  pid_t child;
  ASSERT_EQ(0, posix_spawn(&child, path, &actions, nullptr, argv, environ));
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);

  std::string report;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child: " << report;

  std::istringstream in(report);
  std::string dir;
  pid_t sim = 0;
  ASSERT_TRUE(in >> dir >> sim) << "child: " << report;
  EXPECT_TRUE(Eventually([&] { return AllGone(dir) && !Running(sim); }))
      << ProcessesMentioning(dir).size() << " processes left, directory "
      << (Exists(dir) ? "left" : "gone");
}

}  // namespace
