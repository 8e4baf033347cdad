#include "common/parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace kopiensieb {
namespace {

TEST(RunOnThreadsTest, EveryThreadRunsTheWorkOnceAndTheCallerIsOneOfThem) {
  for (const std::size_t threads : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
    std::mutex guard;
    std::multiset<std::thread::id> runners;
    RunOnThreads(threads, [&guard, &runners] {
      const std::scoped_lock lock(guard);
      runners.insert(std::this_thread::get_id());
    });
    const std::size_t expected = std::max<std::size_t>(threads, 1);
    EXPECT_EQ(runners.size(), expected) << threads;
    EXPECT_EQ(std::set<std::thread::id>(runners.begin(), runners.end()).size(), expected);
    EXPECT_EQ(runners.count(std::this_thread::get_id()), 1U);
  }
}

TEST(RunOnThreadsTest, AFailureIsThrownOnlyAfterEveryRunHasEnded) {
  std::atomic<int> ended{0};
  std::atomic<int> started{0};
  EXPECT_THROW(RunOnThreads(4,
                            [&started, &ended] {
                              if (started++ == 0) {
                                throw std::runtime_error("first run fails");
                              }
                              std::this_thread::sleep_for(std::chrono::milliseconds(20));
                              ++ended;
                            }),
               std::runtime_error);
  // Every run but the failing one went on to its end before the failure came out.
  EXPECT_GE(started.load(), 2);
  EXPECT_EQ(ended.load(), started.load() - 1);
}

}  // namespace
}  // namespace kopiensieb
