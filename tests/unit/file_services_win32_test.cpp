// The Windows file services on the real file system (under Wine in the cross build's tests).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "directory_entries.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_file_services.h"
#include "temp_folder.h"

namespace kopiensieb {
namespace {

using testing::AllEntries;
using testing::TempFolder;

struct PathExample {
  const char* path;
  const wchar_t* extended;
};

TEST(Win32PathTest, EveryPathGetsTheLongFormWithBackslashes) {
  const PathExample kExamples[] = {
      {"D:\\Daten\\a.txt", L"\\\\?\\D:\\Daten\\a.txt"},
      {"D:/Daten/a.txt", L"\\\\?\\D:\\Daten\\a.txt"},
      {"D:", L"\\\\?\\D:\\"},  // the root, not the drive's current folder
      {"D:\\", L"\\\\?\\D:\\"},
      {"\\\\server\\share\\a.txt", L"\\\\?\\UNC\\server\\share\\a.txt"},
      {"\\\\?\\D:\\schon lang", L"\\\\?\\D:\\schon lang"},
      {"D:\\a\\..\\b", L"\\\\?\\D:\\b"},
      {"D:\\a\\.\\b", L"\\\\?\\D:\\a\\b"},
      // Without "." or "..", names stay as they are, trailing dots and spaces too: the
      // prefix is what keeps such files reachable.
      {"D:\\name. ", L"\\\\?\\D:\\name. "},
      {"D:\\Gr\xC3\xBC\xC3\x9F\x65", L"\\\\?\\D:\\Gr\u00FC\u00DFe"},
  };
  for (const PathExample& example : kExamples) {
    EXPECT_EQ(ExtendedPath(example.path), std::wstring(example.extended)) << example.path;
  }
}

TEST(Win32TextTest, EveryNameSurvivesTheWayToUtf8AndBack) {
  const std::wstring names[] = {
      L"plain.txt",
      L"Gr\u00FC\u00DFe \u00C4\u00D6\u00DC.txt",
      L"\u4E2D\u6587",
      L"\U0001D11E clef",       // beyond the BMP: a surrogate pair
      std::wstring(1, 0xD800),  // a lone high surrogate, as NTFS allows
      std::wstring{L'a', static_cast<wchar_t>(0xDC00), L'b'},  // a lone low one
  };
  for (const std::wstring& name : names) {
    EXPECT_EQ(WideFromUtf8(Utf8FromWide(name)), name);
  }
  EXPECT_EQ(Utf8FromWide(L"\u00E4\U0001D11E"), "\xC3\xA4\xF0\x9D\x84\x9E");
  // Bytes that are not UTF-8 cannot name a file: they become U+FFFD.
  EXPECT_EQ(WideFromUtf8("caf\xE9"), L"caf\uFFFD");
  EXPECT_EQ(WideFromUtf8("\xC3"), L"\uFFFD");
}

// Wine cannot make links or junctions (its CreateSymbolicLinkW reports success and makes
// nothing), so what a listing makes of a reparse point is checked on the attributes the
// system would report for one.
TEST(Win32ListingTest, ReparsePointsAreNeitherFilesNorFolders) {
  struct Example {
    DWORD attributes;
    EntryKind kind;
  };
  const Example kExamples[] = {
      {FILE_ATTRIBUTE_NORMAL, EntryKind::File},
      {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, EntryKind::File},
      {FILE_ATTRIBUTE_DIRECTORY, EntryKind::Folder},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM, EntryKind::Folder},
      // A junction or a link to a folder.
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, EntryKind::None},
      // A link to a file, and a file-like reparse point such as a deduplicated file.
      {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, EntryKind::None},
      {FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SPARSE_FILE, EntryKind::None},
  };
  for (const Example& example : kExamples) {
    EXPECT_EQ(ListedKind(example.attributes), example.kind) << std::hex << example.attributes;
  }
}

struct Listed {
  EntryKind kind;
  std::string name;
  friend bool operator<(const Listed& a, const Listed& b) { return a.name < b.name; }
  friend bool operator==(const Listed&, const Listed&) = default;
};

// Kinds and names, sorted by name.
std::vector<Listed> ListAll(DirectoryEnumeration& enumeration) {
  std::vector<Listed> listed;
  for (const DirectoryEntry& entry : AllEntries(enumeration)) {
    listed.push_back({entry.kind, entry.name});
  }
  std::sort(listed.begin(), listed.end());
  return listed;
}

class Win32FileServicesTest : public ::testing::Test {
 protected:
  TempFolder temp;
  Win32FileServices files;
};

TEST_F(Win32FileServicesTest, ListsFilesAndFoldersWithTheirNamesSizesAndTimes) {
  const std::string umlauts = "Gr\xC3\xBC\xC3\x9F\x65.txt";
  const std::string clef = "\xF0\x9D\x84\x9E.txt";
  temp.WriteFile(umlauts, "12345");
  temp.WriteFile(clef, "");
  temp.MakeFolder("sub");
  temp.WriteFile("sub/inner.txt", "1");
  temp.SetModifiedNs(umlauts, 1'600'000'000'123'456'700);

  auto enumeration = files.StartEnumeration(temp.Path());
  const std::vector<DirectoryEntry> entries = AllEntries(*enumeration);
  ASSERT_EQ(entries.size(), 3U);
  for (const DirectoryEntry& entry : entries) {
    if (entry.name == umlauts) {
      EXPECT_EQ(entry.kind, EntryKind::File);
      EXPECT_EQ(entry.status.size, 5);
      EXPECT_EQ(entry.status.modifiedNs, 1'600'000'000'123'456'700);
      EXPECT_TRUE(entry.status.identity.Known());
      EXPECT_EQ(files.StatusOf(temp.PathOf(umlauts)), entry.status);
    } else if (entry.name == clef) {
      EXPECT_EQ(entry.kind, EntryKind::File);
      EXPECT_EQ(entry.status.size, 0);
    } else {
      EXPECT_EQ(entry.name, "sub");
      EXPECT_EQ(entry.kind, EntryKind::Folder);
    }
  }
  auto sub = enumeration->OpenSubfolder("sub");
  EXPECT_EQ(ListAll(*sub), (std::vector<Listed>{{EntryKind::File, "inner.txt"}}));
}

