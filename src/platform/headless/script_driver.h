#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/headless/headless_widgets.h"
#include "platform/headless/shown_state.h"

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

// What a script acts on: the widgets of one backend, driven as a user would drive them, and
// read back as the user sees them.
class ScriptTarget {
 public:
  virtual ~ScriptTarget() = default;
  // Each returns false, and queues no message, when the control does not exist, is disabled
  // or does not take that action.
  virtual bool Click(int control) = 0;
  virtual bool Type(int control, const std::string& text) = 0;
  virtual bool Select(int control, const std::vector<int>& rows) = 0;
  virtual bool DoubleClick(int control, int row) = 0;
  virtual void Idle(int window) = 0;
  virtual void RequestClose(int window) = 0;
  // The answer of the next folder chooser; "" answers as cancelled.
  virtual void QueueChooserAnswer(const std::string& folder) = 0;
  virtual ShownState Shown() const = 0;
  // Messages handed to the program so far.
  virtual int PassesCompleted() const = 0;
};

// The in-memory widgets as a script target.
class HeadlessScriptTarget final : public ScriptTarget {
 public:
  explicit HeadlessScriptTarget(HeadlessWidgetServices& widgets) : widgets_(widgets) {}
  bool Click(int control) override { return widgets_.Click(control); }
  bool Type(int control, const std::string& text) override { return widgets_.Type(control, text); }
  bool Select(int control, const std::vector<int>& rows) override {
    return widgets_.Select(control, rows);
  }
  bool DoubleClick(int control, int row) override { return widgets_.DoubleClick(control, row); }
  void Idle(int window) override { widgets_.Idle(window); }
  void RequestClose(int window) override { widgets_.RequestClose(window); }
  void QueueChooserAnswer(const std::string& folder) override {
    widgets_.QueueChooserAnswer(folder);
  }
  ShownState Shown() const override { return ShownStateOf(widgets_); }
  int PassesCompleted() const override { return widgets_.EventsDelivered(); }

 private:
  HeadlessWidgetServices& widgets_;
};

// Feeds a running program from a script: each time the event loop waits and nothing is
// queued, lines are read until one of them queues a message. A line is read only then, so a
// script on a pipe can wait for the dump of the previous action before the test changes files
// and sends the next line.
class ScriptDriver {
 public:
  ScriptDriver(ScriptTarget& target, std::istream& script, std::ostream& out, std::ostream& errors);

  // Reads lines until one queues a message; false when the script has ended.
  bool FillQueue();
  // The line printed after shutdown.
  void PrintFinalState(int exitCode);

 private:
  // True when the line queued a message for the program.
  bool Apply(const ScriptLine& line);
  void PrintState();
  void ReportMalformed(std::string_view reason);

  ScriptTarget& target_;
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
