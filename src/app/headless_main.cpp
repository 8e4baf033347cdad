// kopiensieb-headless [SCRIPT]: the program on in-memory widgets, driven by a script of user
// actions (from the file, or standard input), printing the state as JSON lines.
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>
#endif

#include "platform/headless/script_driver.h"
#include "platform/native_file_services.h"
#include "shell/startup.h"

namespace {

int RunProgramOn(kopiensieb::HeadlessWidgetServices& widgets) {
  kopiensieb::NativeFileServices files;
  return kopiensieb::RunProgram(widgets, files);
}

// The arguments as paths. On Windows they are taken from the wide command line, so that a
// script whose name lies outside the ANSI code page is found.
std::vector<std::filesystem::path> Arguments(int argc, char** argv) {
  std::vector<std::filesystem::path> arguments;
#ifdef _WIN32
  (void)argv;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int index = 1; index < count; ++index) {
      arguments.emplace_back(wide[index]);
    }
    ::LocalFree(wide);
    return arguments;
  }
#endif
  for (int index = 1; index < argc; ++index) {
    arguments.emplace_back(argv[index]);
  }
  return arguments;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The script and the dumps are UTF-8 bytes with "\n" line ends, as on Linux.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  try {
    const std::vector<std::filesystem::path> arguments = Arguments(argc, argv);
    if (arguments.size() > 1) {
      std::cerr << "usage: kopiensieb-headless [SCRIPT]\n";
      return 2;
    }
    if (arguments.size() == 1) {
      std::ifstream script(arguments.front());
      if (!script) {
        const std::u8string name = arguments.front().u8string();
        std::cerr << "kopiensieb-headless: cannot read " << std::string(name.begin(), name.end())
                  << '\n';
        return 2;
      }
      return kopiensieb::RunScript(script, std::cout, std::cerr, RunProgramOn);
    }
    // std::cin stays synchronised with C stdio, which hands out a pipe's bytes as they come:
    // no line is waited for before the program asks for it.
    return kopiensieb::RunScript(std::cin, std::cout, std::cerr, RunProgramOn);
  } catch (const std::exception& failure) {
    std::cerr << "kopiensieb-headless: " << failure.what() << '\n';
    return 1;
  }
}
