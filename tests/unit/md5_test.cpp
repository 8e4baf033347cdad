#include "common/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/md5_lanes.h"
#include "md5_collision.h"

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

// Byte i of a generated input is (i * 131 + 17) mod 256: every byte value occurs, and no
// 64-byte block repeats the one before it.
std::string GeneratedInput(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t index = 0; index < length; ++index) {
    bytes[index] = static_cast<char>((index * 131 + 17) % 256);
  }
  return bytes;
}

// The seven reference vectors, then generated inputs whose digests were made once with md5sum
// over the same content, e.g. for 55 bytes:
//   python3 -c "import sys; sys.stdout.buffer.write(bytes(((i*131+17)%256)
//               for i in range(55)))" | md5sum
// 55 and 56 bytes straddle the point where the length no longer fits the last block; 63, 64
// and 65 the block boundary itself.
TEST(Md5Test, MatchesTheReferenceVectorsAndMd5sumAroundBlockBoundaries) {
  const std::pair<std::string, const char*> known[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {GeneratedInput(55), "96799d8bf84d94466fb1d4785f0eae6c"},
      {GeneratedInput(56), "bf9c6bb58c938814a38d99d564393a53"},
      {GeneratedInput(63), "35692891f16306d06ba365a887de5dd3"},
      {GeneratedInput(64), "c99cacee8808c930ea7a2a5f79a58599"},
      {GeneratedInput(65), "99f97c2c46e2953fc2c2b315db172a78"},
      {GeneratedInput(1000000), "a9e3f42ba098ce7d58cadc20795ef0cb"},
  };
  for (const auto& [input, hex] : known) {
    EXPECT_EQ(HexOf(input), hex) << input.size() << " bytes";
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

// Messages for the batched digests, each in memory of its own that ends where the message
// ends, so that reading one byte too far is caught by the address sanitizer.
class MessageSet {
 public:
  void Add(std::size_t length, std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    auto& bytes = storage_.emplace_back(std::make_unique<char[]>(std::max<std::size_t>(length, 1)));
    for (std::size_t index = 0; index < length; ++index) {
      bytes[index] = static_cast<char>(byte(random));
    }
    messages_.emplace_back(bytes.get(), length);
  }
  // The same memory once more: one message may stand for several.
  void Repeat(std::size_t at) { messages_.push_back(messages_[at]); }
  // An empty message without any memory, as an empty span may be.
  void AddWithoutMemory() { messages_.emplace_back(); }

  std::span<const std::span<const char>> Messages() const { return messages_; }

 private:
  std::vector<std::unique_ptr<char[]>> storage_;
  std::vector<std::span<const char>> messages_;
};

const std::vector<Md5LaneWidth> kEveryLaneWidth = {Md5LaneWidth::One, Md5LaneWidth::Eight,
                                                   Md5LaneWidth::Sixteen};

// digests[i] is the plain code's digest of messages[i], for every digest given.
void ExpectDigestsOfThePlainCode(std::span<const std::span<const char>> messages,
                                 std::span<const Md5Digest> digests, std::size_t lanes) {
  for (std::size_t at = 0; at < digests.size(); ++at) {
    EXPECT_EQ(Md5Hex(digests[at]), Md5Hex(Md5Of(messages[at])))
        << lanes << " lanes, message " << at << " of " << messages.size() << ", "
        << messages[at].size() << " bytes";
  }
}

// Every width this machine runs gives the digests of the plain code, for each message.
void ExpectPlainDigests(const MessageSet& set) {
  const std::span<const std::span<const char>> messages = set.Messages();
  for (Md5LaneWidth width : kEveryLaneWidth) {
    if (!Md5LaneWidthRuns(width)) {
      continue;
    }
    std::vector<Md5Digest> digests(messages.size());
    Md5OfEach(messages, digests, width);
    ExpectDigestsOfThePlainCode(messages, digests, static_cast<std::size_t>(width));
  }
}

// Around the padding's turning points (55/56), the block edges, and the chunk length.
const std::vector<std::size_t> kAwkwardLengths = {0,   1,   55,  56,  57,   63,   64,   65,
                                                  119, 120, 127, 128, 1023, 1024, 1025, 3000};
// Counts around the lane widths: a pass of its own, a pass with lanes to spare, and what
// remains after whole passes.
const std::vector<std::size_t> kCounts = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 24, 31, 33, 40};

TEST(Md5OfEachTest, MessagesOfOneLengthGetTheirOwnDigestsInEveryLaneWidth) {
  std::mt19937 random(20240611);
  for (std::size_t length : kAwkwardLengths) {
    for (std::size_t count : kCounts) {
      MessageSet set;
      for (std::size_t at = 0; at < count; ++at) {
        set.Add(length, random);
      }
      ExpectPlainDigests(set);
    }
  }
}

TEST(Md5OfEachTest, MessagesOfMixedLengthsGetTheirOwnDigestsInEveryLaneWidth) {
  std::mt19937 random(20240612);
  std::uniform_int_distribution<std::size_t> anyLength(0, 3000);
  std::uniform_int_distribution<std::size_t> awkward(0, kAwkwardLengths.size() - 1);
  for (std::size_t count : kCounts) {
    MessageSet anyLengths;
    MessageSet fewLengths;  // so that several messages share each length
    for (std::size_t at = 0; at < count; ++at) {
      anyLengths.Add(anyLength(random), random);
      fewLengths.Add(kAwkwardLengths[awkward(random) % 4 * 4], random);
      if (at % 5 == 0) {
        fewLengths.AddWithoutMemory();
      }
    }
    ExpectPlainDigests(anyLengths);
    ExpectPlainDigests(fewLengths);
  }
}

TEST(Md5OfEachTest, RepeatedAndNearlyEqualMessagesKeepTheirPlaces) {
  std::mt19937 random(20240613);
  MessageSet set;
  set.Add(1024, random);
  for (std::size_t at = 0; at < 20; ++at) {
    set.Repeat(0);
    set.Add(1024, random);
  }
  ExpectPlainDigests(set);

  // Messages that differ in their last byte only, after a common prefix: each lane must read
  // its own message to the end.
  std::string base(1000, 'k');
  std::vector<std::string> texts;
  for (int last = 0; last < 20; ++last) {
    texts.push_back(base + static_cast<char>('a' + last));
  }
  std::vector<std::span<const char>> messages(texts.begin(), texts.end());
  for (Md5LaneWidth width : kEveryLaneWidth) {
    std::vector<Md5Digest> digests(messages.size());
    Md5OfEach(messages, digests, width);
    ExpectDigestsOfThePlainCode(messages, digests, static_cast<std::size_t>(width));
  }
}

// Lanes that hold different bytes with equal digests must still agree, as the plain code does:
// the pair alone, behind a common tail, and among other messages of their length.
TEST(Md5OfEachTest, DifferentBytesWithOneDigestGetThatDigestInEveryLaneWidth) {
  const std::string a = testing::CollidingBlocksA();
  const std::string b = testing::CollidingBlocksB();
  ASSERT_NE(a, b);
  const std::string tail = GeneratedInput(1024 - a.size());
  const std::vector<std::string> texts = {
      a, b, a + tail, b + tail, GeneratedInput(128), GeneratedInput(1024), b, a + tail};
  const std::vector<std::span<const char>> messages(texts.begin(), texts.end());
  for (Md5LaneWidth width : kEveryLaneWidth) {
    std::vector<Md5Digest> digests(messages.size());
    Md5OfEach(messages, digests, width);
    SCOPED_TRACE(std::to_string(static_cast<std::size_t>(width)) + " lanes");
    for (const std::size_t at : {0, 1, 6}) {
      EXPECT_EQ(Md5Hex(digests[at]), "79054025255fb1a26e4bc422aef54eb4") << at;
    }
    EXPECT_EQ(Md5Hex(digests[2]), Md5Hex(digests[3]));
    EXPECT_EQ(Md5Hex(digests[7]), Md5Hex(digests[3]));
    EXPECT_EQ(Md5Hex(digests[2]), Md5Hex(Md5Of(messages[2])));
    EXPECT_NE(Md5Hex(digests[4]), Md5Hex(digests[0]));
    EXPECT_NE(Md5Hex(digests[5]), Md5Hex(digests[2]));
  }
}

TEST(Md5OfEachTest, OnlyTheDigestsThatHaveAMessageAreWritten) {
  std::mt19937 random(20240614);
  MessageSet set;
  for (std::size_t at = 0; at < 20; ++at) {
    set.Add(64, random);
  }
  const std::span<const std::span<const char>> messages = set.Messages();
  Md5Digest untouched{};
  untouched.fill(0xA5);
  for (Md5LaneWidth width : kEveryLaneWidth) {
    // Fewer places than messages: the first messages fill them, nothing is written beyond.
    std::vector<Md5Digest> few(17);
    Md5OfEach(messages, few, width);
    ExpectDigestsOfThePlainCode(messages, few, static_cast<std::size_t>(width));
    // More places than messages: those past the last message keep what they held.
    std::vector<Md5Digest> many(messages.size() + 5, untouched);
    Md5OfEach(messages, many, width);
    for (std::size_t at = 0; at < many.size(); ++at) {
      EXPECT_EQ(Md5Hex(many[at]), Md5Hex(at < messages.size() ? Md5Of(messages[at]) : untouched))
          << at;
    }
  }
}

TEST(Md5OfEachTest, TheWidestWidthRunsAndTheDefaultMatchesThePlainCode) {
  EXPECT_TRUE(Md5LaneWidthRuns(Md5LaneWidth::One));
  EXPECT_TRUE(Md5LaneWidthRuns(WidestMd5LaneWidth()));
  std::mt19937 random(20240615);
  MessageSet set;
  for (std::size_t at = 0; at < 37; ++at) {
    set.Add(at % 3 == 0 ? 1024 : 700, random);
  }
  std::vector<Md5Digest> digests(set.Messages().size());
  Md5OfEach(set.Messages(), digests);
  ExpectDigestsOfThePlainCode(set.Messages(), digests,
                              static_cast<std::size_t>(WidestMd5LaneWidth()));
  RecordProperty("widest_md5_lanes", static_cast<int>(WidestMd5LaneWidth()));
}

}  // namespace
}  // namespace kopiensieb
