#include "catalogue/content_comparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "catalogue/chunk_reader.h"
#include "common/md5.h"
#include "recording_file_services.h"
#include "temp_folder.h"

namespace kopiensieb {
namespace {

using testing::LoggingFileServices;
using testing::PatternBytes;
using testing::TempFolder;
using testing::WithByteChanged;

class ContentComparisonTest : public ::testing::Test {
 protected:
  int Compare(const std::string& first, const std::string& second, std::int64_t size,
              std::int32_t percent = 100) {
    return CompareFileContents(files, first, second, size, percent,
                               [this](int value) { progress.push_back(value); });
  }

  TempFolder temp;
  LoggingFileServices files;
  std::vector<int> progress;
};

// A difference costs the chunks up to the one that holds it, in each file; progress comes
// after each chunk of the second file.
TEST_F(ContentComparisonTest, ReadsChunkByChunkUpToTheFirstDifference) {
  struct Row {
    std::int64_t size;
    std::int64_t changedAt;  // -1: equal files
    int verdict;
    std::vector<int> progress;
    std::int64_t bytesRead;  // of each file
  };
  const Row rows[] = {
      {1024, -1, 1, {100}, 1024},
      {2500, 2400, 0, {40, 81, 100}, 2500},  // after 1,024, 2,048 and 2,500 bytes
      {3000, 0, 0, {34}, 1024},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("size " + std::to_string(row.size) + ", changed at " +
                 std::to_string(row.changedAt));
    const std::string content = PatternBytes(static_cast<std::size_t>(row.size));
    const std::string first = temp.WriteFile("a.bin", content);
    const std::string second = temp.WriteFile(
        "b.bin", row.changedAt < 0
                     ? content
                     : WithByteChanged(content, static_cast<std::size_t>(row.changedAt)));
    files.logs.clear();
    files.opened.clear();
    progress.clear();
    EXPECT_EQ(Compare(first, second, row.size), row.verdict);
    EXPECT_EQ(progress, row.progress);
    EXPECT_EQ(files.opened, (std::vector<std::string>{first, second}));
    EXPECT_EQ(files.logs[first].bytesRead, row.bytesRead);
    EXPECT_EQ(files.logs[second].bytesRead, row.bytesRead);
    EXPECT_EQ(files.watch.openNow, 0);
  }
}

// A missing file ends the comparison at once: the second is not opened when the first is
// missing, and the first is closed when the second is.
TEST_F(ContentComparisonTest, AMissingFileDiffersAndLeavesNothingOpen) {
  const std::string present = temp.WriteFile("a.bin", "content");
  const std::string missing = temp.PathOf("gone.bin");
  for (const bool firstMissing : {true, false}) {
    SCOPED_TRACE(firstMissing ? "first missing" : "second missing");
    files.opened.clear();
    EXPECT_EQ(firstMissing ? Compare(missing, present, 7) : Compare(present, missing, 7), 0);
    EXPECT_EQ(files.opened, (firstMissing ? std::vector<std::string>{missing}
                                          : std::vector<std::string>{present, missing}));
    EXPECT_EQ(files.watch.openNow, 0);
    EXPECT_TRUE(progress.empty());
  }
}

TEST_F(ContentComparisonTest, AFileComparedWithItselfIsTheSame) {
  const std::string path = temp.WriteFile("a.bin", PatternBytes(5000));
  EXPECT_EQ(Compare(path, path, 5000), 1);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_EQ(progress.size(), 5u);
}

TEST_F(ContentComparisonTest, PercentLimitsTheComparedPart) {
  const std::string content = PatternBytes(1000);
  const std::string first = temp.WriteFile("a.bin", content);
  const std::string differsAfter = temp.WriteFile("b.bin", WithByteChanged(content, 600));
  const std::string differsWithin = temp.WriteFile("c.bin", WithByteChanged(content, 499));

  EXPECT_EQ(Compare(first, differsAfter, 1000, 50), 1);
  EXPECT_EQ(progress, std::vector<int>{100});
  EXPECT_EQ(files.logs[first].bytesRead, 500);
  EXPECT_EQ(files.logs[differsAfter].bytesRead, 500);

  EXPECT_EQ(Compare(first, differsWithin, 1000, 50), 0);
}

TEST_F(ContentComparisonTest, PercentOutsideOneToHundredComparesEverything) {
  const std::string content = PatternBytes(1000);
  const std::string first = temp.WriteFile("a.bin", content);
  const std::string second = temp.WriteFile("b.bin", WithByteChanged(content, 999));
  for (std::int32_t percent : {0, -5, 101, 1000}) {
    EXPECT_EQ(Compare(first, second, 1000, percent), 0) << percent;
  }
  EXPECT_EQ(Compare(first, second, 1000, 99), 1);
}

TEST_F(ContentComparisonTest, FileOfAnotherSizeThanCataloguedDiffers) {
  const std::string content = PatternBytes(3000);
  const std::string first = temp.WriteFile("a.bin", content);
  const std::string second = temp.WriteFile("b.bin", content);
  // Equal files, but not of the size the catalogue holds: no longer the catalogued files.
  EXPECT_EQ(Compare(first, second, 2000), 0);
  EXPECT_EQ(Compare(first, second, 2000, 50), 0);

  // Truncated after cataloguing: even though the part left equals the other file's start.
  temp.Resize("b.bin", 2000);
  EXPECT_EQ(Compare(first, second, 3000), 0);
  EXPECT_EQ(Compare(second, first, 3000), 0);
}

TEST_F(ContentComparisonTest, FilesShrinkingDuringTheComparisonDiffer) {
  const std::string content = PatternBytes(5000);
  const std::string first = temp.WriteFile("a.bin", content);
  const std::string second = temp.WriteFile("b.bin", content);
  // Both files shrink alike after the first chunk: what is left is equal, but the comparison
  // can no longer read what it set out to compare.
  int result = CompareFileContents(files, first, second, 5000, 100, [&](int value) {
    if (progress.empty()) {
      temp.Resize("a.bin", 1500);
      temp.Resize("b.bin", 1500);
    }
    progress.push_back(value);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(files.watch.openNow, 0);
}

TEST_F(ContentComparisonTest, ReadErrorsMakeEqualFilesDiffer) {
  const std::string content = PatternBytes(3000);
  const std::string first = temp.WriteFile("a.bin", content);
  const std::string second = temp.WriteFile("b.bin", content);
  files.failAfter[second] = 2100;
  EXPECT_EQ(Compare(first, second, 3000), 0);
  files.failAfter.clear();
  files.failAfter[first] = 0;
  EXPECT_EQ(Compare(first, second, 3000), 0);
  // Failing alike on both sides leaves nothing that differs but what was never read.
  files.failAfter[first] = 2100;
  files.failAfter[second] = 2100;
  EXPECT_EQ(Compare(first, second, 3000), 0);
  files.failAfter.clear();
  EXPECT_EQ(Compare(first, second, 3000), 1);
}

TEST_F(ContentComparisonTest, EmptyComparisonEndsAndAgrees) {
  const std::string first = temp.WriteFile("a.bin", "");
  const std::string second = temp.WriteFile("b.bin", "");
  EXPECT_EQ(Compare(first, second, 0), 1);
  EXPECT_EQ(progress, std::vector<int>{100});
  EXPECT_EQ(Compare(first, temp.PathOf("gone"), 0), 0);
  // One byte at 50 percent leaves nothing to compare.
  const std::string x = temp.WriteFile("x", "x");
  const std::string y = temp.WriteFile("y", "y");
  EXPECT_EQ(Compare(x, y, 1, 50), 1);
  EXPECT_EQ(Compare(x, y, 1), 0);
}

TEST_F(ContentComparisonTest, LongFilesStreamChunkByChunkToTheLastByte) {
  const std::int64_t size = 3 * (1 << 20) + 100;
  const std::string content = PatternBytes(size);
  const std::string first = temp.WriteFile("a.bin", content);
  const std::string same = temp.WriteFile("b.bin", content);
  const std::string lastDiffers =
      temp.WriteFile("c.bin", WithByteChanged(content, static_cast<std::size_t>(size - 1)));

  EXPECT_EQ(Compare(first, same, size), 1);
  EXPECT_EQ(progress.size(), static_cast<std::size_t>(size / 1024 + 1));  // one per chunk
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 100);
  EXPECT_EQ(files.logs[first].bytesRead, size);
  EXPECT_EQ(files.logs[same].bytesRead, size);
  // Read ahead in blocks growing to 1 MiB, not a call per chunk.
  EXPECT_LE(files.logs[first].readCalls, 14);

  progress.clear();
  EXPECT_EQ(Compare(first, lastDiffers, size), 0);
  EXPECT_EQ(progress.back(), 100);
}

TEST_F(ContentComparisonTest, SizesBeyondFourGibibytes) {
  // Sparse files: 5 GiB of zeros each, but for one byte at 4 GiB + 10. Cut to 32 bits, the size
  // would be 1 GiB and the difference out of sight.
  const std::int64_t size = std::int64_t{5} << 30;
  const std::int64_t differsAt = (std::int64_t{4} << 30) + 10;
  const std::string first = temp.Resize("a.bin", size);
  const std::string second = temp.Resize("b.bin", size);
  temp.WriteAt("b.bin", differsAt, "!");
  EXPECT_EQ(Compare(first, second, size), 0);
  EXPECT_EQ(progress.back(), static_cast<int>((differsAt / 1024 + 1) * 1024 * 100 / size));
  EXPECT_EQ(files.logs[first].bytesRead, files.logs[second].bytesRead);
  EXPECT_GT(files.logs[first].bytesRead, differsAt);
}

class ChunkReaderTest : public ::testing::Test {
 protected:
  // The digest of the chunk of `content` at `from`: kChunkSize bytes, or those left.
  static Md5Digest ChunkDigest(const std::string& content, std::size_t from) {
    const std::size_t length =
        std::min(content.size() - from, static_cast<std::size_t>(kChunkSize));
    return Md5Of(std::span<const char>(content.data() + from, length));
  }

  TempFolder temp;
  LoggingFileServices files;
};

TEST_F(ChunkReaderTest, HandsOutTheDigestOfEveryChunkInTurn) {
  const std::string content = PatternBytes(2500, 7);
  const std::string path = temp.WriteFile("a.bin", content);
  std::unique_ptr<ChunkReader> reader = ChunkReader::Open(files, path, 2500, 2500);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->Length(), 2500);
  EXPECT_EQ(reader->Position(), 0);
  EXPECT_FALSE(reader->AtEnd());

  const std::vector<std::pair<std::size_t, std::size_t>> chunks = {
      {0, 1024}, {1024, 1024}, {2048, 452}};
  for (const auto& [offset, length] : chunks) {
    Md5Digest digest{};
    ASSERT_TRUE(reader->NextChunk(digest));
    EXPECT_EQ(digest, ChunkDigest(content, offset)) << offset;
    EXPECT_EQ(reader->Position(), static_cast<std::int64_t>(offset + length));
  }
  EXPECT_TRUE(reader->AtEnd());
  Md5Digest extra{};
  EXPECT_FALSE(reader->NextChunk(extra));
  EXPECT_EQ(reader->Position(), 2500);
}

TEST_F(ChunkReaderTest, CoversOnlyTheLengthAskedFor) {
  const std::string content = PatternBytes(3000);
  const std::string path = temp.WriteFile("a.bin", content);
  std::unique_ptr<ChunkReader> reader = ChunkReader::Open(files, path, 3000, 1500);
  ASSERT_NE(reader, nullptr);
  Md5Digest digest{};
  ASSERT_TRUE(reader->NextChunk(digest));
  ASSERT_TRUE(reader->NextChunk(digest));
  EXPECT_EQ(digest, ChunkDigest(content.substr(0, 1500), 1024));
  EXPECT_TRUE(reader->AtEnd());
  EXPECT_EQ(files.logs[path].bytesRead, 1500);
}

// A file that differs early costs one chunk; a long one streams in few, bounded reads.
TEST_F(ChunkReaderTest, FirstChunkCostsOneChunkAndLongFilesStreamInFewBoundedReads) {
  const std::int64_t size = (std::int64_t{3} << 20) + 500;
  const std::int64_t largest = std::int64_t{256} << 10;
  const std::string path = temp.WriteFile("a.bin", PatternBytes(size));
  std::unique_ptr<ChunkReader> reader = ChunkReader::Open(files, path, size, size, largest);
  ASSERT_NE(reader, nullptr);
  Md5Digest digest{};
  ASSERT_TRUE(reader->NextChunk(digest));
  EXPECT_EQ(files.logs[path].bytesRead, kChunkSize);
  while (!reader->AtEnd()) {
    ASSERT_TRUE(reader->NextChunk(digest));
    EXPECT_LE(files.logs[path].bytesRead - reader->Position(), largest);
  }
  EXPECT_EQ(files.logs[path].bytesRead, size);
  EXPECT_FALSE(files.logs[path].AnyByteReadTwice());
  for (const auto& [from, to] : files.logs[path].ranges) {
    EXPECT_LE(to - from, largest);
  }
  // Growing blocks: a few reads to reach the largest block, then one per block.
  EXPECT_LT(files.logs[path].ranges.size(), static_cast<std::size_t>(size / largest + 16));
}

TEST_F(ChunkReaderTest, SkippedChunksAreNotReadAndLaterChunksStillMatch) {
  const std::int64_t size = 100 * 1024 + 300;
  const std::string content = PatternBytes(size, 3);
  const std::string path = temp.WriteFile("a.bin", content);
  std::unique_ptr<ChunkReader> reader = ChunkReader::Open(files, path, size, size);
  ASSERT_NE(reader, nullptr);
  Md5Digest digest{};
  ASSERT_TRUE(reader->NextChunk(digest));  // reads chunk 0
  ASSERT_TRUE(reader->NextChunk(digest));  // reads chunks 1 and 2 ahead
  ASSERT_TRUE(reader->SkipChunks(1));      // chunk 2, from the buffer
  EXPECT_EQ(reader->Position(), 3 * 1024);
  ASSERT_TRUE(reader->NextChunk(digest));
  EXPECT_EQ(digest, ChunkDigest(content, 3 * 1024));
  ASSERT_TRUE(reader->SkipChunks(90));  // far beyond the buffer: a seek
  EXPECT_EQ(reader->Position(), 94 * 1024);
  ASSERT_TRUE(reader->NextChunk(digest));
  EXPECT_EQ(digest, ChunkDigest(content, 94 * 1024));
  EXPECT_LT(files.logs[path].bytesRead, 20 * 1024);
  ASSERT_TRUE(reader->SkipChunks(1000));  // more than are left: to the end
  EXPECT_TRUE(reader->AtEnd());
  EXPECT_FALSE(reader->NextChunk(digest));

  // A file cut short meanwhile cannot be skipped into.
  std::unique_ptr<ChunkReader> shortened = ChunkReader::Open(files, path, size, size);
  ASSERT_NE(shortened, nullptr);
  temp.Resize("a.bin", 10 * 1024);
  EXPECT_FALSE(shortened->SkipChunks(50));
  EXPECT_FALSE(shortened->NextChunk(digest));
}

TEST_F(ChunkReaderTest, SkipsFromTheStartOnChunkBoundariesAndNeverPastTheCoveredLength) {
  const std::string content = PatternBytes(5000, 1);
  const std::string path = temp.WriteFile("a.bin", content);
  std::unique_ptr<ChunkReader> reader = ChunkReader::Open(files, path, 5000, 5000);
  ASSERT_NE(reader, nullptr);
  ASSERT_TRUE(reader->SkipChunks(1));  // before anything was read
  EXPECT_EQ(reader->Position(), 1024);
  Md5Digest digest{};
  ASSERT_TRUE(reader->NextChunk(digest));
  EXPECT_EQ(digest, ChunkDigest(content, 1024));
  ASSERT_TRUE(reader->SkipChunks(2));
  ASSERT_TRUE(reader->NextChunk(digest));
  EXPECT_EQ(digest, ChunkDigest(content, 4096));
  EXPECT_TRUE(reader->AtEnd());

  // Covering less than the file: a long skip stops at the covered length.
  std::unique_ptr<ChunkReader> part = ChunkReader::Open(files, path, 5000, 2500);
  ASSERT_NE(part, nullptr);
  ASSERT_TRUE(part->SkipChunks(7));
  EXPECT_EQ(part->Position(), 2500);
  EXPECT_TRUE(part->AtEnd());
  EXPECT_FALSE(part->NextChunk(digest));
  EXPECT_FALSE(part->SkipChunks(-1));
}

TEST_F(ChunkReaderTest, RefusesFilesThatAreNotTheCataloguedOnes) {
  const std::string path = temp.WriteFile("a.bin", PatternBytes(100));
  temp.MakeSymlink("link", "a.bin");
  temp.MakeFifo("pipe");
  EXPECT_EQ(ChunkReader::Open(files, path, 99, 99), nullptr);
  EXPECT_EQ(ChunkReader::Open(files, path, 101, 100), nullptr);
  EXPECT_EQ(ChunkReader::Open(files, temp.PathOf("missing"), 100, 100), nullptr);
  EXPECT_EQ(ChunkReader::Open(files, temp.PathOf("link"), 100, 100), nullptr);
  EXPECT_EQ(ChunkReader::Open(files, temp.PathOf("pipe"), 0, 0), nullptr);
  EXPECT_EQ(files.watch.openNow, 0);
  EXPECT_NE(ChunkReader::Open(files, path, 100, 100), nullptr);
}

TEST_F(ChunkReaderTest, ShortReadFailsAndStaysFailed) {
  const std::string path = temp.WriteFile("a.bin", PatternBytes(4000));
  std::unique_ptr<ChunkReader> reader = ChunkReader::Open(files, path, 4000, 4000);
  ASSERT_NE(reader, nullptr);
  Md5Digest digest{};
  ASSERT_TRUE(reader->NextChunk(digest));
  temp.Resize("a.bin", 2000);
  EXPECT_FALSE(reader->NextChunk(digest));
  EXPECT_EQ(reader->Position(), 1024);
  EXPECT_FALSE(reader->AtEnd());
  EXPECT_FALSE(reader->NextChunk(digest));
}

}  // namespace
}  // namespace kopiensieb
