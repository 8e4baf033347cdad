#include "platform/posix/posix_file_services.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "directory_entries.h"
#include "recording_file_services.h"
#include "temp_folder.h"
#include "unprivileged_child.h"

namespace kopiensieb {
namespace {

using testing::AllEntries;
using testing::TempFolder;

std::map<std::string, DirectoryEntry> ByName(const std::vector<DirectoryEntry>& entries) {
  std::map<std::string, DirectoryEntry> byName;
  for (const DirectoryEntry& entry : entries) {
    EXPECT_TRUE(byName.emplace(entry.name, entry).second) << "reported twice: " << entry.name;
  }
  return byName;
}

std::vector<std::string> Names(const std::vector<DirectoryEntry>& entries) {
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : entries) {
    names.push_back(entry.name);
  }
  return names;
}

// The names readdir gives for a folder, in its order, without "." and "..".
std::vector<std::string> ReaddirOrder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    ADD_FAILURE() << "cannot list " << folder;
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  ::closedir(dir);
  return names;
}

// Lowers the soft limit of open files to 100 (room for 50 open folders) while it lives.
class LoweredOpenFileLimit {
 public:
  LoweredOpenFileLimit() {
    EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &before_), 0);
    rlimit lowered = before_;
    lowered.rlim_cur = 100;
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  }
  ~LoweredOpenFileLimit() { EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &before_), 0); }
  LoweredOpenFileLimit(const LoweredOpenFileLimit&) = delete;
  LoweredOpenFileLimit& operator=(const LoweredOpenFileLimit&) = delete;

 private:
  rlimit before_{};
};

struct stat LstatOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

// Binds a Unix socket at the path; the descriptor stays open until the object goes.
class BoundSocket {
 public:
  explicit BoundSocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd_ < 0 || path.size() >= sizeof address.sun_path) {
      return;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~BoundSocket() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  BoundSocket(const BoundSocket&) = delete;
  BoundSocket& operator=(const BoundSocket&) = delete;
  bool Bound() const { return bound_; }

 private:
  int fd_;
  bool bound_ = false;
};

class PosixEnumerationTest : public ::testing::Test {
 protected:
  TempFolder temp;
  PosixFileServices files;
};

TEST_F(PosixEnumerationTest, ReportsFilesAndFoldersOnlyWithTheirStatus) {
  const std::string newlineName = "new\nline.txt";
  const std::string notUtf8Name = "caf\xe9\xff.bin";
  temp.WriteFile("a.txt", "abc");
  temp.WriteFile("empty", "");
  temp.WriteFile(newlineName, "12345");
  temp.WriteFile(notUtf8Name, std::string(1500, 'x'));
  temp.WriteFile("sub/inner.txt", "inner");
  temp.MakeSymlink("loop", ".");
  temp.MakeSymlink("dangling", "nowhere");
  temp.MakeSymlink("to-file", "a.txt");
  temp.MakeSymlink("to-folder", "sub");
  temp.MakeFifo("pipe");
  BoundSocket socket(temp.PathOf("socket"));
  ASSERT_TRUE(socket.Bound());
  const std::int64_t modifiedNs = 1'600'000'000'123'456'789;
  temp.SetModifiedNs(newlineName, modifiedNs);

  std::unique_ptr<DirectoryEnumeration> top = files.StartEnumeration(temp.Path());
  ASSERT_NE(top, nullptr);
  std::vector<DirectoryEntry> entries = AllEntries(*top);
  std::map<std::string, DirectoryEntry> byName = ByName(entries);

  std::vector<std::string> names;
  for (const auto& [name, entry] : byName) {
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "caf\xe9\xff.bin", "empty", "new\nline.txt",
                                             "sub"}));
  EXPECT_EQ(byName["sub"].kind, EntryKind::Folder);
  for (const std::string& name :
       std::vector<std::string>{"a.txt", "empty", newlineName, notUtf8Name}) {
    const DirectoryEntry& entry = byName[name];
    EXPECT_EQ(entry.kind, EntryKind::File) << name;
    struct stat info = LstatOf(temp.PathOf(name));
    EXPECT_EQ(entry.status.size, info.st_size) << name;
    EXPECT_EQ(entry.status.identity.device, static_cast<std::uint64_t>(info.st_dev)) << name;
    EXPECT_EQ(entry.status.identity.inode, static_cast<std::uint64_t>(info.st_ino)) << name;
  }
  EXPECT_EQ(byName[notUtf8Name].status.size, 1500);
  EXPECT_EQ(byName["empty"].status.size, 0);
  EXPECT_EQ(byName[newlineName].status.modifiedNs, modifiedNs);
  EXPECT_NE(byName["a.txt"].status.identity, byName["empty"].status.identity);

  // Unsorted: the order readdir gives, with the skipped kinds left out.
  std::vector<std::string> expectedOrder = ReaddirOrder(temp.Path());
  std::erase_if(expectedOrder, [&](const std::string& name) { return !byName.contains(name); });
  EXPECT_EQ(Names(entries), expectedOrder);

  // Once at the end, it stays at the end.
  EXPECT_EQ(top->Next().kind, EntryKind::None);
}

