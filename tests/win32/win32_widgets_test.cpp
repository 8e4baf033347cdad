// The Win32 widget services on the real controls: held to the in-memory backend by the
// shared differential run, and table cases for what only the Windows controls decide
// (geometry in client coordinates, frames, the status bar's parts, lower-casing as typed,
// which messages become events). The controls are read back with SendMessage, as a user's
// screen would show them.

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "platform/headless/headless_widgets.h"
#include "platform/win32/control_readback.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_widget_services.h"
#include "temp_folder.h"
#include "widget_differential.h"

namespace kopiensieb {
namespace {

void InitialiseCommonControls() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
  ::InitCommonControlsEx(&controls);
}

const WindowLayout kMainWindow{0, 640, 480, "Kopiensieb", WindowPlacement::CentredOnScreen, true};

std::string TextOf(HWND window) {
  return Utf8FromWide(win32_readback::WindowText(window));
}

// A static control's line breaks ("\r\n") as "\n".
std::string WithNewlines(std::string text) {
  std::string result;
  for (std::size_t index = 0; index < text.size(); ++index) {
    if (text[index] == '\r' && index + 1 < text.size() && text[index + 1] == '\n') {
      continue;
    }
    result.push_back(text[index]);
  }
  return result;
}

bool IsListView(HWND control) {
  wchar_t name[64] = {};
  ::GetClassNameW(control, name, 64);
  return std::wstring(name) == WC_LISTVIEWW;
}

// Posts a mouse click (with `keys` held) onto a row of a list view, as a user's click comes.
void PostClickOnRow(HWND view, int row, WPARAM keys = 0) {
  RECT bounds{};
  bounds.left = LVIR_BOUNDS;
  ::SendMessageW(view, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&bounds));
  const LPARAM at = MAKELPARAM(bounds.left + 5, (bounds.top + bounds.bottom) / 2);
  ::PostMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
  ::PostMessageW(view, WM_LBUTTONUP, keys, at);
}

Win32WidgetServices::FolderChooser NoChooser() {
  return [](const std::string&, const std::string&) { return std::string(); };
}

Win32WidgetServices::MessageBoxHandler NoMessageBox() {
  return [](const std::string&, const std::string&, MessageIcon) {};
}

class Win32ShownControls final : public testing::ShownControls {
 public:
  Win32ShownControls() : widgets_(::GetModuleHandleW(nullptr), NoChooser(), NoMessageBox()) {}

  WidgetServices& Services() override { return widgets_; }
  bool Enabled(int control) override {
    return ::IsWindowEnabled(widgets_.ControlHandle(control)) != FALSE;
  }
  std::string Text(int control) override {
    return WithNewlines(TextOf(widgets_.ControlHandle(control)));
  }
  int Progress(int control) override {
    return static_cast<int>(::SendMessageW(widgets_.ControlHandle(control), PBM_GETPOS, 0, 0));
  }
  bool ShowsRowsAtOnce() const override { return true; }
  int RowsShown(int list) override {
    HWND handle = widgets_.ControlHandle(list);
    return static_cast<int>(
        ::SendMessageW(handle, IsListView(handle) ? LVM_GETITEMCOUNT : LB_GETCOUNT, 0, 0));
  }
  int ColumnsShown(int list) override {
    HWND handle = widgets_.ControlHandle(list);
    if (!IsListView(handle)) {
      return 1;
    }
    const auto header = reinterpret_cast<HWND>(::SendMessageW(handle, LVM_GETHEADER, 0, 0));
    return static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  }
  std::string Cell(int list, int row, int column) override {
    HWND handle = widgets_.ControlHandle(list);
    return Utf8FromWide(IsListView(handle) ? win32_readback::ListViewCell(handle, row, column)
                                           : win32_readback::ListBoxRow(handle, row));
  }
  bool RowShownSelected(int list, int row) override {
    HWND handle = widgets_.ControlHandle(list);
    if (!IsListView(handle)) {
      return ::SendMessageW(handle, LB_GETCURSEL, 0, 0) == row;
    }
    return (::SendMessageW(handle, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) &
            LVIS_SELECTED) != 0;
  }
  int CurrentRow(int list) override {
    return static_cast<int>(::SendMessageW(widgets_.ControlHandle(list), LVM_GETNEXTITEM,
                                           static_cast<WPARAM>(-1), LVNI_FOCUSED));
  }

