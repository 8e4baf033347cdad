#include "catalogue/folder_scan.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/path_conventions.h"
#include "selection/name_patterns.h"

namespace kopiensieb {

namespace {

constexpr char kSeparator = kNativePaths.separator;

// Opens the subfolder name of the folder `relative` below the chosen folder `root` from the
// chosen folder down, one folder at a time, for a level that holds no open folder to open it
// from. Links on the way are not followed.
std::unique_ptr<DirectoryEnumeration> OpenBelow(FileServices& files, const std::string& root,
                                                const std::string& relative,
                                                const std::string& name) {
  std::string below = relative;
  below.push_back(kSeparator);
  below.append(name);
  return files.StartEnumerationBelow(root, below);
}

// The entries the enumeration has not handed out yet, to its end.
std::vector<DirectoryEntry> EntriesLeftIn(DirectoryEnumeration& folder) {
  std::vector<DirectoryEntry> entries;
  for (DirectoryEntry entry = folder.Next(); entry.kind != EntryKind::None; entry = folder.Next()) {
    entries.push_back(std::move(entry));
  }
  return entries;
}

// One open folder level of the walk. The walk keeps its own stack of these instead of
// recursing, so a tree thousands of levels deep costs heap, not call stack.
struct OpenLevel {
  std::unique_ptr<DirectoryEnumeration> enumeration;
  std::size_t parentFolderLength = 0;  // where the shared folder text is cut on leaving
};

// A folder level whose descriptor was closed to make room: what was left of its entries was
// read to the end ahead of time (nothing, where the level had been listed whole already), and
// its subfolders are opened from the chosen folder down, one folder at a time, since there is
// no open folder left to open them from.
class ReadAheadLevel final : public DirectoryEnumeration {
 public:
  // The level whose folder text is currentFolder's first folderLength bytes, below the chosen
  // folder, whose text is its first rootLength bytes.
  static std::unique_ptr<ReadAheadLevel> Of(FileServices& files, const std::string& currentFolder,
                                            std::size_t rootLength, std::size_t folderLength,
                                            std::vector<DirectoryEntry> entries) {
    return std::make_unique<ReadAheadLevel>(
        files, FolderPathToEnumerate(currentFolder.substr(0, rootLength)),
        currentFolder.substr(rootLength, folderLength - rootLength), std::move(entries));
  }

  // `relative`: this level's folder below the chosen folder `root`, "" or starting with "/".
  ReadAheadLevel(FileServices& files, std::string root, std::string relative,
                 std::vector<DirectoryEntry> entries)
      : files_(files),
        root_(std::move(root)),
        relative_(std::move(relative)),
        entries_(std::move(entries)) {}

  DirectoryEntry Next() override {
    if (next_ == entries_.size()) {
      return {};
    }
    return std::move(entries_[next_++]);
  }

  // Below the chosen folder links are not followed: a folder on the way that was replaced by
  // a link since it was listed is not entered.
  std::unique_ptr<DirectoryEnumeration> OpenSubfolder(const std::string& name) override {
    return OpenBelow(files_, root_, relative_, name);
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
    shallowest.enumeration = ReadAheadLevel::Of(
        files, currentFolder, levels.front().parentFolderLength,
        levels[firstOpen + 1].parentFolderLength, EntriesLeftIn(*shallowest.enumeration));
    ++firstOpen;
  }

  void Pop() {
    levels.pop_back();
    firstOpen = std::min(firstOpen, levels.size());
  }
};

// The scan's walk over the tree, one step at a time, in the order the catalogue takes them:
// a folder as it is entered (kind Folder), a file (File), the end of a folder (None). The steps
// end with the end of the chosen folder.
class FolderWalk {
 public:
  FolderWalk(FileServices& files, std::string folder)
      : files_(files), currentFolder_(std::move(folder)) {
    stack_.levels.push_back(OpenLevel{files.StartEnumeration(FolderPathToEnumerate(currentFolder_)),
                                      currentFolder_.size()});
  }

