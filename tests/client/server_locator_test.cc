// The default server name, the local IOR file's path and its first line.
#include "broker/server_locator.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "client_env.h"

namespace zl {
namespace {

TEST(ServerLocatorTest, DefaultServerName) {
  struct Case {
    int line;
    const char* host;
    const char* want;
  };
  const Case kCases[] = {
      {__LINE__, "ALPHA", "zl_alpha"},          // upper case lowered
      {__LINE__, "Build-Host.7", "zl_build-host.7"},  // only letters change
      {__LINE__, "", "zl"},                     // no host: no "_"
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, DefaultServerName(c.host));
  }
  EXPECT_EQ(DefaultServerName(LocalHostName()), DefaultServerName());
  EXPECT_FALSE(LocalHostName().empty());
}

TEST(ServerLocatorTest, LocalIorPath) {
  {
    testing::ScopedEnv temp("TEMP", "/var/tmp/x");
    EXPECT_EQ("/var/tmp/x/zl_alpha.txt", LocalIorPath("zl_alpha"));
  }
  {
    testing::ScopedEnv temp("TEMP", nullptr);
    EXPECT_EQ("./SIM.txt", LocalIorPath("SIM"));
  }
}

TEST(ServerLocatorTest, ReadFirstLine) {
  char dir[] = "/tmp/zl-locator-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string path = std::string(dir) + "/f.txt";
  struct Case {
    int line;
    std::string content;
    std::string want;
  };
  const Case kCases[] = {
      {__LINE__, "IOR:0102\nsecond\n", "IOR:0102\n"},   // line end kept, later lines not read
      {__LINE__, "IOR:0102", "IOR:0102"},               // no line end
      {__LINE__, "", ""},                               // empty file
      {__LINE__, std::string(3000, 'a'), std::string(2047, 'a')},  // cut at 2047
      {__LINE__, std::string(2046, 'a') + "\n", std::string(2046, 'a') + "\n"},
      {__LINE__, std::string(2047, 'a') + "\n", std::string(2047, 'a')},  // no room for "\n"
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
    std::string got = "stale";
    EXPECT_TRUE(ReadFirstLine(path, got));
    EXPECT_EQ(c.want, got);
  }
  std::remove(path.c_str());
  std::string got = "stale";
  EXPECT_FALSE(ReadFirstLine(path, got));
  EXPECT_EQ("", got);
  rmdir(dir);
}

}  // namespace
}  // namespace zl
