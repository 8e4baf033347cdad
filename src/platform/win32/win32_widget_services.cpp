#include "platform/win32/win32_widget_services.h"

#include <objbase.h>

#include <algorithm>
#include <utility>

#include "platform/win32/win32_backend_state.h"

namespace kopiensieb {

using win32_backend::kWindowClassName;

namespace {

// The layout leaves this much below the controls for the status bar.
constexpr int kStatusBarHeight = 20;
// The program's icon in its resources (kopiensieb.rc).
constexpr int kIconResource = 1;

DWORD StyleOf(const WindowLayout& layout) {
  // Fixed size: no sizing border, no minimise or maximise box. Without the system menu there
  // is no close box either.
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
  if (layout.hasCloseBox) {
    style |= WS_SYSMENU;
  }
  return style;
}

// Centred on the screen, or on the window that was active; never left of or above 0 when
// centred on a window.
POINT PlacementOf(SIZE outer, WindowPlacement placement, HWND active) {
  RECT frame{};
  if (placement == WindowPlacement::CentredOnActiveWindow && active != nullptr &&
      ::GetWindowRect(active, &frame)) {
    const LONG left = frame.left + (frame.right - frame.left) / 2 - outer.cx / 2;
    const LONG top = frame.top + (frame.bottom - frame.top) / 2 - outer.cy / 2;
    return POINT{std::max<LONG>(0, left), std::max<LONG>(0, top)};
  }
  return POINT{::GetSystemMetrics(SM_CXSCREEN) / 2 - outer.cx / 2,
               ::GetSystemMetrics(SM_CYSCREEN) / 2 - outer.cy / 2};
}

// Some frames (a window manager's, under Wine) differ from what AdjustWindowRectEx expects:
// the client area is made the asked size all the same.
void FitClientArea(HWND window, int width, int height) {
  RECT client{};
  RECT outer{};
  if (!::GetClientRect(window, &client) || !::GetWindowRect(window, &outer)) {
    return;
  }
  const int missingWidth = width - (client.right - client.left);
  const int missingHeight = height - (client.bottom - client.top);
  if (missingWidth != 0 || missingHeight != 0) {
    ::SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + missingWidth,
                   outer.bottom - outer.top + missingHeight,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

}  // namespace

Win32WidgetServices::Win32WidgetServices(HINSTANCE instance, FolderChooser chooser,
                                         MessageBoxHandler messageBox)
    : state_(std::make_unique<State>()) {
  state_->instance = instance;
  state_->chooser = std::move(chooser);
  state_->messageBox = std::move(messageBox);
  state_->font = win32_backend::ControlFont();
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = win32_backend::WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClassName;
  // A second set of services in the same process shares the class the first registered.
  state_->registeredClass = ::RegisterClassExW(&windowClass) != 0;
}

Win32WidgetServices::~Win32WidgetServices() {
  // Nothing is reported while the windows go.
  ++state_->programChanging;
  state_->controls.clear();
  for (auto& [number, window] : state_->windows) {
    ::DestroyWindow(window.handle);
  }
  state_->windows.clear();
  if (state_->registeredClass) {
    ::UnregisterClassW(kWindowClassName, state_->instance);
  }
  if (state_->comInitialised) {
    ::CoUninitialize();
  }
}

bool Win32WidgetServices::OpenWindow(const WindowLayout& layout) {
  if (state_->windows.contains(layout.number) || layout.clientWidth <= 0 ||
      layout.clientHeight <= 0) {
    return false;
  }
  const DWORD style = StyleOf(layout);
  const DWORD extendedStyle = 0;
  RECT frame{0, 0, layout.clientWidth, layout.clientHeight};
  ::AdjustWindowRectEx(&frame, style, FALSE, extendedStyle);
  const SIZE outer{frame.right - frame.left, frame.bottom - frame.top};
  const POINT at = PlacementOf(outer, layout.placement, ::GetActiveWindow());
  State::ProgramChange change(*state_);
  HWND handle = ::CreateWindowExW(extendedStyle, kWindowClassName,
                                  WideFromUtf8(layout.title).c_str(), style, at.x, at.y, outer.cx,
                                  outer.cy, nullptr, nullptr, state_->instance, state_.get());
  if (handle == nullptr) {
    return false;
  }
  state_->windows[layout.number].handle = handle;
  ::ShowWindow(handle, SW_SHOW);
  FitClientArea(handle, layout.clientWidth, layout.clientHeight);
  ::UpdateWindow(handle);
  return true;
}

bool Win32WidgetServices::ChooseContainer(int window) {
  if (!state_->windows.contains(window)) {
    return false;
  }
  state_->container = window;
  return true;
}

void Win32WidgetServices::CloseWindow(int window) {
  const auto found = state_->windows.find(window);
  if (found == state_->windows.end()) {
    return;
  }
  if (state_->statusWindow == window) {
    // What the fields showed last stays readable once they are gone.
    state_->lastStatusTexts = ShownStatusTexts();
    state_->statusWindow = -1;
  }
  const HWND doomed = found->second.handle;
  for (auto control = state_->controls.begin(); control != state_->controls.end();) {
    if (control->second.window == window) {
      state_->frozenLists.erase(control->first);
      control = state_->controls.erase(control);
    } else {
      ++control;
    }
  }
  state_->windows.erase(found);
  if (state_->container == window) {
    state_->container = -1;
  }
  State::ProgramChange change(*state_);
  ::DestroyWindow(doomed);
}

bool Win32WidgetServices::CreateStatusBar(int window, const std::vector<int>& fieldWidths) {
  const auto found = state_->windows.find(window);
  if (found == state_->windows.end()) {
    return false;
  }
  State::ProgramChange change(*state_);
  if (found->second.statusBar != nullptr) {
    ::DestroyWindow(found->second.statusBar);
    found->second.statusBar = nullptr;
  }
  RECT client{};
  ::GetClientRect(found->second.handle, &client);
  // Placed by hand, so that it is as high as the layout leaves for it whatever the font.
  HWND bar = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"",
                               WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN, 0,
                               client.bottom - kStatusBarHeight, client.right, kStatusBarHeight,
                               found->second.handle, nullptr, state_->instance, nullptr);
  if (bar == nullptr) {
    return false;
  }
  ::SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(state_->font.get()), FALSE);
  // The parts are given by their right edges; a width below 1 takes the rest of the window.
  std::vector<int> rightEdges;
  int left = 0;
  for (const int width : fieldWidths) {
    if (width > 0) {
      left += width;
      rightEdges.push_back(left);
    } else {
      rightEdges.push_back(-1);
    }
  }
  if (!rightEdges.empty()) {
    ::SendMessageW(bar, SB_SETPARTS, rightEdges.size(),
                   reinterpret_cast<LPARAM>(rightEdges.data()));
  }
  found->second.statusBar = bar;
  state_->statusWindow = window;
  state_->statusWrites.assign(fieldWidths.size(), 0);
  return true;
}

void Win32WidgetServices::SetStatusText(int field, const std::string& text) {
  const HWND bar = StatusBarHandle(state_->statusWindow);
  if (bar == nullptr || field < 0 || field >= static_cast<int>(state_->statusWrites.size())) {
    return;
  }
  ::SendMessageW(bar, SB_SETTEXTW, static_cast<WPARAM>(field),
                 reinterpret_cast<LPARAM>(WideFromUtf8(text).c_str()));
  ++state_->statusWrites[static_cast<std::size_t>(field)];
  state_->RepaintNowAndThen();
}

std::vector<int> Win32WidgetServices::StatusWrites() const {
  return state_->statusWrites;
}

std::vector<std::string> Win32WidgetServices::ShownStatusTexts() const {
  const HWND bar = StatusBarHandle(state_->statusWindow);
  if (bar == nullptr) {
    return state_->lastStatusTexts;
  }
  std::vector<std::string> texts;
  for (std::size_t field = 0; field < state_->statusWrites.size(); ++field) {
    const auto length = LOWORD(::SendMessageW(bar, SB_GETTEXTLENGTHW, field, 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(bar, SB_GETTEXTW, field, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    texts.push_back(Utf8FromWide(text));
  }
  return texts;
}

std::vector<int> Win32WidgetServices::OpenWindowNumbers() const {
  std::vector<int> numbers;
  for (const auto& [number, window] : state_->windows) {
    numbers.push_back(number);
  }
  return numbers;
}

std::vector<int> Win32WidgetServices::ControlsOf(int window) const {
  const auto found = state_->windows.find(window);
  return found == state_->windows.end() ? std::vector<int>() : found->second.controlOrder;
}

std::optional<ControlKind> Win32WidgetServices::KindOf(int control) const {
  const State::Control* found = state_->Find(control);
  if (found == nullptr) {
    return std::nullopt;
  }
  return found->kind;
}

HWND Win32WidgetServices::WindowHandle(int window) const {
  const auto found = state_->windows.find(window);
  return found == state_->windows.end() ? nullptr : found->second.handle;
}

HWND Win32WidgetServices::ControlHandle(int control) const {
  const State::Control* found = state_->Find(control);
  return found == nullptr ? nullptr : found->handle;
}

HWND Win32WidgetServices::StatusBarHandle(int window) const {
  const auto found = state_->windows.find(window);
  return found == state_->windows.end() ? nullptr : found->second.statusBar;
}

}  // namespace kopiensieb
