#include "common/md5_lanes.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

// The vector lanes need x86-64 and GCC's (or Clang's) vector types and run-time processor
// checks; elsewhere the plain code serves. (On Windows, where the stack is only 16-byte
// aligned, the build has the assembler turn aligned vector moves into unaligned ones.)
#if defined(__x86_64__) && defined(__GNUC__)
#define KOPIENSIEB_MD5_VECTOR_LANES 1
#endif

namespace kopiensieb {
namespace {

#ifdef KOPIENSIEB_MD5_VECTOR_LANES

// Each 32-bit element is one message's lane. The code below is written once for both widths
// with the compiler's vector operators; it is inlined into a function compiled for AVX2 or
// AVX-512F, which decides the instructions it becomes.
using EightLanes = std::uint32_t __attribute__((vector_size(32)));
using SixteenLanes = std::uint32_t __attribute__((vector_size(64)));

constexpr std::size_t kBlockSize = 64;
constexpr std::size_t kWordsPerBlock = 16;

// The 64 additive constants of RFC 1321, floor(abs(sin(i + 1)) * 2^32).
constexpr std::array<std::uint32_t, 64> kConstants = {
    0xd76aa478u, 0xe8c7b756u, 0x242070dbu, 0xc1bdceeeu, 0xf57c0fafu, 0x4787c62au, 0xa8304613u,
    0xfd469501u, 0x698098d8u, 0x8b44f7afu, 0xffff5bb1u, 0x895cd7beu, 0x6b901122u, 0xfd987193u,
    0xa679438eu, 0x49b40821u, 0xf61e2562u, 0xc040b340u, 0x265e5a51u, 0xe9b6c7aau, 0xd62f105du,
    0x02441453u, 0xd8a1e681u, 0xe7d3fbc8u, 0x21e1cde6u, 0xc33707d6u, 0xf4d50d87u, 0x455a14edu,
    0xa9e3e905u, 0xfcefa3f8u, 0x676f02d9u, 0x8d2a4c8au, 0xfffa3942u, 0x8771f681u, 0x6d9d6122u,
    0xfde5380cu, 0xa4beea44u, 0x4bdecfa9u, 0xf6bb4b60u, 0xbebfbc70u, 0x289b7ec6u, 0xeaa127fau,
    0xd4ef3085u, 0x04881d05u, 0xd9d4d039u, 0xe6db99e5u, 0x1fa27cf8u, 0xc4ac5665u, 0xf4292244u,
    0x432aff97u, 0xab9423a7u, 0xfc93a039u, 0x655b59c3u, 0x8f0ccc92u, 0xffeff47du, 0x85845dd1u,
    0x6fa87e4fu, 0xfe2ce6e0u, 0xa3014314u, 0x4e0811a1u, 0xf7537e82u, 0xbd3af235u, 0x2ad7d2bbu,
    0xeb86d391u};
constexpr std::array<int, 16> kShifts = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

constexpr int ShiftOf(std::size_t step) {
  return kShifts[step / 16 * 4 + step % 4];
}

// Which word of the block the step adds: in order in the first round, then every fifth,
// third and seventh word.
constexpr std::size_t WordOf(std::size_t step) {
  switch (step / 16) {
    case 0:
      return step;
    case 1:
      return (5 * step + 1) % 16;
    case 2:
      return (3 * step + 5) % 16;
    default:
      return 7 * step % 16;
  }
}

// One of the 64 steps on every lane at once. The four state words take turns as the one
// changed (a, d, c, b, a, ...), the other three following it in the order b, c, d.
template <std::size_t Step, class Lanes>
[[gnu::always_inline]] inline void ApplyStep(Lanes (&v)[4], const Lanes (&x)[kWordsPerBlock]) {
  constexpr std::size_t kChanged = (4 - Step % 4) % 4;
  const Lanes& b = v[(kChanged + 1) % 4];
  const Lanes& c = v[(kChanged + 2) % 4];
  const Lanes& d = v[(kChanged + 3) % 4];
  Lanes mixed;
  if constexpr (Step < 16) {
    mixed = d ^ (b & (c ^ d));
  } else if constexpr (Step < 32) {
    mixed = c ^ (d & (b ^ c));
  } else if constexpr (Step < 48) {
    mixed = b ^ c ^ d;
  } else {
    mixed = c ^ (b | ~d);
  }
  // The word and constant do not wait for the previous step: added first, off the chain of
  // dependent operations.
  const Lanes sum = v[kChanged] + (x[WordOf(Step)] + kConstants[Step]) + mixed;
  constexpr int kShift = ShiftOf(Step);
  v[kChanged] = b + ((sum << kShift) | (sum >> (32 - kShift)));
}

template <class Lanes, std::size_t... Steps>
[[gnu::always_inline]] inline void CompressBlock(Lanes (&state)[4],
                                                 const Lanes (&x)[kWordsPerBlock],
                                                 std::index_sequence<Steps...>) {
  Lanes v[4] = {state[0], state[1], state[2], state[3]};
  (ApplyStep<Steps>(v, x), ...);
  for (std::size_t index = 0; index < 4; ++index) {
    state[index] += v[index];
  }
}

template <class Lanes>
[[gnu::always_inline]] inline void LoadLane(Lanes& lane, const std::uint8_t* bytes) {
  std::memcpy(&lane, bytes, sizeof lane);
}

// The same block of 16 messages as x[word][lane]: a 16 x 16 transposition of 32-bit words in
// four rounds of pairwise shuffles (each output element taken from one of two inputs).
[[gnu::always_inline]] inline void LoadBlockWords(const std::uint8_t* const (&blocks)[16],
                                                  SixteenLanes (&x)[kWordsPerBlock]) {
  SixteenLanes rows[16];
  for (std::size_t lane = 0; lane < 16; ++lane) {
    LoadLane(rows[lane], blocks[lane]);
  }
  // Pairs of rows interleaved word by word within each 128-bit quarter.
  SixteenLanes pairs[16];
  for (std::size_t at = 0; at < 16; at += 2) {
    pairs[at] = __builtin_shufflevector(rows[at], rows[at + 1], 0, 16, 1, 17, 4, 20, 5, 21, 8, 24,
                                        9, 25, 12, 28, 13, 29);
    pairs[at + 1] = __builtin_shufflevector(rows[at], rows[at + 1], 2, 18, 3, 19, 6, 22, 7, 23, 10,
                                            26, 11, 27, 14, 30, 15, 31);
  }
  // quads[4 * group + m], quarter q: word 4q + m of lanes 4 * group .. 4 * group + 3.
  SixteenLanes quads[16];
  for (std::size_t group = 0; group < 4; ++group) {
    const SixteenLanes& low = pairs[4 * group];
    const SixteenLanes& high = pairs[4 * group + 1];
    const SixteenLanes& nextLow = pairs[4 * group + 2];
    const SixteenLanes& nextHigh = pairs[4 * group + 3];
    quads[4 * group] = __builtin_shufflevector(low, nextLow, 0, 1, 16, 17, 4, 5, 20, 21, 8, 9, 24,
                                               25, 12, 13, 28, 29);
    quads[4 * group + 1] = __builtin_shufflevector(low, nextLow, 2, 3, 18, 19, 6, 7, 22, 23, 10, 11,
                                                   26, 27, 14, 15, 30, 31);
    quads[4 * group + 2] = __builtin_shufflevector(high, nextHigh, 0, 1, 16, 17, 4, 5, 20, 21, 8, 9,
                                                   24, 25, 12, 13, 28, 29);
    quads[4 * group + 3] = __builtin_shufflevector(high, nextHigh, 2, 3, 18, 19, 6, 7, 22, 23, 10,
                                                   11, 26, 27, 14, 15, 30, 31);
  }
  // Quarters gathered: x[4q + m] holds quarter q of quads[m], quads[4 + m], quads[8 + m] and
  // quads[12 + m], in that order.
  for (std::size_t m = 0; m < 4; ++m) {
    const SixteenLanes lowHalves0 = __builtin_shufflevector(
        quads[m], quads[4 + m], 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 23);
    const SixteenLanes highHalves0 = __builtin_shufflevector(
        quads[m], quads[4 + m], 8, 9, 10, 11, 12, 13, 14, 15, 24, 25, 26, 27, 28, 29, 30, 31);
    const SixteenLanes lowHalves1 = __builtin_shufflevector(
        quads[8 + m], quads[12 + m], 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 23);
    const SixteenLanes highHalves1 = __builtin_shufflevector(
        quads[8 + m], quads[12 + m], 8, 9, 10, 11, 12, 13, 14, 15, 24, 25, 26, 27, 28, 29, 30, 31);
    x[m] = __builtin_shufflevector(lowHalves0, lowHalves1, 0, 1, 2, 3, 8, 9, 10, 11, 16, 17, 18, 19,
                                   24, 25, 26, 27);
    x[4 + m] = __builtin_shufflevector(lowHalves0, lowHalves1, 4, 5, 6, 7, 12, 13, 14, 15, 20, 21,
                                       22, 23, 28, 29, 30, 31);
    x[8 + m] = __builtin_shufflevector(highHalves0, highHalves1, 0, 1, 2, 3, 8, 9, 10, 11, 16, 17,
                                       18, 19, 24, 25, 26, 27);
    x[12 + m] = __builtin_shufflevector(highHalves0, highHalves1, 4, 5, 6, 7, 12, 13, 14, 15, 20,
                                        21, 22, 23, 28, 29, 30, 31);
  }
}

// The same for 8 messages, one half block (8 words) at a time: an 8 x 8 transposition.
[[gnu::always_inline]] inline void LoadHalfBlockWords(const std::uint8_t* const (&blocks)[8],
                                                      std::size_t half, EightLanes* x) {
  EightLanes rows[8];
  for (std::size_t lane = 0; lane < 8; ++lane) {
    LoadLane(rows[lane], blocks[lane] + half * sizeof(EightLanes));
  }
  EightLanes pairs[8];
  for (std::size_t at = 0; at < 8; at += 2) {
    pairs[at] = __builtin_shufflevector(rows[at], rows[at + 1], 0, 8, 1, 9, 4, 12, 5, 13);
    pairs[at + 1] = __builtin_shufflevector(rows[at], rows[at + 1], 2, 10, 3, 11, 6, 14, 7, 15);
  }
  // quads[4 * group + m], half q: word 4q + m of lanes 4 * group .. 4 * group + 3.
  EightLanes quads[8];
  for (std::size_t group = 0; group < 2; ++group) {
    const EightLanes& low = pairs[4 * group];
    const EightLanes& high = pairs[4 * group + 1];
    const EightLanes& nextLow = pairs[4 * group + 2];
    const EightLanes& nextHigh = pairs[4 * group + 3];
    quads[4 * group] = __builtin_shufflevector(low, nextLow, 0, 1, 8, 9, 4, 5, 12, 13);
    quads[4 * group + 1] = __builtin_shufflevector(low, nextLow, 2, 3, 10, 11, 6, 7, 14, 15);
    quads[4 * group + 2] = __builtin_shufflevector(high, nextHigh, 0, 1, 8, 9, 4, 5, 12, 13);
    quads[4 * group + 3] = __builtin_shufflevector(high, nextHigh, 2, 3, 10, 11, 6, 7, 14, 15);
  }
  for (std::size_t m = 0; m < 4; ++m) {
    x[m] = __builtin_shufflevector(quads[m], quads[4 + m], 0, 1, 2, 3, 8, 9, 10, 11);
    x[4 + m] = __builtin_shufflevector(quads[m], quads[4 + m], 4, 5, 6, 7, 12, 13, 14, 15);
  }
}

[[gnu::always_inline]] inline void LoadBlockWords(const std::uint8_t* const (&blocks)[8],
                                                  EightLanes (&x)[kWordsPerBlock]) {
  LoadHalfBlockWords(blocks, 0, x);
  LoadHalfBlockWords(blocks, 1, x + 8);
}

// The last one or two blocks of every lane: the rest of its message (from `rests`, behind its
// whole blocks), the 1 bit, zeros, and the message length in bits (little-endian) at the end.
template <std::size_t Width>
struct PaddedTails {
  static constexpr std::size_t kMostBlocks = 2;

