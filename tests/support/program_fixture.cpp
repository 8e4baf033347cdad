#include "program_fixture.h"

#include <memory>
#include <stdexcept>

#include "results/refresh_lists.h"
#include "shell/control_numbers.h"
#include "shell/event_loop.h"
#include "shell/main_window.h"

namespace kopiensieb::testing {

namespace {

void BuildOrThrow(Program& program) {
  if (!BuildMainWindow(program)) {
    throw std::runtime_error("the main window could not be built");
  }
}

template <typename Record>
void MoveCursorToLast(CursorList<Record>& list) {
  while (list.StepForward()) {
  }
}

}  // namespace

ProgramHarness::ProgramHarness() : program(widgets, nativeFiles) {
  BuildOrThrow(program);
}

ProgramHarness::ProgramHarness(FileServices& files) : program(widgets, files) {
  BuildOrThrow(program);
}

bool ProgramHarness::RunNextPass() {
  return RunPass(program, widgets.WaitForEvent());
}

void ProgramHarness::ClickAndRun(int control) {
  ASSERT_TRUE(widgets.Click(control)) << "control " << control << " is missing or disabled";
  RunNextPass();
}

void ProgramHarness::TypeAndRun(int control, const std::string& text) {
  ASSERT_TRUE(widgets.Type(control, text)) << "control " << control << " is missing or disabled";
  RunNextPass();
}

void ProgramHarness::SelectAndRun(int control, int row) {
  ASSERT_TRUE(widgets.Select(control, {row})) << "control " << control << " is missing or disabled";
  RunNextPass();
}

void ProgramHarness::AddFolderAndRun(const std::string& folder) {
  widgets.QueueChooserAnswer(folder);
  ClickAndRun(0);
}

FileRecord& ProgramHarness::AddFile(const std::string& folder, const std::string& name,
                                    std::int64_t size) {
  FileCatalogue& catalogue = program.state.fileCatalogue;
  MoveCursorToLast(catalogue);
  FileRecord& record = catalogue.Add();
  record.folder = NativePath(folder);
  record.name = name;
  record.size = size;
  return record;
}

FileRecord& ProgramHarness::AddExistingFile(const std::string& folder, const std::string& name) {
  const std::string path = FullPath(NativePath(folder), name);
  const std::optional<FileStatus> status = program.files.StatusOf(path);
  if (!status) {
    throw std::runtime_error("no file to catalogue: " + path);
  }
  FileRecord& record = AddFile(folder, name, status->size);
  record.identity = status->identity;
  record.modifiedNs = status->modifiedNs;
  return record;
}

DuplicateGroup& ProgramHarness::AddGroupOfNames(const std::string& folder,
                                                const std::vector<std::string>& names,
                                                std::int64_t size) {
  std::vector<FileRecord*> files;
  for (const std::string& name : names) {
    files.push_back(&AddFile(folder, name, size));
  }
  return AddGroup(files);
}

void ProgramHarness::ShowGroupsAndChoose(int groupRow) {
  RefreshLists(program, kRefreshGroups);
  widgets.SelectRow(kGroupsBox, groupRow);
  RefreshLists(program, kRefreshMembers);
}

DuplicateGroup& ProgramHarness::AddGroup(const std::vector<FileRecord*>& files) {
  if (files.empty()) {
    throw std::invalid_argument("a group needs members");
  }
  ProgramState& state = program.state;
  // The member list holds one chain per group; stepping stays inside a chain, so its end is
  // found from the last group's first member.
  MoveCursorToLast(state.duplicateGroupList);
  if (DuplicateGroup* last = state.duplicateGroupList.Current()) {
    state.groupMemberList.MakeCurrent(*last->firstMember);
    MoveCursorToLast(state.groupMemberList);
  } else {
    state.groupMemberList.ResetCursor();
  }
  DuplicateGroup& group = state.duplicateGroupList.Add();
  for (std::size_t index = 0; index < files.size(); ++index) {
    GroupMember& member =
        index == 0 ? state.groupMemberList.AddStartingChain() : state.groupMemberList.Add();
    member.folder = files[index]->folder;
    member.name = files[index]->name;
    member.file = files[index];
    if (index == 0) {
      group.firstMember = &member;
    }
  }
  group.memberCount = static_cast<std::int32_t>(files.size());
  group.size = files.front()->size;
  return group;
}

ToDeleteEntry& ProgramHarness::AddToDelete(FileRecord& file, const std::vector<FileRecord*>& group,
                                           bool equalContent) {
  MoveCursorToLast(program.state.toDeleteList);
  ToDeleteEntry& entry = program.state.toDeleteList.Add();
  entry.file = &file;
  if (!group.empty()) {
    auto marked = std::make_shared<MarkedGroup>();
    marked->files = group;
    marked->equalContent = equalContent;
    entry.group = std::move(marked);
  }
  return entry;
}

const HeadlessControl& ProgramHarness::Control(int control) const {
  const HeadlessControl* found = widgets.Control(control);
  if (found == nullptr) {
    throw std::runtime_error("no control " + std::to_string(control));
  }
  return *found;
}

std::vector<std::string> ProgramHarness::RowTexts(int control, int column) const {
  std::vector<std::string> texts;
  for (const auto& row : Control(control).rows) {
    const auto index = static_cast<std::size_t>(column);
    texts.push_back(index < row.size() ? row[index] : std::string());
  }
  return texts;
}

std::vector<int> ProgramHarness::SelectedRows(int control) const {
  std::vector<int> rows;
  for (int row = 0; row < widgets.CountRows(control); ++row) {
    if (widgets.IsRowSelected(control, row)) {
      rows.push_back(row);
    }
  }
  return rows;
}

std::vector<std::pair<std::string, int>> ProgramHarness::Columns(int control) const {
  std::vector<std::pair<std::string, int>> columns;
  for (const auto& column : Control(control).columns) {
    columns.emplace_back(column.title, column.width);
  }
  return columns;
}

std::vector<std::string> ProgramHarness::ToDeleteNames() {
  std::vector<std::string> names;
  program.state.toDeleteList.ForEach([&names](const ToDeleteEntry& entry) {
    EXPECT_EQ(entry.done, 0) << entry.file->name;
    names.push_back(entry.file->name);
  });
  return names;
}

std::vector<std::string> ProgramHarness::FileNamesInCatalogue() {
  std::vector<std::string> names;
  program.state.fileCatalogue.ForEach(
      [&names](const FileRecord& record) { names.push_back(record.name); });
  return names;
}

}  // namespace kopiensieb::testing
