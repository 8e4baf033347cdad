#include "platform/win32/driver/win32_script_target.h"

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <set>
#include <utility>

#include "platform/path_conventions.h"
#include "platform/win32/control_readback.h"
#include "platform/win32/wide_text.h"

namespace kopiensieb {

namespace {

std::string WindowText(HWND window) {
  return Utf8FromWide(win32_readback::WindowText(window));
}

// Labels and message boxes break lines with "\r\n" on screen; the program writes "\r".
std::string WithProgramLineBreaks(std::string text) {
  std::string program;
  program.reserve(text.size());
  for (std::size_t index = 0; index < text.size(); ++index) {
    if (text[index] == '\r' && index + 1 < text.size() && text[index + 1] == '\n') {
      continue;
    }
    program.push_back(text[index] == '\n' ? '\r' : text[index]);
  }
  return program;
}

// Runs what is pending for the thread's windows (raised notifications, painting, timers), as
// the program's own loop would between two inputs.
void LetMessagesSettle() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

LPARAM PointParameter(POINT point) {
  return MAKELPARAM(point.x, point.y);
}

POINT CentreOf(const RECT& rect) {
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// A press and release of the left button at a point of the control, as the system posts them
// to the window under the pointer. Posted, not sent: a list that waits inside the press for
// the release (to tell a click from a drag) finds it queued.
void PostClick(HWND control, POINT point, WPARAM keys) {
  ::PostMessageW(control, WM_LBUTTONDOWN, keys | MK_LBUTTON, PointParameter(point));
  ::PostMessageW(control, WM_LBUTTONUP, keys, PointParameter(point));
}

void PostDoubleClick(HWND control, POINT point) {
  PostClick(control, point, 0);
  ::PostMessageW(control, WM_LBUTTONDBLCLK, MK_LBUTTON, PointParameter(point));
  ::PostMessageW(control, WM_LBUTTONUP, 0, PointParameter(point));
}

POINT ClientCentre(HWND control) {
  RECT client{};
  ::GetClientRect(control, &client);
  return CentreOf(client);
}

int RowCount(HWND list, ControlKind kind) {
  const UINT message = kind == ControlKind::ListView ? LVM_GETITEMCOUNT : LB_GETCOUNT;
  return std::max(0, static_cast<int>(::SendMessageW(list, message, 0, 0)));
}

std::vector<int> ExistingRowsOnce(const std::vector<int>& rows, int count) {
  std::vector<int> kept;
  std::set<int> seen;
  for (const int row : rows) {
    if (row >= 0 && row < count && seen.insert(row).second) {
      kept.push_back(row);
    }
  }
  return kept;
}

// The rectangle of a row on screen, in the list's client coordinates, scrolled into view
// first as a user would scroll to it. In a list view the row is hit on its first cell's text.
RECT RowRect(HWND list, ControlKind kind, int row) {
  RECT rect{};
  if (kind == ControlKind::ListView) {
    ::SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    rect.left = LVIR_LABEL;
    ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&rect));
    if (rect.right - rect.left < 2) {
      RECT bounds{};
      bounds.left = LVIR_BOUNDS;
      ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&bounds));
      rect = bounds;
    }
    return rect;
  }
  RECT client{};
  ::GetClientRect(list, &client);
  ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
  if (rect.top < client.top || rect.bottom > client.bottom) {
    ::SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(row), 0);
    ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
  }
  return rect;
}

POINT RowPoint(HWND list, ControlKind kind, int row) {
  RECT client{};
  ::GetClientRect(list, &client);
  POINT point = CentreOf(RowRect(list, kind, row));
  point.x = std::clamp(point.x, client.left, std::max(client.left, client.right - 1));
  point.y = std::clamp(point.y, client.top, std::max(client.top, client.bottom - 1));
  return point;
}

bool IsRowSelected(HWND list, ControlKind kind, int row) {
  if (kind == ControlKind::ListView) {
    return ::SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) != 0;
  }
  return ::SendMessageW(list, LB_GETCURSEL, 0, 0) == row;
}

