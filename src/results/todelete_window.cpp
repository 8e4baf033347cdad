#include "results/todelete_window.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "catalogue/content_comparison.h"
#include "common/text.h"
#include "results/refresh_lists.h"
#include "shell/control_numbers.h"

namespace kopiensieb {

namespace {

// The window's layout, in client pixels; every position below is computed from these.
constexpr int kWindowWidth = 600;
constexpr int kWindowHeight = 300;
constexpr int kMargin = 5;
constexpr int kButtonWidth = 95;
constexpr int kButtonHeight = 20;
constexpr int kHintHeight = 42;

constexpr int kListTop = kMargin + kHintHeight + kMargin;
constexpr int kButtonLeft = kWindowWidth - kButtonWidth - kMargin;

constexpr Geometry kHintGeometry{kMargin, kMargin, kWindowWidth - kMargin - kMargin, kHintHeight};
constexpr Geometry kListGeometry{kMargin, kListTop,
                                 kWindowWidth - kMargin - kButtonWidth - kMargin - kMargin,
                                 kWindowHeight - kListTop - kMargin};
constexpr Geometry ButtonAt(int top) {
  return Geometry{kButtonLeft, top, kButtonWidth, kButtonHeight};
}

const char* const kHintText =
    "Markieren sie die Dateien,\rdie sie löschen wollen,\rmit STRG oder SHIFT";
const char* const kDeleteFailedText = "Die folgende Datei konnte nicht gelöscht werden:\r";
const char* const kLastCopyText =
    "Die folgende Datei wurde nicht gelöscht, weil sonst keine Kopie übrig bliebe:\r";

// The loops over the entries write no status; every so many entries the windows repaint.
void KeepPaintingNowAndThen(WidgetServices& widgets, std::int64_t entry) {
  constexpr std::int64_t kEntriesBetweenPaints = 256;
  if (entry % kEntriesBetweenPaints == 0) {
    widgets.KeepPainting();
  }
}

void CreateControls(WidgetServices& widgets) {
  ControlOptions hintOptions;
  hintOptions.centred = true;
  hintOptions.sunken = true;
  widgets.CreateControl(kToDeleteHint, ControlKind::Label, kHintGeometry, kHintText, hintOptions);

  ControlOptions listOptions;
  listOptions.multipleSelection = true;
  listOptions.fullRowSelection = true;
  widgets.CreateControl(kToDeleteView, ControlKind::ListView, kListGeometry, "Name", listOptions);
  widgets.AddColumn(kToDeleteView, 0, "Name", 150);
  widgets.AddColumn(kToDeleteView, 1, "Pfad", 200);
  widgets.AddColumn(kToDeleteView, 2, "Größe", 100);

  const ControlOptions plain;
  widgets.CreateControl(kDeleteSelectedButton, ControlKind::Button, ButtonAt(kListTop),
                        "Mark. löschen", plain);
  widgets.CreateControl(kDiscardSelectedButton, ControlKind::Button,
                        ButtonAt(kListTop + kButtonHeight), "Mark. verwerfen", plain);
  widgets.CreateControl(kSelectAllButton, ControlKind::Button,
                        ButtonAt(kListTop + 2 * kButtonHeight), "Alles markieren", plain);
  widgets.CreateControl(kCloseToDeleteButton, ControlKind::Button,
                        ButtonAt(kWindowHeight - kButtonHeight - kMargin), "Schließen", plain);
}

// Rows pair with entries by position only while the view shows exactly the entries; an empty
// list shows the empty-state row, which stands for no entry.
bool RowsPairWithEntries(Program& program) {
  const std::int64_t entries = program.state.toDeleteList.Count();
  return entries == 0 || program.widgets.CountRows(kToDeleteView) == entries;
}

FileStatus CataloguedStatus(const FileRecord& record) {
  FileStatus status;
  status.size = record.size;
  status.identity = record.identity;
  status.modifiedNs = record.modifiedNs;
  return status;
}

// What became of one selected entry.
enum class Handling {
  Deleted,  // gone from disk: deleted now, or already gone
  Failed,   // the file is there but could not be deleted, or is not the catalogued one
  LastCopy  // kept: no copy of it would be left
};

// Whether `mate` can stand in as the copy of `file` at this moment: a file of its group that
// this command or an earlier one has not deleted, a different file, still on disk as it was
// catalogued, and for a group of equal content equal in its bytes once more.
bool IsCopyLeft(FileServices& files, const FileRecord& file, const std::string& path,
                const FileRecord& mate, bool equalContent) {
  if (&mate == &file || mate.deleted || mate.identity == file.identity) {
    return false;
  }
  const std::string matePath = FullPath(mate);
  const std::optional<FileStatus> now = files.StatusOf(matePath);
  if (!now || *now != CataloguedStatus(mate)) {
    return false;
  }
  if (!equalContent) {
    return true;
  }
  // The whole of both files, whatever share a search compares: this decides over the data.
  constexpr std::int32_t kWholeFile = 100;
  return CompareFileContents(files, CataloguedPath{.path = matePath, .identity = mate.identity},
                             CataloguedPath{.path = path, .identity = file.identity}, file.size,
                             kWholeFile, {}) == 1;
}

// The survivors found so far, one per group: the next file of the same group tries it first,
// so that deleting every other file of a large group stays linear.
using SurvivorCache = std::unordered_map<const MarkedGroup*, const FileRecord*>;

bool HasCopyLeft(FileServices& files, const ToDeleteEntry& entry, const std::string& path,
                 SurvivorCache& survivors) {
  if (!entry.group) {
    return false;
  }
  const MarkedGroup& group = *entry.group;
  const auto known = survivors.find(&group);
  if (known != survivors.end() &&
      IsCopyLeft(files, *entry.file, path, *known->second, group.equalContent)) {
    return true;
  }
  for (const FileRecord* mate : group.files) {
    if (IsCopyLeft(files, *entry.file, path, *mate, group.equalContent)) {
      survivors[&group] = mate;
      return true;
    }
  }
  return false;
}

// Deletes the file of an entry if it is still the file that was catalogued and a copy of it is
// left. A file that is already gone counts as deleted.
Handling DeleteCataloguedFile(FileServices& files, const ToDeleteEntry& entry,
                              const std::string& path, SurvivorCache& survivors) {
  const FileRecord& record = *entry.file;
  switch (files.WhatExists(path)) {
    case PathKind::Nothing:
      return Handling::Deleted;
    case PathKind::Folder:
    case PathKind::Unknown:  // it may well be there still
      return Handling::Failed;
    case PathKind::File:
      break;
  }
  const std::optional<FileStatus> now = files.StatusOf(path);
  if (!now) {
    return files.WhatExists(path) == PathKind::Nothing ? Handling::Deleted : Handling::Failed;
  }
  if (*now != CataloguedStatus(record)) {
    return Handling::Failed;  // rewritten or replaced since the scan: not the file the user chose
  }
  if (!HasCopyLeft(files, entry, path, survivors)) {
    return Handling::LastCopy;
  }
  switch (files.DeleteIfUnchanged(path, CataloguedStatus(record))) {
    case DeleteOutcome::Deleted:
    case DeleteOutcome::Missing:
      return Handling::Deleted;
    case DeleteOutcome::Kept:
      break;
  }
  return Handling::Failed;
}

// Removes the FilesView rows of the given records in one call. A record's row is the number of
// shown records before it in catalogue order, so one walk of the catalogue finds them all.
void RemoveFilesViewRows(Program& program, const std::unordered_set<const FileRecord*>& doomed) {
  std::vector<int> rows;
  rows.reserve(doomed.size());
  int row = 0;
  program.state.fileCatalogue.ForEach([&](FileRecord& record) {
    if (!record.shownInFilesView) {
      return;
    }
    if (doomed.contains(&record)) {
      rows.push_back(row);
      record.shownInFilesView = false;
    }
    ++row;
  });
  if (!rows.empty()) {
    program.widgets.RemoveRows(kFilesView, rows);
  }
}

}  // namespace

void OpenToDeleteWindow(Program& program) {
  WidgetServices& widgets = program.widgets;
  const WindowLayout layout{kToDeleteWindow,
                            kWindowWidth,
                            kWindowHeight,
                            "ToDelete-Liste",
                            WindowPlacement::CentredOnActiveWindow,
                            /*hasCloseBox=*/false};
  if (!widgets.OpenWindow(layout)) {
    return;
  }
  if (!widgets.ChooseContainer(kToDeleteWindow)) {
    // A window without controls could never be closed by the user and would block the next
    // opening: take it away again.
    widgets.CloseWindow(kToDeleteWindow);
    return;
  }
  CreateControls(widgets);
  program.state.toDeleteWindowOpen = true;
  RefreshLists(program, kRefreshToDelete);
}

void HandleToDeleteWindowEvent(Program& program, const Event& event) {
  if (!program.state.toDeleteWindowOpen || event.window != kToDeleteWindow) {
    return;
  }
  const bool hasEntries = !program.state.toDeleteList.Empty();
  for (const int control : {kToDeleteView, kDeleteSelectedButton, kDiscardSelectedButton}) {
    program.widgets.SetEnabled(control, hasEntries);
  }
  if (event.kind != EventKind::Control) {
    return;
  }
  switch (event.control) {
    case kCloseToDeleteButton:
      CloseToDeleteWindow(program);
      break;
    case kDeleteSelectedButton:
      DeleteSelectedCommand(program);
      break;
    case kDiscardSelectedButton:
      DiscardSelectedCommand(program);
      break;
    case kSelectAllButton:
      SelectAllCommand(program);
      break;
    default:
      break;
  }
}

void DeleteSelectedCommand(Program& program) {
  ProgramState& state = program.state;
  WidgetServices& widgets = program.widgets;
  if (!RowsPairWithEntries(program)) {
    // The user's selection does not designate entries: show the list afresh instead.
    RefreshLists(program, kRefreshToDelete);
    return;
  }
  ToDeleteList& toDelete = state.toDeleteList;
  toDelete.ResetCursor();
  const std::int64_t entries = toDelete.Count();
  // Deleted files whose FilesView rows are still to go. They go in one call, made before each
  // ERROR box as well, so that the list behind a box shows what has happened so far.
  std::unordered_set<const FileRecord*> deletedFiles;
  const auto showDeletions = [&program, &deletedFiles] {
    if (!deletedFiles.empty()) {
      RemoveFilesViewRows(program, deletedFiles);
      // The records stay in the catalogue, so the count shown does not drop.
      program.widgets.SetText(kFilesLabel, CatalogueCaption(program.state.fileCatalogue.Count()));
      deletedFiles.clear();
    }
  };
  SurvivorCache survivors;
  for (std::int64_t i = 0; i < entries; ++i) {
    toDelete.StepForward();
    KeepPaintingNowAndThen(widgets, i);
    if (!widgets.IsRowSelected(kToDeleteView, static_cast<int>(i))) {
      continue;
    }
    ToDeleteEntry& entry = *toDelete.Current();
    // The catalogue's cursor follows the files handled, so that a folder added next goes in
    // behind the last of them, as after any other walk over the list.
    state.fileCatalogue.MakeCurrent(*entry.file);
    const std::string path = FullPath(*entry.file);
    switch (DeleteCataloguedFile(program.files, entry, path, survivors)) {
      case Handling::Deleted:
        entry.done = 1;
        entry.file->deleted = true;
        deletedFiles.insert(entry.file);
        break;
      case Handling::Failed:
        showDeletions();
        widgets.ShowMessageBox("ERROR", kDeleteFailedText + path, MessageIcon::Error);
        break;
      case Handling::LastCopy:
        showDeletions();
        widgets.ShowMessageBox("ERROR", kLastCopyText + path, MessageIcon::Error);
        break;
    }
  }
  showDeletions();
  PurgeDoneEntries(state);
  RefreshLists(program, kRefreshToDelete);
}

void DiscardSelectedCommand(Program& program) {
  if (!RowsPairWithEntries(program)) {
    RefreshLists(program, kRefreshToDelete);
    return;
  }
  ToDeleteList& toDelete = program.state.toDeleteList;
  toDelete.ResetCursor();
  const std::int64_t entries = toDelete.Count();
  for (std::int64_t i = 0; i < entries; ++i) {
    toDelete.StepForward();
    KeepPaintingNowAndThen(program.widgets, i);
    if (program.widgets.IsRowSelected(kToDeleteView, static_cast<int>(i))) {
      toDelete.Current()->done = 1;
    }
  }
  PurgeDoneEntries(program.state);
  RefreshLists(program, kRefreshToDelete);
}

void SelectAllCommand(Program& program) {
  if (!RowsPairWithEntries(program)) {
    RefreshLists(program, kRefreshToDelete);
  }
  const std::int64_t entries = program.state.toDeleteList.Count();
  for (std::int64_t i = 0; i < entries; ++i) {
    program.widgets.SetRowSelected(kToDeleteView, static_cast<int>(i), true, true);
  }
}

void CloseToDeleteWindow(Program& program) {
  program.widgets.CloseWindow(kToDeleteWindow);
  program.state.toDeleteWindowOpen = false;
}

void PurgeDoneEntries(ProgramState& state) {
  ToDeleteList& toDelete = state.toDeleteList;
  toDelete.ResetCursor();
  bool stepToNext = true;
  while (true) {
    if (stepToNext && !toDelete.StepForward()) {
      break;
    }
    ToDeleteEntry* entry = toDelete.Current();
    if (entry == nullptr) {
      break;
    }
    if (entry->done != 1) {
      stepToNext = true;
      continue;
    }
    const bool wasFirst = ToDeleteList::Previous(*entry) == nullptr;
    toDelete.DeleteCurrent();
    // Removing the first entry makes its successor current, and that one is examined next
    // without a further step; removing a later one leaves its predecessor current.
    stepToNext = !wasFirst;
  }
}

}  // namespace kopiensieb
