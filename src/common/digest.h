// The scenario digest: the MD5 message digest (RFC 1321: compression
// function, padding with a 1 bit, zeros and the 64-bit little-endian bit
// length, output order) started from a chosen initial state of four 32-bit
// chaining words. Scenario files and test logs are signed with
// kScenarioDigestState; see docs/scenario-digest.md.
#ifndef ZL_COMMON_DIGEST_H_
#define ZL_COMMON_DIGEST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zl {

// The four chaining words A, B, C, D a digest starts from.
using DigestState = std::array<std::uint32_t, 4>;

// RFC 1321's initial state: with it the digest is plain MD5.
inline constexpr DigestState kStandardDigestState = {0x67452301u, 0xefcdab89u, 0x98badcfeu,
                                                     0x10325476u};

// The library's own initial state for scenario and test log checksums. Fixed
// for good: checksums made with other words never validate here.
inline constexpr DigestState kScenarioDigestState = {0x5a4c0d17u, 0xc3e1b8a9u, 0x2f96e04bu,
                                                     0x71d35c86u};

// An incremental digest. Feed data with Update, then call Finish once; after
// Finish the object gives the same result again and ignores further Update.
// Not thread-safe: one thread at a time per object.
class Digest {
 public:
  explicit Digest(const DigestState& initial = kScenarioDigestState);

  void Update(const void* data, std::size_t size);
  void Update(std::string_view text) { Update(text.data(), text.size()); }

  // The 16 digest bytes: A, B, C, D, each little-endian.
  std::array<std::uint8_t, 16> Finish();
  // The 16 digest bytes in order as 32 lower-case hexadecimal digits.
  std::string FinishHex();

 private:
  void Compress(const std::uint8_t block[64]);

  DigestState state_;
  std::uint64_t length_ = 0;  // bytes fed so far
  std::uint8_t buffer_[64];   // the incomplete block, length_ % 64 bytes
  bool finished_ = false;
  std::array<std::uint8_t, 16> result_{};
};

// The digest of `data` as 32 lower-case hexadecimal digits.
std::string DigestHex(std::string_view data, const DigestState& initial = kScenarioDigestState);

}  // namespace zl

#endif  // ZL_COMMON_DIGEST_H_
