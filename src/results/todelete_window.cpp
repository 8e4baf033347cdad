#include "results/todelete_window.h"
namespace kopiensieb {
void OpenToDeleteWindow(Program&) {}  // STUB
void HandleToDeleteWindowEvent(Program&, const Event&) {}
void DeleteSelectedCommand(Program&) {}
void DiscardSelectedCommand(Program&) {}
void SelectAllCommand(Program&) {}
void CloseToDeleteWindow(Program&) {}
void PurgeDoneEntries(ProgramState&) {}
}  // namespace kopiensieb
