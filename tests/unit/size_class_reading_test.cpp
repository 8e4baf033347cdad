#include "catalogue/size_class_reading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/chunk_reader.h"
#include "md5_collision.h"
#include "search_test_support.h"

namespace kopiensieb {
namespace {

using testing::LoggingFileServices;
using testing::TempFolder;

// splitmix64, so that a seed always gives the same files.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }

 private:
  std::uint64_t state_;
};

std::string Pattern(std::size_t size, std::uint64_t seed) {
  Random random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(random.Next());
  }
  return bytes;
}

// Files of one size that share long stretches: a few bases, each copy changed at a few
// chunk positions drawn from a small set, so that parts meet and split at many chunks.
std::vector<std::string> RelatedContents(std::size_t count, std::size_t size, std::uint64_t seed) {
  Random random(seed);
  const std::vector<std::string> bases{Pattern(size, seed * 3 + 1), Pattern(size, seed * 3 + 2)};
  const std::size_t chunks = (size + 1023) / 1024;
  std::vector<std::string> contents;
  for (std::size_t index = 0; index < count; ++index) {
    std::string bytes = bases[random.Below(4) == 0 ? 1 : 0];
    const std::size_t changes = random.Below(3);
    for (std::size_t change = 0; change < changes; ++change) {
      const std::size_t chunk = 1 + random.Below(std::max<std::size_t>(chunks - 1, 1));
      const std::size_t at = std::min(size - 1, chunk * 1024 + random.Below(2) * 7);
      bytes[at] = static_cast<char>(bytes[at] ^ (1 + random.Below(2)));
    }
    contents.push_back(std::move(bytes));
  }
  return contents;
}

class ReadSizeClassTest : public ::testing::Test {
 protected:
  // The jobs view their paths, as the search's view catalogue records.
  const std::string& Keep(std::string path) { return paths_.emplace_back(std::move(path)); }

  std::vector<ClassFile> Write(const std::vector<std::string>& contents) {
    std::vector<ClassFile> jobs;
    for (std::size_t index = 0; index < contents.size(); ++index) {
      jobs.push_back(ClassFile{.location = testing::LocationOfPath(Keep(
                                   temp.WriteFile("f" + std::to_string(index), contents[index])))});
    }
    return jobs;
  }

  // Every pair of files is in one part exactly when CompareFileContents calls them equal
  // (a file made to fail equals nothing);
  // every part has at least two files; no byte was read twice and no more files were open
  // at once than allowed.
  void ExpectPairwiseVerdicts(const std::vector<ClassFile>& jobs, std::int64_t size,
                              std::int32_t percent, const ReadingLimits& limits) {
    NativeFileServices plain;
    std::map<std::size_t, int> partSizes;
    for (const ClassFile& job : jobs) {
      EXPECT_NE(job.state, ClassFileState::Unread) << job.location.Path();
      if (job.state == ClassFileState::Known) {
        ++partSizes[job.part];
      }
    }
    for (const auto& [part, members] : partSizes) {
      EXPECT_GE(members, 2) << "part " << part;
    }
    for (std::size_t left = 0; left < jobs.size(); ++left) {
      for (std::size_t right = left + 1; right < jobs.size(); ++right) {
        const bool together = jobs[left].state == ClassFileState::Known &&
                              jobs[right].state == ClassFileState::Known &&
                              jobs[left].part == jobs[right].part;
        // A file made to fail part way equals nothing, whatever it holds on disk.
        const bool failing = files.failAfter.contains(jobs[left].location.Path()) ||
                             files.failAfter.contains(jobs[right].location.Path());
        const bool equal = !failing && CompareFileContents(plain, jobs[right].location.Path(),
                                                           jobs[left].location.Path(), size,
                                                           percent, nullptr) == 1;
        EXPECT_EQ(together, equal)
            << jobs[left].location.Path() << " / " << jobs[right].location.Path();
      }
    }
    for (const auto& [path, log] : files.logs) {
      EXPECT_FALSE(log.AnyByteReadTwice()) << path;
      EXPECT_LE(log.opens, 2) << path;
    }
    EXPECT_LE(files.watch.peakOpen, static_cast<int>(std::max<std::size_t>(limits.openFiles, 2)));
    EXPECT_EQ(files.watch.openNow, 0);
  }

