// The commands of the control endpoint: one line in, one reply line out
// ("OK", "OK data" or "ERR reason"). The command set is one table in
// control_commands.cc (name, operands, handler), which also gives the
// `help` reply and the usage errors; it is documented in
// docs/zelvik-sim.md. Thread-safe (each command uses thread-safe parts of
// the server).
#ifndef ZL_SIM_CONTROL_COMMANDS_H_
#define ZL_SIM_CONTROL_COMMANDS_H_

#include <string>

namespace zl::sim {

class Server;

class ControlCommands {
 public:
  explicit ControlCommands(Server* server) : server_(server) {}

  // Runs one command line; `stop` is set when the server is to stop once
  // the reply has been sent.
  std::string Execute(const std::string& line, bool* stop);

 private:
  Server* const server_;
};

}  // namespace zl::sim

#endif  // ZL_SIM_CONTROL_COMMANDS_H_
