#include "common/digest.h"

#include <cstring>

namespace zl {
namespace {

// Per-round shift amounts and the sine-derived constants of RFC 1321.
constexpr int kShift[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

std::uint32_t LoadLittle32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

Digest::Digest(const DigestState& initial) : state_(initial) {}

void Digest::Compress(const std::uint8_t block[64]) {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadLittle32(block + 4 * i);

  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (b & d) | (c & ~d);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const std::uint32_t rotated = RotateLeft(a + f + kSine[i] + m[g], kShift[i]);
    a = d;
    d = c;
    c = b;
    b += rotated;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Digest::Update(const void* data, std::size_t size) {
  if (finished_ || size == 0) return;
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t used = static_cast<std::size_t>(length_ % 64);
  length_ += size;
  if (used > 0) {
    const std::size_t take = size < 64 - used ? size : 64 - used;
    std::memcpy(buffer_ + used, p, take);
    used += take;
    p += take;
    size -= take;
    if (used < 64) return;
    Compress(buffer_);
  }
  for (; size >= 64; p += 64, size -= 64) Compress(p);
  if (size > 0) std::memcpy(buffer_, p, size);
}

std::array<std::uint8_t, 16> Digest::Finish() {
  if (finished_) return result_;
  const std::uint64_t bits = length_ * 8;
  std::uint8_t tail[72] = {0x80};
  const std::size_t used = static_cast<std::size_t>(length_ % 64);
  const std::size_t pad = (used < 56 ? 56 : 120) - used;
  for (int i = 0; i < 8; ++i) tail[pad + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Update(tail, pad + 8);
  finished_ = true;

  for (int w = 0; w < 4; ++w) {
    for (int i = 0; i < 4; ++i) {
      result_[4 * w + i] = static_cast<std::uint8_t>(state_[w] >> (8 * i));
    }
  }
  return result_;
}

std::string Digest::FinishHex() {
  static const char kHex[] = "0123456789abcdef";
  const std::array<std::uint8_t, 16> bytes = Finish();
  std::string text;
  text.reserve(32);
  for (std::uint8_t byte : bytes) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0f]);
  }
  return text;
}

std::string DigestHex(std::string_view data, const DigestState& initial) {
  Digest digest(initial);
  digest.Update(data);
  return digest.FinishHex();
}

}  // namespace zl
