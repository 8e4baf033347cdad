#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "common/md5.h"

namespace {

std::string BenchmarkInput(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t index = 0; index < length; ++index) {
    bytes[index] = static_cast<char>((index * 131 + 17) % 256);
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

}  // namespace