  // Writes `contents`, reads them as one class within `openFiles`, with fresh logs, and holds
  // the parts to the pairwise verdicts.
  std::vector<ClassFile> ReadClassOf(const std::vector<std::string>& contents, std::int64_t size,
                                     std::int32_t percent, std::size_t openFiles) {
    files.logs.clear();
    files.watch = {};
    std::vector<ClassFile> jobs = Write(contents);
    const ReadingLimits limits{.openFiles = openFiles};
    ReadSizeClass(files, jobs, size, percent, nullptr, limits);
    ExpectPairwiseVerdicts(jobs, size, percent, limits);
    return jobs;
  }

  TempFolder temp;
  LoggingFileServices files;
  std::deque<std::string> paths_;  // never moves a path it holds
};

TEST_F(ReadSizeClassTest, PartsAreThePairwiseVerdictsForEveryOpenFileBound) {
  // Bound 2 and 3 read sets one by one (folded) or behind their first chunk in lockstep;
  // 256 holds the whole class open. Shares of the files cut the differences off or not.
  constexpr std::size_t kSize = 7 * 1024 + 300;
  for (std::uint64_t seed = 1; seed <= 3; ++seed) {
    const std::vector<std::string> contents = RelatedContents(24, kSize, seed);
    for (const std::size_t openFiles :
         {std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{256}}) {
      for (const std::int32_t percent : {100, 40}) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", bound " + std::to_string(openFiles) +
                     ", percent " + std::to_string(percent));
        ReadClassOf(contents, kSize, percent, openFiles);
      }
    }
  }
}

// Families of files that share their first chunk: copies of the family's base, and variants
// that leave it at a later chunk (some only in the last byte). One file is shorter than the
// class size and one fails part way, so that threads also meet files that are equal to none.
// (Larger than a page: smaller files are read whole at their first open.)
TEST_F(ReadSizeClassTest, ManySmallFilesReadSideBySideGiveThePairwiseVerdicts) {
  constexpr std::size_t kSize = 5 * 1024 + 100;
  Random random(77);
  std::vector<std::string> contents;
  for (std::uint64_t family = 0; family < 70; ++family) {
    const std::string base = Pattern(kSize, 100 + family);
    const std::size_t members = 1 + random.Below(4) + (family % 2);
    for (std::size_t member = 0; member < members; ++member) {
      std::string bytes = base;
      if (random.Below(3) == 0) {
        const std::size_t at = random.Below(2) == 0 ? kSize - 1 : 1024 + random.Below(kSize - 1024);
        bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
      }
      contents.push_back(std::move(bytes));
    }
  }
  contents[5].resize(kSize - 1);
  files.concurrent = true;
  std::vector<ClassFile> jobs = Write(contents);
  files.failAfter[jobs[9].location.Path()] = 2000;
  // Slow reads keep the files of the sets being read open long enough to meet each other.
  files.watch.beforeRead = [](const std::string&, std::int64_t) {
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  };
  const ReadingLimits limits{.openFiles = 8, .readerThreads = 3};
  ReadSizeClass(files, jobs, kSize, 100, nullptr, limits);
  ExpectPairwiseVerdicts(jobs, kSize, 100, limits);
  EXPECT_EQ(jobs[5].state, ClassFileState::Unreadable);
  EXPECT_NE(jobs[9].state, ClassFileState::Known);
  EXPECT_GT(std::count_if(jobs.begin(), jobs.end(),
                          [](const ClassFile& job) { return job.state == ClassFileState::Known; }),
            40);
}

