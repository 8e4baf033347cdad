#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/headless/script_driver.h"
#include "platform/qt/qt_widget_services.h"

namespace kopiensieb {

// The real Qt widgets as a script target: every action is real input on the real control (a
// mouse click at its centre, keystrokes into a field, clicks on rows with Ctrl held for
// further rows, a real close event), the folder chooser and the message boxes are the real
// dialogs, answered through their own buttons, and the state is read back from the widgets.
// Only the pass count and the status-bar write counters come from the program.
//
// One script line stands for one message, as on the in-memory widgets: of the events a real
// action raises (focus moves, a selection change and a click for one mouse press), the one
// for the acted-on control is queued, and a line whose action raised none queues nothing.
class QtScriptTarget final : public ScriptTarget {
 public:
  explicit QtScriptTarget(QtWidgetServices& widgets);
  ~QtScriptTarget() override;
  QtScriptTarget(const QtScriptTarget&) = delete;
  QtScriptTarget& operator=(const QtScriptTarget&) = delete;

  bool Click(int control) override;
  bool Type(int control, const std::string& text) override;
  bool Select(int control, const std::vector<int>& rows) override;
  bool DoubleClick(int control, int row) override;
  void Idle(int window) override;
  void RequestClose(int window) override;
  void QueueChooserAnswer(const std::string& folder) override;
  ShownState Shown() const override;
  int PassesCompleted() const override;

 private:
  class DialogAnswerer;

  QtWidgetServices& widgets_;
  std::unique_ptr<DialogAnswerer> dialogs_;
};

}  // namespace kopiensieb