  bool Done() const { return stack_.levels.empty(); }

  // Only while not Done().
  DirectoryEntry Next() {
    std::vector<OpenLevel>& levels = stack_.levels;
    DirectoryEntry entry = levels.back().enumeration->Next();
    switch (entry.kind) {
      case EntryKind::Folder: {
        // The subfolder is read completely before the next entry of this level.
        stack_.MakeRoomForAnotherFolder(files_, currentFolder_);
        std::unique_ptr<DirectoryEnumeration> subfolder =
            levels.back().enumeration->OpenSubfolder(entry.name);
        const std::size_t parentLength = currentFolder_.size();
        currentFolder_.push_back(kSeparator);
        currentFolder_.append(entry.name);
        levels.push_back(OpenLevel{std::move(subfolder), parentLength});
        break;
      }
      case EntryKind::File:
        break;
      case EntryKind::None:
        currentFolder_.resize(levels.back().parentFolderLength);
        stack_.Pop();
        break;
    }
    return entry;
  }

 private:
  FileServices& files_;
  std::string currentFolder_;  // the folder text of the level being read
  LevelStack stack_;
};

// Turns the walk's steps into records and progress reports, on the thread that called the
// scan.
class CatalogueBuilder {
 public:
  CatalogueBuilder(std::string folder, PatternList& patterns, FileCatalogue& catalogue,
                   EngineProgress& progress)
      : currentFolder_(std::move(folder)),
        patterns_(patterns),
        catalogue_(catalogue),
        progress_(progress) {
    parentLengths_.push_back(currentFolder_.size());
    ReportCount();  // for "." and "..", which every folder begins with
  }

  void Take(DirectoryEntry& step) {
    switch (step.kind) {
      case EntryKind::Folder:
        parentLengths_.push_back(currentFolder_.size());
        currentFolder_.push_back(kSeparator);
        currentFolder_.append(step.name);
        progress_.Activity("Lese Dateien...");
        // For "." and "..". A folder that cannot be read has neither, but its end, reported
        // next, shows the same count.
        ReportCount();
        break;
      case EntryKind::File:
        if (MatchesAnyPattern(patterns_, step.name) == 1) {
          CatalogueFile(step);
        }
        ReportCount();
        break;
      case EntryKind::None:
        ReportCount();
        currentFolder_.resize(parentLengths_.back());
        parentLengths_.pop_back();
        if (!parentLengths_.empty()) {
          ReportCount();  // the report for the folder entry just finished
        }
        break;
    }
  }

 private:
  void ReportCount() { progress_.CataloguedCount(catalogue_.Count()); }

  void CatalogueFile(DirectoryEntry& entry) {
    // Behind the current record, wherever the cursor stands: the catalogue is not reordered.
    FileRecord& record = catalogue_.Add();
    record.size = entry.status.size;
    record.identity = entry.status.identity;
    record.modifiedNs = entry.status.modifiedNs;
    if (folderText_ != currentFolder_) {
      folderText_ = currentFolder_;  // once per folder: its files share the text
    }
    record.folder = folderText_;
    record.name = std::move(entry.name);
    record.grouped = false;
  }

