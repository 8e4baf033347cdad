#include "catalogue/folder_scan.h"

#include <charconv>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "results/refresh_lists.h"
#include "selection/name_patterns.h"
#include "shell/control_numbers.h"
#include "shell/status_texts.h"

namespace kopiensieb {

namespace {

constexpr char kSeparator = '/';

// One open folder level of the walk. The walk keeps its own stack of these instead of
// recursing, so a tree thousands of levels deep costs heap, not call stack.
struct OpenLevel {
  std::unique_ptr<DirectoryEnumeration> enumeration;
  std::size_t parentFolderLength = 0;  // where the shared folder text is cut on leaving
};

// The running count "152 Dateien", formatted into a reused buffer: the scan reports after
// every entry, and most reports change the text.
class FileCountReporter {
 public:
  void Report(Program& program) {
    char digits[24];
    const auto result =
        std::to_chars(std::begin(digits), std::end(digits), program.state.fileCatalogue.Count());
    text_.assign(digits, result.ptr).append(" Dateien");
    SetDetailText(program, text_);
  }

 private:
  std::string text_;
};

void CatalogueFile(ProgramState& state, const std::string& folder, DirectoryEntry& entry) {
  // Behind the current record, wherever the cursor stands: the catalogue is not reordered.
  FileRecord& record = state.fileCatalogue.Add();
  record.size = entry.status.size;
  record.identity = entry.status.identity;
  record.modifiedNs = entry.status.modifiedNs;
  record.folder = folder;
  record.name = std::move(entry.name);
  record.grouped = false;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void AddFolderCommand(Program& program) {
  ProgramState& state = program.state;
  std::string chosen = program.widgets.ChooseFolder("Pfad hinzufügen...", state.lastFolder);
  if (chosen.empty()) {
    return;
  }
  // Coverage compares prefixes that end in "/"; without it "/a/b" would cover "/a/bc/".
  if (chosen.back() != kSeparator) {
    chosen.push_back(kSeparator);
  }
  if (IsFolderCovered(state, chosen)) {
    return;
  }
  state.lastFolder = chosen;
  // IsFolderCovered left the cursor on the last folder, so the new one goes behind it.
  state.folderList.Add().text = chosen;
  const std::string patternText = program.widgets.GetText(kScanPatternField);
  FolderScan(program, chosen, patternText, 0);
  RefreshLists(program, kRefreshFiles);
}

bool IsFolderCovered(ProgramState& state, const std::string& chosen) {
  // Names on this file system are case-sensitive: "/data/" and "/Data/" are different folders.
  FolderList& folders = state.folderList;
  folders.ResetCursor();
  while (folders.StepForward()) {
    const std::string& added = folders.Current()->text;
    if (chosen == added || StartsWith(chosen, added)) {
      return true;
    }
  }
  return false;
}

int FolderScan(Program& program, const std::string& folder, const std::string& patternText,
               int depth) {
  ProgramState& state = program.state;
  SetActivityText(program, "Lese Dateien...");
  if (depth == 0) {
    ParsePatterns(state.patternList, patternText);
  }
  // The folder text of the level being read; files of the root get "" and paths "/name".
  std::string currentFolder = folder;
  if (!currentFolder.empty() && currentFolder.back() == kSeparator) {
    currentFolder.pop_back();
  }
  std::vector<OpenLevel> levels;
  levels.push_back(
      OpenLevel{program.files.StartEnumeration(currentFolder.empty() ? std::string(1, kSeparator)
                                                                     : currentFolder),
                currentFolder.size()});
  FileCountReporter counter;
  counter.Report(program);  // for "." and "..", which every folder begins with

  while (!levels.empty()) {
    DirectoryEntry entry = levels.back().enumeration->Next();
    switch (entry.kind) {
      case EntryKind::Folder: {
        // The subfolder is read completely before the next entry of this level; its count
        // report comes when it is done.
        std::unique_ptr<DirectoryEnumeration> subfolder =
            levels.back().enumeration->OpenSubfolder(entry.name);
        const std::size_t parentLength = currentFolder.size();
        currentFolder.push_back(kSeparator);
        currentFolder.append(entry.name);
        levels.push_back(OpenLevel{std::move(subfolder), parentLength});
        SetActivityText(program, "Lese Dateien...");
        // For "." and "..". A folder that cannot be read has neither, but its end, reported
        // next, shows the same count.
        counter.Report(program);
        continue;
      }
      case EntryKind::File:
        if (MatchesAnyPattern(state.patternList, entry.name) == 1) {
          CatalogueFile(state, currentFolder, entry);
        }
        counter.Report(program);
        break;
      case EntryKind::None:
        counter.Report(program);
        currentFolder.resize(levels.back().parentFolderLength);
        levels.pop_back();
        if (!levels.empty()) {
          counter.Report(program);  // the report for the folder entry just finished
        }
        break;
    }
  }
  return 0;
}

}  // namespace kopiensieb
