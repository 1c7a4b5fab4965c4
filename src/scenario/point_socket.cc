#include "scenario/point_socket.h"

#include <ace/INET_Addr.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zl {

PointSocket::~PointSocket() {
  if (fd_ >= 0) ::close(fd_);
}

bool PointSocket::Open() {
  if (fd_ >= 0) return true;
  fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd_ < 0) return false;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  any.sin_port = 0;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool PointSocket::Send(const char* remote, const char* data, std::size_t size) {
  ACE_INET_Addr address;
  if (fd_ < 0 || remote == nullptr || remote[0] == '\0' || address.set(remote) != 0) return false;
  const ssize_t n = ::sendto(fd_, data, size, 0, static_cast<const sockaddr*>(address.get_addr()),
                             address.get_addr_size());
  return n >= 0;
}

}  // namespace zl