TEST_F(PosixEnumerationTest, SubfoldersOpenRelativeToTheirParentButLinksAreNotEntered) {
  temp.WriteFile("sub/inner.txt", "inner");
  temp.WriteFile("sub/deeper/bottom.txt", "bottom!");
  temp.MakeSymlink("loop", ".");
  temp.MakeSymlink("to-folder", "sub");

  std::unique_ptr<DirectoryEnumeration> top = files.StartEnumeration(temp.Path() + "/");
  std::unique_ptr<DirectoryEnumeration> sub = top->OpenSubfolder("sub");
  std::map<std::string, DirectoryEntry> inSub = ByName(AllEntries(*sub));
  ASSERT_EQ(inSub.size(), 2u);
  EXPECT_EQ(inSub["inner.txt"].status.size, 5);
  EXPECT_EQ(inSub["deeper"].kind, EntryKind::Folder);

  std::unique_ptr<DirectoryEnumeration> deeper = sub->OpenSubfolder("deeper");
  std::vector<DirectoryEntry> inDeeper = AllEntries(*deeper);
  ASSERT_EQ(inDeeper.size(), 1u);
  EXPECT_EQ(inDeeper[0].name, "bottom.txt");
  EXPECT_EQ(inDeeper[0].status.size, 7);

  // A link to a folder (a loop here) gives nothing, whoever asks to enter it.
  EXPECT_TRUE(AllEntries(*top->OpenSubfolder("loop")).empty());
  EXPECT_TRUE(AllEntries(*top->OpenSubfolder("to-folder")).empty());
  EXPECT_TRUE(AllEntries(*top->OpenSubfolder("missing")).empty());
  EXPECT_TRUE(AllEntries(*sub->OpenSubfolder("inner.txt")).empty());
}

TEST_F(PosixEnumerationTest, FoldersThatCannotBeReadYieldNothing) {
  temp.WriteFile("plain.txt", "x");
  EXPECT_TRUE(AllEntries(*files.StartEnumeration(temp.PathOf("missing"))).empty());
  EXPECT_TRUE(AllEntries(*files.StartEnumeration(temp.PathOf("plain.txt"))).empty());
  EXPECT_TRUE(
      AllEntries(*files.StartEnumeration(temp.PathOf("missing"))->OpenSubfolder("x")).empty());
}

// As an unprivileged user sees them: a locked folder yields nothing, directly or as a
// subfolder, while a readable one beside it does; a path inside the locked folder may be
// there or not (Unknown), one below a missing folder or a file is Nothing. The child answers
// the number of the first check that failed.
TEST_F(PosixEnumerationTest, AFolderWithoutPermissionsYieldsNothingAndHidesWhatItHolds) {
  temp.WriteFile("locked/secret.txt", "x");
  temp.WriteFile("open/visible.txt", "x");
  temp.WriteFile("plain.txt", "x");
  temp.SetMode("", 0755);  // let the unprivileged child reach the folders
  temp.SetMode("locked", 0);
  const std::string top = temp.Path();
  const int failed = testing::RunWithoutPrivileges([&top] {
    PosixFileServices files;
    const auto entriesSeen = [&](const std::string& name) {
      return AllEntries(*files.StartEnumeration(top + "/" + name)).size() +
             AllEntries(*files.StartEnumeration(top)->OpenSubfolder(name)).size();
    };
    return testing::FirstFailed({
        entriesSeen("locked") == 0,
        entriesSeen("open") == 2,
        files.WhatExists(top + "/locked/secret.txt") == PathKind::Unknown,
        !files.StatusOf(top + "/locked/secret.txt").has_value(),
        files.WhatExists(top + "/missing/x.txt") == PathKind::Nothing,
        files.WhatExists(top + "/plain.txt/x.txt") == PathKind::Nothing,
        files.WhatExists(top + "/plain.txt") == PathKind::File,
    });
  });
  EXPECT_EQ(failed, 0);
}

TEST_F(PosixEnumerationTest, EntriesThatVanishDuringTheEnumerationAreSkipped) {
  constexpr int kCount = 60;
  for (int i = 0; i < kCount; ++i) {
    temp.WriteFile("f" + std::to_string(i), "data");
  }
  std::unique_ptr<DirectoryEnumeration> enumeration = files.StartEnumeration(temp.Path());
  DirectoryEntry first = enumeration->Next();
  ASSERT_EQ(first.kind, EntryKind::File);
  // readdir has already fetched the names of the others; they go now.
  for (int i = 0; i < kCount; ++i) {
    const std::string name = "f" + std::to_string(i);
    if (name != first.name) {
      temp.Remove(name);
    }
  }
  for (const DirectoryEntry& entry : AllEntries(*enumeration)) {
    ADD_FAILURE() << "reported although removed: " << entry.name;
  }
}

