// kopiensieb-headless [SCRIPT]: the program on in-memory widgets, driven by a script of user
// actions (from the file, or standard input), printing the state as JSON lines.
#include <iostream>
#include <istream>

#include "app/script_main.h"
#include "platform/headless/script_driver.h"
#include "platform/native_file_services.h"
#include "shell/startup.h"

namespace {

int RunProgramOn(kopiensieb::HeadlessWidgetServices& widgets) {
  kopiensieb::NativeFileServices files;
  return kopiensieb::RunProgram(widgets, files);
}

}  // namespace

int main(int argc, char** argv) {
  return kopiensieb::script_main::RunScriptMain(
      "kopiensieb-headless", argc, argv, [](std::istream& script) {
        return kopiensieb::RunScript(script, std::cout, std::cerr, RunProgramOn);
      });
}
