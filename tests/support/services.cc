// The launcher child of zl::testing::Services and its line protocol (see
// tools/zl_services.py, "--serve").
#include "support/services.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

#ifndef ZL_SOURCE_DIR
#error "ZL_SOURCE_DIR (the repository root) must be defined by the build"
#endif
#ifndef ZL_SIM_PATH
#error "ZL_SIM_PATH (the zelvik-sim binary) must be defined by the build"
#endif

namespace zl::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Bound on the launcher's own end once its input is closed: it stops the
// server (at most 10 s before SIGKILL) and both daemons.
constexpr int kLauncherStopMs = 40000;
// Bound on a fault helper (a restart waits for the server's ready line).
constexpr int kCommandMs = 70000;

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

int MillisLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Writes all of `data` to a pipe whose reader may be gone: a SIGPIPE raised
// by this thread is blocked and consumed, so that the write fails with EPIPE
// instead of ending the test process.
bool WriteAllNoSigpipe(int fd, const std::string& data) {
  sigset_t pipe_set, old_set;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_set, &old_set);
  bool ok = true;
  bool got_epipe = false;
  for (size_t done = 0; done < data.size();) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      got_epipe = errno == EPIPE;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (got_epipe) {
    const timespec zero = {0, 0};
    while (sigtimedwait(&pipe_set, nullptr, &zero) == -1 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_set, nullptr);
  return ok;
}

// Connects to 127.0.0.1:port within the deadline; gives the socket or -1
// with `error` set.
int ConnectLoopback(int port, Clock::time_point deadline, std::string* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = Errno("socket");
    return -1;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) {
      *error = Errno("connect");
      ::close(fd);
      return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int r = ::poll(&p, 1, MillisLeft(deadline));
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (r <= 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0 ||
        so_error != 0) {
      *error = r == 0 ? std::string("connect: timed out")
                      : std::string("connect: ") + std::strerror(so_error ? so_error : errno);
      ::close(fd);
      return -1;
    }
  }
  return fd;
}

}  // namespace

Services::Services(const ServicesOptions& options) {
  std::vector<std::string> args = {SourceDir() + "/tools/zl_services.py", "--serve"};
  if (std::getenv("ZL_SIM") == nullptr) args.push_back("--sim=" + SimPath());
  args.push_back("--timeout=" + std::to_string(options.start_timeout_s));
  for (const std::string& db : options.databases) args.push_back("--db=" + db);
  for (const std::string& tags : options.tag_files) {
    args.push_back("--tags=" + (!tags.empty() && tags[0] == '/' ? tags : SourceDir() + "/" + tags));
  }
  if (options.legacy) args.push_back("--legacy");
  // "--sim-arg=VALUE": VALUE may itself begin with '-'.
  for (const std::string& a : options.sim_args) args.push_back("--sim-arg=" + a);

  int in_pipe[2], out_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error(Errno("pipe2"));
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    ::close(in_pipe[0]);
    ::close(in_pipe[1]);
    throw std::runtime_error(Errno("pipe2"));
  }
  // dup2 in the child clears close-on-exec on 0 and 1 only; every other
  // descriptor of ours stays closed for it.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  to_launcher_ = in_pipe[1];
  from_launcher_ = out_pipe[0];
  if (rc != 0) {
    Shutdown();
    throw std::runtime_error(std::string("cannot run ") + argv[0] + ": " + std::strerror(rc));
  }
  launcher_ = pid;

  std::string last = ReadAnswer((options.start_timeout_s * 3 + 10) * 1000);
  if (last != "READY") {
    Shutdown();
    throw std::runtime_error("the test services did not come up: " +
                             (last.empty() ? std::string("no answer from the launcher") : last));
  }
}

Services::~Services() { Shutdown(); }

void Services::Shutdown() {
  if (to_launcher_ >= 0) ::close(to_launcher_);  // the launcher stops everything
  to_launcher_ = -1;
  if (launcher_ > 0) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kLauncherStopMs);
    pid_t r = 0;
    while ((r = ::waitpid(launcher_, nullptr, WNOHANG)) == 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (r == 0) {
      ::kill(launcher_, SIGKILL);  // its services die with it
      ::waitpid(launcher_, nullptr, 0);
    }
    launcher_ = -1;
  }
  if (from_launcher_ >= 0) ::close(from_launcher_);
  from_launcher_ = -1;
}

