#include "platform/win32/win32_widget_services.h"

#include <utility>

namespace kopiensieb {

struct Win32WidgetServices::State {
  HINSTANCE instance = nullptr;
  FolderChooser chooser;
  MessageBoxHandler messageBox;
};

Win32WidgetServices::Win32WidgetServices(HINSTANCE instance, FolderChooser chooser,
                                         MessageBoxHandler messageBox)
    : state_(std::make_unique<State>()) {
  state_->instance = instance;
  state_->chooser = std::move(chooser);
  state_->messageBox = std::move(messageBox);
}

Win32WidgetServices::~Win32WidgetServices() = default;

bool Win32WidgetServices::OpenWindow(const WindowLayout&) {
  return false;
}
bool Win32WidgetServices::ChooseContainer(int) {
  return false;
}
void Win32WidgetServices::CloseWindow(int) {}
bool Win32WidgetServices::CreateStatusBar(int, const std::vector<int>&) {
  return false;
}
void Win32WidgetServices::CreateControl(int, ControlKind, Geometry, const std::string&,
                                        const ControlOptions&) {}
void Win32WidgetServices::AddColumn(int, int, const std::string&, int) {}
void Win32WidgetServices::SetEnabled(int, bool) {}
bool Win32WidgetServices::IsEnabled(int) const {
  return false;
}
void Win32WidgetServices::SetText(int, const std::string&) {}
std::string Win32WidgetServices::GetText(int) const {
  return {};
}
void Win32WidgetServices::AddRow(int, int, const std::string&) {}
void Win32WidgetServices::SetRowText(int, int, int, const std::string&) {}
void Win32WidgetServices::RemoveRow(int, int) {}
void Win32WidgetServices::RemoveRows(int, const std::vector<int>&) {}
void Win32WidgetServices::RemoveAllRows(int) {}
int Win32WidgetServices::CountRows(int) const {
  return 0;
}
int Win32WidgetServices::SelectedRow(int) const {
  return -1;
}
void Win32WidgetServices::SelectRow(int, int) {}
bool Win32WidgetServices::IsRowSelected(int, int) const {
  return false;
}
void Win32WidgetServices::SetRowSelected(int, int, bool, bool) {}
void Win32WidgetServices::SetProgress(int, int) {}
void Win32WidgetServices::SetStatusText(int, const std::string&) {}
void Win32WidgetServices::KeepPainting() {}
void Win32WidgetServices::ShowMessageBox(const std::string&, const std::string&, MessageIcon) {}
std::string Win32WidgetServices::ChooseFolder(const std::string&, const std::string&) {
  return {};
}
Event Win32WidgetServices::WaitForEvent() {
  return Event{EventKind::CloseRequest, -1, -1};
}
HWND Win32WidgetServices::WindowHandle(int) const {
  return nullptr;
}
HWND Win32WidgetServices::ControlHandle(int) const {
  return nullptr;
}
HWND Win32WidgetServices::StatusBarHandle(int) const {
  return nullptr;
}
void Win32WidgetServices::SetEventSource(std::function<bool()>) {}
void Win32WidgetServices::QueueEvent(const Event&) {}
std::optional<Event> Win32WidgetServices::EventFor(HWND, UINT, WPARAM, LPARAM) const {
  return std::nullopt;
}
std::deque<Event> Win32WidgetServices::TakeQueuedEvents() {
  return {};
}
int Win32WidgetServices::EventsDelivered() const {
  return 0;
}
std::vector<int> Win32WidgetServices::StatusWrites() const {
  return {};
}
std::vector<std::string> Win32WidgetServices::ShownStatusTexts() const {
  return {};
}
std::vector<int> Win32WidgetServices::OpenWindowNumbers() const {
  return {};
}
std::vector<int> Win32WidgetServices::ControlsOf(int) const {
  return {};
}
std::optional<ControlKind> Win32WidgetServices::KindOf(int) const {
  return std::nullopt;
}
std::string Win32WidgetServices::LastChooserStart() const {
  return {};
}

}  // namespace kopiensieb
