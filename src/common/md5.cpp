#include "common/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kopiensieb {

namespace {

constexpr std::size_t kBlockSize = 64;
constexpr std::array<std::uint32_t, 4> kInitialState = {0x67452301u, 0xefcdab89u, 0x98badcfeu,
                                                        0x10325476u};

std::uint32_t LoadLittleEndian(const std::uint8_t* bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    word = (word >> 24) | ((word >> 8) & 0x0000FF00u) | ((word << 8) & 0x00FF0000u) | (word << 24);
  }
  return word;
}

void StoreLittleEndian(std::uint32_t word, std::uint8_t* bytes) {
  for (int index = 0; index < 4; ++index) {
    bytes[index] = static_cast<std::uint8_t>(word >> (8 * index));
  }
}

// The four auxiliary functions of RFC 1321, F and G written with one operation fewer.
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return y ^ (z & (x ^ y));
}
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return x ^ y ^ z;
}
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return y ^ (x | ~z);
}

template <std::uint32_t (*Mix)(std::uint32_t, std::uint32_t, std::uint32_t), int Shift>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                 std::uint32_t word, std::uint32_t constant) {
  a = b + std::rotl(a + Mix(b, c, d) + word + constant, Shift);
}

// The 64 operations written out, so that every word index, constant and shift is a constant
// of the code and the state stays in registers.
void ProcessBlocks(std::array<std::uint32_t, 4>& state, const std::uint8_t* data,
                   std::size_t blockCount) {
  std::uint32_t a = state[0];
  std::uint32_t b = state[1];
  std::uint32_t c = state[2];
  std::uint32_t d = state[3];
  for (; blockCount > 0; --blockCount, data += kBlockSize) {
    std::uint32_t x[16];
    for (int index = 0; index < 16; ++index) {
      x[index] = LoadLittleEndian(data + 4 * index);
    }
    const std::uint32_t aa = a;
    const std::uint32_t bb = b;
    const std::uint32_t cc = c;
    const std::uint32_t dd = d;

    Step<F, 7>(a, b, c, d, x[0], 0xd76aa478u);
    Step<F, 12>(d, a, b, c, x[1], 0xe8c7b756u);
    Step<F, 17>(c, d, a, b, x[2], 0x242070dbu);
    Step<F, 22>(b, c, d, a, x[3], 0xc1bdceeeu);
    Step<F, 7>(a, b, c, d, x[4], 0xf57c0fafu);
    Step<F, 12>(d, a, b, c, x[5], 0x4787c62au);
    Step<F, 17>(c, d, a, b, x[6], 0xa8304613u);
    Step<F, 22>(b, c, d, a, x[7], 0xfd469501u);
    Step<F, 7>(a, b, c, d, x[8], 0x698098d8u);
    Step<F, 12>(d, a, b, c, x[9], 0x8b44f7afu);
    Step<F, 17>(c, d, a, b, x[10], 0xffff5bb1u);
    Step<F, 22>(b, c, d, a, x[11], 0x895cd7beu);
    Step<F, 7>(a, b, c, d, x[12], 0x6b901122u);
    Step<F, 12>(d, a, b, c, x[13], 0xfd987193u);
    Step<F, 17>(c, d, a, b, x[14], 0xa679438eu);
    Step<F, 22>(b, c, d, a, x[15], 0x49b40821u);

    Step<G, 5>(a, b, c, d, x[1], 0xf61e2562u);
    Step<G, 9>(d, a, b, c, x[6], 0xc040b340u);
    Step<G, 14>(c, d, a, b, x[11], 0x265e5a51u);
    Step<G, 20>(b, c, d, a, x[0], 0xe9b6c7aau);
    Step<G, 5>(a, b, c, d, x[5], 0xd62f105du);
    Step<G, 9>(d, a, b, c, x[10], 0x02441453u);
    Step<G, 14>(c, d, a, b, x[15], 0xd8a1e681u);
    Step<G, 20>(b, c, d, a, x[4], 0xe7d3fbc8u);
    Step<G, 5>(a, b, c, d, x[9], 0x21e1cde6u);
    Step<G, 9>(d, a, b, c, x[14], 0xc33707d6u);
    Step<G, 14>(c, d, a, b, x[3], 0xf4d50d87u);
    Step<G, 20>(b, c, d, a, x[8], 0x455a14edu);
    Step<G, 5>(a, b, c, d, x[13], 0xa9e3e905u);
    Step<G, 9>(d, a, b, c, x[2], 0xfcefa3f8u);
    Step<G, 14>(c, d, a, b, x[7], 0x676f02d9u);
    Step<G, 20>(b, c, d, a, x[12], 0x8d2a4c8au);

    Step<H, 4>(a, b, c, d, x[5], 0xfffa3942u);
    Step<H, 11>(d, a, b, c, x[8], 0x8771f681u);
    Step<H, 16>(c, d, a, b, x[11], 0x6d9d6122u);
    Step<H, 23>(b, c, d, a, x[14], 0xfde5380cu);
    Step<H, 4>(a, b, c, d, x[1], 0xa4beea44u);
    Step<H, 11>(d, a, b, c, x[4], 0x4bdecfa9u);
    Step<H, 16>(c, d, a, b, x[7], 0xf6bb4b60u);
    Step<H, 23>(b, c, d, a, x[10], 0xbebfbc70u);
    Step<H, 4>(a, b, c, d, x[13], 0x289b7ec6u);
    Step<H, 11>(d, a, b, c, x[0], 0xeaa127fau);
    Step<H, 16>(c, d, a, b, x[3], 0xd4ef3085u);
    Step<H, 23>(b, c, d, a, x[6], 0x04881d05u);
    Step<H, 4>(a, b, c, d, x[9], 0xd9d4d039u);
    Step<H, 11>(d, a, b, c, x[12], 0xe6db99e5u);
    Step<H, 16>(c, d, a, b, x[15], 0x1fa27cf8u);
    Step<H, 23>(b, c, d, a, x[2], 0xc4ac5665u);

    Step<I, 6>(a, b, c, d, x[0], 0xf4292244u);
    Step<I, 10>(d, a, b, c, x[7], 0x432aff97u);
    Step<I, 15>(c, d, a, b, x[14], 0xab9423a7u);
    Step<I, 21>(b, c, d, a, x[5], 0xfc93a039u);
    Step<I, 6>(a, b, c, d, x[12], 0x655b59c3u);
    Step<I, 10>(d, a, b, c, x[3], 0x8f0ccc92u);
    Step<I, 15>(c, d, a, b, x[10], 0xffeff47du);
    Step<I, 21>(b, c, d, a, x[1], 0x85845dd1u);
    Step<I, 6>(a, b, c, d, x[8], 0x6fa87e4fu);
    Step<I, 10>(d, a, b, c, x[15], 0xfe2ce6e0u);
    Step<I, 15>(c, d, a, b, x[6], 0xa3014314u);
    Step<I, 21>(b, c, d, a, x[13], 0x4e0811a1u);
    Step<I, 6>(a, b, c, d, x[4], 0xf7537e82u);
    Step<I, 10>(d, a, b, c, x[11], 0xbd3af235u);
    Step<I, 15>(c, d, a, b, x[2], 0x2ad7d2bbu);
    Step<I, 21>(b, c, d, a, x[9], 0xeb86d391u);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state = {a, b, c, d};
}

}  // namespace

