#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "catalogue/chunk_reader.h"
#include "common/md5.h"
#include "md5_collision.h"
#include "search_test_support.h"
#include "shell/search_commands.h"

namespace kopiensieb {
namespace {

using testing::GroupPaths;
using testing::PatternBytes;
using testing::SearchTest;
using testing::WithByteChanged;

constexpr std::size_t kFileSize = 10 * 1024;

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
    const std::string original = PatternBytes(kFileSize, 0);
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
        temp.WriteFile(name, PatternBytes(kFileSize, index));
        made.emplace_back(name, Kind::EarlyDifference);
      }
    }
    for (int step = 0; step < 50; ++step) {
      const auto& [name, kind] = made[static_cast<std::size_t>(step * 17 % 50)];
      Catalogue(name);
      kinds[Path(name)] = kind;
    }
  }

  // Each file opened once and no byte read twice; a file that differs in its first chunk costs
  // that chunk, the others `others` bytes.
  void ExpectEachFileOpenedOnceAndRead(std::int64_t others) {
    for (const auto& [path, log] : files.logs) {
      SCOPED_TRACE(path);
      EXPECT_FALSE(log.AnyByteReadTwice());
      EXPECT_EQ(log.opens, 1);
      EXPECT_EQ(log.bytesRead, kinds.at(path) == Kind::EarlyDifference ? kChunkSize : others);
    }
  }

  std::map<std::string, Kind> kinds;
};

TEST_F(ReadOnceTest, EveryByteIsReadAtMostOnceAndTheGroupsAreThoseOfPairwiseComparing) {
  SearchCommand(program, SearchMode::SameContent);

  const GroupPaths groups = Groups();
  EXPECT_EQ(groups, Pairwise());
  ASSERT_EQ(groups.size(), 6U);
  std::vector<std::size_t> sizes;
  for (const auto& group : groups) {
    sizes.push_back(group.size());
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 2, 2, 2, 2, 10}));

  ASSERT_EQ(files.logs.size(), 50U);
  // The class is read in lockstep: one open per file. The files that do not differ in their
  // first chunk differ from the rest no earlier than in the last chunk, so they are read
  // whole, each byte once.
  ExpectEachFileOpenedOnceAndRead(kFileSize);
}

// The reading ahead is worth its I/O only if it fetches what the search then reads: every file
// it opens, each announced once, with a start it reads.
TEST_F(ReadOnceTest, TheSearchAnnouncesExactlyTheFilesItOpens) {
  temp.WriteFile("alone", PatternBytes(kFileSize + 1, 99));
  Catalogue("alone");

  SearchCommand(program, SearchMode::SameContent);

  std::vector<std::string> announced;
  for (const PlannedRead& read : files.planned) {
    const std::string path = read.location.Path();
    announced.push_back(path);
    // Some start, never beyond what is compared.
    EXPECT_GT(read.startBytes, 0) << path;
    EXPECT_LE(read.startBytes, static_cast<std::int64_t>(kFileSize)) << path;
    EXPECT_EQ(read.identity, files.StatusOf(path)->identity) << path;
  }
  std::sort(announced.begin(), announced.end());
  std::vector<std::string> opened;
  for (const auto& [path, log] : files.logs) {
    opened.push_back(path);
  }
  EXPECT_EQ(announced, opened);
  EXPECT_EQ(files.logs.count(Path("alone")), 0U);

  files.planned.clear();
  SearchCommand(program, SearchMode::SameName);
  EXPECT_TRUE(files.planned.empty());
}

TEST_F(ReadOnceTest, AShareOfEachFileCoversOnlyThatShare) {
  // At 50 percent the late differences lie beyond the compared part.
  program.state.comparePercent = 50;

  SearchCommand(program, SearchMode::SameContent);

  const GroupPaths groups = Groups();
  EXPECT_EQ(groups, Pairwise(50));
  ASSERT_EQ(groups.size(), 1U);
  EXPECT_EQ(groups.front().size(), 20U);
  ExpectEachFileOpenedOnceAndRead(kFileSize / 2);
}

