#pragma once

#include "shell/program.h"

namespace kopiensieb {

// Control 15 "TDL": opens window 1 and fills its list.
void OpenToDeleteWindow(Program& program);

// Every event of window 1 while it is open: availability, then controls 202 to 205.
void HandleToDeleteWindowEvent(Program& program, const Event& event);

void DeleteSelectedCommand(Program& program);
void DiscardSelectedCommand(Program& program);
void SelectAllCommand(Program& program);
void CloseToDeleteWindow(Program& program);
void PurgeDoneEntries(ProgramState& state);

}  // namespace kopiensieb
