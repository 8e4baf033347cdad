#pragma once

// What every program that runs a script shares: its arguments (at most the script's file),
// the script from that file or from standard input, and the exit codes for misuse.
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <istream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>
#endif

namespace kopiensieb::script_main {

// The arguments as paths. On Windows they are taken from the wide command line, so that a
// script whose name lies outside the ANSI code page is found.
inline std::vector<std::filesystem::path> Arguments(int argc, char** argv) {
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

// Runs drive on the script named by the one argument, or on standard input without one;
// 2 for misuse or a script that cannot be read, 1 for a failure that ended the run.
inline int RunScriptMain(const char* program, int argc, char** argv,
                         const std::function<int(std::istream&)>& drive) {
#ifdef _WIN32
  // The script and the dumps are UTF-8 bytes with "\n" line ends, as on Linux.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  try {
    const std::vector<std::filesystem::path> arguments = Arguments(argc, argv);
    if (arguments.size() > 1) {
      std::cerr << "usage: " << program << " [SCRIPT]\n";
      return 2;
    }
    if (arguments.size() == 1) {
      std::ifstream script(arguments.front());
      if (!script) {
        const std::u8string name = arguments.front().u8string();
        std::cerr << program << ": cannot read " << std::string(name.begin(), name.end()) << '\n';
        return 2;
      }
      return drive(script);
    }
    // std::cin stays synchronised with C stdio, which hands out a pipe's bytes as they come:
    // no line is waited for before the program asks for it.
    return drive(std::cin);
  } catch (const std::exception& failure) {
    std::cerr << program << ": " << failure.what() << '\n';
    return 1;
  }
}

}  // namespace kopiensieb::script_main