Md5::Md5() {
  Reset();
}

void Md5::Reset() {
  state_ = kInitialState;
  length_ = 0;
  buffered_ = 0;
}

void Md5::Transform(const std::uint8_t* block) {
  ProcessBlocks(state_, block, 1);
}

void Md5::Update(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* data = bytes.data();
  std::size_t remaining = bytes.size();
  if (remaining == 0) {
    return;  // an empty span may carry no pointer at all, which memcpy must not see
  }
  length_ += remaining;
  if (buffered_ > 0) {
    const std::size_t taken = std::min(remaining, kBlockSize - buffered_);
    std::memcpy(buffer_.data() + buffered_, data, taken);
    buffered_ += taken;
    data += taken;
    remaining -= taken;
    if (buffered_ < kBlockSize) {
      return;
    }
    Transform(buffer_.data());
    buffered_ = 0;
  }
  // Whole blocks straight from the caller's memory, without a copy.
  const std::size_t wholeBlocks = remaining / kBlockSize;
  if (wholeBlocks > 0) {
    ProcessBlocks(state_, data, wholeBlocks);
    data += wholeBlocks * kBlockSize;
    remaining -= wholeBlocks * kBlockSize;
  }
  if (remaining > 0) {
    std::memcpy(buffer_.data(), data, remaining);
    buffered_ = remaining;
  }
}

void Md5::Update(std::span<const char> bytes) {
  Update(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                       bytes.size()));
}

Md5Digest Md5::Finish() {
  const std::uint64_t bitLength = length_ * 8;
  // The message ends with one 1 bit, zeros up to 56 bytes into the last block, then its
  // length in bits as a 64-bit little-endian number.
  buffer_[buffered_++] = 0x80;
  if (buffered_ > kBlockSize - 8) {
    std::memset(buffer_.data() + buffered_, 0, kBlockSize - buffered_);
    Transform(buffer_.data());
    buffered_ = 0;
  }
  std::memset(buffer_.data() + buffered_, 0, kBlockSize - 8 - buffered_);
  for (int index = 0; index < 8; ++index) {
    buffer_[kBlockSize - 8 + index] = static_cast<std::uint8_t>(bitLength >> (8 * index));
  }
  Transform(buffer_.data());
  buffered_ = 0;

  Md5Digest digest;
  for (std::size_t index = 0; index < state_.size(); ++index) {
    StoreLittleEndian(state_[index], digest.data() + 4 * index);
  }
  return digest;
}

Md5Digest Md5Of(std::span<const char> bytes) {
  Md5 md5;
  md5.Update(bytes);
  return md5.Finish();
}

}  // namespace kopiensieb