std::string Services::ReadAnswer(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      size_t eq = line.find('=');
      if (line.compare(0, 3, "ZL_") == 0 && eq != std::string::npos) {
        vars_[line.substr(0, eq)] = line.substr(eq + 1);
      } else {
        return line;
      }
    }
    pollfd p{from_launcher_, POLLIN, 0};
    int r = ::poll(&p, 1, MillisLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return "";
    char buffer[4096];
    ssize_t n = ::read(from_launcher_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool Services::Command(const std::string& command) {
  if (to_launcher_ < 0 || !WriteAllNoSigpipe(to_launcher_, command + "\n")) {
    last_error_ = "the launcher is gone";
    return false;
  }
  std::string last = ReadAnswer(kCommandMs);
  if (last == "OK") {
    last_error_.clear();
    return true;
  }
  last_error_ = last.empty() ? "no answer from the launcher to " + command : last;
  return false;
}

bool Services::StopSim() { return Command("stop-sim"); }
bool Services::KillSim() { return Command("kill-sim"); }
bool Services::StartSim() { return Command("start-sim"); }
bool Services::RestartSim() { return Command("restart-sim"); }
bool Services::PauseSim() { return Command("pause-sim"); }
bool Services::ResumeSim() { return Command("resume-sim"); }

const std::string& Services::Var(const std::string& name) const {
  static const std::string kEmpty;
  auto it = vars_.find(name);
  return it == vars_.end() ? kEmpty : it->second;
}

std::vector<std::string> Services::OrbArgs() const {
  std::vector<std::string> out;
  std::istringstream in(orb_options());
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

int Services::naming_port() const { return std::atoi(Var("ZL_NAMING_PORT").c_str()); }
int Services::control_port() const { return std::atoi(Var("ZL_CONTROL_PORT").c_str()); }
pid_t Services::sim_pid() const {
  return static_cast<pid_t>(std::atol(Var("ZL_SIM_PID").c_str()));
}

std::string Services::Control(const std::string& line, int timeout_ms) const {
  if (control_port() <= 0) return "ERR the server is not running";
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string error;
  int fd = ConnectLoopback(control_port(), deadline, &error);
  if (fd < 0) return "ERR " + error;
  std::string out = line + "\n";
  for (size_t done = 0; done < out.size();) {
    ssize_t n = ::send(fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, MillisLeft(deadline)) <= 0) break;
      continue;
    }
    if (n < 0) break;
    done += static_cast<size_t>(n);
  }
  std::string reply;
  for (;;) {
    size_t end = reply.find('\n');
    if (end != std::string::npos) {
      reply.erase(end);
      if (!reply.empty() && reply.back() == '\r') reply.pop_back();
      ::close(fd);
      return reply;
    }
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, MillisLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      ::close(fd);
      return "ERR no reply to \"" + line + "\" within " + std::to_string(timeout_ms) + " ms";
    }
    char buffer[4096];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      ::close(fd);
      return "ERR connection closed before a reply to \"" + line + "\"";
    }
    reply.append(buffer, static_cast<size_t>(n));
  }
}

std::string Services::SourceDir() { return ZL_SOURCE_DIR; }

std::string Services::SimPath() {
  const char* env = std::getenv("ZL_SIM");
  return env != nullptr && *env != '\0' ? env : ZL_SIM_PATH;
}

// --- ServicesEnvironment ---------------------------------------------------

namespace {
std::unique_ptr<Services>& EnvironmentServices() {
  static std::unique_ptr<Services> services;
  return services;
}
}  // namespace

ServicesEnvironment::ServicesEnvironment(ServicesOptions options)
    : options_(std::move(options)) {}

void ServicesEnvironment::SetUp() {
  EnvironmentServices() = std::make_unique<Services>(options_);
}

void ServicesEnvironment::TearDown() { EnvironmentServices().reset(); }

Services& ServicesEnvironment::Get() {
  if (!EnvironmentServices()) {
    throw std::logic_error("ServicesEnvironment::Get() outside SetUp/TearDown");
  }
  return *EnvironmentServices();
}

}  // namespace zl::testing
