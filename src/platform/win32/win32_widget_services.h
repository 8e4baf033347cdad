#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/widget_services.h"

namespace kopiensieb {

// The widget services on the USER32 and COMCTL32 controls. The common controls must be
// initialised before the first window opens (InitCommonControlsEx). Texts are UTF-8 inside
// and UTF-16 in the controls.
class Win32WidgetServices final : public WidgetServices {
 public:
  // Both hooks are for tests and tools; left empty, the real folder chooser (IFileDialog) and
  // the real modal message box are shown.
  using FolderChooser =
      std::function<std::string(const std::string& title, const std::string& start)>;
  using MessageBoxHandler =
      std::function<void(const std::string& title, const std::string& text, MessageIcon icon)>;

  // Control handles carry their control number plus this as their child-window id, so that
  // GetDlgCtrlID leads back to the number.
  static constexpr int kControlIdBase = 1000;

  explicit Win32WidgetServices(HINSTANCE instance, FolderChooser chooser = {},
                               MessageBoxHandler messageBox = {});
  ~Win32WidgetServices() override;
  Win32WidgetServices(const Win32WidgetServices&) = delete;
  Win32WidgetServices& operator=(const Win32WidgetServices&) = delete;

  bool OpenWindow(const WindowLayout& layout) override;
  bool ChooseContainer(int window) override;
  void CloseWindow(int window) override;
  bool CreateStatusBar(int window, const std::vector<int>& fieldWidths) override;

  void CreateControl(int control, ControlKind kind, Geometry geometry, const std::string& text,
                     const ControlOptions& options) override;
  void AddColumn(int control, int index, const std::string& title, int width) override;
  void SetEnabled(int control, bool enabled) override;
  bool IsEnabled(int control) const override;
  void SetText(int control, const std::string& text) override;
  std::string GetText(int control) const override;

  void AddRow(int control, int index, const std::string& text) override;
  void SetRowText(int control, int row, int column, const std::string& text) override;
  void RemoveRow(int control, int row) override;
  void RemoveRows(int control, const std::vector<int>& rows) override;
  void RemoveAllRows(int control) override;
  int CountRows(int control) const override;

  int SelectedRow(int control) const override;
  void SelectRow(int control, int row) override;
  bool IsRowSelected(int control, int row) const override;
  void SetRowSelected(int control, int row, bool selected, bool focused) override;

  void SetProgress(int control, int value) override;
  void SetStatusText(int field, const std::string& text) override;
  void KeepPainting() override;

  void ShowMessageBox(const std::string& title, const std::string& text, MessageIcon icon) override;
  std::string ChooseFolder(const std::string& title, const std::string& startFolder) override;

  Event WaitForEvent() override;

  // For tests and tools: the windows behind the numbers (nullptr when there is none).
  HWND WindowHandle(int window) const;
  HWND ControlHandle(int control) const;
  // The status bar of a window; its parts are the status fields.
  HWND StatusBarHandle(int window) const;

  // For a script driver: when a source is set, every wait of the event loop that finds no
  // message queued first lets pending window messages (painting etc.) run, drops what the
  // windows raised by themselves, and hands the turn to the source, which acts on the
  // controls as a user would and queues the one message its action stands for (QueueEvent).
  // When the source has nothing more, the wait yields a close request for window 0.
  void SetEventSource(std::function<bool()> source);
  void QueueEvent(const Event& event);
  // The Event the program would get for this window message, if any: lets a driver tell
  // which of the messages a real action raised stands for the acted-on control.
  std::optional<Event> EventFor(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const;
  // The events queued so far, taken out of the queue.
  std::deque<Event> TakeQueuedEvents();
  // Messages handed to the program so far.
  int EventsDelivered() const;
  // How often the program wrote each status-bar field.
  std::vector<int> StatusWrites() const;
  // What the status-bar fields show; once their window is closed, what they showed last.
  std::vector<std::string> ShownStatusTexts() const;
  std::vector<int> OpenWindowNumbers() const;     // ascending
  std::vector<int> ControlsOf(int window) const;  // in creation order
  std::optional<ControlKind> KindOf(int control) const;
  // The start folder the program gave the folder chooser it opened last.
  std::string LastChooserStart() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace kopiensieb
