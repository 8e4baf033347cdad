#pragma once

#include <string>

#include "catalogue/duplicate_search.h"
#include "catalogue/engine_progress.h"
#include "shell/program.h"

namespace kopiensieb {

// The scan's and the search's progress on the main window: the activity and the running count
// in the status bar, the search and the file in the two progress bars.
class MainWindowProgress final : public EngineProgress {
 public:
  explicit MainWindowProgress(Program& program) : program_(program) {}

  void Activity(const std::string& text) override;
  void CataloguedCount(std::int64_t records) override;
  void SearchedCount(std::int64_t processed, std::int64_t total) override;
  void SearchProgress(int percent) override;
  void FileProgress(int percent) override;
  void KeepPainting() override;

 private:
  Program& program_;
  std::string countText_;  // reused: the scan reports after every entry
};

// Control 0: chooser, coverage test, scan, RefreshLists flag 1.
void AddFolderCommand(Program& program);

// Catalogues folder and below with the patterns of patternText, reporting on the main window.
void CatalogueFolder(Program& program, const std::string& folder, const std::string& patternText);

// Controls 9 and 13: the search into DuplicateGroupList and GroupMemberList, reporting on the
// main window (the caller refreshes the lists).
void SearchCommand(Program& program, SearchMode mode);

}  // namespace kopiensieb
