#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kopiensieb {

enum class EventKind { None, Control, CloseRequest, Other };

// What one wait of the event loop yields.
struct Event {
  EventKind kind = EventKind::None;
  int window = -1;   // 0 main window, 1 ToDelete window, -1 none
  int control = -1;  // for EventKind::Control
};

enum class ControlKind { Button, Field, Label, ListView, ListBox, Progress };

struct ControlOptions {
  bool lowerCase = false;          // text field: letters become lower case as typed
  bool centred = false;            // label
  bool sunken = false;             // label
  bool multipleSelection = false;  // list view
  bool fullRowSelection = false;   // list view
};

struct Geometry {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Geometry&, const Geometry&) = default;
};

enum class WindowPlacement { CentredOnScreen, CentredOnActiveWindow };

struct WindowLayout {
  int number = 0;
  int clientWidth = 0;
  int clientHeight = 0;
  std::string title;
  WindowPlacement placement = WindowPlacement::CentredOnScreen;
  bool hasCloseBox = true;  // the main window has one; the ToDelete window has a title bar only
};

enum class MessageIcon { None, Error };

// A text field hands at most this many characters to the program.
inline constexpr std::size_t kLongestFieldText = 4999;

// What GetText of a field hands out for the text in it: its first kLongestFieldText
// characters (UTF-8 characters, not bytes: a cut inside an umlaut would leave half of it).
// Every backend cuts through this, so all of them cut alike.
std::string FieldTextOf(std::string_view text);

// The program's windows and controls, addressed by number. Texts are UTF-8 byte strings
// (bytes that are not UTF-8 are kept by the program and shown with a replacement character).
// Controls are created enabled. Row indexes count from 0.
class WidgetServices {
 public:
  virtual ~WidgetServices() = default;

  virtual bool OpenWindow(const WindowLayout& layout) = 0;
  // New controls go into this window. False when it does not exist.
  virtual bool ChooseContainer(int window) = 0;
  virtual void CloseWindow(int window) = 0;
  virtual bool CreateStatusBar(int window, const std::vector<int>& fieldWidths) = 0;

  // A list view is created with one column titled by text; AddColumn with index 0 then gives
  // that column its title and width, higher indexes add columns. List boxes and progress bars
  // ignore text.
  virtual void CreateControl(int control, ControlKind kind, Geometry geometry,
                             const std::string& text, const ControlOptions& options) = 0;
  virtual void AddColumn(int control, int index, const std::string& title, int width) = 0;
  virtual void SetEnabled(int control, bool enabled) = 0;
  virtual bool IsEnabled(int control) const = 0;
  virtual void SetText(int control, const std::string& text) = 0;
  virtual std::string GetText(int control) const = 0;

  // Rows of list views and list boxes. index -1 appends.
  virtual void AddRow(int control, int index, const std::string& text) = 0;
  virtual void SetRowText(int control, int row, int column, const std::string& text) = 0;
  virtual void RemoveRow(int control, int row) = 0;
  // Removes several rows at once; rows are given in ascending order.
  virtual void RemoveRows(int control, const std::vector<int>& rows) = 0;
  virtual void RemoveAllRows(int control) = 0;
  virtual int CountRows(int control) const = 0;

  // List box: the selected row, -1 when none; selecting -1 clears the selection.
  virtual int SelectedRow(int control) const = 0;
  virtual void SelectRow(int control, int row) = 0;
  // List view: per-row selected flag. Selecting with focus moves the focus to that row.
  virtual bool IsRowSelected(int control, int row) const = 0;
  virtual void SetRowSelected(int control, int row, bool selected, bool focused) = 0;

  virtual void SetProgress(int control, int value) = 0;
  virtual void SetStatusText(int field, const std::string& text) = 0;
  // Called now and then by long loops that write no status, so the windows keep painting
  // while a command runs; cheap enough to call every few hundred items.
  virtual void KeepPainting() {}

  // Modal; returns when dismissed.
  virtual void ShowMessageBox(const std::string& title, const std::string& text,
                              MessageIcon icon) = 0;
  // The chosen folder ending in the separator, or "" when cancelled.
  virtual std::string ChooseFolder(const std::string& title, const std::string& startFolder) = 0;

  // Blocks until the next message of the program's windows.
  virtual Event WaitForEvent() = 0;
};

}  // namespace kopiensieb
