#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/widget_services.h"

class QWidget;

namespace kopiensieb {

// The widget services on Qt 6 Widgets. Needs a QApplication that outlives it.
class QtWidgetServices final : public WidgetServices {
 public:
  // Both hooks are for tests and tools; left empty, the real folder dialog and the real modal
  // message box are shown.
  using FolderChooser =
      std::function<std::string(const std::string& title, const std::string& start)>;
  using MessageBoxHandler =
      std::function<void(const std::string& title, const std::string& text, MessageIcon icon)>;

  explicit QtWidgetServices(FolderChooser chooser = {}, MessageBoxHandler messageBox = {});
  ~QtWidgetServices() override;
  QtWidgetServices(const QtWidgetServices&) = delete;
  QtWidgetServices& operator=(const QtWidgetServices&) = delete;

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

  // For tests and tools: the widgets behind the numbers (null when there is none), the text
  // of a row cell, the events queued so far (taken out of the queue, with the events of any
  // input held back behind them), and handing pending row changes to the views at once.
  QWidget* WindowWidget(int window) const;
  QWidget* ControlWidget(int control) const;
  QWidget* StatusFieldWidget(int field) const;
  std::string RowText(int control, int row, int column) const;
  std::deque<Event> TakeQueuedEvents();
  void PublishPendingRows();

  // For a script driver: when a source is set, every wait of the event loop that finds no
  // message queued lets pending painting run, drops what the windows raised by themselves
  // (painting, activation, focus moves), and hands the turn to the source, which acts on the
  // widgets as a user would and queues the one message its action stands for. When the
  // source has nothing more, the wait yields a close request for window 0.
  void SetEventSource(std::function<bool()> source);
  void QueueEvent(const Event& event);
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

 private:
  Event NextDrivenEvent();
  Event TakeNextEvent();

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kopiensieb