TEST_F(PosixEnumerationTest, EmptyPathEnumeratesTheRoot) {
  std::vector<std::string> expected = ReaddirOrder("/");
  std::erase_if(expected, [](const std::string& name) {
    struct stat info {};
    return ::lstat(("/" + name).c_str(), &info) != 0 ||
           !(S_ISDIR(info.st_mode) || S_ISREG(info.st_mode));
  });
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(Names(AllEntries(*files.StartEnumeration(""))), expected);
}

TEST(PosixFileServicesLimits, ConstructionRaisesTheOpenFileLimit) {
  PosixFileServices files;
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlim_t enough = rlim_t{1} << 20;
  const rlim_t expected =
      limit.rlim_max == RLIM_INFINITY ? enough : std::min(limit.rlim_max, enough);
  EXPECT_GE(limit.rlim_cur, expected);
}

using PosixPathOperationsTest = PosixEnumerationTest;

TEST_F(PosixPathOperationsTest, WhatExistsAndStatusDoNotFollowTheLastLink) {
  temp.WriteFile("file.txt", "0123456789");
  temp.MakeFolder("folder");
  temp.MakeSymlink("link-to-folder", "folder");
  temp.MakeSymlink("dangling", "nowhere");
  temp.MakeFifo("pipe");

  EXPECT_EQ(files.WhatExists(temp.PathOf("nothing")), PathKind::Nothing);
  EXPECT_EQ(files.WhatExists(temp.PathOf("nothing/below")), PathKind::Nothing);
  EXPECT_EQ(files.WhatExists(temp.PathOf("folder")), PathKind::Folder);
  EXPECT_EQ(files.WhatExists(temp.PathOf("file.txt")), PathKind::File);
  EXPECT_EQ(files.WhatExists(temp.PathOf("link-to-folder")), PathKind::File);
  EXPECT_EQ(files.WhatExists(temp.PathOf("dangling")), PathKind::File);
  EXPECT_EQ(files.WhatExists(temp.PathOf("pipe")), PathKind::File);

  std::optional<FileStatus> file = files.StatusOf(temp.PathOf("file.txt"));
  ASSERT_TRUE(file.has_value());
  struct stat info = LstatOf(temp.PathOf("file.txt"));
  EXPECT_EQ(file->size, 10);
  EXPECT_EQ(file->identity.inode, static_cast<std::uint64_t>(info.st_ino));
  EXPECT_EQ(file->modifiedNs,
            std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec);

  std::optional<FileStatus> link = files.StatusOf(temp.PathOf("link-to-folder"));
  ASSERT_TRUE(link.has_value());
  EXPECT_EQ(link->size, 6);  // the length of the link's text "folder"
  EXPECT_EQ(link->identity.inode,
            static_cast<std::uint64_t>(LstatOf(temp.PathOf("link-to-folder")).st_ino));
  EXPECT_FALSE(files.StatusOf(temp.PathOf("nothing")).has_value());
}

TEST_F(PosixPathOperationsTest, OpenForReadingReadsRegularFilesFromTheStart) {
  std::string content(3000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) {
    content[i] = static_cast<char>(i * 7 + 3);
  }
  const std::string path = temp.WriteFile("data.bin", content);
  std::unique_ptr<ReadableFile> file = files.OpenForReading(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Position(), 0);
  std::optional<FileStatus> status = file->Status();
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status, files.StatusOf(path));

  std::string buffer(1024, '\0');
  EXPECT_EQ(file->Read(buffer), 1024);
  EXPECT_EQ(buffer, content.substr(0, 1024));
  EXPECT_EQ(file->Position(), 1024);

  ASSERT_TRUE(file->SkipTo(2500));
  EXPECT_EQ(file->Position(), 2500);
  EXPECT_EQ(file->Read(buffer), 500);
  EXPECT_EQ(buffer.substr(0, 500), content.substr(2500));
  EXPECT_EQ(file->Position(), 3000);
  EXPECT_EQ(file->Read(buffer), 0);
  EXPECT_EQ(file->Position(), 3000);

  EXPECT_FALSE(file->SkipTo(1000));  // never backwards

  std::unique_ptr<ReadableFile> again = files.OpenForReading(path);
  ASSERT_NE(again, nullptr);
  EXPECT_FALSE(again->SkipTo(3001));
  EXPECT_EQ(again->Position(), 3000);

  // Shrunk after the open: what lay behind the new end is never handed out.
  std::unique_ptr<ReadableFile> shrunk = files.OpenForReading(path);
  ASSERT_NE(shrunk, nullptr);
  ASSERT_EQ(::truncate(path.c_str(), 1500), 0);
  EXPECT_TRUE(shrunk->SkipTo(1000));
  EXPECT_EQ(shrunk->Read(buffer), 500);
  EXPECT_EQ(buffer.substr(0, 500), content.substr(1000, 500));
  EXPECT_FALSE(shrunk->SkipTo(2000));
  EXPECT_EQ(shrunk->Position(), 1500);
  EXPECT_EQ(shrunk->Read(buffer), 0);
}

