#include "platform/win32/control_readback.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>

namespace kopiensieb::win32_readback {

std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0) {
    return {};
  }
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(0, copied)));
  return text;
}

std::wstring ListViewCell(HWND view, int row, int column) {
  for (std::size_t size = 256;; size *= 2) {
    std::wstring buffer(size, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(size);
    const auto copied = static_cast<std::size_t>(
        std::max<LRESULT>(0, ::SendMessageW(view, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                            reinterpret_cast<LPARAM>(&item))));
    // A text that filled the buffer may have been cut: read again with room to spare.
    if (copied + 1 < size) {
      buffer.resize(copied);
      return buffer;
    }
  }
}

std::wstring ListBoxRow(HWND box, int row) {
  const LRESULT length = ::SendMessageW(box, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
  if (length == LB_ERR || length < 0) {
    return {};
  }
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = ::SendMessageW(box, LB_GETTEXT, static_cast<WPARAM>(row),
                                        reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::clamp<LRESULT>(copied, 0, length)));
  return text;
}

Geometry PlaceInParent(HWND child) {
  RECT rect{};
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return Geometry{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace kopiensieb::win32_readback
