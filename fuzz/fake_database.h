// The fuzz targets' server: the in-process fake server of the tests
// (tests/support/fake_server.h).
#ifndef ZL_FUZZ_FAKE_DATABASE_H_
#define ZL_FUZZ_FAKE_DATABASE_H_

#include "support/fake_server.h"

namespace zl::fuzz {
using zl::testing::FakeServer;
}  // namespace zl::fuzz

#endif  // ZL_FUZZ_FAKE_DATABASE_H_
