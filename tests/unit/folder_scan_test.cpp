#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/folder_scan.h"
#include "memory_file_services.h"
#include "program_fixture.h"
#include "shell/control_numbers.h"
#include "shell/search_commands.h"
#include "temp_folder.h"
#include "unprivileged_child.h"

namespace kopiensieb {
namespace {

using testing::MemoryFileServices;
using testing::ProgramHarness;
using testing::ProgramTest;
using testing::TempFolder;
using Names = std::vector<std::string>;

std::vector<std::string> FullPaths(Program& program) {
  std::vector<std::string> paths;
  program.state.fileCatalogue.ForEach(
      [&paths](const FileRecord& record) { paths.push_back(FullPath(record)); });
  return paths;
}

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

void AddFolderRecord(ProgramState& state, const std::string& text) {
  while (state.folderList.StepForward()) {
  }
  state.folderList.Add().text = text;
}

TEST(FolderCoverageTest, EqualOrInsideIsCoveredComparedExactly) {
  MemoryFileServices files;
  ProgramHarness harness(files);
  ProgramState& state = harness.State();
  EXPECT_FALSE(IsFolderCovered(state.folderList, "/d/Daten/")) << "an empty list covers nothing";
  AddFolderRecord(state, "/d/Daten/");
  AddFolderRecord(state, "/e/");
  EXPECT_TRUE(IsFolderCovered(state.folderList, "/d/Daten/"));
  EXPECT_TRUE(IsFolderCovered(state.folderList, "/d/Daten/Alt/"));
  EXPECT_TRUE(IsFolderCovered(state.folderList, "/e/x/y/"));
  EXPECT_FALSE(IsFolderCovered(state.folderList, "/d/Daten2/"));
  EXPECT_FALSE(IsFolderCovered(state.folderList, "/d/daten/")) << "names are case-sensitive";
  EXPECT_FALSE(IsFolderCovered(state.folderList, "/D/DATEN/alt/"));
  EXPECT_FALSE(IsFolderCovered(state.folderList, "/d/"))
      << "a folder holding an earlier one is new";
  EXPECT_EQ(state.folderList.CurrentPosition(), 2) << "walks to the last folder";
  AddFolderRecord(state, "/");
  EXPECT_TRUE(IsFolderCovered(state.folderList, "/anything/"));
}

TEST(FolderScanTest, RootFolderGivesEmptyFolderTextAndSingleSlashPaths) {
  MemoryFileServices files;
  files.AddFile(0, "vmlinuz.img", 3);
  const int etc = files.AddFolder(0, "etc");
  files.AddFile(etc, "hosts.txt", 4);
  ProgramHarness harness(files);
  harness.AddFolderAndRun("/");
  EXPECT_EQ(files.startedPaths, Names{"/"});
  ASSERT_EQ(FullPaths(harness.program), (Names{"/vmlinuz.img", "/etc/hosts.txt"}));
  EXPECT_EQ(harness.State().fileCatalogue.First()->folder, "");
  EXPECT_EQ(harness.RowTexts(kFilesView), (Names{"vmlinuz.img", "hosts.txt"}));
  // Everything lies inside the root now.
  harness.AddFolderAndRun("/etc/");
  EXPECT_EQ(harness.State().fileCatalogue.Count(), 2);
  EXPECT_EQ(harness.State().folderList.Count(), 1);
}

TEST(FolderScanTest, DepthFirstInEnumerationOrderWithCountAfterEveryEntry) {
  MemoryFileServices files;
  const int top = files.AddFolder(0, "top");
  files.AddFile(top, "z.txt", 1);
  const int sub = files.AddFolder(top, "sub");
  const int b = files.AddFile(sub, "b.txt", 2);
  files.AddFolder(sub, "empty");
  files.AddFile(sub, "c.txt", 3);
  files.AddFile(top, "a.txt", 4);
  ProgramHarness harness(files);
  ProgramState& state = harness.State();
  CatalogueFolder(harness.program, "/top/", "*.*");
  EXPECT_EQ(FullPaths(harness.program),
            (Names{"/top/z.txt", "/top/sub/b.txt", "/top/sub/c.txt", "/top/a.txt"}));
  const FileRecord& second = *FileCatalogue::Next(*state.fileCatalogue.First());
  EXPECT_EQ(second.folder, "/top/sub");
  EXPECT_EQ(second.name, "b.txt");
  EXPECT_EQ(second.size, 2);
  EXPECT_EQ(second.identity,
            (FileIdentity{MemoryFileServices::kDevice, static_cast<std::uint64_t>(b)}));
  EXPECT_EQ(second.modifiedNs, 1000 + b);
  EXPECT_FALSE(second.grouped);
  EXPECT_EQ(harness.widgets.StatusTexts(), (Names{"Lese Dateien...", "4 Dateien"}));
  // One write per new count (0 for the top folder's "." and "..", then 1, 2, 3, 4): repeated
  // counts are skipped.
  EXPECT_EQ(harness.widgets.StatusWrites(), (std::vector<int>{1, 5}));
}

TEST(FolderScanTest, NewRecordsGoBehindTheCurrentRecord) {
  MemoryFileServices files;
  const int folder = files.AddFolder(0, "f");
  files.AddFile(folder, "new1", 1);
  files.AddFile(folder, "new2", 2);
  ProgramHarness harness(files);
  FileCatalogue& catalogue = harness.State().fileCatalogue;
  harness.AddFile("/old", "first", 1);
  harness.AddFile("/old", "second", 1);
  catalogue.ResetCursor();
  catalogue.StepForward();  // "first" is current, as after a ToDelete window command
  CatalogueFolder(harness.program, "/f/", "");
  EXPECT_EQ(harness.FileNamesInCatalogue(), (Names{"first", "new1", "new2", "second"}));
  EXPECT_EQ(catalogue.Current()->name, "new2");
  EXPECT_EQ(harness.widgets.StatusTexts()[1], "4 Dateien") << "counts the whole catalogue";
}

TEST(FolderScanTest, TenThousandLevelsDeepNeedNoRecursion) {
  MemoryFileServices files;
  int node = files.AddFolder(0, "deep");
  constexpr int kLevels = 10000;
  for (int level = 0; level < kLevels; ++level) {
    node = files.AddFolder(node, "d");
  }
  files.AddFile(node, "bottom.txt", 9);
  ProgramHarness harness(files);
  CatalogueFolder(harness.program, "/deep/", "*.txt");
  ASSERT_EQ(harness.State().fileCatalogue.Count(), 1);
  const std::string& folder = harness.State().fileCatalogue.First()->folder;
  EXPECT_EQ(folder.size(), std::string("/deep").size() + 2 * kLevels);
  EXPECT_EQ(folder.substr(folder.size() - 4), "/d/d");
}

// Deeper than the scan may hold folders open: every level holds the way down, then a file and
// a folder with a file of its own, which come up after the way down was read.
TEST(FolderScanTest, TreesDeeperThanTheOpenFolderLimitAreReadWholeInOrder) {
  MemoryFileServices files;
  const int levels = static_cast<int>(kMostOpenFolders) * 2 + 10;
  std::vector<int> folders{files.AddFolder(0, "top")};
  for (int level = 1; level < levels; ++level) {
    folders.push_back(files.AddFolder(folders.back(), "d"));
  }
  for (int level = 0; level < levels; ++level) {
    files.AddFile(folders[level], "f" + std::to_string(level), 1);
    const int side = files.AddFolder(folders[level], "s");
    files.AddFile(side, "g" + std::to_string(level), 2);
  }
  // One side folder of a level read ahead was replaced by a link after it was listed.
  const std::string replaced = "/top/d/s";
  files.replacedByLinks.insert(replaced);
  // On one thread: a second one may list a side folder ahead, before it could be replaced and
  // while the way down is still open, as timing has it.
  files.enumeratesOnAnyThread = false;
  ProgramHarness harness(files);
  CatalogueFolder(harness.program, "/top/", "");

  Names expected;
  for (int level = levels - 1; level >= 0; --level) {
    expected.push_back("f" + std::to_string(level));
    if (level != 1) {
      expected.push_back("g" + std::to_string(level));
    }
  }
  EXPECT_EQ(harness.FileNamesInCatalogue(), expected);
  EXPECT_LE(files.mostOpenEnumerations, static_cast<int>(kMostOpenFolders));
  EXPECT_EQ(files.openEnumerations, 0);
  EXPECT_EQ(std::count(files.startedPaths.begin(), files.startedPaths.end(), replaced), 0);
  // A side folder of a level read ahead is opened by its whole path.
  std::string topSide = "/top";
  EXPECT_EQ(files.startedPaths.back(), topSide + "/s");
  const FileRecord& last = *harness.State().fileCatalogue.Current();
  EXPECT_EQ(FullPath(last), "/top/s/g0");
}

// Every report of a scan, in the order it came.
class RecordingProgress final : public EngineProgress {
 public:
  Names reports;
  void Activity(const std::string& text) override { reports.push_back(text); }
  void CataloguedCount(std::int64_t records) override {
    reports.push_back(std::to_string(records));
  }
};

struct ScanOutcome {
  Names records;  // folder, name, size, identity and time of each record, in catalogue order
  Names reports;
};

ScanOutcome ScanWith(MemoryFileServices& files, const std::string& folder, ScanThreads threads) {
  FileCatalogue catalogue;
  catalogue.Add().name = "earlier";  // the new records go behind it
  PatternList patterns;
  RecordingProgress progress;
  ScanFolder(files, folder, "*.txt;*.jpg;ohne", patterns, catalogue, progress, threads);
  ScanOutcome outcome;
  catalogue.ForEach([&outcome](const FileRecord& record) {
    outcome.records.push_back(
        record.folder.Text() + "|" + record.name + "|" + std::to_string(record.size) + "|" +
        std::to_string(record.identity.inode) + "|" + std::to_string(record.modifiedNs));
  });
  outcome.reports = std::move(progress.reports);
  EXPECT_EQ(files.openEnumerations, 0);
  return outcome;
}

// A tree of every shape the scan meets: wide folders (more subfolders than are listed ahead),
// deep and narrow chains, empty folders, files beside and between folders, names that match
// no pattern, a deleted file, and a chain deeper than the scan holds folders open.
void GrowVariedTree(MemoryFileServices& files, const std::string& path, unsigned seed) {
  const int top = files.AddFolder(0, path.substr(1));
  std::uint32_t state = seed;
  const auto next = [&state](std::uint32_t below) {
    state = state * 1664525U + 1013904223U;
    return (state >> 8) % below;
  };
  std::vector<std::pair<int, int>> open{{top, 0}};  // folder, depth
  int made = 0;
  while (!open.empty() && made < 3000) {
    const auto [folder, depth] = open.back();
    open.pop_back();
    const std::uint32_t entries = next(depth < 2 ? 90 : 12);
    for (std::uint32_t i = 0; i < entries; ++i, ++made) {
      const std::string name = "e" + std::to_string(i);
      switch (next(4)) {
        case 0:
          if (depth < 9) {
            open.emplace_back(files.AddFolder(folder, name), depth + 1);
            break;
          }
          [[fallthrough]];
        case 1:
          files.AddFile(folder, name + ".jpg", next(5000));
          break;
        case 2:
          files.AddFile(folder, name + ".bin", 7);  // matches no pattern
          break;
        default:
          files.AddFile(folder, name + ".txt", next(100));
          break;
      }
    }
  }
  const int deleted = files.AddFolder(top, "geleert");
  files.AddFile(deleted, "weg.txt", 1);
  files.AddFile(deleted, "da.txt", 2);
  files.Delete(path + "/geleert/weg.txt");
  // Wider than the helper lists ahead, every subfolder holding a file.
  const int wide = files.AddFolder(top, "wide");
  for (int i = 0; i < 150; ++i) {
    files.AddFile(files.AddFolder(wide, "w" + std::to_string(i)), "ohne", i);
  }
  // Deeper than the scan holds folders open: at every level the way down, then a side folder,
  // which comes up once the way down has been read.
  int chain = files.AddFolder(top, "d");
  for (int level = 0; level < static_cast<int>(kMostOpenFolders) + 40; ++level) {
    files.AddFile(chain, "f" + std::to_string(level) + ".txt", level);
    const int down = files.AddFolder(chain, "d");
    files.AddFile(files.AddFolder(chain, "s" + std::to_string(level)), "g.txt", 1);
    chain = down;
  }
}

TEST(FolderScanTest, TwoThreadsCatalogueAndReportExactlyAsOne) {
  for (const unsigned seed : {1U, 2U, 3U, 4U}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    MemoryFileServices files;
    const std::string top = "/tree" + std::to_string(seed);
    GrowVariedTree(files, top, seed);
    const ScanOutcome one = ScanWith(files, top + "/", ScanThreads::One);
    ASSERT_GT(one.records.size(), 1000U) << "the tree is as varied as meant";
    EXPECT_EQ(std::count(one.records.begin(), one.records.end(), "|earlier|0|0|0"), 1);
    EXPECT_EQ(std::count_if(one.records.begin(), one.records.end(),
                            [](const std::string& record) {
                              return record.find("|g.txt|") != std::string::npos;
                            }),
              static_cast<int>(kMostOpenFolders) + 40)
        << "every side folder of the deep chain";
    for (int run = 0; run < 3; ++run) {
      const ScanOutcome two = ScanWith(files, top + "/", ScanThreads::Two);
      ASSERT_EQ(two.records, one.records);
      ASSERT_EQ(two.reports, one.reports);
      EXPECT_LE(files.mostOpenEnumerations, static_cast<int>(kMostOpenFolders));
    }
  }
}

class PosixFolderScanTest : public ProgramTest {
 protected:
  TempFolder folder;
};

TEST_F(PosixFolderScanTest, AddFolderCommandAsksWithTitleAndLastFolder) {
  folder.WriteFile("one/a.txt", "a");
  folder.WriteFile("two/b.txt", "bb");
  harness.AddFolderAndRun(folder.PathOf("one"));
  harness.AddFolderAndRun(folder.PathOf("two"));
  ASSERT_EQ(widgets.Choosers().size(), 2u);
  EXPECT_EQ(widgets.Choosers()[0].title, "Pfad hinzufügen...");
  EXPECT_EQ(widgets.Choosers()[0].start, "");
  EXPECT_EQ(widgets.Choosers()[1].start, folder.PathOf("one") + "/");
  EXPECT_EQ(state.lastFolder, folder.PathOf("two") + "/");
  EXPECT_EQ(FullPaths(program), (Names{folder.PathOf("one/a.txt"), folder.PathOf("two/b.txt")}));
  EXPECT_EQ(harness.RowTexts(kFilesView, 1), (Names{"1 Bytes", "2 Bytes"}));
  EXPECT_EQ(widgets.GetText(kFilesLabel), "Alle Dateien (2)");
  const FileRecord& first = *state.fileCatalogue.First();
  const auto status = harness.nativeFiles.StatusOf(folder.PathOf("one/a.txt"));
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(first.identity, status->identity);
  EXPECT_EQ(first.modifiedNs, status->modifiedNs);
}

TEST_F(PosixFolderScanTest, CancelledOrCoveredFolderChangesNothing) {
  folder.WriteFile("a.txt", "a");
  folder.WriteFile("sub/b.txt", "b");
  harness.TypeAndRun(kScanPatternField, "*.txt");
  harness.AddFolderAndRun(folder.Path());
  ASSERT_EQ(state.fileCatalogue.Count(), 2);
  harness.TypeAndRun(kScanPatternField, "*.zzz");
  const int activityWrites = widgets.StatusWrites()[0];

  widgets.QueueChooserAnswer("");  // cancelled
  harness.ClickAndRun(kAddFolderButton);
  harness.AddFolderAndRun(folder.Path());
  harness.AddFolderAndRun(folder.PathOf("sub"));
  EXPECT_EQ(widgets.Choosers().size(), 4u);
  EXPECT_EQ(state.fileCatalogue.Count(), 2);
  EXPECT_EQ(state.folderList.Count(), 1);
  EXPECT_EQ(state.lastFolder, folder.Path() + "/");
  ASSERT_EQ(state.patternList.Count(), 1);
  EXPECT_EQ(state.patternList.First()->text, "*.txt") << "no scan, no new patterns";
  EXPECT_EQ(widgets.StatusWrites()[0], activityWrites) << "nothing shown";
}

TEST_F(PosixFolderScanTest, InnerFolderFirstThenItsParentCataloguesTwice) {
  folder.WriteFile("daten/alt/x.txt", "x");
  folder.WriteFile("daten/y.txt", "y");
  harness.AddFolderAndRun(folder.PathOf("daten/alt"));
  harness.AddFolderAndRun(folder.PathOf("daten"));
  EXPECT_EQ(state.folderList.Count(), 2);
  EXPECT_EQ(state.fileCatalogue.Count(), 3);
}

TEST_F(PosixFolderScanTest, PatternTextDecidesWhatIsCatalogued) {
  folder.WriteFile("README", "r");
  folder.WriteFile("a.txt", "a");
  folder.WriteFile("b.doc", "b");
  harness.AddFolderAndRun(folder.PathOf(""));
  EXPECT_EQ(state.fileCatalogue.Count(), 2) << "\"*.*\" needs a dot in the name";

  state.fileCatalogue.Clear();
  CatalogueFolder(program, folder.Path() + "/", "");
  EXPECT_TRUE(state.patternList.Empty());
  EXPECT_EQ(state.fileCatalogue.Count(), 3) << "no patterns: every file";

  state.fileCatalogue.Clear();
  CatalogueFolder(program, folder.Path(), "*.doc;READ*");
  EXPECT_EQ(Sorted(harness.FileNamesInCatalogue()), (Names{"README", "b.doc"}));
}

TEST_F(PosixFolderScanTest, EmptyFolderStillShowsTheCount) {
  folder.MakeFolder("empty");
  harness.AddFile("/old", "x", 1);
  harness.AddFolderAndRun(folder.PathOf("empty"));
  EXPECT_EQ(state.fileCatalogue.Count(), 1);
  // The scan's last report stays until the next message brings the welcome texts back.
  EXPECT_EQ(widgets.StatusTexts()[1], "1 Dateien");
  EXPECT_EQ(widgets.StatusTexts()[0], "Update Liste");
}

TEST_F(PosixFolderScanTest, LinksFifosAndLoopsAreSkipped) {
  folder.WriteFile("tree/real.txt", "data");
  folder.MakeSymlink("tree/loop", ".");
  folder.MakeSymlink("tree/up", "..");
  folder.MakeSymlink("tree/link.txt", "real.txt");
  folder.MakeSymlink("tree/dangling.txt", "missing.txt");
  folder.MakeFifo("tree/pipe.txt");
  harness.AddFolderAndRun(folder.PathOf("tree"));
  EXPECT_EQ(FullPaths(program), Names{folder.PathOf("tree/real.txt")});
}

// Side folders near the top of a tree deeper than the scan holds folders open are opened after
// their level was read ahead, or from their open parent, as the folder's order has it. Either
// way, a side folder swapped for a link to another tree just before it is opened is not
// entered.
TEST(PosixFolderScanRaceTest, AFolderSwappedForALinkWhileTheScanRunsIsNotEntered) {
  for (const bool swap : {false, true}) {
    SCOPED_TRACE(swap ? "swapped" : "left alone");
    TempFolder folder;
    TempFolder elsewhere;
    elsewhere.WriteFile("outside.txt", "outside");
    const std::string deepest =
        folder.MakeDeepFolders("top/d", static_cast<int>(kMostOpenFolders) + 20, 1);
    folder.WriteFile(deepest + "/bottom.txt", "b");
    const std::vector<std::string> sides{"side1", "side2", "side3", "side4"};
    for (const std::string& side : sides) {
      folder.WriteFile("top/d/" + side + "/inside.txt", side);
    }
    ProgramHarness harness;
    std::atomic<int> swaps = 0;  // the hook may be called on two threads at once
    harness.nativeFiles.SetRaceHook(
        [&](PosixFileServices::RacePoint point, const std::string& name) {
          if (swap && point == PosixFileServices::RacePoint::BeforeOpenSubfolder &&
              name.starts_with("side")) {
            folder.SwapForLink("top/d/" + name, elsewhere.Path());
            ++swaps;
          }
        });

    harness.AddFolderAndRun(folder.PathOf("top"));

    Names expected{folder.PathOf(deepest + "/bottom.txt")};
    if (!swap) {
      for (const std::string& side : sides) {
        expected.push_back(folder.PathOf("top/d/" + side + "/inside.txt"));
      }
    }
    EXPECT_EQ(Sorted(FullPaths(harness.program)), Sorted(expected));
    EXPECT_EQ(swaps.load(), swap ? 4 : 0) << "every side folder was raced";
  }
}

TEST_F(PosixFolderScanTest, ThreeThousandLevelsAndPathsBeyondPathMax) {
  const std::string deepest = folder.MakeDeepFolders("deep", 3000, 1);
  folder.WriteFile(deepest + "/bottom.txt", "b");
  // Side folders at a level far beyond PATH_MAX that the scan reads ahead (and, depending on
  // the folder's order, reopens by its long path).
  const std::string farDown = deepest.substr(0, deepest.size() - 2 * 500);
  for (const char* side : {"s1", "s2", "s3", "s4"}) {
    folder.WriteFile(farDown + "/" + side + "/side.txt", side);
  }
  const std::string longest = folder.MakeDeepFolders("long", 30, 200);
  folder.WriteFile(longest + "/far.txt", "f");
  folder.WriteFile("long/near.txt", "n");
  harness.AddFolderAndRun(folder.PathOf("deep"));
  ASSERT_EQ(state.fileCatalogue.Count(), 5);
  Names expected{folder.PathOf(deepest + "/bottom.txt")};
  for (const char* side : {"s1", "s2", "s3", "s4"}) {
    expected.push_back(folder.PathOf(farDown + "/" + side + "/side.txt"));
  }
  EXPECT_EQ(Sorted(FullPaths(program)), Sorted(expected))
      << "the deep tree's five files, each once";
  harness.AddFolderAndRun(folder.PathOf("long"));
  ASSERT_EQ(state.fileCatalogue.Count(), 7);
  std::vector<std::string> paths = FullPaths(program);
  std::sort(paths.begin() + 5, paths.end());
  EXPECT_EQ(paths[5], folder.PathOf(longest + "/far.txt"));
  EXPECT_GT(paths[5].size(), static_cast<std::size_t>(PATH_MAX));
  EXPECT_EQ(paths[6], folder.PathOf("long/near.txt"));
}

// The child answers 0 when it catalogued exactly the readable folder's file.
TEST_F(PosixFolderScanTest, UnreadableFolderYieldsNothingAndTheScanGoesOn) {
  folder.WriteFile("open/a.txt", "a");
  folder.WriteFile("shut/b.txt", "b");
  folder.SetMode("", 0755);
  folder.SetMode("shut", 0);
  const int failed = testing::RunWithoutPrivileges([this] {
    ProgramHarness unprivileged;
    unprivileged.AddFolderAndRun(folder.Path());
    return FullPaths(unprivileged.program) == Names{folder.PathOf("open/a.txt")} ? 0 : 1;
  });
  EXPECT_EQ(failed, 0);
}

}  // namespace
}  // namespace kopiensieb