  std::string currentFolder_;
  SharedText folderText_;                   // the text of the records of the latest folder
  std::vector<std::size_t> parentLengths_;  // where currentFolder_ is cut on leaving each level
  PatternList& patterns_;
  FileCatalogue& catalogue_;
  EngineProgress& progress_;
};

// A folder listed whole: its entries, and the folder still open for its subfolders.
struct ListedFolder {
  std::shared_ptr<DirectoryEnumeration> folder;
  std::vector<DirectoryEntry> entries;
};

ListedFolder ListWhole(std::unique_ptr<DirectoryEnumeration> folder) {
  ListedFolder listed;
  listed.entries = EntriesLeftIn(*folder);
  listed.folder = std::move(folder);
  return listed;
}

// A subfolder the scan will enter, which either thread may list before the scan comes to it.
// Once listed, its own subfolders are known and may be listed ahead in turn.
struct Subfolder {
  enum class State { Waiting, Listing, Listed, Taken };
  std::string name;
  State state = State::Waiting;
  ListedFolder listed;                               // once Listed
  std::vector<std::unique_ptr<Subfolder>> children;  // once Listed, in the order they come up
};

std::vector<std::unique_ptr<Subfolder>> SubfoldersOf(const std::vector<DirectoryEntry>& entries) {
  std::vector<std::unique_ptr<Subfolder>> subfolders;
  for (const DirectoryEntry& entry : entries) {
    if (entry.kind == EntryKind::Folder) {
      subfolders.push_back(std::make_unique<Subfolder>());
      subfolders.back()->name = entry.name;
    }
  }
  return subfolders;
}

// A level of the two-thread scan: its folder listed whole, the entries not yet catalogued, and
// its subfolders in the order they come up.
struct ListedLevel {
  std::vector<DirectoryEntry> entries;
  std::size_t nextEntry = 0;
  std::shared_ptr<DirectoryEnumeration> folder;  // opens the subfolders
  std::vector<std::unique_ptr<Subfolder>> subfolders;
  std::size_t nextSubfolder = 0;
  std::size_t parentFolderLength = 0;
};

// The scan on two threads. The calling thread walks the levels depth first in the file
// system's order, exactly as the one-thread scan does, but lists each folder whole when it
// enters it. A helper thread lists ahead of it, in the order the walk will want them, the
// folders it will enter next but one. The calling thread takes a folder listed ahead when it
// comes to it, lists it itself when nobody has begun it, and while the helper is still at it,
// lists another of the folders to come instead of waiting.
class TwoThreadScan {
 public:
  // Folders listed ahead and not yet entered, each holding its folder open.
  static constexpr std::size_t kListedAhead = 64;
  // How many of the deepest levels are looked at for a folder to list ahead.
  static constexpr std::size_t kLevelsLookedAt = 8;
  // The calling thread's own open levels: the folders listed ahead, and a folder opened by its
  // path, come on top.
  static constexpr std::size_t kMostOpenLevels = kMostOpenFolders - kListedAhead - 4;
  static_assert(kMostOpenLevels > kLevelsLookedAt);

  TwoThreadScan(FileServices& files, std::string folder, CatalogueBuilder& builder)
      : files_(files), currentFolder_(std::move(folder)), builder_(builder) {}

  void Run() {
    ListedFolder root = ListWhole(files_.StartEnumeration(FolderPathToEnumerate(currentFolder_)));
    {
      const std::lock_guard lock(mutex_);
      std::vector<std::unique_ptr<Subfolder>> subfolders = SubfoldersOf(root.entries);
      PushLevel(std::move(root), std::move(subfolders), currentFolder_.size());
    }
    std::jthread helper;
    try {
      helper = std::jthread([this] { HelpAhead(); });
    } catch (const std::system_error&) {
      // No thread to be had: the calling thread lists every folder itself.
    }
    // Also when cataloguing throws: the helper is stopped before it is joined.
    struct StopHelper {
      TwoThreadScan& scan;
      ~StopHelper() { scan.Stop(); }
    } stopHelper{*this};
    while (!levels_.empty()) {
      ListedLevel& level = levels_.back();
      if (level.nextEntry == level.entries.size()) {
        DirectoryEntry end;
        builder_.Take(end);
        currentFolder_.resize(level.parentFolderLength);
        const std::lock_guard lock(mutex_);
        levels_.pop_back();
        firstOpen_ = std::min(firstOpen_, levels_.size());
        continue;
      }
      DirectoryEntry& entry = level.entries[level.nextEntry++];
      if (entry.kind == EntryKind::Folder) {
        Enter(level, entry);
      }
      builder_.Take(entry);
    }
  }

