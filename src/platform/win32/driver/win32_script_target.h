#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/headless/script_driver.h"
#include "platform/win32/win32_widget_services.h"

namespace kopiensieb {

// The folder chooser of a scripted run: it answers with the folders the script queued, in
// order ("" and an empty queue answer as cancelled), and records what it was asked.
class ScriptedFolderChooser {
 public:
  void Queue(const std::string& folder);
  std::string Answer(const std::string& title, const std::string& start);
  const std::vector<RecordedChooser>& Asked() const { return asked_; }
  // The hook for Win32WidgetServices; this object must outlive the services.
  Win32WidgetServices::FolderChooser Hook();

 private:
  std::deque<std::string> answers_;
  std::vector<RecordedChooser> asked_;
};

// The real Win32 controls as a script target: every action is real input on the real control
// (a button's click, keystrokes into a field after selecting its text, mouse clicks on rows
// with Ctrl held for further rows, double clicks, a close request to the window), the message
// boxes are the real ones, read and closed through their button, and the state is read back
// from the controls with their own messages. Only the pass count and the status-bar write
// counters come from the program; the folder chooser answers through the chooser hook.
//
// Wine raises a click even for a disabled button, so the target checks the enabled state of
// the control and of its window itself, as the system does for a user's input.
//
// One script line stands for one message, as on the in-memory widgets: of the messages a real
// action raises, the one for the acted-on control is queued, and a line whose action raised
// none queues nothing. So, as for a user, a click beside the rows of a list box leaves its row
// chosen (a one-row list box cannot be emptied by clicks), and emptying an empty field changes
// nothing.
class Win32ScriptTarget final : public ScriptTarget {
 public:
  Win32ScriptTarget(Win32WidgetServices& widgets, ScriptedFolderChooser& chooser);
  ~Win32ScriptTarget() override;
  Win32ScriptTarget(const Win32ScriptTarget&) = delete;
  Win32ScriptTarget& operator=(const Win32ScriptTarget&) = delete;

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
  class MessageBoxAnswerer;

  // The control's window when a user could act on it: it exists, and it and its window take
  // input.
  HWND UsableControl(int control) const;
  bool ActAndQueue(const std::function<void()>& action,
                   const std::function<bool(const Event&)>& wanted);
  bool ActOnControl(int control, const std::function<void()>& action);

  Win32WidgetServices& widgets_;
  ScriptedFolderChooser& chooser_;
  std::unique_ptr<MessageBoxAnswerer> messageBoxes_;
};

}  // namespace kopiensieb