 private:
  Win32WidgetServices widgets_;
};

class Win32WidgetsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitialiseCommonControls(); }

  Win32WidgetServices widgets_{::GetModuleHandleW(nullptr), NoChooser(), NoMessageBox()};

  // Every case starts with a 640 × 480 main window to put controls into.
  void SetUp() override {
    ASSERT_TRUE(widgets_.OpenWindow(kMainWindow))
        << "the tests of the real windows need a display (under Wine, an X server)";
    ASSERT_TRUE(widgets_.ChooseContainer(0));
  }

  void Create(int control, ControlKind kind, Geometry geometry, const std::string& text = "",
              ControlOptions options = {}) {
    widgets_.CreateControl(control, kind, geometry, text, options);
    ASSERT_NE(widgets_.ControlHandle(control), nullptr);
  }

  void Pump() {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }

  std::vector<Event> ControlEvents() {
    std::vector<Event> events;
    for (const Event& event : widgets_.TakeQueuedEvents()) {
      if (event.kind == EventKind::Control) {
        events.push_back(event);
      }
    }
    return events;
  }
};

TEST(Win32WidgetBackendsDifferential, SameCallsShowTheSameAsInMemory) {
  InitialiseCommonControls();
  const std::string report = testing::RunWidgetDifferential(
      [] { return std::make_unique<Win32ShownControls>(); }, testing::DifferentialRun{100, 60});
  EXPECT_TRUE(report.empty()) << report;
}

// Removing many rows of a long list puts the rows that stay back into the emptied list; either
// way, the same rows must stay, with their texts, selections and focus.
TEST(Win32WidgetLists, RemovingManyRowsKeepsTheRightRowsWithTheirState) {
  InitialiseCommonControls();
  constexpr int kRows = 2000;
  struct Case {
    const char* name;
    int keepEvery;  // the rows whose index this divides stay
  };
  const Case cases[] = {
      {"every second row goes", 2}, {"all but every 50th row go", 50}, {"all rows go", kRows + 1}};
  for (const Case& c : cases) {
    HeadlessWidgetServices memory;
    Win32ShownControls real;
    ControlOptions multiple;
    multiple.multipleSelection = true;
    for (WidgetServices* widgets : {static_cast<WidgetServices*>(&memory), &real.Services()}) {
      widgets->OpenWindow(kMainWindow);
      widgets->ChooseContainer(0);
      widgets->CreateControl(1, ControlKind::ListView, {5, 5, 400, 300}, "Name", multiple);
      widgets->AddColumn(1, 1, "Pfad", 100);
      widgets->CreateControl(2, ControlKind::ListBox, {5, 310, 400, 150}, "", {});
      for (int row = 0; row < kRows; ++row) {
        const std::string name = "Datei " + std::to_string(row) + (row % 7 == 0 ? "\xFF" : "ä");
        widgets->AddRow(1, -1, name);
        widgets->SetRowText(1, row, 1, row % 3 == 0 ? "" : "C:\\Ordner\\" + name);
        widgets->AddRow(2, -1, name);
        widgets->SetRowSelected(1, row, row % 5 == 0 || row % 50 == 0, false);
      }
      widgets->SetRowSelected(1, 100, true, true);
      widgets->SelectRow(2, 150);
      std::vector<int> doomed;
      for (int row = 0; row < kRows; ++row) {
        if (row % c.keepEvery != 0) {
          doomed.push_back(row);
        }
      }
      widgets->RemoveRows(1, doomed);
      widgets->RemoveRows(2, doomed);
    }
    for (const int list : {1, 2}) {
      ASSERT_EQ(real.RowsShown(list), memory.CountRows(list)) << c.name;
      const HeadlessControl& held = *memory.Control(list);
      for (int row = 0; row < memory.CountRows(list); ++row) {
        const auto& cells = held.rows[static_cast<std::size_t>(row)];
        for (std::size_t column = 0; column < cells.size(); ++column) {
          ASSERT_EQ(real.Cell(list, row, static_cast<int>(column)), DisplayRowText(cells[column]))
              << c.name << ", list " << list << ", row " << row;
        }
        ASSERT_EQ(real.RowShownSelected(list, row), memory.IsRowSelected(list, row))
            << c.name << ", list " << list << ", row " << row;
      }
      EXPECT_EQ(real.Services().SelectedRow(list), memory.SelectedRow(list)) << c.name;
    }
    EXPECT_EQ(real.CurrentRow(1), memory.Control(1)->focusedRow) << c.name;
  }
}