TEST_F(SearchTest, APairIsComparedOnceAndStopsAtItsFirstDifference) {
  WriteAndCatalogue({{"a", PatternBytes(kFileSize, 1)},
                     {"b", PatternBytes(kFileSize, 1)},
                     {"x", PatternBytes(kFileSize, 2).substr(0, 5000)},
                     {"y", PatternBytes(kFileSize, 3).substr(0, 5000)}});

  SearchCommand(program, SearchMode::SameContent);

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
  WriteAndCatalogue({{"a", small}, {"b", small}, {"c", std::string(700, 'j')}, {"d", small}});

  SearchCommand(program, SearchMode::SameContent);

  EXPECT_EQ(Groups(), (GroupPaths{{Path("a"), Path("b"), Path("d")}}));
  for (const auto& [path, log] : files.logs) {
    EXPECT_EQ(log.opens, 1) << path;
    EXPECT_EQ(log.bytesRead, 700) << path;
  }
}

// Where the files to read are in memory, the small ones (up to a page) are read whole before
// any class is decided, one open and one read each, in catalogue order, and their classes are
// sorted by what those reads told; otherwise, and for larger files, class after class. Either
// way the groups are those of comparing pairwise, and a file cut short since the scan joins
// none.
class SmallFilesReadAheadTest : public SearchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SmallFilesReadAheadTest, SmallFilesInMemoryAreReadInCatalogueOrderBeforeTheirClasses) {
  const bool inMemory = GetParam();
  const std::string a = PatternBytes(3000, 1);
  const std::string tiny = PatternBytes(700, 2);
  const std::string large = PatternBytes(6000, 3);
  WriteAndCatalogue({{"s1", a},
                     {"t1", tiny},
                     {"L1", large},
                     {"s2", WithByteChanged(a, 2500)},  // leaves a in its third chunk
                     {"s3", a},
                     {"t2", tiny},
                     {"s4", PatternBytes(3000, 4)},
                     {"L2", large},
                     {"s5", a},
                     {"t3", WithByteChanged(tiny, 600)},
                     {"s6", a}});
  temp.Resize("s6", 2000);
  files.planInMemory = inMemory;

  SearchCommand(program, SearchMode::SameContent);

  const GroupPaths expected{
      {Path("s1"), Path("s3"), Path("s5")}, {Path("t1"), Path("t2")}, {Path("L1"), Path("L2")}};
  EXPECT_EQ(Groups(), expected);
  EXPECT_EQ(Pairwise(), expected);
  ExpectEveryFileOpenedOnceAndNoByteReadTwice();
  // (A pair opens the later file first.)
  const std::vector<std::string> readAhead{"s1", "t1", "s2", "s3", "t2", "s4",
                                           "s5", "t3", "s6", "L2", "L1"};
  const std::vector<std::string> classByClass{"s1", "s2", "s3", "s4", "s5", "s6",
                                              "t1", "t2", "t3", "L2", "L1"};
  std::vector<std::string> opened;
  for (const std::string& path : files.opened) {
    opened.push_back(path.substr(path.rfind(kNativePaths.separator) + 1));
  }
  EXPECT_EQ(opened, inMemory ? readAhead : classByClass);
  if (inMemory) {
    for (const char* name : {"s1", "s2", "s3", "s4", "s5", "t1", "t2", "t3"}) {
      EXPECT_EQ(files.logs.at(Path(name)).ranges.size(), 1U) << name;
    }
  }
}

// Enough records that the search index and the read-ahead deal their keys into buckets
// instead of sorting them: copies by content, hard links to some of the files and a second
// record of the first twenty paths. Each file joins its group once and is read once.
TEST_P(SmallFilesReadAheadTest, ManyFilesOfOneSizeAmongRepeatedRecordsAndHardLinksGroupOnce) {
  constexpr int kFiles = 100, kContents = 30, kLinked = 10, kRepeated = 20;
  const auto name = [](const char* stem, int number) { return stem + std::to_string(number); };
  for (int file = 0; file < kFiles; ++file) {
    temp.WriteFile(name("f", file), PatternBytes(1000, file % kContents));
  }
  for (int file = 0; file < kLinked; ++file) {
    temp.MakeHardLink(name("h", file), name("f", file));
  }
  for (int file = 0; file < kFiles; ++file) {
    Catalogue(name("f", file));
  }
  for (int file = 0; file < kLinked; ++file) {
    Catalogue(name("h", file));
  }
  for (int file = 0; file < kRepeated; ++file) {
    Catalogue(name("f", file));
  }
  files.planInMemory = GetParam();

  SearchCommand(program, SearchMode::SameContent);

  GroupPaths expected(kContents);
  for (int file = 0; file < kFiles; ++file) {
    expected[file % kContents].push_back(Path(name("f", file)));
  }
  EXPECT_EQ(Groups(), expected);
  ExpectEveryFileOpenedOnceAndNoByteReadTwice();
  for (int file = 0; file < kLinked; ++file) {
    EXPECT_EQ(files.logs.count(Path(name("h", file))), 0U) << file;
  }
  EXPECT_EQ(widgets.StatusTexts(kDetailField).back(), "130 / 130 Dateien");
}

