#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "catalogue/chunk_reader.h"
#include "common/md5.h"
#include "platform/posix/posix_file_services.h"
#include "temp_folder.h"

namespace kopiensieb {
namespace {

using testing::TempFolder;

class ChunkSkipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes.resize(5000);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
      bytes[at] = static_cast<char>(at * 7 + at / 300);
    }
    path = temp.WriteFile("datei", bytes);
  }

  Md5Digest DigestOf(std::size_t from, std::size_t length) const {
    return Md5Of(std::span<const char>(bytes.data() + from, length));
  }

  std::unique_ptr<ChunkReader> Open(std::int64_t length) {
    return ChunkReader::Open(files, path, static_cast<std::int64_t>(bytes.size()), length);
  }

  TempFolder temp;
  PosixFileServices files;
  std::string bytes;
  std::string path;
};

TEST_F(ChunkSkipTest, SkippingFromTheStartLandsOnAChunkBoundary) {
  std::unique_ptr<ChunkReader> reader = Open(5000);
  ASSERT_TRUE(reader);
  ASSERT_TRUE(reader->SkipChunks(1));
  EXPECT_EQ(reader->Position(), 1024);
  Md5Digest digest{};
  ASSERT_TRUE(reader->NextChunk(digest));
  EXPECT_EQ(digest, DigestOf(1024, 1024));
  ASSERT_TRUE(reader->SkipChunks(2));
  ASSERT_TRUE(reader->NextChunk(digest));
  EXPECT_EQ(digest, DigestOf(4096, 904));
  EXPECT_TRUE(reader->AtEnd());
}

TEST_F(ChunkSkipTest, SkippingInsideTheReadAheadUsesTheBufferedBytes) {
  std::unique_ptr<ChunkReader> reader = Open(5000);
  ASSERT_TRUE(reader);
  Md5Digest digest{};
  ASSERT_TRUE(reader->NextChunk(digest));
  ASSERT_TRUE(reader->NextChunk(digest));  // reads a block of two chunks ahead
  ASSERT_TRUE(reader->SkipChunks(1));
  ASSERT_TRUE(reader->NextChunk(digest));
  EXPECT_EQ(digest, DigestOf(3072, 1024));
  EXPECT_EQ(reader->Position(), 4096);
}

TEST_F(ChunkSkipTest, SkippingPastTheEndStopsAtTheCoveredLength) {
  std::unique_ptr<ChunkReader> reader = Open(2500);
  ASSERT_TRUE(reader);
  ASSERT_TRUE(reader->SkipChunks(7));
  EXPECT_EQ(reader->Position(), 2500);
  EXPECT_TRUE(reader->AtEnd());
  Md5Digest digest{};
  EXPECT_FALSE(reader->NextChunk(digest));
  EXPECT_FALSE(reader->SkipChunks(-1));
}

TEST_F(ChunkSkipTest, AFileThatShrankCannotBeSkippedInto) {
  std::unique_ptr<ChunkReader> reader = Open(5000);
  ASSERT_TRUE(reader);
  temp.Resize("datei", 1500);
  EXPECT_FALSE(reader->SkipChunks(3));
  Md5Digest digest{};
  EXPECT_FALSE(reader->NextChunk(digest));
}

}  // namespace
}  // namespace kopiensieb