TEST_F(Win32WidgetsTest, ControlsLieWhereTheProgramPutsThemInClientCoordinates) {
  struct Case {
    ControlKind kind;
    Geometry geometry;
  };
  // The list box's height is no whole number of rows: it must not shrink to one.
  const Case cases[] = {
      {ControlKind::Button, {5, 5, 95, 20}},       {ControlKind::Field, {105, 5, 95, 20}},
      {ControlKind::Label, {5, 30, 195, 16}},      {ControlKind::ListView, {5, 46, 195, 409}},
      {ControlKind::ListBox, {205, 46, 400, 150}}, {ControlKind::Progress, {610, 80, 25, 225}},
  };
  int number = 0;
  for (const Case& c : cases) {
    Create(number, c.kind, c.geometry, "Größe");
    EXPECT_EQ(win32_readback::PlaceInParent(widgets_.ControlHandle(number)), c.geometry)
        << "control " << number;
    ++number;
  }
  RECT client{};
  ::GetClientRect(widgets_.WindowHandle(0), &client);
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480);
}

TEST_F(Win32WidgetsTest, FramesAreFixedAndOnlyTheMainWindowHasACloseBox) {
  ASSERT_TRUE(widgets_.OpenWindow(
      WindowLayout{1, 500, 300, "ToDelete-Liste", WindowPlacement::CentredOnActiveWindow, false}));
  struct Case {
    int window;
    bool closeBox;
    const char* title;
  };
  for (const Case c : {Case{0, true, "Kopiensieb"}, Case{1, false, "ToDelete-Liste"}}) {
    HWND handle = widgets_.WindowHandle(c.window);
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(handle, GWL_STYLE));
    EXPECT_EQ((style & WS_SYSMENU) != 0, c.closeBox) << c.window;
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u) << c.window;
    EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION)) << c.window;
    EXPECT_EQ(TextOf(handle), c.title);
  }
}

TEST_F(Win32WidgetsTest, WindowsAreCentredOnTheScreenOrOnTheActiveWindow) {
  RECT main{};
  ::GetWindowRect(widgets_.WindowHandle(0), &main);
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  EXPECT_EQ(main.left, screenWidth / 2 - (main.right - main.left) / 2);
  EXPECT_EQ(main.top, screenHeight / 2 - (main.bottom - main.top) / 2);

  // Moved away from the centre first, so that the second window's place tells.
  ::SetWindowPos(widgets_.WindowHandle(0), nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ::SetActiveWindow(widgets_.WindowHandle(0));
  ::GetWindowRect(widgets_.WindowHandle(0), &main);
  ASSERT_TRUE(widgets_.OpenWindow(
      WindowLayout{1, 300, 200, "ToDelete-Liste", WindowPlacement::CentredOnActiveWindow, false}));
  RECT second{};
  ::GetWindowRect(widgets_.WindowHandle(1), &second);
  EXPECT_EQ(second.left,
            main.left + (main.right - main.left) / 2 - (second.right - second.left) / 2);
  EXPECT_EQ(second.top, main.top + (main.bottom - main.top) / 2 - (second.bottom - second.top) / 2);
}

TEST_F(Win32WidgetsTest, StatusBarHasItsFieldsAlongTheBottomAndKeepsTheLastTexts) {
  ASSERT_TRUE(widgets_.CreateStatusBar(0, {200, 0}));
  HWND bar = widgets_.StatusBarHandle(0);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(win32_readback::PlaceInParent(bar), (Geometry{0, 460, 640, 20}));
  int edges[2] = {};
  ASSERT_EQ(::SendMessageW(bar, SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges)), 2);
  EXPECT_EQ(edges[0], 200);
  EXPECT_EQ(edges[1], -1);

  widgets_.SetStatusText(0, "Lese Dateien...");
  widgets_.SetStatusText(1, "1536 Dateien");
  widgets_.SetStatusText(1, "Größe");
  widgets_.SetStatusText(2, "no such field");
  EXPECT_EQ(widgets_.ShownStatusTexts(), (std::vector<std::string>{"Lese Dateien...", "Größe"}));
  EXPECT_EQ(widgets_.StatusWrites(), (std::vector<int>{1, 2}));
  widgets_.CloseWindow(0);
  EXPECT_EQ(widgets_.ShownStatusTexts(), (std::vector<std::string>{"Lese Dateien...", "Größe"}));
}