INSTANTIATE_TEST_SUITE_P(InMemoryOrNot, SmallFilesReadAheadTest, ::testing::Bool());

// Where the file services read concurrently, classes are decided on helper threads ahead of
// the walk over the catalogue. Nothing shown may tell: the same groups, marks, progress values
// and status texts, in the same order, as reading one class after the other; and still each
// file opened once.
TEST_F(SearchTest, ClassesReadSideBySideShowExactlyWhatReadingInTurnShows) {
  std::vector<std::string> names;
  const auto write = [&](const std::string& content) {
    names.push_back("f" + std::to_string(names.size()));
    temp.WriteFile(names.back(), content);
  };
  // Per round: an equal pair, three of one size that split in their last byte, five of which
  // four are equal, and one alone by its size; classes of one round interleave in the
  // catalogue with those of the others.
  for (int round = 0; round < 6; ++round) {
    const std::size_t size = 3000 + static_cast<std::size_t>(round) * 1500;
    write(PatternBytes(size, round));
    write(PatternBytes(size, round));
    const std::string late = PatternBytes(size + 3, 200 + round);
    write(late);
    write(WithByteChanged(late, size + 2));
    write(late);
    for (int member = 0; member < 5; ++member) {
      write(PatternBytes(size + 11, member == 3 ? 300 + round : 400 + round));
    }
    write(PatternBytes(size + 7, 100 + round));
  }
  for (std::size_t at = 0; at < names.size(); ++at) {
    Catalogue(names[(at * 7) % names.size()]);  // 7 and 66 files share no factor
  }

  // Once before, so that both runs find the status texts that the first one sets.
  SearchCommand(program, SearchMode::SameContent);
  widgets.writes.clear();
  SearchCommand(program, SearchMode::SameContent);
  const GroupPaths inTurn = Groups();
  const std::vector<bool> marksInTurn = Marks();
  const std::vector<testing::WidgetWrite> writesInTurn = widgets.writes;
  ASSERT_EQ(inTurn.size(), 18U);

  widgets.writes.clear();
  files.logs.clear();
  files.concurrent = true;
  SearchCommand(program, SearchMode::SameContent);

  EXPECT_EQ(Groups(), inTurn);
  EXPECT_EQ(Marks(), marksInTurn);
  EXPECT_EQ(widgets.writes, writesInTurn);
  ExpectEveryFileOpenedOnceAndNoByteReadTwice();
}

// --- splitting a class while it is read in lockstep

class LockstepTest : public SearchTest {};

TEST_F(LockstepTest, TwoPairsThatDivergeAtDifferentLaterChunksFormTwoGroups) {
  constexpr std::size_t kSize = std::size_t{1} << 20;
  constexpr std::size_t kLateChunk = 150;
  const std::string base = PatternBytes(kSize, 1);
  const std::string p = WithByteChanged(base, 3 * 1024 + 5, 1);  // leaves the others at chunk 3
  const std::string q = WithByteChanged(base, kLateChunk * 1024 + 7, 2);
  const std::string r = WithByteChanged(base, kLateChunk * 1024 + 7, 3);  // leaves q at chunk 150
  WriteAndCatalogue({{"p1", p}, {"q1", q}, {"r", r}, {"p2", p}, {"q2", q}});

  SearchCommand(program, SearchMode::SameContent);

  const GroupPaths expected{{Path("p1"), Path("p2")}, {Path("q1"), Path("q2")}};
  EXPECT_EQ(Groups(), expected);
  EXPECT_EQ(Pairwise(), expected);
  ExpectEveryFileOpenedOnceAndNoByteReadTwice();
  for (const char* name : {"p1", "p2", "q1", "q2"}) {
    EXPECT_EQ(files.logs.at(Path(name)).bytesRead, static_cast<std::int64_t>(kSize)) << name;
  }
  // r is not read beyond the read-ahead block (at most 256 KiB) that holds its difference.
  const std::int64_t readOfR = files.logs.at(Path("r")).bytesRead;
  EXPECT_GE(readOfR, static_cast<std::int64_t>((kLateChunk + 1) * 1024));
  EXPECT_LE(readOfR, static_cast<std::int64_t>((kLateChunk + 1) * 1024 + (256 << 10)));
  // The bar follows the lockstep reading up to the end, never going back.
  std::vector<int> fileProgress = widgets.ProgressValues(kFileProgressBar);
  const auto firstReference = std::find(fileProgress.begin() + 1, fileProgress.end(), 0);
  const std::vector<int> reading(fileProgress.begin() + 1, firstReference);
  ASSERT_FALSE(reading.empty());
  EXPECT_TRUE(std::is_sorted(reading.begin(), reading.end()));
  EXPECT_EQ(reading.back(), 100);
}

