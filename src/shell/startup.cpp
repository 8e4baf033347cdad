#include "shell/startup.h"

#include "shell/control_numbers.h"
#include "shell/event_loop.h"
#include "shell/main_window.h"
#include "shell/program.h"

namespace kopiensieb {

int RunProgram(WidgetServices& widgets, FileServices& files) {
  // The state starts with empty lists, comparePercent 100 and everything else empty or 0.
  Program program(widgets, files);
  if (!BuildMainWindow(program)) {
    // Without a window there is nobody to talk to: end quietly, no credits.
    widgets.CloseWindow(kMainWindow);
    return 0;
  }
  RunEventLoop(program);
  if (program.state.toDeleteWindowOpen) {
    widgets.CloseWindow(kToDeleteWindow);
    program.state.toDeleteWindowOpen = false;
  }
  widgets.CloseWindow(kMainWindow);
  widgets.ShowMessageBox("Credits", "Kopiensieb\rProgrammed by Tesmarin", MessageIcon::None);
  return 0;
}

}  // namespace kopiensieb