TEST_F(Win32WidgetsTest, LowerCaseFieldTurnsTypedLettersOneCharacterAtATime) {
  ControlOptions lowerCase;
  lowerCase.lowerCase = true;
  Create(1, ControlKind::Field, {5, 5, 200, 20}, "", lowerCase);
  Create(2, ControlKind::Field, {5, 30, 200, 20});
  struct Case {
    int field;
    const char* typed;
    const char* shown;
  };
  // "İ" is one character and stays one ("i"), as everywhere in the program.
  const Case cases[] = {
      {1, "*.BAK", "*.bak"},
      {1, "ÄÖÜ İ ẞ", "äöü i ß"},
      {1, "ΣΊΣΥΦΟΣ", "σίσυφοσ"},
      {2, "*.BAK", "*.BAK"},
  };
  for (const Case& c : cases) {
    HWND field = widgets_.ControlHandle(c.field);
    widgets_.SetText(c.field, "");
    widgets_.TakeQueuedEvents();
    const std::wstring typed = WideFromUtf8(c.typed);
    for (const wchar_t unit : typed) {
      ::SendMessageW(field, WM_CHAR, unit, 0);
    }
    EXPECT_EQ(widgets_.GetText(c.field), c.shown) << c.typed;
    // One event per character typed; the lower-casing itself is not news.
    EXPECT_EQ(ControlEvents().size(), typed.size()) << c.typed;
  }
  // What the program writes stays as written.
  widgets_.SetText(1, "*.BAK");
  EXPECT_EQ(widgets_.GetText(1), "*.BAK");
  EXPECT_TRUE(ControlEvents().empty());
}

TEST_F(Win32WidgetsTest, FieldHandsOutAtMost4999Characters) {
  Create(1, ControlKind::Field, {5, 5, 200, 20});
  std::string umlauts;
  for (int i = 0; i < 6000; ++i) {
    umlauts += "ä";
  }
  widgets_.SetText(1, umlauts);
  EXPECT_EQ(widgets_.GetText(1), umlauts.substr(0, 2 * 4999));
}

TEST_F(Win32WidgetsTest, OnlyTheUsersActionsOnEnabledControlsBecomeEvents) {
  Create(1, ControlKind::Button, {5, 5, 95, 20}, "Zurücksetzen");
  Create(2, ControlKind::ListBox, {5, 30, 200, 100});
  Create(3, ControlKind::ListView, {5, 140, 300, 200}, "Name");
  for (int row = 0; row < 3; ++row) {
    widgets_.AddRow(2, -1, "row " + std::to_string(row));
    widgets_.AddRow(3, -1, "row " + std::to_string(row));
  }
  widgets_.SelectRow(2, 1);
  widgets_.SetRowSelected(3, 2, true, true);
  widgets_.SetEnabled(1, true);
  EXPECT_TRUE(ControlEvents().empty()) << "the program's own changes raise no events";

  HWND button = widgets_.ControlHandle(1);
  ::SendMessageW(button, BM_CLICK, 0, 0);
  std::vector<Event> events = ControlEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].control, 1);
  EXPECT_EQ(events[0].window, 0);

  // Wine sends WM_COMMAND for a click on a disabled button all the same.
  widgets_.SetEnabled(1, false);
  ::SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_TRUE(ControlEvents().empty());
  EXPECT_FALSE(widgets_.EventFor(widgets_.WindowHandle(0), WM_COMMAND,
                                 MAKEWPARAM(1 + Win32WidgetServices::kControlIdBase, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(button)));

  // A click on a list view row says "clicked" and "selection changed": one event.
  PostClickOnRow(widgets_.ControlHandle(3), 0);
  Pump();
  events = ControlEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].control, 3);
  EXPECT_TRUE(widgets_.IsRowSelected(3, 0));

  // A close request closes nothing.
  ::SendMessageW(widgets_.WindowHandle(0), WM_CLOSE, 0, 0);
  const std::deque<Event> queued = widgets_.TakeQueuedEvents();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued.front().kind, EventKind::CloseRequest);
  EXPECT_EQ(queued.front().window, 0);
  EXPECT_TRUE(::IsWindow(widgets_.WindowHandle(0)));
}