TEST_F(Win32FileServicesTest, SizesKeepAllSixtyFourBits) {
  constexpr std::int64_t kBeyond32Bits = (std::int64_t{4} << 30) + 10;
  temp.Resize("big.bin", kBeyond32Bits);
  auto enumeration = files.StartEnumeration(temp.Path());
  const DirectoryEntry entry = enumeration->Next();
  EXPECT_EQ(entry.status.size, kBeyond32Bits);
  EXPECT_EQ(files.StatusOf(temp.PathOf("big.bin"))->size, kBeyond32Bits);
  auto file = files.OpenForReading(temp.PathOf("big.bin"));
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->SkipTo(kBeyond32Bits - 4));
  char tail[8] = {};
  EXPECT_EQ(file->Read(tail), 4);
  EXPECT_FALSE(file->SkipTo(kBeyond32Bits + 1));
}

TEST_F(Win32FileServicesTest, IdentityIsOneFileWhateverItsName) {
  temp.WriteFile("a.txt", "same");
  temp.WriteFile("b.txt", "same");
  temp.MakeHardLink("a2.txt", "a.txt");
  const FileIdentity a = files.StatusOf(temp.PathOf("a.txt"))->identity;
  EXPECT_TRUE(a.Known());
  EXPECT_EQ(files.StatusOf(temp.PathOf("a2.txt"))->identity, a);
  EXPECT_NE(files.StatusOf(temp.PathOf("b.txt"))->identity, a);
  auto opened = files.OpenForReading(temp.PathOf("a2.txt"));
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(opened->Status()->identity, a);
}

TEST_F(Win32FileServicesTest, PathsBeyondTwoHundredSixtyCharactersWork) {
  const std::string deep = temp.MakeDeepFolders("tief", 6, 60);
  temp.WriteFile(deep + "/a.txt", "weit unten");
  const std::string path = temp.PathOf(deep + "/a.txt");
  ASSERT_GT(path.size(), 360U);

  EXPECT_EQ(files.WhatExists(path), PathKind::File);
  EXPECT_EQ(files.WhatExists(temp.PathOf(deep)), PathKind::Folder);
  EXPECT_EQ(ListAll(*files.StartEnumeration(temp.PathOf(deep))),
            (std::vector<Listed>{{EntryKind::File, "a.txt"}}));
  {
    auto file = files.OpenForReading(path);
    ASSERT_NE(file, nullptr);
    char buffer[32] = {};
    EXPECT_EQ(file->Read(buffer), 10);
    EXPECT_EQ(std::string(buffer, 10), "weit unten");
  }  // closed: on Windows an open file stays until its last handle goes
  EXPECT_TRUE(files.Delete(path));
  EXPECT_EQ(files.WhatExists(path), PathKind::Nothing);
}

TEST_F(Win32FileServicesTest, WhatExistsTellsNothingFromFoldersAndFiles) {
  temp.WriteFile("a.txt", "x");
  EXPECT_EQ(files.WhatExists(temp.PathOf("a.txt")), PathKind::File);
  EXPECT_EQ(files.WhatExists(temp.Path()), PathKind::Folder);
  EXPECT_EQ(files.WhatExists(temp.PathOf("fehlt.txt")), PathKind::Nothing);
  EXPECT_EQ(files.WhatExists(temp.PathOf("fehlt/a.txt")), PathKind::Nothing);
  EXPECT_EQ(files.StatusOf(temp.PathOf("fehlt.txt")), std::nullopt);
  EXPECT_EQ(ListAll(*files.StartEnumeration(temp.PathOf("fehlt"))), std::vector<Listed>{});
}

TEST_F(Win32FileServicesTest, DeletesAndOpensFilesOnlyAndNeverAFolder) {
  temp.WriteFile("weg.txt", "x");
  temp.MakeFolder("ordner");
  EXPECT_TRUE(files.Delete(temp.PathOf("weg.txt")));
  EXPECT_FALSE(temp.Exists("weg.txt"));
  EXPECT_FALSE(files.Delete(temp.PathOf("weg.txt")));
  EXPECT_FALSE(files.Delete(temp.PathOf("ordner")));
  EXPECT_TRUE(temp.Exists("ordner"));
  EXPECT_EQ(files.OpenForReading(temp.PathOf("ordner")), nullptr);
}

TEST_F(Win32FileServicesTest, AFileHeldOpenWithoutSharingCannotBeReadOrDeleted) {
  const std::string path = temp.WriteFile("gesperrt.txt", "geheim");
  HANDLE holder = ::CreateFileW(ExtendedPath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(files.OpenForReading(path), nullptr);
  EXPECT_FALSE(files.Delete(path));
  ::CloseHandle(holder);
  EXPECT_TRUE(temp.Exists("gesperrt.txt"));
  EXPECT_NE(files.OpenForReading(path), nullptr);
}

}  // namespace
}  // namespace kopiensieb
