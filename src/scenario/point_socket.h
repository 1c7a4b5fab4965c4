// The datagram socket of PT_ENABLE and PT_DISABLE: one per scenario, bound to
// any local port, sending point enables to the plant's drivers.
//
// Threads: used by the scenario's worker only.
#ifndef ZL_SCENARIO_POINT_SOCKET_H_
#define ZL_SCENARIO_POINT_SOCKET_H_

#include <cstddef>

namespace zl {

class PointSocket {
 public:
  PointSocket() = default;
  ~PointSocket();
  PointSocket(const PointSocket&) = delete;
  PointSocket& operator=(const PointSocket&) = delete;

  // Opens and binds the socket; false when it cannot (every send then fails).
  bool Open();
  // Sends `size` bytes of `data` as one datagram to `remote` ("host:port");
  // false when the socket is closed, the address does not parse or the send
  // fails.
  bool Send(const char* remote, const char* data, std::size_t size);

 private:
  int fd_ = -1;
};

}  // namespace zl

#endif  // ZL_SCENARIO_POINT_SOCKET_H_
