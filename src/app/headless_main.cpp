// kopiensieb-headless [SCRIPT]: the program on in-memory widgets, driven by a script of user
// actions (from the file, or standard input), printing the state as JSON lines.
#include <exception>
#include <fstream>
#include <iostream>

#include "platform/headless/script_driver.h"
#include "platform/posix/posix_file_services.h"
#include "shell/startup.h"

namespace {

int RunProgramOn(kopiensieb::HeadlessWidgetServices& widgets) {
  kopiensieb::PosixFileServices files;
  return kopiensieb::RunProgram(widgets, files);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc > 2) {
      std::cerr << "usage: kopiensieb-headless [SCRIPT]\n";
      return 2;
    }
    if (argc == 2) {
      std::ifstream script(argv[1]);
      if (!script) {
        std::cerr << "kopiensieb-headless: cannot read " << argv[1] << '\n';
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
