#include "shell/deletion_selection.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "results/refresh_lists.h"
#include "selection/name_patterns.h"
#include "shell/control_numbers.h"

namespace kopiensieb {

namespace {

// Entries go behind the last one. The cursor normally rests there already (the last refresh
// or the last append left it so); walking to the end from wherever it stands keeps the order
// right even when something else moved it, at no cost in the usual case.
// The entry remembers the group, so that "Mark. löschen" can make sure a copy is left when it
// deletes the file.
void AppendToDeleteEntry(ToDeleteList& toDelete, FileRecord* file,
                         const std::shared_ptr<const MarkedGroup>& group) {
  if (!toDelete.Empty()) {
    while (toDelete.StepForward()) {
    }
  }
  ToDeleteEntry& entry = toDelete.Add();
  entry.file = file;
  entry.done = 0;
  entry.group = group;
}

// The group as it stands, without moving the cursor of GroupMemberList.
std::shared_ptr<const MarkedGroup> MarkGroup(const DuplicateGroup& group) {
  auto marked = std::make_shared<MarkedGroup>();
  marked->equalContent = group.equalContent;
  marked->files.reserve(static_cast<std::size_t>(std::max(group.memberCount, 0)));
  const GroupMember* member = group.firstMember;
  for (std::int32_t k = 0; k < group.memberCount && member != nullptr; ++k) {
    marked->files.push_back(member->file);
    member = GroupMemberList::Next(*member);
  }
  return marked;
}

// The group shown in row `row` of GroupsBox, or none when the row stands for no group (no
// selection, the empty-state row, or a row past the end).
DuplicateGroup* GroupOfRow(DuplicateGroupList& groups, int row) {
  if (row < 0 || row >= groups.Count()) {
    return nullptr;
  }
  groups.SelectIndex(row);
  return groups.Current();
}

// After row `removed` has gone, the box selects the same row number again, or the row above
// when the removed one was the last; an emptied box ends up without a selection.
void ReselectAfterRemoval(WidgetServices& widgets, int box, int removed) {
  const int rows = widgets.CountRows(box);
  widgets.SelectRow(box, rows > removed ? removed : removed - 1);
}

void ShowRemainingGroupCount(Program& program) {
  program.widgets.SetText(kGroupsLabel,
                          "Dateien mit gleichem Inhalt (" +
                              FormatDecimal(program.state.duplicateGroupList.Count()) + ")");
}

// Takes the group's single remaining member out without putting it into ToDeleteList: one
// file alone is no duplicate.
void DissolveLastMember(GroupMemberList& members, DuplicateGroup& group) {
  if (group.memberCount == 1 && group.firstMember != nullptr) {
    members.MakeCurrent(*group.firstMember);
    members.DeleteCurrent();
    group.firstMember = nullptr;
    group.memberCount = 0;
  }
}

void DeleteGroup(DuplicateGroupList& groups, DuplicateGroup& group) {
  groups.MakeCurrent(group);
  groups.DeleteCurrent();
}

// The ToDelete window's list pairs row i with entry i only while it is rebuilt after every
// change of ToDeleteList.
void RefreshOpenToDeleteWindow(Program& program) {
  if (program.state.toDeleteWindowOpen) {
    RefreshLists(program, kRefreshToDelete);
  }
}

// The match result of every member of the group, in chain order, without moving the cursor of
// GroupMemberList.
std::vector<bool> MatchMembers(PatternList& patterns, const DuplicateGroup& group) {
  std::vector<bool> matches;
  matches.reserve(static_cast<std::size_t>(group.memberCount));
  const GroupMember* member = group.firstMember;
  for (std::int32_t k = 0; k < group.memberCount && member != nullptr; ++k) {
    matches.push_back(MatchesAnyPattern(patterns, member->name) == 1);
    member = GroupMemberList::Next(*member);
  }
  return matches;
}

bool AllTrue(const std::vector<bool>& flags) {
  for (const bool flag : flags) {
    if (!flag) {
      return false;
    }
  }
  return true;
}

// Takes every matching member of one group out into ToDeleteList. When every member matches,
// the first one is spared: taking all copies would leave the user with none.
void TakeMatchingMembers(ProgramState& state, DuplicateGroup& group) {
  GroupMemberList& members = state.groupMemberList;
  std::vector<bool> matches = MatchMembers(state.patternList, group);
  if (!matches.empty() && AllTrue(matches)) {
    matches.front() = false;
  }
  const std::shared_ptr<const MarkedGroup> marked = MarkGroup(group);
  members.MakeCurrent(*group.firstMember);
  int kept = 0;
  for (const bool matched : matches) {
    GroupMember* member = members.Current();
    if (member == nullptr) {
      break;
    }
    if (!matched) {
      ++kept;
      members.StepForward();
      continue;
    }
    AppendToDeleteEntry(state.toDeleteList, member->file, marked);
    members.DeleteCurrent();
    if (kept == 0) {
      // Everything before it is gone, so the deletion made its successor (or none) current.
      group.firstMember = members.Current();
    } else {
      members.StepForward();
    }
    --group.memberCount;
  }
  DissolveLastMember(members, group);
}

}  // namespace

void DeleteMarkedCommand(Program& program) {
  ProgramState& state = program.state;
  WidgetServices& widgets = program.widgets;
  const int groupRow = widgets.SelectedRow(kGroupsBox);
  const int memberRow = widgets.SelectedRow(kMembersBox);
  DuplicateGroup* group = GroupOfRow(state.duplicateGroupList, groupRow);
  if (group == nullptr || group->firstMember == nullptr || memberRow < 0 ||
      memberRow >= group->memberCount) {
    return;
  }

  GroupMemberList& members = state.groupMemberList;
  const std::shared_ptr<const MarkedGroup> marked = MarkGroup(*group);
  members.MakeCurrent(*group->firstMember);
  for (int step = 0; step < memberRow; ++step) {
    members.StepForward();
  }
  AppendToDeleteEntry(state.toDeleteList, members.Current()->file, marked);
  members.DeleteCurrent();
  if (memberRow == 0) {
    group->firstMember = members.Current();
  }
  widgets.RemoveRow(kMembersBox, memberRow);
  ReselectAfterRemoval(widgets, kMembersBox, memberRow);
  --group->memberCount;

  if (group->memberCount == 1) {
    DissolveLastMember(members, *group);
    DeleteGroup(state.duplicateGroupList, *group);
    widgets.RemoveRow(kGroupsBox, groupRow);
    ReselectAfterRemoval(widgets, kGroupsBox, groupRow);
    RefreshLists(program, kRefreshMembers);
    ShowRemainingGroupCount(program);
  }
  RefreshOpenToDeleteWindow(program);
}

void DeleteOthersCommand(Program& program) {
  ProgramState& state = program.state;
  WidgetServices& widgets = program.widgets;
  const int groupRow = widgets.SelectedRow(kGroupsBox);
  const int keepRow = widgets.SelectedRow(kMembersBox);
  DuplicateGroup* group = GroupOfRow(state.duplicateGroupList, groupRow);
  if (group == nullptr || group->firstMember == nullptr || keepRow < 0 ||
      keepRow >= group->memberCount) {
    return;
  }

  GroupMemberList& members = state.groupMemberList;
  const std::int32_t memberCount = group->memberCount;
  const std::shared_ptr<const MarkedGroup> marked = MarkGroup(*group);
  members.MakeCurrent(*group->firstMember);
  bool kept = false;
  std::vector<int> removedRows;
  removedRows.reserve(static_cast<std::size_t>(memberCount));
  for (std::int32_t q = 0; q < memberCount; ++q) {
    if (q == keepRow) {
      group->firstMember = members.Current();  // every member before it is gone
      members.StepForward();
      kept = true;
      continue;
    }
    AppendToDeleteEntry(state.toDeleteList, members.Current()->file, marked);
    members.DeleteCurrent();
    if (kept) {
      members.StepForward();  // from the kept member to the one after the deleted one
    }
    removedRows.push_back(q);
    --group->memberCount;
  }
  // One removal for all rows but the kept one: the box ends as after removing them one by one,
  // without costing time quadratic in the size of the group.
  widgets.RemoveRows(kMembersBox, removedRows);

  DissolveLastMember(members, *group);
  if (group->memberCount == 0) {
    DeleteGroup(state.duplicateGroupList, *group);
    widgets.RemoveRow(kGroupsBox, groupRow);
    ReselectAfterRemoval(widgets, kGroupsBox, groupRow);
    ShowRemainingGroupCount(program);
  }
  RefreshLists(program, kRefreshMembers);
  RefreshOpenToDeleteWindow(program);
}

void DeleteByPatternCommand(Program& program) {
  ProgramState& state = program.state;
  ParsePatterns(state.patternList, TrimSpaces(program.widgets.GetText(kDeletePatternField)));
  state.duplicateGroupList.ResetCursor();
  state.toDeleteList.Clear();

  // Walking by the links taken before a group is worked on visits each group exactly once,
  // also when the group is deleted on the way.
  DuplicateGroup* group = state.duplicateGroupList.First();
  while (group != nullptr) {
    DuplicateGroup* following = DuplicateGroupList::Next(*group);
    if (group->firstMember != nullptr && group->memberCount > 0) {
      TakeMatchingMembers(state, *group);
    }
    if (group->memberCount == 0) {
      DeleteGroup(state.duplicateGroupList, *group);
    }
    group = following;
  }

  RefreshLists(program, kRefreshGroups | kRefreshToDelete);
  program.widgets.SelectRow(kGroupsBox, 0);
  RefreshLists(program, kRefreshMembers);
}

}  // namespace kopiensieb
