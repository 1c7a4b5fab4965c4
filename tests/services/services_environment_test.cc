// ServicesEnvironment: one set of services for the whole test program, up
// before the first test and reachable from every test.
#include <gtest/gtest.h>

#include "support/services.h"

namespace {

using zl::testing::ServicesEnvironment;

::testing::Environment* const kServices = ::testing::AddGlobalTestEnvironment(
    new ServicesEnvironment([] {
      zl::testing::ServicesOptions options;
      options.databases = {"ENV"};
      return options;
    }()));

TEST(ServicesEnvironmentTest, UpForEveryTest) {
  zl::testing::Services& s = ServicesEnvironment::Get();
  EXPECT_EQ("ENV", s.variables().at("ZL_DATABASES"));
  EXPECT_EQ("ERR ", s.Control("no-such-command").substr(0, 4));
}

}  // namespace
