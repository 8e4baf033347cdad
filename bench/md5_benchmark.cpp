#include <benchmark/benchmark.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "common/md5.h"
#include "common/md5_lanes.h"

namespace {

using kopiensieb::Md5LaneWidth;

std::string BenchmarkInput(std::size_t length, std::size_t seed = 0) {
  std::string bytes(length, '\0');
  for (std::size_t index = 0; index < length; ++index) {
    bytes[index] = static_cast<char>((index * 131 + 17 + seed * 7) % 256);
  }
  return bytes;
}

// The content comparison hashes 1 KiB chunks; large buffers show the raw block throughput.
void BM_Md5Of(benchmark::State& state) {
  const std::string input = BenchmarkInput(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    kopiensieb::Md5Digest digest = kopiensieb::Md5Of(input);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
}
BENCHMARK(BM_Md5Of)->Arg(1024)->Arg(1024 * 1024);

// A batch of range(1) chunks of range(0) bytes each, every chunk in memory of its own, as the
// chunks of the files of one size class are.
struct Batch {
  explicit Batch(const benchmark::State& state) {
    for (std::int64_t at = 0; at < state.range(1); ++at) {
      texts.push_back(
          BenchmarkInput(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(at)));
    }
    messages.assign(texts.begin(), texts.end());
    digests.resize(texts.size());
  }
  std::int64_t Bytes() const {
    return static_cast<std::int64_t>(texts.size() * texts.front().size());
  }

  std::vector<std::string> texts;
  std::vector<std::span<const char>> messages;
  std::vector<kopiensieb::Md5Digest> digests;
};

// The batch hashed at most `width` lanes wide; skipped where this machine lacks the width.
void HashBatch(benchmark::State& state, Md5LaneWidth width) {
  if (!kopiensieb::Md5LaneWidthRuns(width)) {
    state.SkipWithError("this processor lacks the lane width");
    return;
  }
  Batch batch(state);
  for (auto _ : state) {
    kopiensieb::Md5OfEach(batch.messages, batch.digests, width);
    benchmark::DoNotOptimize(batch.digests.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * batch.Bytes());
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(1));
}

void BM_Md5OfEach_Plain(benchmark::State& state) {
  HashBatch(state, Md5LaneWidth::One);
}
void BM_Md5OfEach_Avx2(benchmark::State& state) {
  HashBatch(state, Md5LaneWidth::Eight);
}
void BM_Md5OfEach_Avx512(benchmark::State& state) {
  HashBatch(state, Md5LaneWidth::Sixteen);
}

// Chunk length, chunks per batch: the batches the size-class reading makes, and the small
// ones around where the lanes start to pay.
void BatchShapes(benchmark::internal::Benchmark* benchmark) {
  for (std::int64_t count : {2, 3, 4, 5, 8, 16, 64}) {
    benchmark->Args({1024, count});
  }
  benchmark->Args({100, 64});
}
BENCHMARK(BM_Md5OfEach_Plain)->Apply(BatchShapes);
BENCHMARK(BM_Md5OfEach_Avx2)->Apply(BatchShapes);
BENCHMARK(BM_Md5OfEach_Avx512)->Apply(BatchShapes);

}  // namespace
