#include "common/gather_equal_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kopiensieb {
namespace {

using Keyed = std::pair<std::uint64_t, std::size_t>;  // key, position it came in

// What sorting would make of `items`, up to the order of the runs of equal keys: every key in
// one run, each run in ascending positions, nothing lost or doubled.
void ExpectGatheredAsSortingWould(const std::vector<Keyed>& gathered, std::vector<Keyed> items) {
  std::set<std::uint64_t> keysSeen;
  for (std::size_t at = 0; at < gathered.size(); ++at) {
    const bool runGoesOn = at > 0 && gathered[at].first == gathered[at - 1].first;
    if (runGoesOn) {
      ASSERT_LT(gathered[at - 1].second, gathered[at].second) << "at " << at;
    } else {
      ASSERT_TRUE(keysSeen.insert(gathered[at].first).second)
          << "key " << gathered[at].first << " stands in two runs";
    }
  }
  std::vector<Keyed> sortedBack = gathered;
  std::sort(sortedBack.begin(), sortedBack.end());
  std::sort(items.begin(), items.end());
  EXPECT_EQ(sortedBack, items);
}

TEST(GatherEqualKeysTest, EqualKeysStandTogetherInTheirOrderWhateverTheHash) {
  struct Case {
    std::string name;
    std::size_t count;
    std::uint64_t distinctKeys;  // keys drawn from 0 .. distinctKeys-1
    std::function<std::uint64_t(const Keyed&)> hash;
  };
  const auto spread = [](const Keyed& item) { return SpreadKey(item.first); };
  const auto unspread = [](const Keyed& item) { return item.first; };  // all in bucket 0
  const auto constant = [](const Keyed&) { return std::uint64_t{0x8000'0000'0000'0000}; };
  const std::vector<Case> cases{
      {"none", 0, 1, spread},
      {"one", 1, 1, spread},
      {"below dealing", 63, 10, spread},
      {"first dealt", 64, 10, spread},
      {"all distinct", 5000, 1'000'000'000, spread},
      {"pairs", 5000, 2500, spread},
      {"few large runs", 5000, 7, spread},
      {"all equal", 5000, 1, spread},
      {"hash without spread", 3000, 300, unspread},
      {"one hash for all", 3000, 300, constant},
  };
  std::mt19937_64 random(20261209);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::uniform_int_distribution<std::uint64_t> key(0, test.distinctKeys - 1);
    std::vector<Keyed> items;
    for (std::size_t position = 0; position < test.count; ++position) {
      items.emplace_back(key(random), position);
    }
    const std::vector<std::uint32_t> order = GatherEqualKeys(items, test.hash, std::less<>());
    ASSERT_EQ(order.size(), items.size());
    std::vector<Keyed> gathered;
    for (const std::uint32_t position : order) {
      ASSERT_LT(position, items.size());
      gathered.push_back(items[position]);
    }
    ExpectGatheredAsSortingWould(gathered, items);
  }
}

TEST(GatherEqualKeysTest, SpreadKeysOfCountingNumbersFillTheLeadingBits) {
  // Sizes and inode numbers count up from small numbers; their spread keys must not crowd
  // into a few buckets.
  constexpr int kBits = 10;
  std::set<std::uint64_t> buckets;
  for (std::uint64_t key = 0; key < (1U << kBits); ++key) {
    buckets.insert(SpreadKey(key) >> (64 - kBits));
  }
  EXPECT_GT(buckets.size(), (1U << kBits) / 2);
}

}  // namespace
}  // namespace kopiensieb
