#include "control_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "server.h"

namespace zl::sim {
namespace {

bool SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

ControlEndpoint::ControlEndpoint(Server* server) : server_(server), commands_(server) {}

ControlEndpoint::~ControlEndpoint() { Stop(); }

bool ControlEndpoint::Start(int port, std::string* error) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t len = sizeof addr;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 16) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    *error = "control port " + std::to_string(port) + ": " + std::strerror(errno);
    ::close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread(&ControlEndpoint::Accept, this);
  return true;
}

void ControlEndpoint::Stop() {
  if (stopping_.exchange(true)) return;
  // Wakes the acceptor's poll at once (a listening socket shut down reads
  // as ready, and accept then fails), so that a stop takes no poll slice.
  if (listen_fd_ >= 0) ::shutdown(listen_fd_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_fd_ = -1;
  std::list<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mu_);
    connections.swap(connections_);
  }
  for (auto& c : connections) ::shutdown(c->fd, SHUT_RDWR);
  for (auto& c : connections) {
    if (c->thread.joinable()) c->thread.join();
    ::close(c->fd);
  }
}

void ControlEndpoint::ReapFinished() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->done.load()) {
      (*it)->thread.join();
      ::close((*it)->fd);
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void ControlEndpoint::Accept() {
  while (!stopping_.load()) {
    pollfd p{listen_fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, 200);
    if (ready <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mu_);
    ReapFinished();
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    connections_.push_back(std::move(connection));
    raw->thread = std::thread(&ControlEndpoint::Serve, this, raw);
  }
}

void ControlEndpoint::Serve(Connection* connection) {
  std::string buffer;
  char chunk[4096];
  bool open = true;
  while (open && !stopping_.load()) {
    const ssize_t n = ::recv(connection->fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer.append(chunk, static_cast<size_t>(n));
    size_t end;
    while (open && (end = buffer.find('\n')) != std::string::npos) {
      std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      bool stop = false;
      const std::string reply = commands_.Execute(line, &stop);
      open = SendAll(connection->fd, reply + "\n");
      if (stop) server_->RequestStop(0);
    }
    if (buffer.size() > kMaxLine) {
      SendAll(connection->fd, "ERR line too long\n");
      break;
    }
  }
  connection->done.store(true);
}

}  // namespace zl::sim
