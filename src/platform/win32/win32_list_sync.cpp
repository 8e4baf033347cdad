#include <algorithm>

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

std::wstring CellText(HWND view, int row, int column) {
  for (std::size_t size = 256;; size *= 2) {
    std::wstring buffer(size, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(size);
    const auto length = static_cast<std::size_t>(::SendMessageW(
        view, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    if (length + 1 < size) {
      buffer.resize(length);
      return buffer;
    }
  }
}

void InsertListBoxRow(HWND box, int at, const std::wstring& text) {
  ::SendMessageW(box, LB_INSERTSTRING, static_cast<WPARAM>(at),
                 reinterpret_cast<LPARAM>(text.c_str()));
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
  const std::wstring shown = RowText(text);
  SetCellText(found->handle, row, column, shown);
  // A list view may skip a text it finds equal to the one it holds by its collation, which
  // ignores some characters ("\uFFFD" equals ""): then it first gets a text that differs
  // from both in a letter.
  if (CellText(found->handle, row, column) != shown) {
    SetCellText(found->handle, row, column, shown + L"a");
    SetCellText(found->handle, row, column, shown);
  }
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
  const UINT remove = found->kind == ControlKind::ListView ? LVM_DELETEITEM : LB_DELETESTRING;
  // From the last row up, so that the rows still to go keep their indexes.
  int previous = count;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    if (*row >= 0 && *row < previous) {
      ::SendMessageW(found->handle, remove, static_cast<WPARAM>(*row), 0);
      previous = *row;
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
