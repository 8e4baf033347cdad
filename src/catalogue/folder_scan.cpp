#include "catalogue/folder_scan.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "platform/path_conventions.h"
#include "selection/name_patterns.h"

namespace kopiensieb {

namespace {

constexpr char kSeparator = kNativePaths.separator;

// One open folder level of the walk. The walk keeps its own stack of these instead of
// recursing, so a tree thousands of levels deep costs heap, not call stack.
struct OpenLevel {
  std::unique_ptr<DirectoryEnumeration> enumeration;
  std::size_t parentFolderLength = 0;  // where the shared folder text is cut on leaving
};

// A folder level read to its end ahead of time, so that its descriptor can be closed. Its
// subfolders are opened from the chosen folder down, one folder at a time, since there is no
// open folder left to open them from.
class ReadAheadLevel final : public DirectoryEnumeration {
 public:
  // `relative`: this level's folder below the chosen folder `root`, "" or starting with "/".
  ReadAheadLevel(FileServices& files, std::string root, std::string relative,
                 DirectoryEnumeration& open)
      : files_(files), root_(std::move(root)), relative_(std::move(relative)) {
    for (DirectoryEntry entry = open.Next(); entry.kind != EntryKind::None; entry = open.Next()) {
      entries_.push_back(std::move(entry));
    }
  }

  DirectoryEntry Next() override {
    if (next_ == entries_.size()) {
      return {};
    }
    return std::move(entries_[next_++]);
  }

  // Below the chosen folder links are not followed: a folder on the way that was replaced by
  // a link since it was listed is not entered.
  std::unique_ptr<DirectoryEnumeration> OpenSubfolder(const std::string& name) override {
    std::string relative = relative_;
    relative.push_back(kSeparator);
    relative.append(name);
    return files_.StartEnumerationBelow(root_, relative);
  }

 private:
  FileServices& files_;
  std::string root_;
  std::string relative_;
  std::vector<DirectoryEntry> entries_;
  std::size_t next_ = 0;
};

// The scan's open levels, deepest last. Levels [0, firstOpen) have been read ahead; the
// others hold an open folder each.
struct LevelStack {
  std::vector<OpenLevel> levels;
  std::size_t firstOpen = 0;

  // Makes room for one more open folder: reads the shallowest open level ahead. Its folder
  // text is where the next level's folder text was cut off, in `currentFolder`; the chosen
  // folder's text ends where the first level's was cut off, and "" stands for the root.
  void MakeRoomForAnotherFolder(FileServices& files, const std::string& currentFolder) {
    if (levels.size() - firstOpen < kMostOpenFolders || firstOpen + 1 >= levels.size()) {
      return;
    }
    OpenLevel& shallowest = levels[firstOpen];
    const std::size_t rootLength = levels.front().parentFolderLength;
    const std::size_t folderLength = levels[firstOpen + 1].parentFolderLength;
    std::string root = FolderPathToEnumerate(currentFolder.substr(0, rootLength));
    shallowest.enumeration = std::make_unique<ReadAheadLevel>(
        files, std::move(root), currentFolder.substr(rootLength, folderLength - rootLength),
        *shallowest.enumeration);
    ++firstOpen;
  }

  void Pop() {
    levels.pop_back();
    firstOpen = std::min(firstOpen, levels.size());
  }
};

void CatalogueFile(FileCatalogue& catalogue, const std::string& folder, DirectoryEntry& entry) {
  // Behind the current record, wherever the cursor stands: the catalogue is not reordered.
  FileRecord& record = catalogue.Add();
  record.size = entry.status.size;
  record.identity = entry.status.identity;
  record.modifiedNs = entry.status.modifiedNs;
  record.folder = folder;
  record.name = std::move(entry.name);
  record.grouped = false;
}

}  // namespace

std::string FolderWithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != kSeparator) {
    folder.push_back(kSeparator);
  }
  return folder;
}

bool IsFolderCovered(FolderList& folders, const std::string& chosen) {
  // On Linux "/data/" and "/Data/" are different folders; on Windows they are one.
  folders.ResetCursor();
  while (folders.StepForward()) {
    if (FolderCovers(folders.Current()->text, chosen)) {
      return true;
    }
  }
  return false;
}

void ScanFolder(FileServices& files, const std::string& folder, std::string_view patternText,
                PatternList& patterns, FileCatalogue& catalogue, EngineProgress& progress) {
  progress.Activity("Lese Dateien...");
  ParsePatterns(patterns, patternText);
  // The folder text of the level being read; files of the root get "" and paths "/name" (on
  // Windows "D:" and "D:\name").
  std::string currentFolder = folder;
  if (!currentFolder.empty() && currentFolder.back() == kSeparator) {
    currentFolder.pop_back();
  }
  LevelStack stack;
  std::vector<OpenLevel>& levels = stack.levels;
  levels.push_back(OpenLevel{files.StartEnumeration(FolderPathToEnumerate(currentFolder)),
                             currentFolder.size()});
  const auto reportCount = [&progress, &catalogue] { progress.CataloguedCount(catalogue.Count()); };
  reportCount();  // for "." and "..", which every folder begins with

  while (!levels.empty()) {
    DirectoryEntry entry = levels.back().enumeration->Next();
    switch (entry.kind) {
      case EntryKind::Folder: {
        // The subfolder is read completely before the next entry of this level; its count
        // report comes when it is done.
        stack.MakeRoomForAnotherFolder(files, currentFolder);
        std::unique_ptr<DirectoryEnumeration> subfolder =
            levels.back().enumeration->OpenSubfolder(entry.name);
        const std::size_t parentLength = currentFolder.size();
        currentFolder.push_back(kSeparator);
        currentFolder.append(entry.name);
        levels.push_back(OpenLevel{std::move(subfolder), parentLength});
        progress.Activity("Lese Dateien...");
        // For "." and "..". A folder that cannot be read has neither, but its end, reported
        // next, shows the same count.
        reportCount();
        continue;
      }
      case EntryKind::File:
        if (MatchesAnyPattern(patterns, entry.name) == 1) {
          CatalogueFile(catalogue, currentFolder, entry);
        }
        reportCount();
        break;
      case EntryKind::None:
        reportCount();
        currentFolder.resize(levels.back().parentFolderLength);
        stack.Pop();
        if (!levels.empty()) {
          reportCount();  // the report for the folder entry just finished
        }
        break;
    }
  }
}

}  // namespace kopiensieb
