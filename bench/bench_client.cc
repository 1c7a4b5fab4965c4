#include "bench_client.h"

#include <stdlib.h>

#include <cstdlib>

namespace zl::bench {
namespace {

BenchClient* instance = nullptr;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

}  // namespace

bool BenchClient::Connect(std::string* error) {
  const std::string options = Env("ZL_ORB_OPTIONS");
  const std::string port = Env("ZL_CONTROL_PORT");
  if (options.empty() || port.empty()) {
    *error = "ZL_ORB_OPTIONS or ZL_CONTROL_PORT is not set: run under tools/zl_services.py "
             "(scripts/bench does)";
    return false;
  }
  // Read by the ORB holder when the first client initialises the ORB: the
  // client ORB then listens and publishes on loopback only.
  setenv("Zelvik_Interface", "127.0.0.1", 1);

  static BenchClient client;
  client.sim_ = std::make_unique<ZLSim>(options.c_str());
  const std::string databases = Env("ZL_DATABASES");
  const std::string name = databases.empty() ? "SIM" : databases.substr(0, databases.find(','));
  if (client.sim_->Connect(name.c_str()) != 0) {
    *error = "cannot connect to database " + name + ": " + client.sim_->lastErrorText();
    return false;
  }
  client.tags_ = BenchTagNames();
  const int downloaded = client.sim_->Download(BenchTagDefinitions(client.tags_).c_str());
  if (downloaded != kBenchTagCount) {
    *error = "Download of the benchmark tags gave " + std::to_string(downloaded);
    return false;
  }
  if (!client.control_.Open(std::atoi(port.c_str()), error)) return false;
  instance = &client;
  return true;
}

BenchClient& BenchClient::Get() { return *instance; }

void BenchClient::Shutdown() {
  if (sim_) sim_->Disconnect();
  sim_.reset();
}

}  // namespace zl::bench