TEST_F(PosixPathOperationsTest, OpenForReadingRefusesEverythingButRegularFiles) {
  temp.WriteFile("target.txt", "target");
  temp.MakeSymlink("link", "target.txt");
  temp.MakeFolder("folder");
  EXPECT_EQ(files.OpenForReading(temp.PathOf("missing")), nullptr);
  EXPECT_EQ(files.OpenForReading(temp.PathOf("link")), nullptr);
  EXPECT_EQ(files.OpenForReading(temp.PathOf("folder")), nullptr);
  EXPECT_NE(files.OpenForReading(temp.PathOf("target.txt")), nullptr);
}

TEST_F(PosixPathOperationsTest, OpeningAFifoNeitherBlocksNorSucceeds) {
  const std::string fifo = temp.MakeFifo("pipe");
  auto opened =
      std::async(std::launch::async, [&] { return files.OpenForReading(fifo) != nullptr; });
  if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Release the blocked reader so that the test ends, then fail.
    int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    opened.wait();
    if (writer >= 0) {
      ::close(writer);
    }
    FAIL() << "opening a FIFO waited for a writer";
  }
  EXPECT_FALSE(opened.get());
}

TEST_F(PosixPathOperationsTest, DeleteRemovesFilesAndLinksButNotFolders) {
  const std::string file = temp.WriteFile("file.txt", "x");
  temp.WriteFile("target.txt", "target");
  const std::string link = temp.MakeSymlink("link", "target.txt");
  const std::string folder = temp.MakeFolder("folder");

  EXPECT_TRUE(files.Delete(file));
  EXPECT_FALSE(temp.Exists("file.txt"));
  EXPECT_FALSE(files.Delete(file));

  EXPECT_TRUE(files.Delete(link));
  EXPECT_FALSE(temp.Exists("link"));
  EXPECT_EQ(temp.ReadFile("target.txt"), "target");

  EXPECT_FALSE(files.Delete(folder));
  EXPECT_TRUE(temp.Exists("folder"));
}

// A folder that may be passed through but not listed (mode 0711) above a long path: the walk
// down needs no more permission than the kernel's own lookup of a short path.
TEST_F(PosixPathOperationsTest, LongPathsPassThroughFoldersThatCannotBeListed) {
  const std::string deep = temp.MakeDeepFolders("gate/long", 30, 200);
  temp.WriteFile(deep + "/file.txt", "below the gate");
  temp.SetMode("", 0755);
  temp.SetMode("gate", 0711);
  const std::string deepPath = temp.PathOf(deep);
  ASSERT_GT(deepPath.size(), static_cast<std::size_t>(PATH_MAX));
  const int failed = testing::RunWithoutPrivileges([&deepPath] {
    PosixFileServices files;
    return testing::FirstFailed({
        files.WhatExists(deepPath + "/file.txt") == PathKind::File,
        AllEntries(*files.StartEnumeration(deepPath)).size() == 1,
        files.OpenForReading(deepPath + "/file.txt") != nullptr,
        files.WhatExists(deepPath + "/missing") == PathKind::Nothing,
    });
  });
  EXPECT_EQ(failed, 0);
}

TEST_F(PosixPathOperationsTest, PathsLongerThanPathMaxWorkThroughout) {
  const std::string deep = temp.MakeDeepFolders("long", 30, 200);
  const std::string content = "far down below";
  temp.WriteFile(deep + "/file.txt", content);
  temp.MakeFolder(deep + "/bottom");
  const std::string deepPath = temp.PathOf(deep);
  const std::string filePath = deepPath + "/file.txt";
  ASSERT_GT(filePath.size(), static_cast<std::size_t>(PATH_MAX));

  // Down from the top, one level at a time.
  std::unique_ptr<DirectoryEnumeration> level = files.StartEnumeration(temp.PathOf("long"));
  for (int i = 0; i < 30; ++i) {
    std::vector<DirectoryEntry> entries = AllEntries(*level);
    ASSERT_EQ(entries.size(), 1u) << "level " << i;
    ASSERT_EQ(entries[0].kind, EntryKind::Folder);
    level = level->OpenSubfolder(entries[0].name);
  }
  std::map<std::string, DirectoryEntry> atBottom = ByName(AllEntries(*level));
  ASSERT_EQ(atBottom.size(), 2u);
  EXPECT_EQ(atBottom["file.txt"].status.size, static_cast<std::int64_t>(content.size()));
  EXPECT_EQ(atBottom["bottom"].kind, EntryKind::Folder);

  // Directly by the long path.
  std::map<std::string, DirectoryEntry> direct =
      ByName(AllEntries(*files.StartEnumeration(deepPath)));
  EXPECT_EQ(direct.size(), 2u);
  EXPECT_EQ(direct["file.txt"].status, atBottom["file.txt"].status);

  EXPECT_EQ(files.WhatExists(filePath), PathKind::File);
  EXPECT_EQ(files.WhatExists(deepPath + "/bottom"), PathKind::Folder);
  EXPECT_EQ(files.WhatExists(deepPath + "/nothing"), PathKind::Nothing);
  EXPECT_EQ(files.WhatExists(deepPath + "/nothing/below"), PathKind::Nothing);
  EXPECT_EQ(files.StatusOf(filePath), atBottom["file.txt"].status);

  std::unique_ptr<ReadableFile> file = files.OpenForReading(filePath);
  ASSERT_NE(file, nullptr);
  std::string buffer(100, '\0');
  ASSERT_EQ(file->Read(buffer), static_cast<std::int64_t>(content.size()));
  EXPECT_EQ(buffer.substr(0, content.size()), content);
  EXPECT_EQ(file->Status(), atBottom["file.txt"].status);

  EXPECT_TRUE(files.Delete(filePath));
  EXPECT_EQ(files.WhatExists(filePath), PathKind::Nothing);
  EXPECT_FALSE(temp.Exists(deep + "/file.txt"));
  EXPECT_FALSE(files.Delete(filePath));
  EXPECT_EQ(files.OpenForReading(filePath), nullptr);
}

