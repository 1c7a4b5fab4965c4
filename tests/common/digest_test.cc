#include "common/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace zl {
namespace {

// With the standard initial state the digest is MD5: RFC 1321's test suite,
// plus lengths around the padding boundary (55 bytes still fit the length in
// the last block, 56 need another) and the block boundary.
TEST(DigestTest, StandardStateIsMd5) {
  struct Case {
    int line;
    std::string data;
    const char* want;
  };
  const Case kCases[] = {
      {__LINE__, "", "d41d8cd98f00b204e9800998ecf8427e"},
      {__LINE__, "a", "0cc175b9c0f1b6a831c399e269772661"},
      {__LINE__, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {__LINE__, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {__LINE__, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {__LINE__, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {__LINE__,
       "1234567890123456789012345678901234567890123456789012345678901234567890123456"
       "7890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {__LINE__, std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {__LINE__, std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {__LINE__, std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {__LINE__, std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {__LINE__, std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {__LINE__, std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.want, DigestHex(c.data, kStandardDigestState));
  }
}

// Feeding in pieces that straddle block boundaries gives the one-shot result.
TEST(DigestTest, IncrementalMatchesOneShot) {
  std::string data;
  for (int i = 0; i < 300; ++i) data.push_back(static_cast<char>('A' + i % 53));
  for (std::size_t step : {1u, 7u, 63u, 64u, 65u, 129u}) {
    SCOPED_TRACE(step);
    Digest digest;
    for (std::size_t at = 0; at < data.size(); at += step) {
      digest.Update(std::string_view(data).substr(at, step));
    }
    EXPECT_EQ(DigestHex(data), digest.FinishHex());
  }
}

// The library's own initial state. These values are pinned: a change here
// would make every signed scenario file and test log fail to validate.
TEST(DigestTest, ScenarioStateIsPinned) {
  EXPECT_EQ("54b28a5dea504371e94a6c1fa6877c46", DigestHex(""));
  EXPECT_EQ("24e07a73122e927f322ab881f84265f7", DigestHex("abc"));
  EXPECT_NE(DigestHex("abc", kStandardDigestState), DigestHex("abc"));
}

}  // namespace
}  // namespace zl
