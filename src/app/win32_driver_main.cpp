// kopiensieb-win32-driver [SCRIPT]: the program on the real Win32 controls, driven by a
// script of user actions (from the file, or standard input) that it carries out as real input,
// and printing the state read back from the controls as JSON lines, in the same language and
// format as kopiensieb-headless.
#include <windows.h>
// windows.h first: the others need its types.
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

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

// The arguments from the wide command line, so that a script whose name lies outside the ANSI
// code page is found.
std::vector<std::filesystem::path> Arguments() {
  std::vector<std::filesystem::path> arguments;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int index = 1; index < count; ++index) {
      arguments.emplace_back(wide[index]);
    }
    ::LocalFree(wide);
  }
  return arguments;
}

}  // namespace

int main() {
  // The script and the dumps are UTF-8 bytes with "\n" line ends, as on Linux.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  try {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES |
                                                        ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    const std::vector<std::filesystem::path> arguments = Arguments();
    if (arguments.size() > 1) {
      std::cerr << "usage: kopiensieb-win32-driver [SCRIPT]\n";
      return 2;
    }
    if (arguments.size() == 1) {
      std::ifstream script(arguments.front());
      if (!script) {
        const std::u8string name = arguments.front().u8string();
        std::cerr << "kopiensieb-win32-driver: cannot read "
                  << std::string(name.begin(), name.end()) << '\n';
        return 2;
      }
      return Drive(script);
    }
    return Drive(std::cin);
  } catch (const std::exception& failure) {
    std::cerr << "kopiensieb-win32-driver: " << failure.what() << '\n';
    return 1;
  }
}
