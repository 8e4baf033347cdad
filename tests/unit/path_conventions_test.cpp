#include "platform/path_conventions.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/folder_scan.h"
#include "catalogue/records.h"
#include "program_fixture.h"

namespace kopiensieb {
namespace {

struct EnumerationExample {
  const char* folderText;
  PathConventions conventions;
  const char* enumerated;
};

TEST(PathConventionsTest, RootsAreEnumeratedWithTheirSeparator) {
  constexpr EnumerationExample kExamples[] = {
      {"", kPosixPaths, "/"},
      {"/home/daten", kPosixPaths, "/home/daten"},
      {"D:", kPosixPaths, "D:"},  // on Linux just a name
      {"D:", kWindowsPaths, "D:\\"},
      {"d:", kWindowsPaths, "d:\\"},
      {"D:\\Daten", kWindowsPaths, "D:\\Daten"},
      {"\\\\server\\share", kWindowsPaths, "\\\\server\\share"},
      {"1:", kWindowsPaths, "1:"},  // not a drive
  };
  for (const EnumerationExample& example : kExamples) {
    EXPECT_EQ(FolderPathToEnumerate(example.folderText, example.conventions), example.enumerated)
        << example.folderText;
  }
}

struct CoverageExample {
  const char* added;
  const char* chosen;
  PathConventions conventions;
  bool covered;
};

TEST(PathConventionsTest, CoverageComparesWholeFoldersAndIgnoresCaseOnlyOnWindows) {
  constexpr CoverageExample kExamples[] = {
      {"/a/b/", "/a/b/", kPosixPaths, true},
      {"/a/b/", "/a/b/c/", kPosixPaths, true},
      {"/a/b/", "/a/bc/", kPosixPaths, false},
      {"/a/b/c/", "/a/b/", kPosixPaths, false},
      {"/Daten/", "/daten/", kPosixPaths, false},
      {"/", "/tmp/", kPosixPaths, true},
      {"D:\\Daten\\", "D:\\Daten\\sub\\", kWindowsPaths, true},
      {"D:\\Daten\\", "d:\\DATEN\\Sub\\", kWindowsPaths, true},
      {"D:\\", "d:\\x\\", kWindowsPaths, true},
      {"D:\\a\\", "D:\\ab\\", kWindowsPaths, false},
      {"D:\\a\\", "C:\\a\\", kWindowsPaths, false},
      // Through LowerCase: Latin capitals of the first 256 code points, nothing beyond.
      {"C:\\\xC3\x84rger\\", "c:\\\xC3\xA4RGER\\x\\", kWindowsPaths, true},  // Ärger, äRGER
      {"C:\\\xCE\xA3\\", "C:\\\xCF\x83\\", kWindowsPaths, false},            // Σ, σ
  };
  for (const CoverageExample& example : kExamples) {
    EXPECT_EQ(FolderCovers(example.added, example.chosen, example.conventions), example.covered)
        << example.added << " / " << example.chosen;
  }
}

// A file system held in memory, in the platform's path form: folders by path, each with
// its entries.
class MemoryFileServices final : public FileServices {
 public:
  void AddFolder(const std::string& path, std::vector<DirectoryEntry> entries) {
    folders_[path] = std::move(entries);
  }

  std::unique_ptr<DirectoryEnumeration> StartEnumeration(const std::string& folder) override {
    enumerated.push_back(folder);
    return std::make_unique<Listing>(*this, folder);
  }
  PathKind WhatExists(const std::string& path) override {
    return folders_.contains(path) ? PathKind::Folder : PathKind::Nothing;
  }
  std::optional<FileStatus> StatusOf(const std::string&) override { return std::nullopt; }
  std::unique_ptr<ReadableFile> OpenForReading(const std::string&) override { return nullptr; }
  bool Delete(const std::string&) override { return false; }

  std::vector<std::string> enumerated;  // every folder path asked for, in order

 private:
  class Listing final : public DirectoryEnumeration {
   public:
    Listing(MemoryFileServices& files, std::string folder)
        : files_(files), folder_(std::move(folder)) {}
    DirectoryEntry Next() override {
      const auto found = files_.folders_.find(folder_);
      if (found == files_.folders_.end() || next_ == found->second.size()) {
        return {};
      }
      return found->second[next_++];
    }
    std::unique_ptr<DirectoryEnumeration> OpenSubfolder(const std::string& name) override {
      std::string path = folder_;
      if (path.back() != kNativePaths.separator) {
        path.push_back(kNativePaths.separator);
      }
      return files_.StartEnumeration(path + name);
    }

   private:
    MemoryFileServices& files_;
    std::string folder_;
    std::size_t next_ = 0;
  };

  std::map<std::string, std::vector<DirectoryEntry>> folders_;
};

DirectoryEntry File(const std::string& name) {
  DirectoryEntry entry{EntryKind::File, name, {}};
  entry.status.size = 3;
  return entry;
}

DirectoryEntry Folder(const std::string& name) {
  return DirectoryEntry{EntryKind::Folder, name, {}};
}

std::vector<std::string> CataloguedPaths(ProgramState& state) {
  std::vector<std::string> paths;
  state.fileCatalogue.ForEach(
      [&paths](const FileRecord& record) { paths.push_back(FullPath(record)); });
  return paths;
}

// The platform's root: "/" on Linux, the drive root "D:\" on Windows.
#ifdef _WIN32
const std::string kRoot = "D:\\";
const std::string kRootFolderText = "D:";
const std::string kOtherCase = "d:\\DATEN";
#else
const std::string kRoot = "/";
const std::string kRootFolderText = "";
const std::string kOtherCase = "/DATEN";
#endif

TEST(PathConventionsScanTest, TheRootIsEnumeratedWithItsSeparatorAndNamesItsFilesOnce) {
  const char separator = kNativePaths.separator;
  MemoryFileServices files;
  files.AddFolder(kRoot, {File("a.txt"), Folder("Daten")});
  files.AddFolder(kRootFolderText + separator + "Daten", {File("b.txt")});
  testing::ProgramHarness harness(files);

  harness.AddFolderAndRun(kRoot);

  // Never the bare "D:", which would be the drive's current folder.
  EXPECT_EQ(files.enumerated,
            (std::vector<std::string>{kRoot, kRootFolderText + separator + "Daten"}));
  EXPECT_EQ(
      CataloguedPaths(harness.State()),
      (std::vector<std::string>{kRootFolderText + separator + "a.txt",
                                kRootFolderText + separator + "Daten" + separator + "b.txt"}));
  EXPECT_EQ(harness.State().fileCatalogue.First()->folder, kRootFolderText);
}

TEST(PathConventionsScanTest, AFolderInOtherLetterCaseIsCoveredOnlyWhereNamesIgnoreCase) {
  const char separator = kNativePaths.separator;
  MemoryFileServices files;
  const std::string daten = kRootFolderText + separator + "Daten";
  files.AddFolder(daten, {File("b.txt")});
  files.AddFolder(kOtherCase, {File("b.txt")});
  testing::ProgramHarness harness(files);

  harness.AddFolderAndRun(daten);
  harness.AddFolderAndRun(kOtherCase);

  EXPECT_EQ(harness.State().fileCatalogue.Count(), kNativePaths.namesIgnoreCase ? 1 : 2);
  EXPECT_EQ(files.enumerated.size(), kNativePaths.namesIgnoreCase ? 1U : 2U);
}

}  // namespace
}  // namespace kopiensieb
