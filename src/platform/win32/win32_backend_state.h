#pragma once

// What the files of the Win32 backend share: the state behind Win32WidgetServices, the
// windows and controls it made, and the text conversions between the program and the W calls.

#include <windows.h>

#include <commctrl.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/win32/control_readback.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_widget_services.h"

namespace kopiensieb {

namespace win32_backend {

inline bool IsList(ControlKind kind) {
  return kind == ControlKind::ListView || kind == ControlKind::ListBox;
}

// The program breaks lines with "\r"; a static control and a message box break them with
// "\r\n".
std::wstring WithLineBreaks(const std::string& text);

struct FontDeleter {
  void operator()(HFONT font) const {
    if (font != nullptr) {
      ::DeleteObject(font);
    }
  }
};
using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

// The control font, chosen once for all windows.
FontHandle ControlFont();

// The window class of the program's windows; the state comes with CreateWindowExW.
LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
extern const wchar_t* const kWindowClassName;

}  // namespace win32_backend

struct Win32WidgetServices::State {
  struct Control {
    int window = -1;
    ControlKind kind = ControlKind::Button;
    ControlOptions options;
    std::string text;       // buttons and labels: as the program gave it
    HWND handle = nullptr;  // a child of its window, destroyed with it
  };

  struct Window {
    HWND handle = nullptr;
    HWND statusBar = nullptr;       // a child of the window
    std::vector<int> controlOrder;  // control numbers in creation order
  };

  // Marks changes the program makes: the notifications they send are not the user's.
  class ProgramChange {
   public:
    explicit ProgramChange(State& state) : state_(state) { ++state_.programChanging; }
    ~ProgramChange() { --state_.programChanging; }
    ProgramChange(const ProgramChange&) = delete;
    ProgramChange& operator=(const ProgramChange&) = delete;

   private:
    State& state_;
  };

  HINSTANCE instance = nullptr;
  FolderChooser chooser;
  MessageBoxHandler messageBox;
  win32_backend::FontHandle font;
  bool registeredClass = false;
  bool comInitialised = false;
  std::map<int, Window> windows;
  std::map<int, Control> controls;
  int container = -1;
  int statusWindow = -1;
  std::deque<Event> queue;
  int programChanging = 0;
  // Lists whose drawing is held back while the program changes their rows; drawn again when
  // the loop waits or the program asks to keep painting.
  std::set<int> frozenLists;
  ULONGLONG lastRepaint = 0;
  std::function<bool()> eventSource;
  int eventsDelivered = 0;
  std::vector<int> statusWrites;
  std::string lastChooserStart;
  std::vector<std::string> lastStatusTexts;

  Control* Find(int number) {
    const auto found = controls.find(number);
    return found == controls.end() ? nullptr : &found->second;
  }
  const Control* Find(int number) const {
    const auto found = controls.find(number);
    return found == controls.end() ? nullptr : &found->second;
  }
  Control* FindList(int number) {
    Control* control = Find(number);
    return control != nullptr && win32_backend::IsList(control->kind) ? control : nullptr;
  }

  // Event queue (win32_event_queue.cpp).
  int WindowNumberOf(HWND handle) const;
  std::optional<Event> EventFor(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const;
  LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void PushEvent(const Event& event);
  bool MoveFocusOnTab(const MSG& message);
  void RepaintNowAndThen();
  void PumpPaintMessages();
  Event NextDrivenEvent();
  Event TakeNextEvent();

  // Control creation and texts (win32_controls.cpp).
  HWND MakeControl(HWND parent, int number, ControlKind kind, Geometry geometry,
                   const std::string& text, const ControlOptions& options);
  void LowerCaseAsTyped(Control& field);

  // List synchronisation (win32_list_sync.cpp).
  void Freeze(int number, Control& list);
  void ThawLists();
  void ReplaceListBoxRow(Control& list, int row, const std::string& text);
};

}  // namespace kopiensieb