// A click on no row: below the last one where the list has room, else Ctrl+clicks that take
// the chosen rows out again, as a user would do it.
void ClickBesideTheRows(HWND list, ControlKind kind) {
  RECT client{};
  ::GetClientRect(list, &client);
  const int count = RowCount(list, kind);
  int below = client.top + 2;
  if (count > 0) {
    RECT last{};
    if (kind == ControlKind::ListView) {
      last.left = LVIR_BOUNDS;
      ::SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(count - 1),
                     reinterpret_cast<LPARAM>(&last));
    } else {
      ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(count - 1),
                     reinterpret_cast<LPARAM>(&last));
    }
    below = last.bottom + 2;
  } else if (kind == ControlKind::ListView) {
    RECT header{};
    const auto headerWindow = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (headerWindow != nullptr && ::GetWindowRect(headerWindow, &header)) {
      below = header.bottom - header.top + 2;
    }
  }
  if (below < client.bottom - 1) {
    PostClick(list, POINT{client.left + 2, below}, 0);
    return;
  }
  for (int row = 0; row < count; ++row) {
    if (IsRowSelected(list, kind, row)) {
      PostClick(list, RowPoint(list, kind, row), MK_CONTROL);
      LetMessagesSettle();
    }
  }
}

// Replaces a field's whole text, character by character, as typed: the field takes the
// focus, its text is selected, and each character comes as the keyboard delivers it. A
// character no key press can bring into a one-line field (tabs, line breaks and other control
// characters, which it drops or takes as commands) arrives as an input method or a paste
// delivers text, replacing the selection.
void TypeInto(HWND field, const std::string& text) {
  PostClick(field, ClientCentre(field), 0);
  LetMessagesSettle();
  ::SendMessageW(field, EM_SETSEL, 0, -1);
  if (text.empty()) {
    ::SendMessageW(field, WM_KEYDOWN, VK_DELETE, 1);
    ::SendMessageW(field, WM_KEYUP, VK_DELETE, 1);
    return;
  }
  for (const wchar_t unit : WideFromUtf8(text)) {
    if (unit < 0x20 || unit == 0x7F) {
      const wchar_t one[2] = {unit, L'\0'};
      ::SendMessageW(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(one));
    } else {
      ::SendMessageW(field, WM_CHAR, unit, 1);
    }
  }
}

std::vector<HeadlessColumn> ListViewColumns(HWND list) {
  std::vector<HeadlessColumn> columns;
  const auto header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  const int count =
      header == nullptr ? 0 : static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  for (int index = 0; index < count; ++index) {
    wchar_t title[512] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = title;
    column.cchTextMax = static_cast<int>(std::size(title));
    if (::SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(index),
                       reinterpret_cast<LPARAM>(&column)) == FALSE) {
      break;
    }
    columns.push_back(HeadlessColumn{Utf8FromWide(title), column.cx});
  }
  return columns;
}

void ReadRows(HWND list, ControlKind kind, HeadlessControl& shown) {
  const int rows = RowCount(list, kind);
  if (kind == ControlKind::ListView) {
    shown.columns = ListViewColumns(list);
  }
  const int columns = kind == ControlKind::ListView ? static_cast<int>(shown.columns.size()) : 1;
  shown.rows.reserve(static_cast<std::size_t>(rows));
  for (int row = 0; row < rows; ++row) {
    std::vector<std::string> cells;
    for (int column = 0; column < columns; ++column) {
      cells.push_back(kind == ControlKind::ListView
                          ? Utf8FromWide(win32_readback::ListViewCell(list, row, column))
                          : Utf8FromWide(win32_readback::ListBoxRow(list, row)));
    }
    shown.rows.push_back(std::move(cells));
  }
  if (kind == ControlKind::ListBox) {
    const LRESULT selected = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
    shown.selectedRow = selected == LB_ERR ? -1 : static_cast<int>(selected);
    return;
  }
  shown.rowSelected.assign(static_cast<std::size_t>(rows), false);
  for (int row = 0; row < rows; ++row) {
    shown.rowSelected[static_cast<std::size_t>(row)] = IsRowSelected(list, kind, row);
  }
}

