#include "client_env.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace zl::testing {
namespace {

std::unique_ptr<Services>& TheServices() {
  static std::unique_ptr<Services> services;
  return services;
}

std::string& TagDir() {
  static std::string dir;
  return dir;
}

}  // namespace

void ClientEnvironment::SetUp() {
  setenv("Zelvik_Interface", "127.0.0.1", 1);
  char dir[] = "/tmp/zl-client-tags-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  TagDir() = dir;
  const std::string tags = TagDir() + "/client.tags";
  std::ofstream(tags) << kTestTags;
  ServicesOptions options;
  options.tag_files = {tags};
  TheServices() = std::make_unique<Services>(options);
}

void ClientEnvironment::TearDown() {
  TheServices().reset();
  std::error_code ignored;
  if (!TagDir().empty()) std::filesystem::remove_all(TagDir(), ignored);
}

Services& ClientEnvironment::services() {
  if (!TheServices()) throw std::logic_error("client services are not up");
  return *TheServices();
}

std::unique_ptr<ZLSim> NewClient(const std::string& extra) {
  return std::make_unique<ZLSim>((ClientEnvironment::services().orb_options() + " " + extra).c_str());
}

std::unique_ptr<ZLSim> ConnectedClient() {
  auto sim = NewClient();
  EXPECT_EQ(0, sim->Connect("SIM"));
  return sim;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

StderrCapture::StderrCapture() {
  std::cerr.flush();
  ::testing::internal::CaptureStderr();
}

StderrCapture::~StderrCapture() { Take(); }

std::string StderrCapture::Take() {
  if (!active_) return "";
  active_ = false;
  std::cerr.flush();
  return ::testing::internal::GetCapturedStderr();
}

TempDir::TempDir() {
  char dir[] = "/tmp/zl-client-XXXXXX";
  if (mkdtemp(dir) != nullptr) path_ = dir;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  out << in.rdbuf();
  return static_cast<bool>(out);
}

void EnsureSimRunning() {
  Services& services = ClientEnvironment::services();
  if (services.Control("ping", 2000) == "OK") return;
  // Stopped, killed, paused or on its way out: stop what is left, start anew.
  if (!services.RestartSim()) ADD_FAILURE() << "server did not start again: " << services.LastError();
}

// Every program that links this file runs against one set of services.
::testing::Environment* const kClientEnvironment =
    ::testing::AddGlobalTestEnvironment(new ClientEnvironment);

}  // namespace zl::testing
