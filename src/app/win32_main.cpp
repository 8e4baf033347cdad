// kopiensieb.exe: the program on the Windows controls.
#include <windows.h>

#include <commctrl.h>

#include "platform/win32/win32_file_services.h"
#include "platform/win32/win32_widget_services.h"
#include "shell/startup.h"

// The program takes no arguments; the command line is not read.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  // The list view, progress bar and status bar are common controls; version 6 comes with
  // the manifest.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC =
      ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&controls);
  kopiensieb::Win32WidgetServices widgets(instance);
  kopiensieb::Win32FileServices files;
  return kopiensieb::RunProgram(widgets, files);
}
