#include <algorithm>
#include <utility>

#include "platform/win32/win32_backend_state.h"
#include "platform/win32/win32_widget_services.h"

namespace kopiensieb {

namespace {

// While a command runs, the windows repaint at most this often.
constexpr ULONGLONG kRepaintIntervalMs = 30;
// A window that never validates its area must not keep a repaint going for ever.
constexpr int kMostPaintMessages = 200;

// The notifications that stand for a user's action on the control (a disabled control's
// notifications are dropped before this is asked).
bool IsActionCommand(ControlKind kind, WORD code) {
  switch (kind) {
    case ControlKind::Button:
      return code == BN_CLICKED;
    case ControlKind::Field:
      return code == EN_CHANGE || code == EN_SETFOCUS || code == EN_KILLFOCUS;
    case ControlKind::ListBox:
      return code == LBN_SELCHANGE || code == LBN_DBLCLK;
    default:
      return false;
  }
}

bool IsActionNotification(const NMHDR& header) {
  switch (header.code) {
    case NM_CLICK:
    case NM_DBLCLK:
    case NM_RCLICK:
    case NM_RDBLCLK:
    case LVN_ITEMACTIVATE:
      return true;
    case LVN_ITEMCHANGED: {
      // A row's selection changed; the focus moving alone says nothing new.
      const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
      return (change.uChanged & LVIF_STATE) != 0 &&
             ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) != 0;
    }
    default:
      return false;
  }
}

}  // namespace

namespace win32_backend {

const wchar_t* const kWindowClassName = L"KopiensiebWindow";

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* state =
      reinterpret_cast<Win32WidgetServices::State*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (state == nullptr) {
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  return state->OnMessage(window, message, wParam, lParam);
}

}  // namespace win32_backend

int Win32WidgetServices::State::WindowNumberOf(HWND handle) const {
  if (handle == nullptr) {
    return -1;
  }
  const HWND root = ::GetAncestor(handle, GA_ROOT);
  for (const auto& [number, window] : windows) {
    if (window.handle == root || window.handle == handle) {
      return number;
    }
  }
  return -1;
}

std::optional<Event> Win32WidgetServices::State::EventFor(HWND window, UINT message, WPARAM wParam,
                                                          LPARAM lParam) const {
  const auto owner = std::find_if(windows.begin(), windows.end(), [window](const auto& entry) {
    return entry.second.handle == window;
  });
  if (owner == windows.end()) {
    return std::nullopt;
  }
  const int number = owner->first;
  if (message == WM_CLOSE) {
    return Event{EventKind::CloseRequest, number, -1};
  }
  HWND from = nullptr;
  INT_PTR id = 0;
  bool action = false;
  const Control* control = nullptr;
  if (message == WM_COMMAND && lParam != 0) {
    from = reinterpret_cast<HWND>(lParam);
    id = LOWORD(wParam);
    control = Find(static_cast<int>(id) - kControlIdBase);
    action = control != nullptr && IsActionCommand(control->kind, HIWORD(wParam));
  } else if (message == WM_NOTIFY && lParam != 0) {
    const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
    from = header.hwndFrom;
    id = static_cast<INT_PTR>(header.idFrom);
    control = Find(static_cast<int>(id) - kControlIdBase);
    action = control != nullptr && control->kind == ControlKind::ListView &&
             IsActionNotification(header);
  }
  // Wine sends a disabled button's click all the same (BM_CLICK): a disabled control raises
  // no events, whoever sent the message.
  if (!action || control->handle != from || control->window != number || !::IsWindowEnabled(from)) {
    return std::nullopt;
  }
  return Event{EventKind::Control, number, static_cast<int>(id) - kControlIdBase};
}

std::optional<Event> Win32WidgetServices::EventFor(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam) const {
  return state_->EventFor(window, message, wParam, lParam);
}

void Win32WidgetServices::State::PushEvent(const Event& event) {
  // One mouse action on a list may say both "clicked" and "selection changed": one event.
  const Control* found = Find(event.control);
  if (event.kind == EventKind::Control && found != nullptr && win32_backend::IsList(found->kind) &&
      !queue.empty() && queue.back().kind == event.kind && queue.back().window == event.window &&
      queue.back().control == event.control) {
    return;
  }
  queue.push_back(event);
}