// A click with Ctrl on a second row adds it where the view allows several rows, and moves the
// one selection where it does not.
TEST_F(Win32WidgetsTest, CtrlClickAddsARowOnlyWhereSeveralRowsMayBeChosen) {
  struct Case {
    bool multipleSelection;
    std::vector<bool> selected;
  };
  const Case cases[] = {{false, {false, false, true}}, {true, {true, false, true}}};
  int number = 1;
  for (const Case& c : cases) {
    ControlOptions options;
    options.multipleSelection = c.multipleSelection;
    options.fullRowSelection = true;
    Create(number, ControlKind::ListView, {5, 5 + 220 * (number - 1), 300, 200}, "Name", options);
    for (int row = 0; row < 3; ++row) {
      widgets_.AddRow(number, -1, "Datei " + std::to_string(row));
    }
    PostClickOnRow(widgets_.ControlHandle(number), 0);
    Pump();
    PostClickOnRow(widgets_.ControlHandle(number), 2, MK_CONTROL);
    Pump();
    for (int row = 0; row < 3; ++row) {
      EXPECT_EQ(widgets_.IsRowSelected(number, row), c.selected[static_cast<std::size_t>(row)])
          << "multiple " << c.multipleSelection << ", row " << row;
    }
    ++number;
  }
}

TEST_F(Win32WidgetsTest, EveryMessageTheWaitTakesStartsOnePass) {
  Create(1, ControlKind::Button, {5, 5, 95, 20}, "Pfad hinzufügen");
  Create(2, ControlKind::Label, {5, 30, 95, 20}, "Alle Dateien");
  Create(3, ControlKind::Field, {5, 55, 95, 20});
  Create(4, ControlKind::Button, {5, 80, 95, 20}, "Zurücksetzen");
  Pump();
  widgets_.TakeQueuedEvents();
  const int before = widgets_.EventsDelivered();

  HWND window = widgets_.WindowHandle(0);
  ::PostMessageW(window, WM_NULL, 0, 0);
  Event event = widgets_.WaitForEvent();
  EXPECT_EQ(event.kind, EventKind::Other);
  EXPECT_EQ(event.window, 0);

  ::PostMessageW(window, WM_CLOSE, 0, 0);
  event = widgets_.WaitForEvent();
  EXPECT_EQ(event.kind, EventKind::CloseRequest);
  EXPECT_EQ(event.window, 0);
  EXPECT_EQ(widgets_.EventsDelivered(), before + 2);

  // Tab goes to the next enabled button or field in creation order, past labels and disabled
  // controls, and round again; Shift+Tab goes back.
  widgets_.SetEnabled(4, false);
  ::SetFocus(widgets_.ControlHandle(1));
  widgets_.TakeQueuedEvents();
  // A field's focus notifications come as its events; passes run until the key's message
  // and the one behind it are taken.
  const auto tab = [&](int expected) {
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    ::PostMessageW(window, WM_NULL, 0, 0);
    for (int pass = 0; pass < 10; ++pass) {
      if (widgets_.WaitForEvent().kind == EventKind::Other &&
          HIWORD(::GetQueueStatus(QS_POSTMESSAGE)) == 0) {
        break;
      }
    }
    EXPECT_EQ(::GetFocus(), widgets_.ControlHandle(expected));
  };
  tab(3);
  tab(1);
  widgets_.SetEnabled(4, true);
  tab(3);
  tab(4);
  tab(1);
}

