#include "shell/search_commands.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "search_test_support.h"

namespace kopiensieb {
namespace {

using testing::GroupPaths;
using testing::NativePath;
using testing::PatternBytes;
using testing::PlainSearch;
using testing::SearchTest;

std::string WithLastByteChanged(std::string bytes, int change = 1) {
  bytes.back() = static_cast<char>(bytes.back() + change);
  return bytes;
}

// --- which groups, in which order

TEST_F(SearchTest, ThreeEqualFilesFormOneGroupInCatalogueOrder) {
  const std::string content = PatternBytes(1536, 1);
  WriteAndCatalogue({{"eins/a.txt", content}, {"eins/a.bak", content}, {"zwei/a.txt", content}});

  SearchCommand(program, SearchMode::SameContent);

  EXPECT_EQ(Groups(), (GroupPaths{{Path("eins/a.txt"), Path("eins/a.bak"), Path("zwei/a.txt")}}));
  const DuplicateGroup& group = *program.state.duplicateGroupList.First();
  EXPECT_EQ(group.memberCount, 3);
  EXPECT_EQ(group.size, 1536);
  EXPECT_EQ(group.firstMember->file, program.state.fileCatalogue.First());
}

TEST_F(SearchTest, GroupsFollowTheCatalogueOrderOfTheirFirstFiles) {
  // Size 3000: contents A, B and C mixed in one class (read by fingerprints); size 500: an
  // equal pair; size 700: a pair that differs; size 2500: equal but for the last byte.
  const std::string a = PatternBytes(3000, 1), b = PatternBytes(3000, 2), c = PatternBytes(3000, 3);
  const std::string p = PatternBytes(500, 4);
  WriteAndCatalogue({{"p1", p},
                     {"a1", a},
                     {"b1", b},
                     {"a2", a},
                     {"q", PatternBytes(700, 5)},
                     {"c", c},
                     {"p2", p},
                     {"b2", b},
                     {"r", PatternBytes(700, 6)},
                     {"s1", PatternBytes(2500, 7)},
                     {"s2", WithLastByteChanged(PatternBytes(2500, 7))},
                     {"a3", a}});

  SearchCommand(program, SearchMode::SameContent);

  const GroupPaths expected{
      {Path("p1"), Path("p2")}, {Path("a1"), Path("a2"), Path("a3")}, {Path("b1"), Path("b2")}};
  EXPECT_EQ(Groups(), expected);
  EXPECT_EQ(PlainSearch(files, program.state.fileCatalogue, true).groups, expected);
}

// Files of equal sizes, each row in a folder of its own (files that changed behind the
// catalogue's back among them); `changeOnDisk` acts after the scan.
TEST_F(SearchTest, OnlyFilesEqualToTheLastByteWhenSearchedAreGrouped) {
  struct Row {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::function<void(const std::string& folder)> changeOnDisk;
    std::vector<std::vector<std::string>> groups;  // names in the row's folder
  };
  const std::string base = PatternBytes(2500, 1), fiveChunks = PatternBytes(4100, 1);
  const std::string big = PatternBytes(3000, 1), small = PatternBytes(800, 2);
  const std::vector<Row> rows{
      {"pairs that differ in the first or only in the last byte, and a class of three that only "
       "the last bytes tell apart",
       {{"x", PatternBytes(3000, 2)},
        {"y", PatternBytes(3000, 3)},
        {"last-x", PatternBytes(2048, 4)},
        {"last-y", WithLastByteChanged(PatternBytes(2048, 4))},
        {"three-x", base},
        {"three-y", WithLastByteChanged(base, 1)},
        {"three-z", WithLastByteChanged(base, 2)}},
       nullptr,
       {}},
      {"a class of five chunks (the last of 4 bytes) with one equal pair",
       {{"x1", fiveChunks},
        {"y", WithLastByteChanged(fiveChunks)},
        {"x2", fiveChunks},
        {"z", PatternBytes(4100, 2)}},
       nullptr,
       {{"x1", "x2"}}},
      {"the first of a class of three and one of a pair deleted after the scan",
       {{"a", big},
        {"b", big},
        {"c", big},
        {"p", small},
        {"q", small},
        {"x", PatternBytes(90, 3)},
        {"y", PatternBytes(90, 3)}},
       [this](const std::string& folder) {
         temp.Remove(folder + "a");
         temp.Remove(folder + "p");
       },
       {{"b", "c"}, {"x", "y"}}},
      {"one catalogued before it grew, one grown after the scan",
       {{"a", big}, {"b", big}, {"c", big}, {"p", big}},
       [this, &big](const std::string& folder) {
         temp.WriteFile(folder + "q", big + "x");
         Catalogue(folder + "q").size = 3000;
         temp.WriteFile(folder + "b", big + "mehr");
       },
       {{"a", "c", "p"}}},
  };
  for (std::size_t at = 0; at < rows.size(); ++at) {
    const Row& row = rows[at];
    SCOPED_TRACE(row.what);
    const std::string folder = "row" + std::to_string(at) + "/";
    program.state.fileCatalogue.Clear();
    std::vector<std::pair<std::string, std::string>> inFolder;
    for (const auto& [name, bytes] : row.files) {
      inFolder.emplace_back(folder + name, bytes);
    }
    WriteAndCatalogue(inFolder);
    if (row.changeOnDisk) {
      row.changeOnDisk(folder);
    }

    SearchCommand(program, SearchMode::SameContent);

    GroupPaths expected;
    for (const auto& names : row.groups) {
      expected.emplace_back();
      for (const std::string& name : names) {
        expected.back().push_back(Path(folder + name));
      }
    }
    EXPECT_EQ(Groups(), expected);
    EXPECT_EQ(program.state.duplicateGroupList.Count(), static_cast<std::int64_t>(expected.size()));
  }
}

TEST_F(SearchTest, EmptyFilesAreNeverEqualByContentButByName) {
  WriteAndCatalogue({{"eins/leer.txt", ""}, {"zwei/leer.txt", ""}});

  SearchCommand(program, SearchMode::SameContent);
  EXPECT_TRUE(Groups().empty());
  EXPECT_EQ(files.totalOpens, 0);

  SearchCommand(program, SearchMode::SameName);
  EXPECT_EQ(Groups(), (GroupPaths{{Path("eins/leer.txt"), Path("zwei/leer.txt")}}));
  EXPECT_EQ(program.state.duplicateGroupList.First()->size, 0);
}

TEST_F(SearchTest, NameModeIgnoresLetterCaseAndSizesAndReadsNoFile) {
  // None of these files exists: name mode must not need them.
  AddRecord("/bilder/eins", "Foto.JPG", 10);
  AddRecord("/bilder/eins", "b.txt", 5);
  AddRecord("/bilder/zwei", "foto.jpg", 20);
  AddRecord("/bilder/zwei", "\xC3\x84.txt", 7);  // Ä.txt
  AddRecord("/bilder/drei", "\xC3\xA4.txt", 8);  // ä.txt
  AddRecord("/bilder/drei", "\xC3\x96.txt", 7);  // Ö.txt: no partner
  AddRecord("/bilder/vier", "FOTO.jpg", 0);
  AddRecord("/bilder/vier", "strasse.txt", 3);
  AddRecord("/bilder/vier",
            "Stra\xC3\x9F"
            "e.txt",
            3);  // Straße.txt is not strasse.txt

  SearchCommand(program, SearchMode::SameName);

  const GroupPaths expected{
      {NativePath("/bilder/eins/Foto.JPG"), NativePath("/bilder/zwei/foto.jpg"),
       NativePath("/bilder/vier/FOTO.jpg")},
      {NativePath("/bilder/zwei/\xC3\x84.txt"), NativePath("/bilder/drei/\xC3\xA4.txt")}};
  EXPECT_EQ(Groups(), expected);
  EXPECT_EQ(program.state.duplicateGroupList.First()->size, 10);
  EXPECT_EQ(files.totalOpens, 0);
  EXPECT_EQ(PlainSearch(files, program.state.fileCatalogue, false).groups, expected);
}

TEST_F(SearchTest, SizesKeepAllSixtyFourBits) {
  // Equal in their low 32 bits: never compared, so neither file needs to exist.
  constexpr std::int64_t kFourGiB = std::int64_t{1} << 32;
  AddRecord("/gross", "a.bin", 10);
  AddRecord("/gross", "b.bin", kFourGiB + 10);
  AddRecord("/gross", "A.BIN", kFourGiB + 10);

  SearchCommand(program, SearchMode::SameContent);
  EXPECT_TRUE(Groups().empty());
  // Only the pair of kFourGiB + 10 bytes was tried: the missing candidate ended it.
  EXPECT_EQ(files.totalOpens, 1);
  EXPECT_EQ(files.logs.count(NativePath("/gross/A.BIN")), 1U);

  SearchCommand(program, SearchMode::SameName);
  EXPECT_EQ(Groups(), (GroupPaths{{NativePath("/gross/a.bin"), NativePath("/gross/A.BIN")}}));
  EXPECT_EQ(program.state.duplicateGroupList.First()->size, 10);
}

// --- one file, one part in the search

TEST_F(SearchTest, AFileCataloguedTwiceIsNotItsOwnCopy) {
  // The folder "fotos" added once directly and once through its parent: record, real copy,
  // second record of the same file.
  const std::string content = PatternBytes(3000, 1);
  WriteAndCatalogue({{"fotos/bild.jpg", content}, {"kopie/bild.jpg", content}});
  Catalogue("fotos/bild.jpg");

  SearchCommand(program, SearchMode::SameContent);
  const GroupPaths expected{{Path("fotos/bild.jpg"), Path("kopie/bild.jpg")}};
  EXPECT_EQ(Groups(), expected);

  SearchCommand(program, SearchMode::SameName);
  EXPECT_EQ(Groups(), expected);
  EXPECT_EQ(widgets.StatusTexts(kDetailField).back(), "3 / 3 Dateien");
}

TEST_F(SearchTest, AFileCataloguedTwiceWithoutACopyFormsNoGroup) {
  temp.WriteFile("fotos/bild.jpg", PatternBytes(3000, 1));
  Catalogue("fotos/bild.jpg");
  Catalogue("fotos/bild.jpg");

  SearchCommand(program, SearchMode::SameContent);
  EXPECT_TRUE(Groups().empty());
  EXPECT_EQ(files.totalOpens, 0);
  SearchCommand(program, SearchMode::SameName);
  EXPECT_TRUE(Groups().empty());
  EXPECT_EQ(widgets.StatusTexts(kDetailField).back(), "2 / 2 Dateien");
}

// Saved anew between two scans that both reached it: written beside and renamed over, so the
// file at the path has a new inode. Its records must not become copies of each other, or
// deleting "the copy" would delete the only one.
class ReplacedFileTest : public SearchTest {
 protected:
  void Replace(const std::string& relative, const std::string& content) {
    temp.WriteFile("new.tmp", content);
    temp.Rename("new.tmp", relative);
  }
};

TEST_F(ReplacedFileTest, TwoRecordsOfOnePathAreNeverCopies) {
  const std::string content = PatternBytes(3000, 1);
  temp.WriteFile("fotos/bild.jpg", content);
  Catalogue("fotos/bild.jpg");
  Replace("fotos/bild.jpg", content);
  Catalogue("fotos/bild.jpg");
  temp.WriteFile("kopie/bild.jpg", content);
  Catalogue("kopie/bild.jpg");

  // By content the first record is no longer its file, and the second repeats its path.
  SearchCommand(program, SearchMode::SameContent);
  EXPECT_TRUE(Groups().empty());
  // By name the first record stands for the path, and the real copy is still found.
  SearchCommand(program, SearchMode::SameName);
  EXPECT_EQ(Groups(), (GroupPaths{{Path("fotos/bild.jpg"), Path("kopie/bild.jpg")}}));
}

// Links are made on Linux only: under Wine, deleting one would delete its target.
#ifndef _WIN32
TEST_F(ReplacedFileTest, APathThroughALinkLeadingToTheSameFileIsNoCopy) {
  const std::string content = PatternBytes(3000, 2);
  temp.WriteFile("echt/bild.jpg", content);
  temp.MakeSymlink("verweis", "echt");
  Catalogue("echt/bild.jpg");
  Replace("echt/bild.jpg", content);
  Catalogue("verweis/bild.jpg");

  SearchCommand(program, SearchMode::SameContent);
  EXPECT_TRUE(Groups().empty());
  SearchCommand(program, SearchMode::SameName);
  EXPECT_TRUE(Groups().empty());
}
#endif

TEST_F(SearchTest, HardLinksCountAsOneFile) {
  const std::string content = PatternBytes(2000, 1);
  temp.WriteFile("a.txt", content);
  temp.MakeHardLink("b.txt", "a.txt");
  temp.WriteFile("c.txt", content);
  temp.WriteFile("d.txt", content);
  temp.MakeHardLink("e.txt", "d.txt");
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) {
    Catalogue(name);
  }

