#include "common/parallel.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kopiensieb {

std::size_t ReaderThreadsForThisMachine() {
  // Asked once: the C library reads the count from /sys each time, and every size class of a
  // search asks.
  static const std::size_t threads =
      std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMostReaderThreads);
  return threads;
}

void RunOnThreads(std::size_t threads, const std::function<void()>& work) {
  std::mutex failureGuard;
  std::exception_ptr failure;
  auto guarded = [&work, &failureGuard, &failure] {
    try {
      work();
    } catch (...) {
      const std::scoped_lock lock(failureGuard);
      if (!failure) {
        failure = std::current_exception();
      }
    }
  };
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(threads > 1 ? threads - 1 : 0);
    try {
      for (std::size_t helper = 1; helper < threads; ++helper) {
        helpers.emplace_back(guarded);
      }
    } catch (const std::system_error&) {
      // No more threads to be had: the ones that started, and this one, do all the work.
    }
    guarded();
  }  // joins the helpers
  if (failure) {
    std::rethrow_exception(failure);
  }
}

}  // namespace kopiensieb