TEST_F(Win32WidgetsTest, ChooserAnswerEndsInABackslashAndMessageBoxesGoToTheHook) {
  std::vector<std::string> shown;
  std::vector<std::string> answers{"Z:\\tmp\\daten", "", "D:\\"};
  std::size_t next = 0;
  Win32WidgetServices widgets(
      ::GetModuleHandleW(nullptr),
      [&](const std::string&, const std::string&) { return answers[next++]; },
      [&](const std::string& title, const std::string& text, MessageIcon icon) {
        shown.push_back(title + "|" + text + "|" + (icon == MessageIcon::Error ? "E" : "-"));
      });
  EXPECT_EQ(widgets.ChooseFolder("Pfad wählen", "C:\\Start\\"), "Z:\\tmp\\daten\\");
  EXPECT_EQ(widgets.LastChooserStart(), "C:\\Start\\");
  EXPECT_EQ(widgets.ChooseFolder("Pfad wählen", "D:\\"), "");
  EXPECT_EQ(widgets.ChooseFolder("Pfad wählen", ""), "D:\\");
  widgets.ShowMessageBox("Fehler", "Datei gelöscht?", MessageIcon::Error);
  EXPECT_EQ(shown, (std::vector<std::string>{"Fehler|Datei gelöscht?|E"}));
}

// The first visible window of this class that `enumerate` goes through (EnumThreadWindows or
// EnumChildWindows with its first argument bound), if any.
template <typename Enumerate>
HWND FirstVisibleOfClass(const Enumerate& enumerate, const wchar_t* className) {
  struct Search {
    const wchar_t* className;
    HWND found;
  } search{className, nullptr};
  enumerate(
      [](HWND window, LPARAM context) -> BOOL {
        auto& wanted = *reinterpret_cast<Search*>(context);
        wchar_t name[64] = {};
        ::GetClassNameW(window, name, 64);
        if (::IsWindowVisible(window) && std::wstring(name) == wanted.className) {
          wanted.found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The real folder chooser, answered as a user would: the folder's path typed into the
// dialog's field and taken with its button.
TEST_F(Win32WidgetsTest, RealFolderChooserTakesATypedFolderAndEndsItInABackslash) {
  Win32WidgetServices real(::GetModuleHandleW(nullptr));
  ASSERT_TRUE(real.OpenWindow(kMainWindow));
  testing::TempFolder folder;
  folder.MakeFolder("Übersicht");
  const std::string wanted = folder.PathOf("Übersicht");
  const DWORD thread = ::GetCurrentThreadId();
  std::atomic<bool> answered{false};
  std::string title;
  std::thread user([&] {
    for (int attempt = 0; attempt < 600; ++attempt) {
      ::Sleep(50);
      const auto inThread = [thread](WNDENUMPROC each, LPARAM context) {
        ::EnumThreadWindows(thread, each, context);
      };
      HWND dialog = FirstVisibleOfClass(inThread, L"#32770");
      // The dialog's field for a typed name: its first visible edit control.
      const auto inDialog = [dialog](WNDENUMPROC each, LPARAM context) {
        ::EnumChildWindows(dialog, each, context);
      };
      HWND field = dialog == nullptr ? nullptr : FirstVisibleOfClass(inDialog, L"Edit");
      if (field == nullptr) {
        continue;
      }
      title = TextOf(dialog);
      ::SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(WideFromUtf8(wanted).c_str()));
      ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
      answered = true;
      return;
    }
  });
  const std::string chosen = real.ChooseFolder("Pfad wählen", folder.Path() + "\\");
  user.join();
  ASSERT_TRUE(answered) << "no folder dialog showed";
  EXPECT_EQ(title, "Pfad wählen");
  EXPECT_EQ(chosen, wanted + "\\");
}

}  // namespace
}  // namespace kopiensieb
