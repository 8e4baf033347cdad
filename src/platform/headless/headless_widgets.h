#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/widget_services.h"

namespace kopiensieb {

struct HeadlessColumn {
  std::string title;
  int width = 0;
};

// Everything a control shows, as the program left it.
struct HeadlessControl {
  int number = 0;
  int window = 0;
  ControlKind kind = ControlKind::Button;
  Geometry geometry;
  std::string text;
  ControlOptions options;
  bool enabled = true;
  std::vector<HeadlessColumn> columns;         // list view
  std::vector<std::vector<std::string>> rows;  // list view: one text per column; list box: one
  int selectedRow = -1;                        // list box
  std::vector<bool> rowSelected;               // list view, one flag per row
  int focusedRow = -1;                         // list view
  int progress = 0;
};

struct HeadlessWindow {
  WindowLayout layout;
  std::vector<int> controls;  // creation order
  bool hasStatusBar = false;
  std::vector<int> statusFieldWidths;
};

struct RecordedMessageBox {
  std::string title;
  std::string text;
  MessageIcon icon = MessageIcon::None;
};

struct RecordedChooser {
  std::string title;
  std::string start;
};

// The widget services in memory: every window and control with its state, the status-bar
// writes, the message boxes and folder choosers shown. Input comes from a queue of events
// that tests (or the script driver) fill through the user-action functions below.
class HeadlessWidgetServices : public WidgetServices {
 public:
  HeadlessWidgetServices();

  // --- WidgetServices
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
  void ShowMessageBox(const std::string& title, const std::string& text, MessageIcon icon) override;
  std::string ChooseFolder(const std::string& title, const std::string& startFolder) override;
  Event WaitForEvent() override;

  // --- user actions. Each returns false, and queues nothing, when the control does not exist
  // or is disabled (a disabled control raises no events).
  bool Click(int control);
  // Replaces a field's text as if typed (lower-casing where the field does) and raises one
  // control event.
  bool Type(int control, const std::string& text);
  // Selects exactly these rows (-1 or none: no row; several only where the control allows)
  // and raises one control event.
  bool Select(int control, const std::vector<int>& rows);
  bool DoubleClick(int control, int row);
  void Idle(int window);
  void RequestClose(int window);
  void QueueEvent(const Event& event);
  // The answer of the next folder chooser; "" answers as cancelled. A trailing separator is added.
  void QueueChooserAnswer(const std::string& folder);

  // Asked for the next event when the queue is empty (the script driver reads its next line
  // here). Without a source, or when it has nothing more, an empty queue yields a close
  // request for window 0, so a program under test always ends.
  void SetEventSource(std::function<bool()> fillQueue) { eventSource_ = std::move(fillQueue); }

  // --- inspection
  const HeadlessControl* Control(int control) const;
  const HeadlessWindow* Window(int window) const;
  std::vector<int> OpenWindowNumbers() const;  // ascending
  const std::vector<std::string>& StatusTexts() const { return statusTexts_; }
  const std::vector<int>& StatusWrites() const { return statusWrites_; }
  const std::vector<RecordedMessageBox>& MessageBoxes() const { return messageBoxes_; }
  const std::vector<RecordedChooser>& Choosers() const { return choosers_; }
  // Events handed to the program so far; each one started a pass, and every pass but the
  // running one has completed.
  int EventsDelivered() const { return eventsDelivered_; }

 private:
  HeadlessControl* Find(int control);
  const HeadlessControl* Find(int control) const;
  bool IsList(const HeadlessControl& control) const;
  void RaiseControlEvent(const HeadlessControl& control);

  std::map<int, HeadlessWindow> windows_;
  std::map<int, HeadlessControl> controls_;
  int container_ = -1;
  std::vector<std::string> statusTexts_;
  std::vector<int> statusWrites_;
  std::vector<RecordedMessageBox> messageBoxes_;
  std::vector<RecordedChooser> choosers_;
  std::deque<std::string> chooserAnswers_;
  std::deque<Event> events_;
  std::function<bool()> eventSource_;
  int eventsDelivered_ = 0;
};

}  // namespace kopiensieb
