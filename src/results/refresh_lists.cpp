#include "results/refresh_lists.h"

#include <string_view>

#include "common/text.h"
#include "shell/control_numbers.h"
#include "shell/status_texts.h"

namespace kopiensieb {

namespace {

// Formats a size text into a buffer that is reused row after row, so filling FilesView with
// a large catalogue costs no allocation per row for the sizes.
void FormatSizeInto(std::string& buffer, std::int64_t size) {
  buffer.clear();
  AppendDecimal(buffer, size);
  buffer.append(" Bytes");
}

void ShowResetForm(Program& program) {
  WidgetServices& widgets = program.widgets;
  widgets.RemoveAllRows(kFilesView);
  widgets.RemoveAllRows(kGroupsBox);
  widgets.RemoveAllRows(kMembersBox);
  widgets.SetText(kFilesLabel, "Alle Dateien");
  widgets.SetText(kGroupsLabel, "Dateien mit gleichem Inhalt");
}

void RebuildFilesView(Program& program) {
  WidgetServices& widgets = program.widgets;
  FileCatalogue& catalogue = program.state.fileCatalogue;
  widgets.RemoveAllRows(kFilesView);
  std::string sizeText;
  int row = 0;
  catalogue.ResetCursor();
  while (catalogue.StepForward()) {
    FileRecord& record = *catalogue.Current();
    widgets.AddRow(kFilesView, row, record.name);
    FormatSizeInto(sizeText, record.size);
    widgets.SetRowText(kFilesView, row, 1, sizeText);
    record.shownInFilesView = true;
    ++row;
  }
  widgets.SetText(kFilesLabel, CatalogueCaption(row));
}

// The names of the group's members in chain order; leaves the member cursor on the last one.
std::string GroupRow(GroupMemberList& members, const DuplicateGroup& group) {
  std::string row = FormatDecimal(group.memberCount);
  row.append(": ");
  if (group.firstMember == nullptr) {
    return row;
  }
  members.MakeCurrent(*group.firstMember);
  for (std::int32_t k = 1; k <= group.memberCount; ++k) {
    if (k > 1) {
      row.append(", ");
    }
    row.append(members.Current()->name);
    members.StepForward();
  }
  return row;
}

void RebuildGroupsBox(Program& program) {
  WidgetServices& widgets = program.widgets;
  ProgramState& state = program.state;
  widgets.RemoveAllRows(kGroupsBox);
  // Members of an earlier search would otherwise stay on show beside groups they no longer
  // belong to.
  widgets.RemoveAllRows(kMembersBox);
  if (state.duplicateGroupList.Empty()) {
    widgets.AddRow(kGroupsBox, -1, "(keine doppelten Dateien)");
    widgets.SetText(kGroupsLabel, GroupsCaption(0, 0));
    return;
  }
  std::int64_t groups = 0;
  std::int64_t members = 0;
  state.duplicateGroupList.ResetCursor();
  while (state.duplicateGroupList.StepForward()) {
    const DuplicateGroup& group = *state.duplicateGroupList.Current();
    members += group.memberCount;
    ++groups;
    widgets.AddRow(kGroupsBox, -1, GroupRow(state.groupMemberList, group));
  }
  widgets.SetText(kGroupsLabel, GroupsCaption(groups, members));
}

void RebuildMembersBox(Program& program) {
  WidgetServices& widgets = program.widgets;
  ProgramState& state = program.state;
  widgets.RemoveAllRows(kMembersBox);
  if (state.duplicateGroupList.Empty()) {
    return;
  }
  const int selectedGroup = widgets.SelectedRow(kGroupsBox);
  if (selectedGroup < 0) {
    return;
  }
  state.duplicateGroupList.SelectIndex(selectedGroup);
  const DuplicateGroup& group = *state.duplicateGroupList.Current();
  if (group.firstMember == nullptr) {
    return;
  }
  GroupMemberList& members = state.groupMemberList;
  members.MakeCurrent(*group.firstMember);
  int preselected = 0;
  for (std::int32_t k = 1; k <= group.memberCount; ++k) {
    const GroupMember& member = *members.Current();
    widgets.AddRow(kMembersBox, -1, FullPath(member.folder, member.name));
    if (IsBackupCopyName(member.name)) {
      preselected = k - 1;
    }
    members.StepForward();
  }
  widgets.SelectRow(kMembersBox, preselected);
}

void RebuildToDeleteView(Program& program) {
  WidgetServices& widgets = program.widgets;
  ProgramState& state = program.state;
  if (!state.toDeleteWindowOpen) {
    return;
  }
  widgets.RemoveAllRows(kToDeleteView);
  if (state.toDeleteList.Empty()) {
    widgets.AddRow(kToDeleteView, 0, "(keine Dateien zum Löschen)");
    return;
  }
  std::string sizeText;
  int row = 0;
  state.toDeleteList.ResetCursor();
  while (state.toDeleteList.StepForward()) {
    FileRecord* file = state.toDeleteList.Current()->file;
    if (file == nullptr) {
      continue;  // an entry always names a file; nothing to show for one that does not
    }
    state.fileCatalogue.MakeCurrent(*file);
    widgets.AddRow(kToDeleteView, row, file->name);
    widgets.SetRowText(kToDeleteView, row, 1, file->folder);
    FormatSizeInto(sizeText, file->size);
    widgets.SetRowText(kToDeleteView, row, 2, sizeText);
    ++row;
  }
}

}  // namespace

void RefreshLists(Program& program, std::int32_t flags) {
  SetActivityText(program, "Update Liste");
  if (flags == 0) {
    ShowResetForm(program);
    return;
  }
  if ((flags & kRefreshFiles) != 0) {
    RebuildFilesView(program);
  }
  if ((flags & kRefreshGroups) != 0) {
    RebuildGroupsBox(program);
  }
  if ((flags & kRefreshMembers) != 0) {
    RebuildMembersBox(program);
  }
  if ((flags & kRefreshToDelete) != 0) {
    RebuildToDeleteView(program);
  }
}

std::string CatalogueCaption(std::int64_t records) {
  return "Alle Dateien (" + FormatDecimal(records) + ")";
}

std::string GroupsCaption(std::int64_t groups, std::int64_t members) {
  return "Dateien mit gleichem Inhalt (" + FormatDecimal(groups) + " - " + FormatDecimal(members) +
         ")";
}

bool IsBackupCopyName(const std::string& name) {
  const std::size_t lastDot = name.rfind('.');
  if (lastDot == std::string::npos) {
    return false;
  }
  return LowerCase(std::string_view(name).substr(lastDot + 1)) == "bak";
}

}  // namespace kopiensieb
