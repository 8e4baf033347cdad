#pragma once

#include <cstddef>
#include <functional>

namespace kopiensieb {

// How many threads reading many small files at once is worth: the machine's cores, at most
// kMostReaderThreads (beyond that the kernel's per-file work no longer shrinks), at least 1.
inline constexpr std::size_t kMostReaderThreads = 4;
std::size_t ReaderThreadsForThisMachine();

// Runs `work` on `threads` threads at once, the calling thread being one of them, and returns
// when every run has returned. The first exception thrown by a run is thrown again here once
// all runs have ended; the other runs are not stopped by it. `work` shares out its own items.
void RunOnThreads(std::size_t threads, const std::function<void()>& work);

}  // namespace kopiensieb