TEST_F(LockstepTest, OneChunkSplitsAClassThreeWaysAndLeavesAFourthAlone) {
  const std::string base = PatternBytes(8000, 2);
  const std::size_t at = 2 * 1024 + 100;
  const std::string a = WithByteChanged(base, at, 1), b = WithByteChanged(base, at, 2);
  const std::string c = WithByteChanged(base, at, 3), d = WithByteChanged(base, at, 4);
  WriteAndCatalogue(
      {{"c1", c}, {"a1", a}, {"b1", b}, {"d", d}, {"c2", c}, {"b2", b}, {"a2", a}, {"b3", b}});

  SearchCommand(program, SearchMode::SameContent);

  const GroupPaths expected{
      {Path("c1"), Path("c2")}, {Path("a1"), Path("a2")}, {Path("b1"), Path("b2"), Path("b3")}};
  EXPECT_EQ(Groups(), expected);
  EXPECT_EQ(Pairwise(), expected);
  ExpectEveryFileOpenedOnceAndNoByteReadTwice();
}

TEST_F(LockstepTest, AFileThatShrinksWhileItIsReadJoinsNoGroup) {
  constexpr std::size_t kSize = 64 * 1024;
  const std::string x = PatternBytes(kSize, 3), z = PatternBytes(kSize, 4);
  // Class x: three equal files and one that differs at once. Class z (other size): a pair
  // and a third that differs at chunk 5; with one of the pair cut short, nothing is left.
  WriteAndCatalogue({{"x1", x},
                     {"x2", x},
                     {"y", PatternBytes(kSize, 5)},
                     {"x3", x},
                     {"z1", z + "!"},
                     {"z2", z + "!"},
                     {"z3", WithByteChanged(z, 5 * 1024, 1) + "!"}});
  bool cut = false;
  files.watch.beforeRead = [this, &cut](const std::string& path, std::int64_t from) {
    // Behind the first chunk of x2 and z2: the files were opened with their full size.
    if (!cut && from > 0 && path == Path("x2")) {
      temp.Resize("x2", 3000);
    }
    if (from > 0 && path == Path("z2")) {
      cut = true;
      temp.Resize("z2", 2000);
    }
  };

  SearchCommand(program, SearchMode::SameContent);
  files.watch.beforeRead = nullptr;

  EXPECT_TRUE(cut);
  const GroupPaths expected{{Path("x1"), Path("x3")}};
  EXPECT_EQ(Groups(), expected);
  EXPECT_EQ(Pairwise(), expected);
  ExpectEveryFileOpenedOnceAndNoByteReadTwice();
  EXPECT_LT(files.logs.at(Path("x2")).bytesRead, static_cast<std::int64_t>(kSize));
  // z1 was left alone when z2 failed: it is read no further than z3, which left at chunk 5.
  EXPECT_LT(files.logs.at(Path("z1")).bytesRead, static_cast<std::int64_t>(kSize));
}

TEST_F(LockstepTest, ChunksWithEqualDigestsButOtherBytesCountAsEqual) {
  // The comparison is by digests: a chunk that starts with the other block of a colliding
  // pair is "equal", both when bytes meet first and when digests must be compared.
  const std::string head = PatternBytes(1024, 6), tail = PatternBytes(1500, 7);
  const std::string filler = PatternBytes(1024 - 128, 8);
  const std::string m = head + testing::CollidingBlocksA() + filler + tail;
  const std::string n = head + testing::CollidingBlocksB() + filler + tail;
  const std::string other =
      head + testing::CollidingBlocksB() + WithByteChanged(filler, 9, 1) + tail;
  ASSERT_NE(m, n);
  ASSERT_EQ(Md5Of(std::span<const char>(m.data() + 1024, 1024)),
            Md5Of(std::span<const char>(n.data() + 1024, 1024)));
  WriteAndCatalogue({{"n1", n}, {"o", other}, {"m1", m}, {"n2", n}, {"m2", m}});

  SearchCommand(program, SearchMode::SameContent);

  const GroupPaths expected{{Path("n1"), Path("m1"), Path("n2"), Path("m2")}};
  EXPECT_EQ(Groups(), expected);
  EXPECT_EQ(Pairwise(), expected);
}

