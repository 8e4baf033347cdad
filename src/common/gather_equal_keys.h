#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace kopiensieb {

// Spreads a 64-bit key over all 64 bits, the high ones most of all: sizes, inode numbers and
// other keys that count up become hashes GatherEqualKeys can deal by their leading bits.
constexpr std::uint64_t SpreadKey(std::uint64_t key) {
  key ^= key >> 31;
  return key * 0x9E3779B97F4A7C15ULL;
}

// The positions of `items` in an order where items with equal keys stand together, each such
// run ordered by `less`, as sorting by `less` would order them; only the order of the runs is
// left to chance. less must order items by key first. hashOf(item) must give equal keys equal
// hashes and spread different keys evenly over the leading bits (a digest, or SpreadKey of a
// key).
//
// The positions are dealt into about as many buckets as there are items by their hashes'
// leading bits, in one pass, and only the few of each bucket are sorted. On a large catalogue
// this takes a fraction of a full sort, and the items are neither moved nor copied. A bucket
// already in order (a run of equals, dealt in the order they came) is not sorted at all.
template <typename Item, typename HashOf, typename Less>
std::vector<std::uint32_t> GatherEqualKeys(const std::vector<Item>& items, HashOf&& hashOf,
                                           Less&& less) {
  if (items.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("too many items to gather");
  }
  const auto lessAt = [&items, &less](std::uint32_t left, std::uint32_t right) {
    return less(items[left], items[right]);
  };
  std::vector<std::uint32_t> order(items.size());
  constexpr std::size_t kWorthDealing = 64;
  if (items.size() < kWorthDealing) {
    std::iota(order.begin(), order.end(), 0U);
    std::sort(order.begin(), order.end(), lessAt);
    return order;
  }
  const int bits = std::bit_width(items.size()) - 1;  // two items a bucket, on average
  const int shift = 64 - bits;
  std::vector<std::uint32_t> bucketEnds((std::size_t{1} << bits) + 1, 0);
  for (const Item& item : items) {
    ++bucketEnds[(hashOf(item) >> shift) + 1];
  }
  std::partial_sum(bucketEnds.begin(), bucketEnds.end(), bucketEnds.begin());
  for (std::uint32_t position = 0; position < items.size(); ++position) {
    // Each bucket's start moves on as it fills, to end where the bucket ends.
    order[bucketEnds[hashOf(items[position]) >> shift]++] = position;
  }
  std::uint32_t start = 0;
  for (std::size_t bucket = 0; bucket + 1 < bucketEnds.size(); ++bucket) {
    const std::uint32_t end = bucketEnds[bucket];
    const auto first = order.begin() + start;
    const auto last = order.begin() + end;
    if (end - start >= 2 && !std::is_sorted(first, last, lessAt)) {
      std::sort(first, last, lessAt);
    }
    start = end;
  }
  return order;
}

}  // namespace kopiensieb