// Chunks that differ in their bytes but not in their MD5 digests are equal chunks: files made
// of them belong together, on every path through the class (whole class in lockstep, files of
// up to a page read whole at once, sets behind the first chunk in lockstep, sets folded one by
// one).
TEST_F(ReadSizeClassTest, ChunksOfDifferentBytesButOneDigestKeepTheirFilesTogether) {
  const std::string a = testing::CollidingBlocksA();
  const std::string b = testing::CollidingBlocksB();
  const std::string firstTail = Pattern(1024 - a.size(), 21);
  const std::string secondTail = Pattern(1024 - a.size(), 22);
  const std::string firstA = a + firstTail;
  const std::string firstB = b + firstTail;
  const std::string firstOther = Pattern(1024, 23);
  const std::string secondA = a + secondTail;
  const std::string secondB = b + secondTail;
  const std::string secondOther = Pattern(1024, 24);
  for (const std::size_t restSize : {std::size_t{1100}, std::size_t{3100}})
    for (const std::size_t openFiles :
         {std::size_t{2}, std::size_t{3}, std::size_t{5}, std::size_t{7}}) {
      SCOPED_TRACE("rest " + std::to_string(restSize) + ", bound " + std::to_string(openFiles));
      const std::string rest = Pattern(restSize, 25);
      std::string otherRest = rest;
      otherRest.back() ^= 1;
      const std::vector<std::string> contents = {
          firstOther + secondA + rest,   // 0: with 6
          firstB + secondA + rest,       // 1: with 2 and 3
          firstA + secondB + rest,       // 2
          firstA + secondA + rest,       // 3
          firstB + secondOther + rest,   // 4: leaves them at the second chunk
          firstA + secondB + otherRest,  // 5: leaves them at the last byte
          firstOther + secondB + rest,   // 6
      };
      const std::vector<ClassFile> jobs = ReadClassOf(contents, 2048 + restSize, 100, openFiles);
      for (std::size_t job : {0, 1, 2, 3, 6}) {
        EXPECT_EQ(jobs[job].state, ClassFileState::Known) << job;
      }
      EXPECT_EQ(jobs[0].part, 0U);
      EXPECT_EQ(jobs[6].part, 0U);
      for (std::size_t job : {1, 2, 3}) {
        EXPECT_EQ(jobs[job].part, 1U) << job;
      }
      EXPECT_EQ(jobs[4].state, ClassFileState::Distinct);
      EXPECT_EQ(jobs[5].state, ClassFileState::Distinct);
    }
}

// A class too large to hold open, of files of up to a page: each file is opened once and read
// whole in one read, however many share their first chunk, and still splits where a later
// chunk differs; a file that fails half way equals nothing. Beyond a page, the files that
// share their first chunk are opened again behind it.
TEST_F(ReadSizeClassTest, FilesOfUpToAPageAreReadWholeAtTheirOnlyOpen) {
  for (const auto& [size, opens] : std::vector<std::pair<std::size_t, int>>{
           {1000, 1}, {2 * 1024 + 5, 1}, {4 * 1024, 1}, {4 * 1024 + 1, 2}}) {
    SCOPED_TRACE(size);
    files.failAfter = {{temp.PathOf("f0"), static_cast<std::int64_t>(size / 2)}};
    const std::vector<ClassFile> jobs = ReadClassOf(RelatedContents(24, size, 5), size, 100, 3);
    EXPECT_EQ(jobs[0].state, ClassFileState::Unreadable);
    std::set<ClassFileState> states;
    for (const ClassFile& job : std::span(jobs).subspan(1)) {
      states.insert(job.state);
      const auto& log = files.logs.at(job.location.Path());
      EXPECT_EQ(log.opens, opens) << job.location.Path();
      if (opens == 1) {
        EXPECT_EQ(log.ranges.size(), 1U) << job.location.Path();
        EXPECT_EQ(log.bytesRead, static_cast<std::int64_t>(size)) << job.location.Path();
      }
    }
    EXPECT_EQ(states, (std::set{ClassFileState::Known, ClassFileState::Distinct}));
  }
}

TEST_F(ReadSizeClassTest, FilesThatDifferEarlyAreNotReadFurther) {
  constexpr std::size_t kSize = 200 * 1024;
  const std::string base = Pattern(kSize, 9);
  std::vector<std::string> contents{base, base, Pattern(kSize, 10), base};
  contents[3][2 * 1024] ^= 1;  // leaves the others at chunk 2
  // Bound 3: the class is sorted by first chunks, the three that share it are opened again
  // behind it. Bound 256: all four are read in lockstep from the start.
  for (const auto& [openFiles, readOfLateFile] :
       std::map<std::size_t, std::int64_t>{{3, 4 * kChunkSize}, {256, 3 * kChunkSize}}) {
    SCOPED_TRACE(openFiles);
    const std::vector<ClassFile> jobs = ReadClassOf(contents, kSize, 100, openFiles);
    EXPECT_EQ(jobs[0].state, ClassFileState::Known);
    EXPECT_EQ(jobs[2].state, ClassFileState::Distinct);
    EXPECT_EQ(jobs[3].state, ClassFileState::Distinct);
    EXPECT_EQ(files.logs.at(jobs[2].location.Path()).bytesRead, kChunkSize);
    // Chunk 2 lies in the second read-ahead block behind the first chunk.
    EXPECT_EQ(files.logs.at(jobs[3].location.Path()).bytesRead, readOfLateFile);
    EXPECT_EQ(files.logs.at(jobs[0].location.Path()).bytesRead, static_cast<std::int64_t>(kSize));
  }
}

