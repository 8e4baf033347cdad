#include "shell/event_loop.h"

#include "common/text.h"
#include "results/refresh_lists.h"
#include "results/todelete_window.h"
#include "shell/control_numbers.h"
#include "shell/deletion_selection.h"
#include "shell/search_commands.h"
#include "shell/status_texts.h"

namespace kopiensieb {

namespace {

void RunMainWindowCommand(Program& program, int control) {
  switch (control) {
    case kToDeleteButton:
      OpenToDeleteWindow(program);
      break;
    case kAddFolderButton:
      AddFolderCommand(program);
      break;
    case kResetButton:
      ResetCommand(program);
      break;
    case kSameContentButton:
      SearchCommand(program, SearchMode::SameContent);
      RefreshLists(program, kRefreshGroups);
      break;
    case kSameNameButton:
      SearchCommand(program, SearchMode::SameName);
      RefreshLists(program, kRefreshGroups);
      break;
    case kGroupsBox:
      // Selection change and double-click alike: the kind of action is not looked at.
      RefreshLists(program, kRefreshMembers);
      break;
    case kDeleteMarkedButton:
      DeleteMarkedCommand(program);
      break;
    case kDeleteOthersButton:
      DeleteOthersCommand(program);
      break;
    case kDeleteByPatternButton:
      DeleteByPatternCommand(program);
      break;
    default:
      break;  // labels, fields, FilesView, MembersBox, progress bars: no command
  }
}

}  // namespace

void ApplyAvailabilityRules(Program& program) {
  WidgetServices& widgets = program.widgets;
  const ProgramState& state = program.state;
  const bool haveFiles = !state.fileCatalogue.Empty();
  const bool haveGroups = haveFiles && !state.duplicateGroupList.Empty();
  const bool haveMembers = haveGroups && widgets.CountRows(kMembersBox) > 0;
  const bool haveDeletePattern =
      haveGroups && !TrimSpaces(widgets.GetText(kDeletePatternField)).empty();

  widgets.SetEnabled(kSameContentButton, haveFiles);
  widgets.SetEnabled(kSameNameButton, haveFiles);
  widgets.SetEnabled(kResetButton, haveFiles);
  widgets.SetEnabled(kGroupsBox, haveGroups);
  widgets.SetEnabled(kMembersBox, haveGroups);
  widgets.SetEnabled(kDeletePatternField, haveGroups);
  widgets.SetEnabled(kDeleteMarkedButton, haveMembers);
  widgets.SetEnabled(kDeleteOthersButton, haveMembers);
  widgets.SetEnabled(kDeleteByPatternButton, haveDeletePattern);
  widgets.SetEnabled(kToDeleteButton, !state.toDeleteList.Empty() && !state.toDeleteWindowOpen);
}

bool RunPass(Program& program, const Event& event) {
  ProgramState& state = program.state;
  state.currentEvent = event;
  SetActivityText(program, "Willkommen beim Kopiensieb");
  SetDetailText(program, "Programmed by Tesmarin");
  ApplyAvailabilityRules(program);
  if (event.window == kMainWindow && event.kind == EventKind::Control) {
    RunMainWindowCommand(program, event.control);
  }
  if (state.toDeleteWindowOpen && event.window == kToDeleteWindow) {
    HandleToDeleteWindowEvent(program, event);
  }
  return state.currentEvent.kind != EventKind::CloseRequest;
}

void RunEventLoop(Program& program) {
  while (RunPass(program, program.widgets.WaitForEvent())) {
  }
}

void ResetCommand(Program& program) {
  ProgramState& state = program.state;
  // The ToDelete entries point into the catalogue, so they go before the records they name.
  state.toDeleteList.Clear();
  state.fileCatalogue.Clear();
  state.duplicateGroupList.Clear();
  state.groupMemberList.Clear();
  state.folderList.Clear();
  RefreshLists(program, 0);
  if (state.toDeleteWindowOpen) {
    RefreshLists(program, kRefreshToDelete);
  }
}

}  // namespace kopiensieb
