#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/chunk_reader.h"
#include "catalogue/duplicate_search.h"
#include "search_test_support.h"

namespace kopiensieb {
namespace {

using testing::GroupPaths;
using testing::PlainSearch;
using testing::SearchTest;

constexpr std::size_t kFileSize = 10 * 1024;

std::string Content(int seed) {
  std::string bytes(kFileSize, '\0');
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    bytes[at] = static_cast<char>(at * 131 + at / 257 + static_cast<std::size_t>(seed) * 29);
  }
  return bytes;
}

// Equal to `bytes` but in its last chunk.
std::string WithLastChunkChanged(std::string bytes, int variant) {
  bytes[kFileSize - 1000 + static_cast<std::size_t>(variant)] ^= 0x55;
  return bytes;
}

enum class Kind { Copy, LateDifference, EarlyDifference };

// Fifty files of one size: ten copies of one content, ten that differ from it only in their
// last chunk (five contents, two files each), thirty that differ in their first chunk. They
// are catalogued in a shuffled order, so groups and their members interleave.
class ReadOnceTest : public SearchTest {
 protected:
  void SetUp() override {
    const std::string original = Content(0);
    std::vector<std::pair<std::string, Kind>> made;
    for (int index = 0; index < 50; ++index) {
      const std::string name = "f" + std::to_string(index);
      if (index < 10) {
        temp.WriteFile(name, original);
        made.emplace_back(name, Kind::Copy);
      } else if (index < 20) {
        temp.WriteFile(name, WithLastChunkChanged(original, (index - 10) / 2));
        made.emplace_back(name, Kind::LateDifference);
      } else {
        temp.WriteFile(name, Content(index));
        made.emplace_back(name, Kind::EarlyDifference);
      }
    }
    for (int step = 0; step < 50; ++step) {
      const auto& [name, kind] = made[static_cast<std::size_t>(step * 17 % 50)];
      Catalogue(name);
      kinds[Path(name)] = kind;
    }
  }

  std::map<std::string, Kind> kinds;
};

TEST_F(ReadOnceTest, EveryByteIsReadAtMostOnceAndTheGroupsAreThoseOfPairwiseComparing) {
  FindDuplicates(program, SearchMode::SameContent);

  const GroupPaths groups = Groups();
  PosixFileServices plainFiles;
  EXPECT_EQ(groups, PlainSearch(plainFiles, program.state.fileCatalogue, true).groups);
  ASSERT_EQ(groups.size(), 6U);
  std::vector<std::size_t> sizes;
  for (const auto& group : groups) {
    sizes.push_back(group.size());
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 2, 2, 2, 2, 10}));

  ASSERT_EQ(files.logs.size(), 50U);
  for (const auto& [path, log] : files.logs) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(log.AnyByteReadTwice());
    if (kinds.at(path) == Kind::EarlyDifference) {
      EXPECT_EQ(log.opens, 1);
      EXPECT_EQ(log.bytesRead, kChunkSize);
    } else {
      // Once for the first chunk, once for the rest: the whole file, each byte once.
      EXPECT_EQ(log.opens, 2);
      EXPECT_EQ(log.bytesRead, static_cast<std::int64_t>(kFileSize));
    }
  }
}

TEST_F(ReadOnceTest, AShareOfEachFileCoversOnlyThatShare) {
  // At 50 percent the late differences lie beyond the compared part.
  program.state.comparePercent = 50;

  FindDuplicates(program, SearchMode::SameContent);

  const GroupPaths groups = Groups();
  PosixFileServices plainFiles;
  EXPECT_EQ(groups, PlainSearch(plainFiles, program.state.fileCatalogue, true, 50).groups);
  ASSERT_EQ(groups.size(), 1U);
  EXPECT_EQ(groups.front().size(), 20U);
  for (const auto& [path, log] : files.logs) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(log.AnyByteReadTwice());
    EXPECT_EQ(log.bytesRead,
              kinds.at(path) == Kind::EarlyDifference ? kChunkSize : std::int64_t{kFileSize / 2});
  }
}

TEST_F(SearchTest, APairIsComparedOnceAndStopsAtItsFirstDifference) {
  temp.WriteFile("a", Content(1));
  temp.WriteFile("b", Content(1));
  temp.WriteFile("x", Content(2).substr(0, 5000));
  temp.WriteFile("y", Content(3).substr(0, 5000));
  for (const char* name : {"a", "b", "x", "y"}) {
    Catalogue(name);
  }

  FindDuplicates(program, SearchMode::SameContent);

  EXPECT_EQ(Groups(), (GroupPaths{{Path("a"), Path("b")}}));
  for (const char* name : {"a", "b"}) {
    const testing::PathLog& log = files.logs.at(Path(name));
    EXPECT_EQ(log.opens, 1);
    EXPECT_EQ(log.bytesRead, static_cast<std::int64_t>(kFileSize));
    EXPECT_FALSE(log.AnyByteReadTwice());
  }
  for (const char* name : {"x", "y"}) {
    EXPECT_EQ(files.logs.at(Path(name)).opens, 1);
    EXPECT_EQ(files.logs.at(Path(name)).bytesRead, kChunkSize);
  }
}

TEST_F(SearchTest, FilesOfOneChunkNeedNoSecondRead) {
  const std::string small(700, 'k');
  for (const char* name : {"a", "b", "c", "d"}) {
    temp.WriteFile(name, name[0] == 'c' ? std::string(700, 'j') : small);
    Catalogue(name);
  }

  FindDuplicates(program, SearchMode::SameContent);

  EXPECT_EQ(Groups(), (GroupPaths{{Path("a"), Path("b"), Path("d")}}));
  for (const auto& [path, log] : files.logs) {
    EXPECT_EQ(log.opens, 1) << path;
    EXPECT_EQ(log.bytesRead, 700) << path;
  }
}

}  // namespace
}  // namespace kopiensieb