LRESULT Win32WidgetServices::State::OnMessage(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  if (message == WM_CLOSE) {
    // A close request closes nothing by itself; the program decides.
    if (programChanging == 0) {
      PushEvent(Event{EventKind::CloseRequest, WindowNumberOf(window), -1});
    }
    return 0;
  }
  if (message == WM_NOTIFY && lParam != 0 &&
      reinterpret_cast<const NMHDR*>(lParam)->code == LVN_DELETEALLITEMS) {
    // Emptying a list view then spares the notification of each row, which costs time in
    // the number of rows.
    return TRUE;
  }
  if (programChanging == 0 && (message == WM_COMMAND || message == WM_NOTIFY)) {
    if (const std::optional<Event> event = EventFor(window, message, wParam, lParam)) {
      Control* control = Find(event->control);
      if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE && control->options.lowerCase) {
        LowerCaseAsTyped(*control);
      }
      PushEvent(*event);
    }
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// Tab and Shift+Tab move the focus to the next or previous enabled, visible button, field,
// list view or list box of the window, in creation order, wrapping around.
bool Win32WidgetServices::State::MoveFocusOnTab(const MSG& message) {
  if (message.message != WM_KEYDOWN || message.wParam != VK_TAB) {
    return false;
  }
  const int number = WindowNumberOf(message.hwnd);
  if (number < 0) {
    return false;
  }
  std::vector<const Control*> stops;
  int current = -1;
  const HWND focus = ::GetFocus();
  for (const int control : windows.at(number).controlOrder) {
    const Control* found = Find(control);
    if (found == nullptr || found->kind == ControlKind::Label ||
        found->kind == ControlKind::Progress || !::IsWindowEnabled(found->handle) ||
        !::IsWindowVisible(found->handle)) {
      continue;
    }
    if (found->handle == focus || ::IsChild(found->handle, focus)) {
      current = static_cast<int>(stops.size());
    }
    stops.push_back(found);
  }
  if (stops.empty()) {
    return true;
  }
  const bool backwards = ::GetKeyState(VK_SHIFT) < 0;
  const int count = static_cast<int>(stops.size());
  int next = 0;
  if (current < 0) {
    next = backwards ? count - 1 : 0;
  } else {
    next = (current + (backwards ? count - 1 : 1)) % count;
  }
  const Control* target = stops[static_cast<std::size_t>(next)];
  ::SetFocus(target->handle);
  if (target->kind == ControlKind::Field) {
    ::SendMessageW(target->handle, EM_SETSEL, 0, -1);
  }
  return true;
}

void Win32WidgetServices::State::PumpPaintMessages() {
  MSG message{};
  for (int count = 0; count < kMostPaintMessages &&
                      ::PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE);
       ++count) {
    ::DispatchMessageW(&message);
  }
}

// Lets the windows repaint while a command runs; user input stays queued for later.
void Win32WidgetServices::State::RepaintNowAndThen() {
  const ULONGLONG now = ::GetTickCount64();
  if (lastRepaint != 0 && now - lastRepaint < kRepaintIntervalMs) {
    return;
  }
  ThawLists();
  PumpPaintMessages();
  lastRepaint = ::GetTickCount64();
}

void Win32WidgetServices::KeepPainting() {
  state_->RepaintNowAndThen();
}

Event Win32WidgetServices::WaitForEvent() {
  state_->ThawLists();
  if (state_->eventSource) {
    return state_->NextDrivenEvent();
  }
  while (state_->queue.empty()) {
    if (state_->windows.empty()) {
      // With no window left no message can come; waiting would never end.
      return Event{EventKind::CloseRequest, -1, -1};
    }
    MSG message{};
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // Asked to quit (or the queue is gone): as if the main window were closed.
      return Event{EventKind::CloseRequest, 0, -1};
    }
    if (!state_->MoveFocusOnTab(message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    // Every message taken from the queue starts one pass.
    if (state_->queue.empty()) {
      state_->queue.push_back(Event{EventKind::Other, state_->WindowNumberOf(message.hwnd), -1});
    }
  }
  return state_->TakeNextEvent();
}

Event Win32WidgetServices::State::NextDrivenEvent() {
  // What the windows raised during the last pass (a message box's own loop paints and moves
  // the focus) is not the user's.
  queue.clear();
  while (queue.empty()) {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        break;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    queue.clear();
    if (!eventSource()) {
      queue.assign(1, Event{EventKind::CloseRequest, 0, -1});
    }
  }
  return TakeNextEvent();
}

Event Win32WidgetServices::State::TakeNextEvent() {
  lastRepaint = ::GetTickCount64();
  const Event event = queue.front();
  queue.pop_front();
  ++eventsDelivered;
  return event;
}

void Win32WidgetServices::SetEventSource(std::function<bool()> source) {
  state_->eventSource = std::move(source);
}

void Win32WidgetServices::QueueEvent(const Event& event) {
  state_->queue.push_back(event);
}

std::deque<Event> Win32WidgetServices::TakeQueuedEvents() {
  std::deque<Event> taken;
  taken.swap(state_->queue);
  return taken;
}

int Win32WidgetServices::EventsDelivered() const {
  return state_->eventsDelivered;
}

}  // namespace kopiensieb
