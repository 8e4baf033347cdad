#include <algorithm>
#include <cstdint>

#include "common/text.h"
#include "platform/win32/win32_backend_state.h"
#include "platform/win32/win32_widget_services.h"

namespace kopiensieb {

namespace {

// Rows show their texts as DisplayRowText gives them: control characters as their pictures.
std::wstring RowText(const std::string& text) {
  return WideFromUtf8(DisplayRowText(text));
}

int ItemCount(const Win32WidgetServices::State::Control& list) {
  const UINT message = list.kind == ControlKind::ListView ? LVM_GETITEMCOUNT : LB_GETCOUNT;
  return static_cast<int>(::SendMessageW(list.handle, message, 0, 0));
}

void SetItemState(HWND view, int row, UINT state, UINT mask) {
  LVITEMW item{};
  item.stateMask = mask;
  item.state = state;
  ::SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void SetCellText(HWND view, int row, int column, const std::wstring& text) {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  ::SendMessageW(view, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void InsertListBoxRow(HWND box, int at, const std::wstring& text) {
  ::SendMessageW(box, LB_INSERTSTRING, static_cast<WPARAM>(at),
                 reinterpret_cast<LPARAM>(text.c_str()));
}

// A list view may skip a text it finds equal to the one it holds by its collation, which
// ignores some characters ("\uFFFD" equals ""): then it first gets a text that differs from
// both in a letter.
void WriteCell(HWND view, int row, int column, const std::wstring& text) {
  SetCellText(view, row, column, text);
  if (win32_readback::ListViewCell(view, row, column) != text) {
    SetCellText(view, row, column, text + L"a");
    SetCellText(view, row, column, text);
  }
}

bool HasAsciiLetterOrDigit(const std::wstring& text) {
  return std::any_of(text.begin(), text.end(), [](wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
  });
}

int ColumnCount(HWND view) {
  const auto header = reinterpret_cast<HWND>(::SendMessageW(view, LVM_GETHEADER, 0, 0));
  return header == nullptr ? 1 : static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
}

// Removing a row moves every row below it: removing many rows of a long list one by one costs
// time in the square of its length. Past this, the rows that stay are read out and put back
// into the emptied list instead (each removal costs about one row's move per this many rows
// put back).
constexpr std::int64_t kRebuildFactor = 32768;

bool WorthRebuilding(std::int64_t removed, int count) {
  const std::int64_t kept = count - removed;
  return removed > 0 && removed * count >= kRebuildFactor * kept;
}

void RebuildListView(HWND view, const std::vector<bool>& doomed) {
  struct KeptRow {
    std::vector<std::wstring> cells;
    UINT state = 0;
  };
  const int columns = std::max(1, ColumnCount(view));
  std::vector<KeptRow> kept;
  for (std::size_t row = 0; row < doomed.size(); ++row) {
    if (doomed[row]) {
      continue;
    }
    KeptRow saved;
    for (int column = 0; column < columns; ++column) {
      saved.cells.push_back(win32_readback::ListViewCell(view, static_cast<int>(row), column));
    }
    saved.state = static_cast<UINT>(
        ::SendMessageW(view, LVM_GETITEMSTATE, row, LVIS_SELECTED | LVIS_FOCUSED));
    kept.push_back(std::move(saved));
  }
  ::SendMessageW(view, LVM_DELETEALLITEMS, 0, 0);
  ::SendMessageW(view, LVM_SETITEMCOUNT, kept.size(), 0);
  int focused = -1;
  for (std::size_t index = 0; index < kept.size(); ++index) {
    const int row = static_cast<int>(index);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(kept[index].cells[0].c_str());
    ::SendMessageW(view, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int column = 1; column < columns; ++column) {
      const std::wstring& cell = kept[index].cells[static_cast<std::size_t>(column)];
      // A new row's cells are empty, and a text with a letter or digit of ASCII never
      // compares equal to an empty one: only the others need WriteCell's check.
      if (HasAsciiLetterOrDigit(cell)) {
        SetCellText(view, row, column, cell);
      } else if (!cell.empty()) {
        WriteCell(view, row, column, cell);
      }
    }
    if (kept[index].state != 0) {
      SetItemState(view, row, kept[index].state, LVIS_SELECTED | LVIS_FOCUSED);
    }
    if ((kept[index].state & LVIS_FOCUSED) != 0) {
      focused = row;
    }
  }
  if (focused >= 0) {
    ::SendMessageW(view, LVM_ENSUREVISIBLE, static_cast<WPARAM>(focused), FALSE);
  }
}

void RebuildListBox(HWND box, const std::vector<bool>& doomed) {
  const auto chosen = static_cast<int>(::SendMessageW(box, LB_GETCURSEL, 0, 0));
  std::vector<std::wstring> kept;
  int keptChosen = -1;
  for (std::size_t row = 0; row < doomed.size(); ++row) {
    if (doomed[row]) {
      continue;
    }
    if (static_cast<int>(row) == chosen) {
      keptChosen = static_cast<int>(kept.size());
    }
    kept.push_back(win32_readback::ListBoxRow(box, static_cast<int>(row)));
  }
  ::SendMessageW(box, LB_RESETCONTENT, 0, 0);
  for (const std::wstring& text : kept) {
    InsertListBoxRow(box, -1, text);
  }
  if (keptChosen >= 0) {
    ::SendMessageW(box, LB_SETCURSEL, static_cast<WPARAM>(keptChosen), 0);
  }
}

}  // namespace

// Drawing waits until the program is done with the rows: thousands of rows added one by one
// would otherwise each redraw the list.
void Win32WidgetServices::State::Freeze(int number, Control& list) {
  if (frozenLists.insert(number).second) {
    ::SendMessageW(list.handle, WM_SETREDRAW, FALSE, 0);
  }
}

void Win32WidgetServices::State::ThawLists() {
  ProgramChange change(*this);
  for (const int number : frozenLists) {
    if (const Control* list = Find(number)) {
      ::SendMessageW(list->handle, WM_SETREDRAW, TRUE, 0);
      ::InvalidateRect(list->handle, nullptr, TRUE);
    }
  }
  frozenLists.clear();
}

// A list box row is replaced by removing and inserting it; the choice stays on it.
void Win32WidgetServices::State::ReplaceListBoxRow(Control& list, int row,
                                                   const std::string& text) {
  const bool chosen = ::SendMessageW(list.handle, LB_GETCURSEL, 0, 0) == row;
  ::SendMessageW(list.handle, LB_DELETESTRING, static_cast<WPARAM>(row), 0);
  InsertListBoxRow(list.handle, row, RowText(text));
  if (chosen) {
    ::SendMessageW(list.handle, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
  }
}

void Win32WidgetServices::AddRow(int control, int index, const std::string& text) {
  State::Control* found = state_->FindList(control);
  if (found == nullptr) {
    return;
  }
  State::ProgramChange change(*state_);
  state_->Freeze(control, *found);
  const int count = ItemCount(*found);
  const int at = (index < 0 || index > count) ? count : index;
  const std::wstring shown = RowText(text);
  if (found->kind == ControlKind::ListBox) {
    InsertListBoxRow(found->handle, at, shown);
    return;
  }
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = at;
  item.pszText = const_cast<wchar_t*>(shown.c_str());
  const auto row = static_cast<int>(
      ::SendMessageW(found->handle, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  // A row inserted inside a run of selected rows comes out selected (the view widens the
  // run); a new row is not chosen.
  if (row >= 0 &&
      (::SendMessageW(found->handle, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) &
       LVIS_SELECTED) != 0) {
    SetItemState(found->handle, row, 0, LVIS_SELECTED);
  }
}

void Win32WidgetServices::SetRowText(int control, int row, int column, const std::string& text) {
  State::Control* found = state_->FindList(control);
  if (found == nullptr || row < 0 || row >= ItemCount(*found) || column < 0) {
    return;
  }
  State::ProgramChange change(*state_);
  state_->Freeze(control, *found);
  if (found->kind == ControlKind::ListBox) {
    if (column == 0) {
      state_->ReplaceListBoxRow(*found, row, text);
    }
    return;
  }
  WriteCell(found->handle, row, column, RowText(text));
}

void Win32WidgetServices::RemoveRow(int control, int row) {
  RemoveRows(control, {row});
}

void Win32WidgetServices::RemoveRows(int control, const std::vector<int>& rows) {
  State::Control* found = state_->FindList(control);
  if (found == nullptr) {
    return;
  }
  State::ProgramChange change(*state_);
  state_->Freeze(control, *found);
  const int count = ItemCount(*found);
  std::vector<bool> doomed(static_cast<std::size_t>(std::max(0, count)), false);
  std::int64_t removed = 0;
  for (const int row : rows) {
    if (row >= 0 && row < count && !doomed[static_cast<std::size_t>(row)]) {
      doomed[static_cast<std::size_t>(row)] = true;
      ++removed;
    }
  }
  if (WorthRebuilding(removed, count)) {
    if (found->kind == ControlKind::ListView) {
      RebuildListView(found->handle, doomed);
    } else {
      RebuildListBox(found->handle, doomed);
    }
    return;
  }
  const UINT remove = found->kind == ControlKind::ListView ? LVM_DELETEITEM : LB_DELETESTRING;
  // From the last row up, so that the rows still to go keep their indexes.
  for (int row = count - 1; row >= 0; --row) {
    if (doomed[static_cast<std::size_t>(row)]) {
      ::SendMessageW(found->handle, remove, static_cast<WPARAM>(row), 0);
    }
  }
}

void Win32WidgetServices::RemoveAllRows(int control) {
  State::Control* found = state_->FindList(control);
  if (found == nullptr) {
    return;
  }
  State::ProgramChange change(*state_);
  state_->Freeze(control, *found);
  ::SendMessageW(found->handle,
                 found->kind == ControlKind::ListView ? LVM_DELETEALLITEMS : LB_RESETCONTENT, 0, 0);
}

int Win32WidgetServices::CountRows(int control) const {
  const State::Control* found = state_->Find(control);
  if (found == nullptr || !win32_backend::IsList(found->kind)) {
    return 0;
  }
  return ItemCount(*found);
}

int Win32WidgetServices::SelectedRow(int control) const {
  const State::Control* found = state_->Find(control);
  if (found == nullptr || !win32_backend::IsList(found->kind)) {
    return -1;
  }
  if (found->kind == ControlKind::ListView) {
    return static_cast<int>(
        ::SendMessageW(found->handle, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }
  const auto row = static_cast<int>(::SendMessageW(found->handle, LB_GETCURSEL, 0, 0));
  return row == LB_ERR ? -1 : row;
}

void Win32WidgetServices::SelectRow(int control, int row) {
  State::Control* found = state_->FindList(control);
  if (found == nullptr) {
    return;
  }
  State::ProgramChange change(*state_);
  const bool exists = row >= 0 && row < ItemCount(*found);
  if (found->kind == ControlKind::ListBox) {
    ::SendMessageW(found->handle, LB_SETCURSEL, static_cast<WPARAM>(exists ? row : -1), 0);
    return;
  }
  SetItemState(found->handle, -1, 0, LVIS_SELECTED);
  if (exists) {
    SetItemState(found->handle, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
}

bool Win32WidgetServices::IsRowSelected(int control, int row) const {
  const State::Control* found = state_->Find(control);
  if (found == nullptr || !win32_backend::IsList(found->kind) || row < 0 ||
      row >= ItemCount(*found)) {
    return false;
  }
  if (found->kind == ControlKind::ListBox) {
    return ::SendMessageW(found->handle, LB_GETCURSEL, 0, 0) == row;
  }
  return (::SendMessageW(found->handle, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) &
          LVIS_SELECTED) != 0;
}

void Win32WidgetServices::SetRowSelected(int control, int row, bool selected, bool focused) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || found->kind != ControlKind::ListView || row < 0 ||
      row >= ItemCount(*found)) {
    return;
  }
  State::ProgramChange change(*state_);
  if (selected && !found->options.multipleSelection) {
    SetItemState(found->handle, -1, 0, LVIS_SELECTED);
  }
  const UINT mask = LVIS_SELECTED | (focused ? LVIS_FOCUSED : 0U);
  const UINT state = (selected ? LVIS_SELECTED : 0U) | (focused ? LVIS_FOCUSED : 0U);
  SetItemState(found->handle, row, state, mask);
}

}  // namespace kopiensieb
