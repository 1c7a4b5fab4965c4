// The control endpoint: a TCP line protocol on 127.0.0.1 for tests. Each
// line received is one command (ControlCommands); each gets one reply line.
//
// One accept thread, one thread per connection. Stop closes the listener
// and every connection and joins all threads. mu_ guards the connection
// list.
#ifndef ZL_SIM_CONTROL_ENDPOINT_H_
#define ZL_SIM_CONTROL_ENDPOINT_H_

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "control_commands.h"

namespace zl::sim {

class Server;

class ControlEndpoint {
 public:
  // The longest command line accepted.
  static constexpr size_t kMaxLine = 65536;

  explicit ControlEndpoint(Server* server);
  ~ControlEndpoint();  // Stop
  ControlEndpoint(const ControlEndpoint&) = delete;
  ControlEndpoint& operator=(const ControlEndpoint&) = delete;

  // Listens on 127.0.0.1:port (0: a free port). False, with a reason, when
  // the port cannot be bound.
  bool Start(int port, std::string* error);
  int port() const { return port_; }
  void Stop();

 private:
  struct Connection {
    int fd;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void Accept();
  void Serve(Connection* connection);
  void ReapFinished();  // mu_ held

  Server* const server_;
  ControlCommands commands_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;

  std::mutex mu_;
  std::list<std::unique_ptr<Connection>> connections_;  // guarded by mu_
};

}  // namespace zl::sim

#endif  // ZL_SIM_CONTROL_ENDPOINT_H_