HeadlessControl ReadControl(HWND control, int number, ControlKind kind) {
  HeadlessControl shown;
  shown.number = number;
  shown.kind = kind;
  if (control == nullptr) {
    return shown;
  }
  shown.geometry = win32_readback::PlaceInParent(control);
  shown.enabled = ::IsWindowEnabled(control) != FALSE;
  switch (kind) {
    case ControlKind::Button:
    case ControlKind::Field:
      shown.text = WindowText(control);
      break;
    case ControlKind::Label:
      shown.text = WithProgramLineBreaks(WindowText(control));
      break;
    case ControlKind::Progress:
      shown.progress = static_cast<int>(::SendMessageW(control, PBM_GETPOS, 0, 0));
      break;
    case ControlKind::ListView:
    case ControlKind::ListBox:
      ReadRows(control, kind, shown);
      break;
  }
  return shown;
}

std::vector<std::string> StatusFields(HWND statusBar) {
  std::vector<std::string> texts;
  const int parts = static_cast<int>(::SendMessageW(statusBar, SB_GETPARTS, 0, 0));
  for (int part = 0; part < parts; ++part) {
    const auto length = LOWORD(::SendMessageW(statusBar, SB_GETTEXTLENGTHW, part, 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied =
        LOWORD(::SendMessageW(statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text.data())));
    text.resize(std::min<std::size_t>(copied, length));
    texts.push_back(Utf8FromWide(text));
  }
  return texts;
}

std::vector<HWND> VisibleDialogsOfThisThread() {
  std::vector<HWND> dialogs;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM found) -> BOOL {
        wchar_t name[16] = {};
        ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
        if (::lstrcmpW(name, L"#32770") == 0 && ::IsWindowVisible(window)) {
          reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&dialogs));
  return dialogs;
}

// The icon a message box shows: the system's error icon, or none.
MessageIcon IconOf(HWND box) {
  struct Search {
    HICON error = nullptr;
    MessageIcon found = MessageIcon::None;
  } search{::LoadIconW(nullptr, IDI_ERROR), MessageIcon::None};
  ::EnumChildWindows(
      box,
      [](HWND child, LPARAM context) -> BOOL {
        auto* search = reinterpret_cast<Search*>(context);
        const auto style = static_cast<DWORD>(::GetWindowLongPtrW(child, GWL_STYLE));
        if ((style & SS_TYPEMASK) == SS_ICON && ::IsWindowVisible(child) &&
            reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0)) == search->error) {
          search->found = MessageIcon::Error;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A message box's text: its static text control (id 0xFFFF on every version of the system).
std::string MessageTextOf(HWND box) {
  constexpr int kMessageTextId = 0xFFFF;
  const HWND text = ::GetDlgItem(box, kMessageTextId);
  return text == nullptr ? std::string() : WithProgramLineBreaks(WindowText(text));
}

}  // namespace

// Answers the real message boxes as they come up: a timer of a hidden message window runs
// inside the box's own modal loop, reads the box and closes it through its button.
class Win32ScriptTarget::MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &MessageBoxAnswerer::Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);  // fails harmlessly when registered already
    window_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                nullptr);
    if (window_ != nullptr) {
      ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      ::SetTimer(window_, kTimerId, USER_TIMER_MINIMUM, nullptr);
    }
  }
  ~MessageBoxAnswerer() {
    if (window_ != nullptr) {
      ::KillTimer(window_, kTimerId);
      ::DestroyWindow(window_);
    }
  }
  MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
  MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

  const std::vector<RecordedMessageBox>& Answered() const { return answered_; }

 private:
  static constexpr const wchar_t* kClassName = L"KopiensiebMessageBoxAnswerer";
  static constexpr UINT_PTR kTimerId = 1;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId) {
      auto* self =
          reinterpret_cast<MessageBoxAnswerer*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
      if (self != nullptr) {
        self->AnswerOpenBoxes();
      }
      return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  void AnswerOpenBoxes() {
    for (const HWND box : VisibleDialogsOfThisThread()) {
      answered_.push_back(RecordedMessageBox{WindowText(box), MessageTextOf(box), IconOf(box)});
      HWND button = ::GetDlgItem(box, IDOK);
      if (button == nullptr) {
        button = ::GetDlgItem(box, IDCANCEL);
      }
      if (button != nullptr) {
        ::SendMessageW(button, BM_CLICK, 0, 0);
      }
      if (::IsWindowVisible(box)) {
        // A box without the usual button is still closed, as its close box would do it.
        ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
      }
    }
  }

  HWND window_ = nullptr;
  std::vector<RecordedMessageBox> answered_;
};