// Races played through the race hook: another process changes the tree between the moment a
// folder was listed or a file was looked at and the moment it is opened or deleted.
class PosixRaceTest : public PosixEnumerationTest {
 protected:
  TempFolder outside;
};

TEST_F(PosixRaceTest, AFolderSwappedForALinkBeforeItIsOpenedIsNotEntered) {
  struct Case {
    const char* what;
    std::string swapped;  // the folder swapped when it is about to be opened; "" for none
    // Opens "a/sub" below the temporary folder, with the race hook set.
    std::function<std::unique_ptr<DirectoryEnumeration>(PosixFileServices&, const std::string&)>
        open;
  };
  const auto fromTheParent = [](PosixFileServices& services, const std::string& root) {
    return services.StartEnumeration(root + "/a")->OpenSubfolder("sub");
  };
  const auto fromTheRootDown = [](PosixFileServices& services, const std::string& root) {
    return services.StartEnumerationBelow(root, "/a/sub");
  };
  const std::vector<Case> cases{
      {"opened from its parent, nothing swapped", "", fromTheParent},
      {"opened from its parent, swapped", "sub", fromTheParent},
      {"opened from the root down, nothing swapped", "", fromTheRootDown},
      {"opened from the root down, swapped", "sub", fromTheRootDown},
      {"opened from the root down, a folder on the way swapped", "a", fromTheRootDown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder tree;
    tree.WriteFile("a/sub/inside.txt", "inside");
    TempFolder elsewhere;
    elsewhere.WriteFile("outside.txt", "outside");
    elsewhere.WriteFile("sub/outside.txt", "outside");
    PosixFileServices services;
    int swaps = 0;
    services.SetRaceHook([&](PosixFileServices::RacePoint point, const std::string& name) {
      if (point == PosixFileServices::RacePoint::BeforeOpenSubfolder && name == c.swapped &&
          swaps++ == 0) {
        tree.SwapForLink(name == "a" ? "a" : "a/sub", elsewhere.Path());
      }
    });

    const std::vector<std::string> found = Names(AllEntries(*c.open(services, tree.Path())));

    if (c.swapped.empty()) {
      EXPECT_EQ(found, std::vector<std::string>{"inside.txt"});
    } else {
      EXPECT_EQ(swaps, 1) << "the race was played";
      EXPECT_TRUE(found.empty()) << found.front();
    }
  }
}

// Beyond PATH_MAX the path is walked one folder at a time, and a link on the way is not
// entered: a folder of the tree swapped for a link leads nowhere.
TEST_F(PosixRaceTest, TheLongPathWalkEntersNoLink) {
  const std::string deep = temp.MakeDeepFolders("long", 30, 200);
  temp.WriteFile(deep + "/file.txt", "far down");
  temp.MakeSymlink("via-link", temp.PathOf("long"));
  const std::string viaLink = temp.PathOf("via-link") + deep.substr(std::string("long").size());
  ASSERT_GT(viaLink.size(), static_cast<std::size_t>(PATH_MAX));
  ASSERT_EQ(files.WhatExists(temp.PathOf(deep) + "/file.txt"), PathKind::File);

  // Unknown, not Nothing: the file may well be there, behind the link.
  EXPECT_EQ(files.WhatExists(viaLink + "/file.txt"), PathKind::Unknown);
  EXPECT_EQ(files.WhatExists(viaLink), PathKind::Unknown);
  EXPECT_FALSE(files.StatusOf(viaLink + "/file.txt").has_value());
  EXPECT_EQ(files.OpenForReading(viaLink + "/file.txt"), nullptr);
  EXPECT_TRUE(AllEntries(*files.StartEnumeration(viaLink)).empty());
  EXPECT_FALSE(files.Delete(viaLink + "/file.txt"));
  const std::optional<FileStatus> status = files.StatusOf(temp.PathOf(deep) + "/file.txt");
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(files.DeleteIfUnchanged(viaLink + "/file.txt", *status), DeleteOutcome::Kept);
  EXPECT_EQ(temp.ReadFile(deep + "/file.txt"), "far down");
}

TEST_F(PosixRaceTest, DeleteIfUnchangedDeletesOnlyTheFileThatWasLookedAt) {
  struct Case {
    const char* what;
    std::function<void(TempFolder&)> before;  // after the status was taken, before the call
    std::function<void(TempFolder&)> atRace;  // between the look and the deletion
    DeleteOutcome outcome;
    std::string leftAtPath;  // the content at the path afterwards; "-" for nothing
  };
  const std::vector<Case> cases{
      {"unchanged", nullptr, nullptr, DeleteOutcome::Deleted, "-"},
      {"already gone", [](TempFolder& t) { t.Remove("f"); }, nullptr, DeleteOutcome::Missing, "-"},
      {"rewritten", [](TempFolder& t) { t.WriteFile("f", "rewritten!"); }, nullptr,
       DeleteOutcome::Kept, "rewritten!"},
      {"a folder in its place",
       [](TempFolder& t) {
         t.Remove("f");
         t.MakeFolder("f");
       },
       nullptr, DeleteOutcome::Kept, "folder"},
      {"a link to it in its place",
       [](TempFolder& t) {
         t.Rename("f", "target");
         t.MakeSymlink("f", "target");
       },
       nullptr, DeleteOutcome::Kept, "link"},
      {"another file renamed over it after the look", nullptr,
       [](TempFolder& t) {
         t.WriteFile("intruder", "intruder");
         t.Rename("intruder", "f");
       },
       DeleteOutcome::Kept, "intruder"},
      {"deleted by someone else after the look", nullptr, [](TempFolder& t) { t.Remove("f"); },
       DeleteOutcome::Missing, "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    const std::string path = folder.WriteFile("f", "original");
    folder.WriteFile("neighbour", "stays");
    const std::optional<FileStatus> expected = files.StatusOf(path);
    ASSERT_TRUE(expected.has_value());
    if (c.before) {
      c.before(folder);
    }
    int races = 0;
    files.SetRaceHook([&](PosixFileServices::RacePoint point, const std::string& name) {
      if (point == PosixFileServices::RacePoint::BeforeDelete && name == "f" && c.atRace) {
        ++races;
        c.atRace(folder);
      }
    });

    EXPECT_EQ(files.DeleteIfUnchanged(path, *expected), c.outcome);

    if (c.atRace) {
      EXPECT_EQ(races, 1) << "the race was played";
    }
    const std::optional<struct stat> info = [&]() -> std::optional<struct stat> {
      struct stat found {};
      if (::lstat(path.c_str(), &found) != 0) {
        return std::nullopt;
      }
      return found;
    }
    ();
    if (c.leftAtPath == "-") {
      EXPECT_FALSE(info.has_value());
    } else if (c.leftAtPath == "folder") {
      ASSERT_TRUE(info.has_value());
      EXPECT_TRUE(S_ISDIR(info->st_mode));
    } else if (c.leftAtPath == "link") {
      ASSERT_TRUE(info.has_value());
      EXPECT_TRUE(S_ISLNK(info->st_mode));
      EXPECT_EQ(folder.ReadFile("target"), "original");
    } else {
      EXPECT_EQ(folder.ReadFile("f"), c.leftAtPath);
    }
    EXPECT_EQ(folder.ReadFile("neighbour"), "stays");
    // Nothing was left behind under another name.
    for (const std::string& name : ReaddirOrder(folder.Path())) {
      EXPECT_TRUE(name == "f" || name == "neighbour" || name == "target") << name;
    }
  }
}

// The folder is held open from the look to the deletion: a folder swapped for a link to
// another tree meanwhile does not lead the deletion there.
TEST_F(PosixRaceTest, DeleteIfUnchangedActsInTheFolderItLookedIn) {
  const std::string path = temp.WriteFile("dir/f", "original");
  outside.WriteFile("f", "original");  // same name and bytes, outside the tree
  const std::optional<FileStatus> expected = files.StatusOf(path);
  ASSERT_TRUE(expected.has_value());
  files.SetRaceHook([&](PosixFileServices::RacePoint point, const std::string&) {
    if (point == PosixFileServices::RacePoint::BeforeDelete) {
      temp.SwapForLink("dir", outside.Path());
    }
  });

  EXPECT_EQ(files.DeleteIfUnchanged(path, *expected), DeleteOutcome::Deleted);

  EXPECT_EQ(outside.ReadFile("f"), "original");
  EXPECT_FALSE(temp.Exists("dir.moved/f")) << "the file looked at is the one deleted";
  EXPECT_TRUE(ReaddirOrder(temp.PathOf("dir.moved")).empty()) << "nothing left behind";
}

std::optional<std::string> ContentOf(std::unique_ptr<ReadableFile> file) {
  if (!file) {
    return std::nullopt;
  }
  std::string bytes(4096, '\0');
  bytes.resize(static_cast<std::size_t>(file->Read(bytes)));
  return bytes;
}

// What OpenForReading makes of a path: nullptr-ness and the bytes read.
std::optional<std::string> ContentThroughOpen(FileServices& files, const std::string& path) {
  return ContentOf(files.OpenForReading(path));
}

// The same through OpenCatalogued, the path split at its last separator as a record holds it,
// its folder under `folderNumber` where given.
std::optional<std::string> ContentThroughCatalogued(
    FileServices& files, const std::string& path,
    std::uint32_t folderNumber = FileLocation::kUnnumbered) {
  FileLocation location = testing::LocationOfPath(path);
  location.folderNumber = folderNumber;
  return ContentOf(files.OpenCatalogued(location));
}

// The plan views `paths`, which must outlive it; the folder of paths[i] has number
// numbers[i] where `numbers` is given.
testing::ListedPlan PlanOf(FileServices& files, const std::vector<std::string>& paths,
                           const std::vector<std::uint32_t>& numbers = {}) {
  std::vector<PlannedRead> reads;
  std::uint32_t numberCount = 0;
  for (std::size_t at = 0; at < paths.size(); ++at) {
    const std::optional<FileStatus> status = files.StatusOf(paths[at]);
    reads.push_back(PlannedRead{.location = testing::LocationOfPath(paths[at]),
                                .identity = status ? status->identity : FileIdentity{},
                                .startBytes = 4096});
    if (at < numbers.size()) {
      reads.back().location.folderNumber = numbers[at];
      numberCount = std::max(numberCount, numbers[at] + 1);
    }
  }
  return testing::ListedPlan(std::move(reads), numberCount);
}

class PosixReadingSessionTest : public PosixPathOperationsTest {};

// While a session keeps folders open, a path still opens what it names without one: links on
// the way are followed, a final link is not, only regular files open, long paths work.
TEST_F(PosixReadingSessionTest, PathsOpenAsWithoutASession) {
  temp.WriteFile("top.txt", "top");
  temp.WriteFile("folder/inner.txt", "inner");
  temp.MakeSymlink("folder/link.txt", "inner.txt");
  temp.MakeSymlink("linked-folder", "folder");
  temp.MakeFolder("folder/sub");
  temp.MakeFifo("folder/pipe");
  const std::string deep = temp.MakeDeepFolders("long", 30, 200);
  temp.WriteFile(deep + "/far.txt", "far");
  const std::vector<std::string> paths = {
      temp.PathOf("top.txt"),         temp.PathOf("folder/inner.txt"),
      temp.PathOf("folder/link.txt"), temp.PathOf("linked-folder/inner.txt"),
      temp.PathOf("folder/sub"),      temp.PathOf("folder/pipe"),
      temp.PathOf("folder/missing"),  temp.PathOf("missing-folder/inner.txt"),
      temp.PathOf(deep + "/far.txt"), temp.PathOf("folder/sub/.."),
      temp.PathOf("folder/")};
  std::vector<std::optional<std::string>> without;
  for (const std::string& path : paths) {
    without.push_back(ContentThroughOpen(files, path));
    EXPECT_EQ(ContentThroughCatalogued(files, path), without.back()) << path;
  }
  ASSERT_EQ(without[1], "inner");
  ASSERT_EQ(without[3], "inner");
  ASSERT_EQ(without[8], "far");

  const std::unique_ptr<ReadingSession> session = files.StartReading(PlanOf(files, paths));
  for (int round = 0; round < 2; ++round) {  // the second round finds the folders open
    for (std::size_t at = 0; at < paths.size(); ++at) {
      EXPECT_EQ(ContentThroughOpen(files, paths[at]), without[at]) << paths[at];
      EXPECT_EQ(ContentThroughCatalogued(files, paths[at]), without[at]) << paths[at];
    }
  }
}

// The folders are kept for one search only: a folder swapped since, with a file of the same
// name in the new one, is seen as it is now.
TEST_F(PosixReadingSessionTest, TheFoldersAreLetGoWithTheSession) {
  const std::string path = temp.WriteFile("folder/file.txt", "before");
  const std::vector<std::string> plan = {path};
  {
    const std::unique_ptr<ReadingSession> session = files.StartReading(PlanOf(files, plan));
    EXPECT_EQ(ContentThroughOpen(files, path), "before");
  }
  temp.Rename("folder", "old");
  temp.WriteFile("folder/file.txt", "after");
  EXPECT_EQ(ContentThroughOpen(files, path), "after");
  const std::unique_ptr<ReadingSession> session = files.StartReading(PlanOf(files, plan));
  EXPECT_EQ(ContentThroughOpen(files, path), "after");
}

// A folder number only points the way: files of different folders under one number, a folder
// under several numbers, and numbers the plan does not have all open what their paths name,
// in whichever order the numbers are first used.
TEST_F(PosixReadingSessionTest, FolderNumbersNeverOpenAnotherFoldersFile) {
  std::vector<std::string> paths;
  for (const char* folder : {"a", "b", "a/sub", "c"}) {
    paths.push_back(temp.WriteFile(std::string(folder) + "/same.txt", folder));
  }
  paths.push_back(temp.WriteFile("a/other.txt", "a-other"));
  // a and b share number 0; a/sub has 1; c has 2 and 3; a/other.txt has 1, a/sub's.
  const std::vector<std::uint32_t> numbers = {0, 0, 1, 2, 1};
  const std::vector<std::string> expected = {"a", "b", "a/sub", "c", "a-other"};
  for (const bool reversed : {false, true}) {
    const std::unique_ptr<ReadingSession> session =
        files.StartReading(PlanOf(files, paths, numbers));
    for (int round = 0; round < 2; ++round) {
      for (std::size_t step = 0; step < paths.size(); ++step) {
        const std::size_t at = reversed ? paths.size() - 1 - step : step;
        EXPECT_EQ(ContentThroughCatalogued(files, paths[at], numbers[at]), expected[at])
            << paths[at] << (reversed ? " reversed" : "");
      }
    }
    EXPECT_EQ(ContentThroughCatalogued(files, paths[3], 3), "c");
    EXPECT_EQ(ContentThroughCatalogued(files, paths[3], 99), "c");  // beyond the plan's numbers
  }
}

// Whether the first page of the file is in the page cache.
bool FirstPageCached(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  void* mapped = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (mapped == MAP_FAILED) {
    return false;
  }
  unsigned char resident = 0;
  const bool known = ::mincore(mapped, 4096, &resident) == 0;
  ::munmap(mapped, 4096);
  return known && (resident & 1) != 0;
}

// Drops the file's pages from the page cache where the kernel lets a user do so.
void DropFromCache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Files that are not in memory are fetched ahead of the readers, also those of folders beyond
// the number the session keeps open, and also where the plan numbers one folder twice.
TEST_F(PosixReadingSessionTest, EveryPlannedFileIsFetchedHoweverManyFolders) {
  constexpr int kFolders = 150;
  std::vector<std::string> paths;
  std::vector<std::uint32_t> numbers;
  for (int folder = 0; folder < kFolders; ++folder) {
    const std::string name = "d" + std::to_string(folder);
    paths.push_back(temp.WriteFile(name + "/first.txt", name));
    paths.push_back(temp.WriteFile(name + "/second.txt", name));
    numbers.push_back(static_cast<std::uint32_t>(2 * folder));
    numbers.push_back(static_cast<std::uint32_t>(2 * folder + 1));
  }
  for (const std::string& path : paths) {
    DropFromCache(path);
  }
  if (std::count_if(paths.begin(), paths.end(), FirstPageCached) > 2) {
    GTEST_SKIP() << "this file system keeps the test files in memory";
  }
  std::size_t cached = 0;
  {
    const LoweredOpenFileLimit limit;
    const std::unique_ptr<ReadingSession> session =
        files.StartReading(PlanOf(files, paths, numbers));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((cached = std::count_if(paths.begin(), paths.end(), FirstPageCached)) < paths.size() &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  EXPECT_EQ(cached, paths.size());
}

// More folders than the session keeps open: those let go are opened again, and a file is
// never opened relative to the wrong folder.
TEST_F(PosixReadingSessionTest, MoreFoldersThanItKeepsOpen) {
  constexpr int kFolders = 150;
  std::vector<std::string> paths;
  for (int folder = 0; folder < kFolders; ++folder) {
    const std::string name = "d" + std::to_string(folder);
    paths.push_back(temp.WriteFile(name + "/same-name.txt", name));
  }
  std::vector<std::uint32_t> numbers;  // each folder its own
  for (std::uint32_t folder = 0; folder < kFolders; ++folder) {
    numbers.push_back(folder);
  }
  std::vector<std::optional<std::string>> seen;
  {
    const LoweredOpenFileLimit limit;
    for (const bool numbered : {false, true}) {
      const std::unique_ptr<ReadingSession> session = files.StartReading(
          PlanOf(files, paths, numbered ? numbers : std::vector<std::uint32_t>{}));
      for (int round = 0; round < 2; ++round) {
        for (std::size_t at = 0; at < paths.size(); ++at) {
          seen.push_back(
              round == 0 && !numbered
                  ? ContentThroughOpen(files, paths[at])
                  : ContentThroughCatalogued(files, paths[at],
                                             numbered ? numbers[at] : FileLocation::kUnnumbered));
        }
      }
    }
  }
  ASSERT_EQ(seen.size(), 4U * kFolders);
  for (std::size_t at = 0; at < seen.size(); ++at) {
    EXPECT_EQ(seen[at], "d" + std::to_string(at % kFolders)) << at;
  }
}

}  // namespace
}  // namespace kopiensieb