TEST_F(ReadSizeClassTest, ReadAheadStaysWithinTheBudgetOfTheFilesReadTogether) {
  constexpr std::size_t kSize = 4 << 20;
  const std::string base = Pattern(kSize, 11);
  std::vector<ClassFile> jobs = Write({base, base, base, base});
  const ReadingLimits limits{
      .readAheadBudget = 512 << 10, .smallestReadAhead = 64 << 10, .largestReadAhead = 1 << 20};
  ReadSizeClass(files, jobs, kSize, 100, nullptr, limits);
  ExpectPairwiseVerdicts(jobs, kSize, 100, limits);
  // 512 KiB over four files: blocks of 128 KiB at most, so 4 MiB takes more than 32 reads.
  for (const auto& [path, log] : files.logs) {
    EXPECT_EQ(log.bytesRead, static_cast<std::int64_t>(kSize));
    EXPECT_GE(log.ranges.size(), 32U) << path;
    for (const auto& [from, to] : log.ranges) {
      EXPECT_LE(to - from, 128 << 10) << path;
    }
  }
}

TEST_F(ReadSizeClassTest, ProgressClimbsWithTheLockstepReading) {
  constexpr std::size_t kSize = 5000;
  const std::string base = Pattern(kSize, 12);
  std::vector<ClassFile> jobs = Write({base, base, base});
  std::vector<int> progress;
  ReadSizeClass(files, jobs, kSize, 100, [&progress](int value) { progress.push_back(value); });
  // It climbs while the files are read (not only at the end), never falls, and ends at 100.
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_GT(progress.front(), 0);
  EXPECT_LT(progress.front(), 100);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_GE(std::set<int>(progress.begin(), progress.end()).size(), 3U);
  EXPECT_EQ(jobs[0].part, jobs[2].part);
}

TEST_F(ReadSizeClassTest, NothingToCompareMakesEveryReadableFileEqual) {
  std::vector<ClassFile> jobs = Write({"a", "b", "c"});
  jobs.push_back(ClassFile{.location = testing::LocationOfPath(Keep(temp.PathOf("missing")))});
  ReadSizeClass(files, jobs, 1, 50, nullptr);  // 1 byte at 50 percent: nothing
  EXPECT_EQ(jobs[0].state, ClassFileState::Known);
  EXPECT_EQ(jobs[2].state, ClassFileState::Known);
  EXPECT_EQ(jobs[0].part, jobs[1].part);
  EXPECT_EQ(jobs[0].part, jobs[2].part);
  EXPECT_EQ(jobs[3].state, ClassFileState::Unreadable);
  for (std::size_t at = 0; at < 3; ++at) {
    EXPECT_EQ(files.logs.at(jobs[at].location.Path()).bytesRead, 0);
  }
}

TEST_F(ReadSizeClassTest, AReusedReadBufferHandsOutOnlyTheNewFilesBytes) {
  const std::string big = Pattern(300 * 1024, 13);
  const std::string small = Pattern(5 * 1024 + 17, 14);
  const std::string bigPath = temp.WriteFile("big", big);
  const std::string smallPath = temp.WriteFile("small", small);
  ReadBufferPool pool;
  std::unique_ptr<ChunkReader> first = ChunkReader::Open(files, bigPath, 300 * 1024, 300 * 1024);
  ASSERT_NE(first, nullptr);
  std::span<const char> chunk;
  while (!first->AtEnd()) {
    ASSERT_TRUE(first->NextChunkBytes(chunk));
  }
  pool.Release(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(files.watch.openNow, 0);

  const auto size = static_cast<std::int64_t>(small.size());
  std::unique_ptr<ChunkReader> second =
      ChunkReader::Open(files, smallPath, size, size, kLargestReadAhead, pool.Take());
  ASSERT_NE(second, nullptr);
  std::string seen;
  while (!second->AtEnd()) {
    ASSERT_TRUE(second->NextChunkBytes(chunk));
    seen.append(chunk.data(), chunk.size());
  }
  EXPECT_EQ(seen, small);
}

}  // namespace
}  // namespace kopiensieb