void ScriptedFolderChooser::Queue(const std::string& folder) {
  // The chooser hands out a folder with its separator, as the program takes it.
  if (!folder.empty() && folder.back() != kNativePaths.separator) {
    answers_.push_back(folder + kNativePaths.separator);
  } else {
    answers_.push_back(folder);
  }
}

std::string ScriptedFolderChooser::Answer(const std::string& title, const std::string& start) {
  asked_.push_back(RecordedChooser{title, start});
  if (answers_.empty()) {
    return {};
  }
  std::string answer = std::move(answers_.front());
  answers_.pop_front();
  return answer;
}

Win32WidgetServices::FolderChooser ScriptedFolderChooser::Hook() {
  return
      [this](const std::string& title, const std::string& start) { return Answer(title, start); };
}

Win32ScriptTarget::Win32ScriptTarget(Win32WidgetServices& widgets, ScriptedFolderChooser& chooser)
    : widgets_(widgets),
      chooser_(chooser),
      messageBoxes_(std::make_unique<MessageBoxAnswerer>(::GetModuleHandleW(nullptr))) {}

Win32ScriptTarget::~Win32ScriptTarget() = default;

HWND Win32ScriptTarget::UsableControl(int control) const {
  const HWND handle = widgets_.ControlHandle(control);
  if (handle == nullptr || !::IsWindowEnabled(handle)) {
    return nullptr;
  }
  const HWND window = ::GetAncestor(handle, GA_ROOT);
  if (window == nullptr || !::IsWindowEnabled(window)) {
    return nullptr;
  }
  return handle;
}

// Runs a real action and keeps, of the messages it raised, the last one that `wanted` accepts
// as the one message of the line.
bool Win32ScriptTarget::ActAndQueue(const std::function<void()>& action,
                                    const std::function<bool(const Event&)>& wanted) {
  LetMessagesSettle();
  widgets_.TakeQueuedEvents();  // raised by the windows themselves
  action();
  LetMessagesSettle();
  const std::deque<Event> raised = widgets_.TakeQueuedEvents();
  const auto found = std::find_if(raised.rbegin(), raised.rend(), wanted);
  if (found == raised.rend()) {
    return false;
  }
  widgets_.QueueEvent(*found);
  return true;
}

bool Win32ScriptTarget::ActOnControl(int control, const std::function<void()>& action) {
  return ActAndQueue(action, [control](const Event& event) {
    return event.kind == EventKind::Control && event.control == control;
  });
}

bool Win32ScriptTarget::Click(int control) {
  const HWND handle = UsableControl(control);
  if (handle == nullptr) {
    return false;
  }
  const bool button = widgets_.KindOf(control) == ControlKind::Button;
  return ActOnControl(control, [handle, button] {
    if (button) {
      ::SendMessageW(handle, BM_CLICK, 0, 0);
    } else {
      PostClick(handle, ClientCentre(handle), 0);
    }
  });
}