 private:
  // Under the lock.
  void PushLevel(ListedFolder listed, std::vector<std::unique_ptr<Subfolder>> subfolders,
                 std::size_t parentFolderLength) {
    ListedLevel level;
    level.entries = std::move(listed.entries);
    level.folder = std::move(listed.folder);
    level.subfolders = std::move(subfolders);
    level.parentFolderLength = parentFolderLength;
    levels_.push_back(std::move(level));
    changed_.notify_all();
  }

  void Enter(ListedLevel& level, const DirectoryEntry& entry) {
    MakeRoomForAnotherFolder();
    std::unique_lock lock(mutex_);
    Subfolder& subfolder = *level.subfolders[level.nextSubfolder++];
    while (subfolder.state == Subfolder::State::Listing) {
      // The helper is at it: rather than wait, list a folder that comes later.
      std::shared_ptr<DirectoryEnumeration> from;
      if (Subfolder* later = SoonestWaiting(from); later != nullptr) {
        ListAhead(lock, *later, std::move(from));
      } else {
        changed_.wait(lock);
      }
    }
    ListedFolder listed;
    std::vector<std::unique_ptr<Subfolder>> subfolders;
    if (subfolder.state == Subfolder::State::Listed) {
      listed = std::move(subfolder.listed);
      subfolders = std::move(subfolder.children);
      --listedAhead_;
    } else {
      subfolder.state = Subfolder::State::Taken;
      const std::shared_ptr<DirectoryEnumeration> folder = level.folder;
      lock.unlock();
      listed = ListWhole(folder->OpenSubfolder(entry.name));
      subfolders = SubfoldersOf(listed.entries);
      lock.lock();
    }
    subfolder.state = Subfolder::State::Taken;
    const std::size_t parentLength = currentFolder_.size();
    currentFolder_.push_back(kSeparator);
    currentFolder_.append(entry.name);
    PushLevel(std::move(listed), std::move(subfolders), parentLength);
  }

  // Lists a waiting folder ahead, the lock released meanwhile. A failure leaves it waiting and
  // is thrown again.
  void ListAhead(std::unique_lock<std::mutex>& lock, Subfolder& subfolder,
                 std::shared_ptr<DirectoryEnumeration> from) {
    subfolder.state = Subfolder::State::Listing;
    ++listedAhead_;
    lock.unlock();
    ListedFolder listed;
    std::vector<std::unique_ptr<Subfolder>> children;
    try {
      listed = ListWhole(from->OpenSubfolder(subfolder.name));
      children = SubfoldersOf(listed.entries);
    } catch (...) {
      from.reset();
      lock.lock();
      subfolder.state = Subfolder::State::Waiting;
      --listedAhead_;
      changed_.notify_all();
      throw;
    }
    from.reset();
    lock.lock();
    subfolder.listed = std::move(listed);
    subfolder.children = std::move(children);
    subfolder.state = Subfolder::State::Listed;
    changed_.notify_all();
  }

  // Closes the folder of the shallowest open level when the scan holds too many open; its
  // remaining subfolders are opened by their paths.
  void MakeRoomForAnotherFolder() {
    if (levels_.size() - firstOpen_ < kMostOpenLevels || firstOpen_ + 1 >= levels_.size()) {
      return;
    }
    // Its entries were taken when the level was listed; only its subfolders are still opened.
    std::shared_ptr<DirectoryEnumeration> closed =
        ReadAheadLevel::Of(files_, currentFolder_, levels_.front().parentFolderLength,
                           levels_[firstOpen_ + 1].parentFolderLength, {});
    const std::lock_guard lock(mutex_);
    levels_[firstOpen_].folder = std::move(closed);
    ++firstOpen_;
  }

