#include "control_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zl::bench {

ControlLink::~ControlLink() {
  if (fd_ >= 0) ::close(fd_);
}

bool ControlLink::Open(int port, std::string* error) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  timeval limit{30, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = "control endpoint 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool ControlLink::Send(const std::vector<std::string>& commands,
                       std::vector<std::string>* replies) {
  replies->clear();
  if (fd_ < 0) return false;
  std::string out;
  for (const std::string& c : commands) out += c + "\n";
  for (size_t sent = 0; sent < out.size();) {
    const ssize_t n = ::send(fd_, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  for (size_t i = 0; i < commands.size(); ++i) {
    std::string line;
    if (!ReadLine(&line)) return false;
    replies->push_back(std::move(line));
  }
  return true;
}

std::string ControlLink::Command(const std::string& command) {
  std::vector<std::string> replies;
  return Send({command}, &replies) ? replies.front() : std::string();
}

int64_t ControlLink::StatusValue(const std::string& key) {
  const std::string reply = " " + Command("status") + " ";
  const size_t at = reply.find(" " + key + "=");
  if (at == std::string::npos) return -1;
  const char* digits = reply.c_str() + at + key.size() + 2;
  char* end = nullptr;
  const long long value = std::strtoll(digits, &end, 10);
  return end != digits ? value : -1;
}

bool ControlLink::ReadLine(std::string* line) {
  while (true) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      line->assign(pending_, 0, end);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      pending_.erase(0, end + 1);
      return true;
    }
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // closed, failed, or no reply within the limit
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace zl::bench