bool Win32ScriptTarget::Type(int control, const std::string& text) {
  const HWND field = UsableControl(control);
  if (field == nullptr || widgets_.KindOf(control) != ControlKind::Field) {
    return false;
  }
  return ActOnControl(control, [field, &text] { TypeInto(field, text); });
}

bool Win32ScriptTarget::Select(int control, const std::vector<int>& rows) {
  const HWND list = UsableControl(control);
  const std::optional<ControlKind> kind = widgets_.KindOf(control);
  if (list == nullptr || (kind != ControlKind::ListView && kind != ControlKind::ListBox)) {
    return false;
  }
  const std::vector<int> chosen = ExistingRowsOnce(rows, RowCount(list, *kind));
  return ActOnControl(control, [list, kind, &chosen] {
    if (chosen.empty()) {
      ClickBesideTheRows(list, *kind);
      return;
    }
    WPARAM keys = 0;
    for (const int row : chosen) {
      PostClick(list, RowPoint(list, *kind, row), keys);
      LetMessagesSettle();
      keys = MK_CONTROL;
    }
  });
}

bool Win32ScriptTarget::DoubleClick(int control, int row) {
  const HWND list = UsableControl(control);
  const std::optional<ControlKind> kind = widgets_.KindOf(control);
  if (list == nullptr || (kind != ControlKind::ListView && kind != ControlKind::ListBox)) {
    return false;
  }
  if (row < 0 || row >= RowCount(list, *kind)) {
    return Select(control, {});
  }
  return ActOnControl(control,
                      [list, kind, row] { PostDoubleClick(list, RowPoint(list, *kind, row)); });
}

void Win32ScriptTarget::Idle(int window) {
  const HWND shown = widgets_.WindowHandle(window);
  const bool delivered =
      shown != nullptr && ActAndQueue(
                              // The pointer passing over the window: a message that starts a pass
                              // and asks for nothing.
                              [shown] { ::PostMessageW(shown, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1)); },
                              [window](const Event& event) {
                                return event.kind == EventKind::Other && event.window == window;
                              });
  if (!delivered) {
    // A window that is not open gets its message all the same, as every idle line does.
    widgets_.QueueEvent(Event{EventKind::Other, window, -1});
  }
}

void Win32ScriptTarget::RequestClose(int window) {
  const HWND shown = widgets_.WindowHandle(window);
  const bool delivered =
      shown != nullptr && ActAndQueue([shown] { ::SendMessageW(shown, WM_CLOSE, 0, 0); },
                                      [window](const Event& event) {
                                        return event.kind == EventKind::CloseRequest &&
                                               event.window == window;
                                      });
  if (!delivered) {
    widgets_.QueueEvent(Event{EventKind::CloseRequest, window, -1});
  }
}

void Win32ScriptTarget::QueueChooserAnswer(const std::string& folder) {
  chooser_.Queue(folder);
}

ShownState Win32ScriptTarget::Shown() const {
  LetMessagesSettle();
  ShownState state;
  for (const int number : widgets_.OpenWindowNumbers()) {
    const HWND window = widgets_.WindowHandle(number);
    RECT client{};
    ::GetClientRect(window, &client);
    ShownWindow shown{
        number, WindowText(window), client.right - client.left, client.bottom - client.top, {}};
    for (const int control : widgets_.ControlsOf(number)) {
      if (const std::optional<ControlKind> kind = widgets_.KindOf(control)) {
        shown.controls.push_back(ReadControl(widgets_.ControlHandle(control), control, *kind));
      }
    }
    state.windows.push_back(std::move(shown));
  }
  const HWND statusBar = widgets_.StatusBarHandle(0);
  state.statusTexts = statusBar != nullptr ? StatusFields(statusBar) : widgets_.ShownStatusTexts();
  state.statusWrites = widgets_.StatusWrites();
  state.messageBoxes = messageBoxes_->Answered();
  state.choosers = chooser_.Asked();
  return state;
}

int Win32ScriptTarget::PassesCompleted() const {
  return widgets_.EventsDelivered();
}

}  // namespace kopiensieb