  // Under the lock: of the folders nobody lists yet, the one the walk will enter soonest, and
  // the folder to open it from; null when there is none, or enough are listed ahead. The next
  // subfolder of the deepest level is left to the calling thread, which comes to it as soon as
  // the files before it are catalogued.
  Subfolder* SoonestWaiting(std::shared_ptr<DirectoryEnumeration>& from) {
    if (listedAhead_ >= kListedAhead) {
      return nullptr;
    }
    const std::size_t lookedAt = std::min(levels_.size(), kLevelsLookedAt);
    for (std::size_t deep = 0; deep < lookedAt; ++deep) {
      ListedLevel& level = levels_[levels_.size() - 1 - deep];
      const Subfolder* callersNext = deep == 0 && level.nextSubfolder < level.subfolders.size()
                                         ? level.subfolders[level.nextSubfolder].get()
                                         : nullptr;
      // Depth first through what is listed ahead: a folder's subfolders come before its next
      // sibling.
      std::vector<std::pair<std::span<const std::unique_ptr<Subfolder>>,
                            std::shared_ptr<DirectoryEnumeration>>>
          pending;
      pending.emplace_back(std::span(level.subfolders).subspan(level.nextSubfolder), level.folder);
      while (!pending.empty()) {
        auto& [siblings, parent] = pending.back();
        if (siblings.empty()) {
          pending.pop_back();
          continue;
        }
        Subfolder& candidate = *siblings.front();
        siblings = siblings.subspan(1);
        if (candidate.state == Subfolder::State::Waiting && &candidate != callersNext) {
          from = parent;
          return &candidate;
        }
        if (candidate.state == Subfolder::State::Listed) {
          pending.emplace_back(std::span(candidate.children), candidate.listed.folder);
        }
      }
    }
    return nullptr;
  }

  void HelpAhead() {
    std::unique_lock lock(mutex_);
    for (;;) {
      std::shared_ptr<DirectoryEnumeration> from;
      Subfolder* subfolder = nullptr;
      changed_.wait(lock,
                    [&] { return stopped_ || (subfolder = SoonestWaiting(from)) != nullptr; });
      if (stopped_) {
        return;
      }
      try {
        ListAhead(lock, *subfolder, std::move(from));
      } catch (...) {
        // Out of memory, most likely: the calling thread lists the rest itself.
        stopped_ = true;
        return;
      }
    }
  }

  void Stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

  FileServices& files_;
  std::string currentFolder_;  // the folder text of the level being read
  CatalogueBuilder& builder_;
  // Guards the levels' folders and subfolders, which the helper reads, and the counts below.
  // The levels' entries are the calling thread's alone.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<ListedLevel> levels_;  // deepest last; entering one moves none of the others
  std::size_t firstOpen_ = 0;       // levels before it have had their folders closed
  std::size_t listedAhead_ = 0;     // listed or being listed ahead, not yet entered
  bool stopped_ = false;
};

void ScanOnOneThread(FileServices& files, const std::string& folder, CatalogueBuilder& builder) {
  FolderWalk walk(files, folder);
  while (!walk.Done()) {
    DirectoryEntry step = walk.Next();
    builder.Take(step);
  }
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
                PatternList& patterns, FileCatalogue& catalogue, EngineProgress& progress,
                ScanThreads threads) {
  progress.Activity("Lese Dateien...");
  ParsePatterns(patterns, patternText);
  // The folder text of the chosen folder; files of the root get "" and paths "/name" (on
  // Windows "D:" and "D:\name").
  std::string chosen = folder;
  if (!chosen.empty() && chosen.back() == kSeparator) {
    chosen.pop_back();
  }
  CatalogueBuilder builder(chosen, patterns, catalogue, progress);
  if (threads == ScanThreads::Two) {
    TwoThreadScan(files, chosen, builder).Run();
  } else {
    ScanOnOneThread(files, chosen, builder);
  }
}

void ScanFolder(FileServices& files, const std::string& folder, std::string_view patternText,
                PatternList& patterns, FileCatalogue& catalogue, EngineProgress& progress) {
  const bool twoCores = std::thread::hardware_concurrency() != 1;
  ScanFolder(files, folder, patternText, patterns, catalogue, progress,
             files.EnumeratesOnAnyThread() && twoCores ? ScanThreads::Two : ScanThreads::One);
}

}  // namespace kopiensieb