TEST_F(LockstepTest, AClassAboveTheOpenFileBoundStillGivesThePairwiseVerdicts) {
  // 300 files of one size: 270 share their first chunk (more than may be open at once) and
  // part at chunk 1 or 2 into seven contents; 25 share another first chunk and part into
  // three; 5 stand alone from the start. One of the 270 is cut short behind its first chunk.
  // (Larger than a page, so that the 270 are not read whole at their first open.)
  constexpr std::size_t kSize = 5000;
  const std::string crowd = PatternBytes(kSize, 10), few = PatternBytes(kSize, 11);
  std::vector<std::pair<std::string, std::string>> made;
  for (int index = 0; index < 300; ++index) {
    std::string bytes;
    if (index < 270) {
      bytes = WithByteChanged(crowd, 1024 + static_cast<std::size_t>(index % 7 / 4) * 1024 + 50,
                              index % 7);
    } else if (index < 295) {
      bytes = WithByteChanged(few, 2500, index % 3);
    } else {
      bytes = PatternBytes(kSize, 20 + index);
    }
    made.emplace_back("f" + std::to_string(index), std::move(bytes));
  }
  std::vector<std::pair<std::string, std::string>> shuffled;
  for (std::size_t step = 0; step < made.size(); ++step) {
    shuffled.push_back(made[step * 97 % made.size()]);
  }
  WriteAndCatalogue(shuffled);
  files.watch.beforeRead = [this](const std::string& path, std::int64_t from) {
    if (from == 0 && path == Path("f13")) {
      temp.Resize("f13", 2000);  // the first chunk still reads whole
    }
  };

  SearchCommand(program, SearchMode::SameContent);
  files.watch.beforeRead = nullptr;

  const GroupPaths groups = Groups();
  EXPECT_EQ(groups, Pairwise());
  EXPECT_EQ(groups.size(), 10U);
  std::size_t grouped = 0;
  for (const auto& group : groups) {
    grouped += group.size();
    EXPECT_EQ(std::count(group.begin(), group.end(), Path("f13")), 0);
  }
  EXPECT_EQ(grouped, 294U);
  EXPECT_LE(files.watch.peakOpen, 256);
  for (const auto& [path, log] : files.logs) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(log.AnyByteReadTwice());
    EXPECT_LE(log.opens, 2);
  }
  for (int index = 295; index < 300; ++index) {
    const testing::PathLog& log = files.logs.at(Path("f" + std::to_string(index)));
    EXPECT_EQ(log.opens, 1);
    EXPECT_EQ(log.bytesRead, kChunkSize);
  }
}

TEST_F(LockstepTest, ReadersAreFewEnoughForTheOpenFileLimit) {
  // Four classes of 250 equal files, each read in lockstep with all its files open. Under a
  // limit of 300 descriptors only one such reader fits; a second one would be refused files
  // and leave them out of their groups. The limit cannot be raised again, so the search runs
  // in a child process.
  constexpr int kClasses = 4;
  constexpr std::size_t kMembers = 250;
  for (int round = 0; round < static_cast<int>(kMembers); ++round) {
    for (int size = 0; size < kClasses; ++size) {
      temp.WriteFile("c" + std::to_string(size) + "_" + std::to_string(round),
                     PatternBytes(8192 + static_cast<std::size_t>(size) * 1000, size));
    }
  }
  for (int round = 0; round < static_cast<int>(kMembers); ++round) {
    for (int size = 0; size < kClasses; ++size) {
      Catalogue("c" + std::to_string(size) + "_" + std::to_string(round));
    }
  }
  files.concurrent = true;

  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit low{.rlim_cur = 300, .rlim_max = 300};
    if (::setrlimit(RLIMIT_NOFILE, &low) != 0) {
      ::_exit(100);
    }
    SearchCommand(program, SearchMode::SameContent);
    const GroupPaths groups = Groups();
    const bool whole = std::all_of(groups.begin(), groups.end(),
                                   [](const auto& group) { return group.size() == kMembers; });
    ::_exit(groups.size() == kClasses && whole ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kopiensieb
