#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/headless/headless_widgets.h"

namespace kopiensieb {

// The lines of a kopiensieb-headless script, parsed.
namespace script {
struct Skip {};  // blank line or comment
struct Chooser {
  std::string folder;  // "" answers as cancelled
};
struct Click {
  int control = 0;
};
struct Type {
  int control = 0;
  std::string text;
};
struct Select {
  int control = 0;
  std::vector<int> rows;
};
struct DoubleClick {
  int control = 0;
  int row = 0;
};
struct Idle {
  int window = 0;
};
struct Close {
  int window = 0;
};
struct Dump {};
struct Malformed {
  std::string reason;
};
}  // namespace script

using ScriptLine =
    std::variant<script::Skip, script::Chooser, script::Click, script::Type, script::Select,
                 script::DoubleClick, script::Idle, script::Close, script::Dump, script::Malformed>;

ScriptLine ParseScriptLine(std::string_view line);

// Feeds a program running on HeadlessWidgetServices from a script: each time the event loop
// waits and nothing is queued, lines are read until one of them queues a message. A line is
// read only then, so a script on a pipe can wait for the dump of the previous action before
// the test changes files and sends the next line.
class ScriptDriver {
 public:
  ScriptDriver(HeadlessWidgetServices& widgets, std::istream& script, std::ostream& out,
               std::ostream& errors);

  // Reads lines until one queues a message; false when the script has ended.
  bool FillQueue();
  // The line printed after shutdown.
  void PrintFinalState(int exitCode);

 private:
  // True when the line queued a message for the program.
  bool Apply(const ScriptLine& line);
  void PrintState();
  void ReportMalformed(std::string_view reason);

  HeadlessWidgetServices& widgets_;
  std::istream& script_;
  std::ostream& out_;
  std::ostream& errors_;
  long lineNumber_ = 0;
};

// Runs program (start-up to shutdown, returning the exit code) on fresh headless widget
// services driven by the script, prints the final line and returns the exit code.
int RunScript(std::istream& script, std::ostream& out, std::ostream& errors,
              const std::function<int(HeadlessWidgetServices&)>& program);

}  // namespace kopiensieb
