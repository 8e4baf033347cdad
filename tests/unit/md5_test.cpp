#include "common/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kopiensieb {
namespace {

// 32 lower-case hexadecimal digits, two per digest byte in digest order: how the reference
// vectors are written.
std::string Md5Hex(const Md5Digest& digest) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex(2 * digest.size(), '0');
  for (std::size_t index = 0; index < digest.size(); ++index) {
    hex[2 * index] = kHexDigits[digest[index] >> 4];
    hex[2 * index + 1] = kHexDigits[digest[index] & 0x0F];
  }
  return hex;
}

std::string HexOf(const std::string& text) {
  return Md5Hex(Md5Of(text));
}

TEST(Md5Test, MatchesTheSevenReferenceVectors) {
  EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(HexOf("1234567890123456789012345678901234567890"
                  "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// Byte i of a generated input is (i * 131 + 17) mod 256: every byte value occurs, and no
// 64-byte block repeats the one before it.
std::string GeneratedInput(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t index = 0; index < length; ++index) {
    bytes[index] = static_cast<char>((index * 131 + 17) % 256);
  }
  return bytes;
}

// The expected digests were made once with md5sum over the same content, e.g. for 55 bytes:
//   python3 -c "import sys; sys.stdout.buffer.write(bytes(((i*131+17)%256)
//               for i in range(55)))" | md5sum
// 55 and 56 bytes straddle the point where the length no longer fits the last block; 63, 64
// and 65 the block boundary itself.
struct KnownDigest {
  std::size_t length;
  const char* hex;
};
const KnownDigest kGeneratedDigests[] = {
    {55, "96799d8bf84d94466fb1d4785f0eae6c"}, {56, "bf9c6bb58c938814a38d99d564393a53"},
    {63, "35692891f16306d06ba365a887de5dd3"}, {64, "c99cacee8808c930ea7a2a5f79a58599"},
    {65, "99f97c2c46e2953fc2c2b315db172a78"}, {1000000, "a9e3f42ba098ce7d58cadc20795ef0cb"},
};

TEST(Md5Test, MatchesMd5sumAroundBlockBoundariesAndForAMillionBytes) {
  for (const KnownDigest& known : kGeneratedDigests) {
    EXPECT_EQ(HexOf(GeneratedInput(known.length)), known.hex) << known.length << " bytes";
  }
}

TEST(Md5Test, IncrementalUpdatesAtAwkwardSplitsEqualTheOneShotDigest) {
  const std::string input = GeneratedInput(1000);
  const Md5Digest oneShot = Md5Of(input);
  const std::vector<std::vector<std::size_t>> splitPlans = {
      {1},            // byte by byte
      {63},           // always one short of a block
      {65},           // always one past a block
      {0, 64, 0},     // empty updates in between
      {55, 1, 8},     // ends where the padding logic changes
      {3, 127, 200},  // odd pieces spanning several blocks
      {1000},         // all at once through the incremental path
  };
  for (const auto& plan : splitPlans) {
    Md5 md5;
    std::size_t offset = 0;
    for (std::size_t piece = 0; offset < input.size(); ++piece) {
      const std::size_t size = std::min(plan[piece % plan.size()], input.size() - offset);
      md5.Update(std::span<const char>(input.data() + offset, size));
      offset += size;
    }
    EXPECT_EQ(md5.Finish(), oneShot) << "first piece " << plan.front();
  }
}

TEST(Md5Test, ResetStartsAFreshDigestAndByteSpansEqualCharSpans) {
  Md5 md5;
  md5.Update(std::string_view("something else entirely"));
  md5.Finish();
  md5.Reset();
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  md5.Update(std::span<const std::uint8_t>(abc));
  EXPECT_EQ(Md5Hex(md5.Finish()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5Test, HexRendersEveryByteAsTwoLowerCaseDigitsInOrder) {
  Md5Digest digest{};
  for (std::size_t index = 0; index < digest.size(); ++index) {
    digest[index] = static_cast<std::uint8_t>(index * 17);  // 00 11 22 ... ff
  }
  EXPECT_EQ(Md5Hex(digest), "00112233445566778899aabbccddeeff");
}

}  // namespace
}  // namespace kopiensieb