  SearchCommand(program, SearchMode::SameContent);

  EXPECT_EQ(Groups(), (GroupPaths{{Path("a.txt"), Path("c.txt"), Path("d.txt")}}));
  EXPECT_EQ(files.logs.count(Path("b.txt")), 0U);
  EXPECT_EQ(files.logs.count(Path("e.txt")), 0U);
  EXPECT_EQ(widgets.ProgressValues(kSearchProgressBar), (std::vector<int>{20, 40, 60, 80, 100, 0}));
}

// --- a search again

TEST_F(SearchTest, ASecondSearchGivesTheSameGroupsAndDropsTheOldOnes) {
  const std::string a = PatternBytes(1500, 1), b = PatternBytes(1500, 2);
  WriteAndCatalogue({{"a1", a}, {"b1", b}, {"a2", a}, {"b2", b}, {"a3", a}});
  SearchCommand(program, SearchMode::SameContent);
  const GroupPaths first = Groups();
  ASSERT_EQ(first, (GroupPaths{{Path("a1"), Path("a2"), Path("a3")}, {Path("b1"), Path("b2")}}));
  // Shrink the first group as a marking command would.
  program.state.groupMemberList.MakeCurrent(*program.state.duplicateGroupList.First()->firstMember);
  program.state.groupMemberList.StepForward();
  program.state.groupMemberList.DeleteCurrent();
  --program.state.duplicateGroupList.First()->memberCount;

  SearchCommand(program, SearchMode::SameContent);
  EXPECT_EQ(Groups(), first);
  SearchCommand(program, SearchMode::SameContent);
  EXPECT_EQ(Groups(), first);
}

// --- marks, cursors, progress and status texts

TEST_F(SearchTest, MarksAreThoseOfThePlainSearchAfterEveryReferenceAndZeroAtTheEnd) {
  // "N1" has a folder of its own: where names ignore case, it would replace "n1".
  const std::string a = PatternBytes(1200, 1), b = PatternBytes(1200, 2), n = PatternBytes(300, 3);
  const std::vector<std::pair<const char*, const std::string*>> layout{
      {"a1", &a}, {"n1", &n}, {"b1", &b},     {"a2", &a}, {"n2", &n},
      {"b2", &b}, {"a3", &a}, {"sub/N1", &n}, {"b3", &b}};
  for (const auto& [name, content] : layout) {
    temp.WriteFile(name, *content);
    Catalogue(name);
  }
  for (const bool byContent : {true, false}) {
    const testing::PlainSearchResult plain =
        PlainSearch(files, program.state.fileCatalogue, byContent);
    std::vector<std::vector<bool>> seen;
    widgets.onSearchProgress = [this, &seen] { seen.push_back(Marks()); };

    SearchCommand(program, byContent ? SearchMode::SameContent : SearchMode::SameName);
    widgets.onSearchProgress = nullptr;

    ASSERT_EQ(seen.size(), layout.size() + 1) << "one write per reference and one at the end";
    seen.pop_back();
    EXPECT_EQ(seen, plain.marksAfterEach);
    EXPECT_EQ(Marks(), std::vector<bool>(layout.size(), false));
    EXPECT_EQ(Groups(), plain.groups);
  }
}

TEST_F(SearchTest, CursorsRestOnTheLastRecords) {
  const std::string a = PatternBytes(1100, 1), b = PatternBytes(1100, 2);
  WriteAndCatalogue(
      {{"a1", a}, {"b1", b}, {"a2", a}, {"b2", b}, {"b3", b}, {"einzeln", PatternBytes(10, 3)}});
  program.state.fileCatalogue.SelectIndex(2);

  SearchCommand(program, SearchMode::SameContent);

  ProgramState& state = program.state;
  ASSERT_NE(state.fileCatalogue.Current(), nullptr);
  EXPECT_EQ(state.fileCatalogue.Current()->name, "einzeln");
  EXPECT_EQ(state.fileCatalogue.CurrentPosition(), 6);
  ASSERT_NE(state.duplicateGroupList.Current(), nullptr);
  EXPECT_EQ(state.duplicateGroupList.Current()->firstMember->name, "b1");
  EXPECT_EQ(state.duplicateGroupList.CurrentPosition(), 2);
  ASSERT_NE(state.groupMemberList.Current(), nullptr);
  EXPECT_EQ(state.groupMemberList.Current()->name, "b3");
  EXPECT_EQ(GroupMemberList::Next(*state.groupMemberList.Current()), nullptr);
  // The members of the first group end where the second group begins.
  const GroupMember* firstGroupLast = state.duplicateGroupList.First()->firstMember;
  firstGroupLast = GroupMemberList::Next(*firstGroupLast);
  EXPECT_EQ(firstGroupLast->name, "a2");
  EXPECT_EQ(GroupMemberList::Next(*firstGroupLast), nullptr);
}

TEST_F(SearchTest, ProgressAndCountFollowEveryReference) {
  const std::string a = PatternBytes(5000, 1);
  WriteAndCatalogue({{"a1", a},
                     {"a2", a},
                     {"a3", a},
                     {"x", PatternBytes(10, 2)},
                     {"y", PatternBytes(10, 3)},
                     {"z", PatternBytes(20, 4)}});

  SearchCommand(program, SearchMode::SameContent);

  EXPECT_EQ(widgets.StatusTexts(kActivityField),
            std::vector<std::string>{"Suche doppelte Dateien"});
  EXPECT_EQ(widgets.StatusTexts(kDetailField),
            (std::vector<std::string>{"1 / 6 Dateien", "2 / 6 Dateien", "3 / 6 Dateien",
                                      "4 / 6 Dateien", "5 / 6 Dateien", "6 / 6 Dateien"}));
  EXPECT_EQ(widgets.ProgressValues(kSearchProgressBar),
            (std::vector<int>{16, 33, 50, 66, 83, 100, 0}));
  // Each reference starts with FileProgressBar at 0, then (for the first of a class) the
  // bar follows the reading, and the count comes after it.
  std::vector<std::vector<int>> fileProgressPerReference(1);
  for (const testing::WidgetWrite& write : widgets.writes) {
    if (write.kind == testing::WidgetWrite::Kind::Progress && write.target == kFileProgressBar) {
      fileProgressPerReference.back().push_back(write.value);
    } else if (write.kind == testing::WidgetWrite::Kind::Progress) {
      fileProgressPerReference.emplace_back();
    }
  }
  // Segments 0..5 are the six references; 6 lies between the last count and the final 0.
  ASSERT_EQ(fileProgressPerReference.size(), 8U);
  EXPECT_TRUE(fileProgressPerReference[6].empty());
  EXPECT_TRUE(fileProgressPerReference[7].empty());
  for (std::size_t reference = 0; reference < 6; ++reference) {
    ASSERT_FALSE(fileProgressPerReference[reference].empty());
    EXPECT_EQ(fileProgressPerReference[reference].front(), 0);
  }
  // The class of three is read in lockstep on the first reference, so the bar climbs once,
  // chunk by chunk (1,024 of 5,000 bytes each), to 100; the pair x, y is one comparison of one
  // chunk; the other references read nothing.
  EXPECT_EQ(fileProgressPerReference[0], (std::vector<int>{0, 20, 40, 61, 81, 100}));
  EXPECT_EQ(fileProgressPerReference[3], (std::vector<int>{0, 100}));
  for (std::size_t reference : {1U, 2U, 4U, 5U}) {
    EXPECT_EQ(fileProgressPerReference[reference], std::vector<int>{0});
  }
}

TEST_F(SearchTest, NameModeShowsItsOwnActivity) {
  AddRecord("/a", "eins", 1);
  SearchCommand(program, SearchMode::SameName);
  EXPECT_EQ(widgets.StatusTexts(kActivityField),
            std::vector<std::string>{"Suche gleichnamige Dateien"});
  EXPECT_EQ(widgets.StatusTexts(kDetailField), std::vector<std::string>{"1 / 1 Dateien"});
  EXPECT_EQ(widgets.ProgressValues(kSearchProgressBar), (std::vector<int>{100, 0}));
  EXPECT_TRUE(Groups().empty());
}

TEST_F(SearchTest, AnEmptyCatalogueClearsOldGroupsAndWritesNoCount) {
  FileRecord& kept = AddRecord("/a", "x", 1);
  DuplicateGroup& old = program.state.duplicateGroupList.Add();
  GroupMember& member = program.state.groupMemberList.AddStartingChain();
  member.file = &kept;
  old.firstMember = &member;
  old.memberCount = 1;
  program.state.fileCatalogue.Clear();

  SearchCommand(program, SearchMode::SameContent);

  EXPECT_EQ(program.state.duplicateGroupList.Count(), 0);
  EXPECT_EQ(program.state.groupMemberList.Count(), 0);
  EXPECT_EQ(program.state.duplicateGroupList.Current(), nullptr);
  EXPECT_EQ(program.state.fileCatalogue.Current(), nullptr);
  EXPECT_TRUE(widgets.StatusTexts(kDetailField).empty());
  EXPECT_EQ(widgets.ProgressValues(kSearchProgressBar), std::vector<int>{0});
  EXPECT_EQ(widgets.StatusTexts(kActivityField),
            std::vector<std::string>{"Suche doppelte Dateien"});
}

// --- scale

// The search's speed at a million records is measured in bench/tools/search_scale.cpp; here
// the results at a size no pairwise pass would reach in a test's time.
TEST_F(SearchTest, ManyRecordsOfDistinctSizesOpenNothingAndPairedNamesGroup) {
  constexpr int kRecords = 20'000;
  for (int index = 0; index < kRecords; ++index) {
    // Distinct sizes, and every name twice (up to letter case) a few records apart.
    const std::string name =
        "datei" + std::to_string(index / 2) + (index % 2 == 0 ? ".txt" : ".TXT");
    FileRecord& record = AddRecord("/nirgends", name, index + 1);
    record.identity = {1, static_cast<std::uint64_t>(index + 1)};
  }

  SearchCommand(program, SearchMode::SameContent);
  EXPECT_EQ(program.state.duplicateGroupList.Count(), 0);
  EXPECT_EQ(files.totalOpens, 0);
  SearchCommand(program, SearchMode::SameName);

  EXPECT_EQ(program.state.duplicateGroupList.Count(), kRecords / 2);
  std::int64_t members = 0;
  program.state.duplicateGroupList.ForEach(
      [&members](DuplicateGroup& group) { members += group.memberCount; });
  EXPECT_EQ(members, kRecords);
  EXPECT_EQ(program.state.groupMemberList.Current()->name, "datei9999.TXT");
  EXPECT_EQ(widgets.StatusTexts(kDetailField).back(), "20000 / 20000 Dateien");
  EXPECT_GT(widgets.keepPaintingCalls, 0) << "the index build lets the windows repaint";
}

}  // namespace
}  // namespace kopiensieb
