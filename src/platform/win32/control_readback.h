#pragma once

#include <windows.h>

#include <string>

#include "platform/widget_services.h"

namespace kopiensieb::win32_readback {

// What the controls hold, read back through their own messages: the backend uses these to
// keep rows it rebuilds, the script driver and the tests to see what a user sees.
std::wstring WindowText(HWND window);
std::wstring ListViewCell(HWND view, int row, int column);
// "" for a row the list box does not have.
std::wstring ListBoxRow(HWND box, int row);
// Where a child window lies in its parent's client area.
Geometry PlaceInParent(HWND child);

}  // namespace kopiensieb::win32_readback