  PaddedTails(const std::uint8_t* const (&rests)[Width], const std::size_t* lengths) {
    for (std::size_t lane = 0; lane < Width; ++lane) {
      const std::size_t rest = lengths[lane] % kBlockSize;
      blocks[lane] = rest < kBlockSize - 8 ? 1 : 2;
      const std::uint64_t bitLength = static_cast<std::uint64_t>(lengths[lane]) * 8;
      std::uint8_t* tail = bytes[lane].data();
      std::memset(tail, 0, blocks[lane] * kBlockSize);
      if (rest > 0) {
        std::memcpy(tail, rests[lane], rest);
      }
      tail[rest] = 0x80;
      for (std::size_t index = 0; index < 8; ++index) {
        tail[blocks[lane] * kBlockSize - 8 + index] =
            static_cast<std::uint8_t>(bitLength >> (8 * index));
      }
    }
  }

  std::size_t blocks[Width];
  alignas(64) std::array<std::array<std::uint8_t, kMostBlocks * kBlockSize>, Width> bytes;
};

// The digests of `Width` messages, message i of lengths[i] bytes, one per lane. Lanes run
// through their own blocks; a lane whose message has ended rides along on its last padded
// block and keeps its state.
template <class Lanes>
[[gnu::always_inline]] inline void HashLanes(const std::uint8_t* const* messages,
                                             const std::size_t* lengths, Md5Digest* digests) {
  constexpr std::size_t kWidth = sizeof(Lanes) / sizeof(std::uint32_t);
  constexpr auto kSteps = std::make_index_sequence<64>{};
  std::size_t wholeBlocks[kWidth];
  const std::uint8_t* blocks[kWidth];
  for (std::size_t lane = 0; lane < kWidth; ++lane) {
    wholeBlocks[lane] = lengths[lane] / kBlockSize;
    blocks[lane] = messages[lane] + wholeBlocks[lane] * kBlockSize;
  }
  const PaddedTails<kWidth> tails(blocks, lengths);
  Lanes lastBlocks{};  // each lane's block count
  std::size_t fewestBlocks = SIZE_MAX;
  std::size_t mostBlocks = 0;
  for (std::size_t lane = 0; lane < kWidth; ++lane) {
    const std::size_t count = wholeBlocks[lane] + tails.blocks[lane];
    lastBlocks[lane] = static_cast<std::uint32_t>(count);
    fewestBlocks = std::min(fewestBlocks, count);
    mostBlocks = std::max(mostBlocks, count);
  }
  Lanes state[4];
  const std::uint32_t initial[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
  for (std::size_t index = 0; index < 4; ++index) {
    state[index] = Lanes{} + initial[index];
  }
  // One loop over the message blocks and then the padded ones, so that the 64 steps are
  // written into the code once.
  Lanes x[kWordsPerBlock];
  for (std::size_t block = 0; block < mostBlocks; ++block) {
    for (std::size_t lane = 0; lane < kWidth; ++lane) {
      const std::size_t tailBlock =
          std::min(block - std::min(block, wholeBlocks[lane]), tails.blocks[lane] - 1);
      blocks[lane] = block < wholeBlocks[lane] ? messages[lane] + block * kBlockSize
                                               : tails.bytes[lane].data() + tailBlock * kBlockSize;
    }
    LoadBlockWords(blocks, x);
    if (block < fewestBlocks) {
      CompressBlock(state, x, kSteps);
      continue;
    }
    Lanes before[4] = {state[0], state[1], state[2], state[3]};
    CompressBlock(state, x, kSteps);
    const Lanes running =
        reinterpret_cast<Lanes>((Lanes{} + static_cast<std::uint32_t>(block)) < lastBlocks);
    for (std::size_t index = 0; index < 4; ++index) {
      state[index] = (state[index] & running) | (before[index] & ~running);
    }
  }
  // x86 is little-endian: a lane's words in memory are its digest bytes.
  std::uint32_t words[4][kWidth];
  std::memcpy(words, state, sizeof words);
  for (std::size_t lane = 0; lane < kWidth; ++lane) {
    for (std::size_t index = 0; index < 4; ++index) {
      std::memcpy(digests[lane].data() + 4 * index, &words[index][lane], 4);
    }
  }
}

[[gnu::target("avx2")]] void HashEightLanes(const std::uint8_t* const* messages,
                                            const std::size_t* lengths, Md5Digest* digests) {
  HashLanes<EightLanes>(messages, lengths, digests);
}

[[gnu::target("avx512f")]] void HashSixteenLanes(const std::uint8_t* const* messages,
                                                 const std::size_t* lengths, Md5Digest* digests) {
  HashLanes<SixteenLanes>(messages, lengths, digests);
}

#endif  // KOPIENSIEB_MD5_VECTOR_LANES

bool ProcessorRuns(Md5LaneWidth width) {
#ifdef KOPIENSIEB_MD5_VECTOR_LANES
  static const bool eight = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  static const bool sixteen = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
  }();
  switch (width) {
    case Md5LaneWidth::One:
      return true;
    case Md5LaneWidth::Eight:
      return eight;
    case Md5LaneWidth::Sixteen:
      return sixteen;
  }
  return false;
#else
  return width == Md5LaneWidth::One;
#endif
}

Md5LaneWidth NarrowerThan(Md5LaneWidth width) {
  return width == Md5LaneWidth::Sixteen ? Md5LaneWidth::Eight : Md5LaneWidth::One;
}

#ifdef KOPIENSIEB_MD5_VECTOR_LANES

// A pass over the lanes costs the same whether every lane holds a message of its own or
// repeats another. Measured on 1 KiB chunks (bench/md5_benchmark): a pass of 16 lanes costs
// about 1.5 plain digests, a pass of 8 about 2, so 16 lanes pay from 2 messages on, 8 from 3.
constexpr std::size_t kLeastForSixteenLanes = 2;
constexpr std::size_t kLeastForEightLanes = 3;

std::size_t LanesFor(std::size_t count, Md5LaneWidth widest) {
  if (widest == Md5LaneWidth::Sixteen && count >= kLeastForSixteenLanes) {
    return 16;
  }
  if (widest != Md5LaneWidth::One && count >= kLeastForEightLanes) {
    return 8;
  }
  return 1;
}

// Up to `lanes` messages of `order` in one pass; returns how many.
std::size_t HashSideBySide(std::span<const std::span<const char>> messages,
                           std::span<Md5Digest> digests, std::span<const std::size_t> order,
                           std::size_t lanes) {
  const std::size_t taken = std::min(lanes, order.size());
  // Lanes without a message of their own repeat the last one; their digests are dropped.
  std::array<const std::uint8_t*, 16> data{};
  std::array<std::size_t, 16> lengths{};
  for (std::size_t lane = 0; lane < lanes; ++lane) {
    const std::span<const char> message = messages[order[std::min(lane, taken - 1)]];
    data[lane] = reinterpret_cast<const std::uint8_t*>(message.data());
    lengths[lane] = message.size();
  }
  std::array<Md5Digest, 16> laneDigests;
  if (lanes == 16) {
    HashSixteenLanes(data.data(), lengths.data(), laneDigests.data());
  } else {
    HashEightLanes(data.data(), lengths.data(), laneDigests.data());
  }
  for (std::size_t lane = 0; lane < taken; ++lane) {
    digests[order[lane]] = laneDigests[lane];
  }
  return taken;
}

#endif  // KOPIENSIEB_MD5_VECTOR_LANES

// The messages named by `order`, as many at a time as pays.
void HashInLanes(std::span<const std::span<const char>> messages, std::span<Md5Digest> digests,
                 std::span<const std::size_t> order, [[maybe_unused]] Md5LaneWidth widest) {
  std::size_t at = 0;
  while (at < order.size()) {
#ifdef KOPIENSIEB_MD5_VECTOR_LANES
    const std::size_t lanes = LanesFor(order.size() - at, widest);
    if (lanes > 1) {
      at += HashSideBySide(messages, digests, order.subspan(at), lanes);
      continue;
    }
#endif
    digests[order[at]] = Md5Of(messages[order[at]]);
    ++at;
  }
}

}  // namespace

bool Md5LaneWidthRuns(Md5LaneWidth width) {
  return ProcessorRuns(width);
}

Md5LaneWidth WidestMd5LaneWidth() {
  static const Md5LaneWidth widest = [] {
    Md5LaneWidth width = Md5LaneWidth::Sixteen;
    while (!ProcessorRuns(width)) {
      width = NarrowerThan(width);
    }
    return width;
  }();
  return widest;
}

void Md5OfEach(std::span<const std::span<const char>> messages, std::span<Md5Digest> digests,
               Md5LaneWidth widest) {
  while (!ProcessorRuns(widest)) {
    widest = NarrowerThan(widest);
  }
  const std::size_t count = std::min(messages.size(), digests.size());
  // Messages of about one length go through the lanes together, so that few lanes wait for
  // the longest: by length, and in their own order within a length.
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), std::size_t{0});
  const auto shorter = [&messages](std::size_t left, std::size_t right) {
    return messages[left].size() < messages[right].size();
  };
  if (!std::is_sorted(order.begin(), order.end(), shorter)) {
    std::stable_sort(order.begin(), order.end(), shorter);
  }
  HashInLanes(messages, digests, order, widest);
}

void Md5OfEach(std::span<const std::span<const char>> messages, std::span<Md5Digest> digests) {
  Md5OfEach(messages, digests, WidestMd5LaneWidth());
}

}  // namespace kopiensieb
