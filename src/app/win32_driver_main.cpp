// kopiensieb-win32-driver [SCRIPT]: the program on the real Win32 controls, driven by a
// script of user actions (from the file, or standard input) that it carries out as real input,
// and printing the state read back from the controls as JSON lines, in the same language and
// format as kopiensieb-headless.
#include <windows.h>
// windows.h first: the others need its types.
#include <commctrl.h>

#include <iostream>
#include <istream>

#include "app/script_main.h"
#include "platform/headless/script_driver.h"
#include "platform/win32/driver/win32_script_target.h"
#include "platform/win32/win32_file_services.h"
#include "platform/win32/win32_widget_services.h"
#include "shell/startup.h"

namespace {

int Drive(std::istream& script) {
  kopiensieb::ScriptedFolderChooser chooser;
  kopiensieb::Win32WidgetServices widgets(::GetModuleHandleW(nullptr), chooser.Hook());
  kopiensieb::Win32ScriptTarget target(widgets, chooser);
  kopiensieb::ScriptDriver driver(target, script, std::cout, std::cerr);
  widgets.SetEventSource([&driver] { return driver.FillQueue(); });
  kopiensieb::Win32FileServices files;
  const int exitCode = kopiensieb::RunProgram(widgets, files);
  driver.PrintFinalState(exitCode);
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES |
                                                      ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  return kopiensieb::script_main::RunScriptMain("kopiensieb-win32-driver", argc, argv, Drive);
}
