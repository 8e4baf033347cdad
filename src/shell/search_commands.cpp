#include "shell/search_commands.h"

#include <utility>

#include "catalogue/folder_scan.h"
#include "common/text.h"
#include "results/refresh_lists.h"
#include "shell/control_numbers.h"
#include "shell/status_texts.h"

namespace kopiensieb {

void MainWindowProgress::Activity(const std::string& text) {
  SetActivityText(program_, text);
}

void MainWindowProgress::CataloguedCount(std::int64_t records) {
  countText_.clear();
  AppendDecimal(countText_, records);
  countText_.append(" Dateien");
  SetDetailText(program_, countText_);
}

void MainWindowProgress::SearchedCount(std::int64_t processed, std::int64_t total) {
  countText_.clear();
  AppendDecimal(countText_, processed);
  countText_.append(" / ");
  AppendDecimal(countText_, total);
  countText_.append(" Dateien");
  SetDetailText(program_, countText_);
}

void MainWindowProgress::SearchProgress(int percent) {
  program_.widgets.SetProgress(kSearchProgressBar, percent);
}

void MainWindowProgress::FileProgress(int percent) {
  program_.widgets.SetProgress(kFileProgressBar, percent);
}

void MainWindowProgress::KeepPainting() {
  program_.widgets.KeepPainting();
}

void AddFolderCommand(Program& program) {
  ProgramState& state = program.state;
  std::string chosen = program.widgets.ChooseFolder("Pfad hinzufügen...", state.lastFolder);
  if (chosen.empty()) {
    return;
  }
  chosen = FolderWithSeparator(std::move(chosen));
  if (IsFolderCovered(state.folderList, chosen)) {
    return;
  }
  state.lastFolder = chosen;
  // IsFolderCovered left the cursor on the last folder, so the new one goes behind it.
  state.folderList.Add().text = chosen;
  CatalogueFolder(program, chosen, program.widgets.GetText(kScanPatternField));
  RefreshLists(program, kRefreshFiles);
}

void CatalogueFolder(Program& program, const std::string& folder, const std::string& patternText) {
  MainWindowProgress progress(program);
  ScanFolder(program.files, folder, patternText, program.state.patternList,
             program.state.fileCatalogue, progress);
}

void SearchCommand(Program& program, SearchMode mode) {
  ProgramState& state = program.state;
  MainWindowProgress progress(program);
  FindDuplicates(program.files, state.fileCatalogue,
                 SearchRequest{.mode = mode, .comparePercent = state.comparePercent},
                 SearchResults{state.duplicateGroupList, state.groupMemberList}, progress);
}

}  // namespace kopiensieb
