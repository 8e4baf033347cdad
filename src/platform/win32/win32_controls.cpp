#include <algorithm>

#include "common/text.h"
#include "platform/win32/win32_backend_state.h"
#include "platform/win32/win32_widget_services.h"

namespace kopiensieb {

using win32_backend::WithLineBreaks;

namespace {

// The control font: about 8 points on a 96 dpi screen, never below 9 pixels.
constexpr int kControlFontPixels = 11;
constexpr int kSmallestFontPixels = 9;
// A list view's first column before the program gives it its width.
constexpr int kFirstColumnWidth = 100;

struct ClassAndStyle {
  const wchar_t* className;
  DWORD style;
  DWORD extendedStyle;
};

ClassAndStyle ClassAndStyleOf(ControlKind kind, const ControlOptions& options) {
  const DWORD child = WS_CHILD | WS_VISIBLE;
  switch (kind) {
    case ControlKind::Button:
      return {L"BUTTON", child | BS_PUSHBUTTON, 0};
    case ControlKind::Field:
      return {L"EDIT", child | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::Label:
      // File names are shown as they are: "&" marks no shortcut.
      return {L"STATIC",
              child | SS_NOPREFIX | (options.centred ? SS_CENTER : SS_LEFT) |
                  (options.sunken ? SS_SUNKEN : 0),
              0};
    case ControlKind::ListView: {
      DWORD style = child | LVS_REPORT | LVS_NOSORTHEADER;
      if (options.multipleSelection) {
        // Rows chosen for deletion stay visible while the user moves to the button that
        // deletes them.
        style |= LVS_SHOWSELALWAYS;
      } else {
        style |= LVS_SINGLESEL;
      }
      return {WC_LISTVIEWW, style, WS_EX_CLIENTEDGE};
    }
    case ControlKind::ListBox:
      // Exact heights: without LBS_NOINTEGRALHEIGHT the box shrinks to whole rows.
      return {L"LISTBOX", child | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE};
    case ControlKind::Progress:
      return {PROGRESS_CLASSW, child | PBS_VERTICAL | PBS_SMOOTH, 0};
  }
  return {L"STATIC", child, 0};
}

std::wstring ShownText(ControlKind kind, const std::string& text) {
  switch (kind) {
    case ControlKind::Button:
    case ControlKind::Field:
      return WideFromUtf8(text);
    case ControlKind::Label:
      return WithLineBreaks(text);
    default:
      return {};
  }
}

void InsertColumn(HWND view, int index, const std::string& title, int width) {
  const std::wstring wide = WideFromUtf8(title);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = LVCFMT_LEFT;
  column.cx = std::max(0, width);
  column.pszText = const_cast<wchar_t*>(wide.c_str());
  ::SendMessageW(view, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&column));
}

int ColumnCount(HWND view) {
  const auto header = reinterpret_cast<HWND>(::SendMessageW(view, LVM_GETHEADER, 0, 0));
  return header == nullptr ? 0 : static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
}

}  // namespace

namespace win32_backend {

std::wstring WithLineBreaks(const std::string& text) {
  const std::wstring wide = WideFromUtf8(text);
  std::wstring shown;
  shown.reserve(wide.size());
  for (std::size_t index = 0; index < wide.size(); ++index) {
    const wchar_t c = wide[index];
    if (c == L'\r' || c == L'\n') {
      shown += L"\r\n";
      if (c == L'\r' && index + 1 < wide.size() && wide[index + 1] == L'\n') {
        ++index;
      }
    } else {
      shown.push_back(c);
    }
  }
  return shown;
}

// About 8 points, in pixels so that the layout does not depend on the screen's dpi, in the
// face the system uses for its messages. The narrowest button for its caption ("Pfad
// hinzufügen" in 95 pixels) decides: where the face runs wide, it gets a pixel smaller until
// that caption fits with room for the button's frame.
FontHandle ControlFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  LOGFONTW face{};
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    face = metrics.lfMessageFont;
  } else {
    ::lstrcpynW(face.lfFaceName, L"Tahoma", LF_FACESIZE);
    face.lfCharSet = DEFAULT_CHARSET;
  }
  face.lfWidth = 0;
  face.lfWeight = FW_NORMAL;
  face.lfItalic = FALSE;
  const std::wstring tightestCaption = WideFromUtf8("Pfad hinzufügen");
  constexpr int kTightestWidth = 95 - 8;
  HDC screen = ::GetDC(nullptr);
  FontHandle chosen;
  for (int pixels = kControlFontPixels; pixels >= kSmallestFontPixels; --pixels) {
    face.lfHeight = -pixels;
    chosen.reset(::CreateFontIndirectW(&face));
    if (chosen == nullptr || screen == nullptr) {
      break;
    }
    const HGDIOBJ earlier = ::SelectObject(screen, chosen.get());
    SIZE extent{};
    const bool measured =
        ::GetTextExtentPoint32W(screen, tightestCaption.c_str(),
                                static_cast<int>(tightestCaption.size()), &extent) != 0;
    ::SelectObject(screen, earlier);
    if (!measured || extent.cx <= kTightestWidth) {
      break;
    }
  }
  if (screen != nullptr) {
    ::ReleaseDC(nullptr, screen);
  }
  return chosen;
}

}  // namespace win32_backend

HWND Win32WidgetServices::State::MakeControl(HWND parent, int number, ControlKind kind,
                                             Geometry geometry, const std::string& text,
                                             const ControlOptions& options) {
  const ClassAndStyle made = ClassAndStyleOf(kind, options);
  // The child-window id leads back to the control's number (GetDlgCtrlID).
  const auto id = static_cast<INT_PTR>(number) + kControlIdBase;
  HWND handle =
      ::CreateWindowExW(made.extendedStyle, made.className, ShownText(kind, text).c_str(),
                        made.style, geometry.x, geometry.y, geometry.width, geometry.height, parent,
                        reinterpret_cast<HMENU>(id), instance, nullptr);
  if (handle == nullptr) {
    return nullptr;
  }
  ::SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
  if (kind == ControlKind::ListView) {
    DWORD extended = LVS_EX_DOUBLEBUFFER;
    if (options.fullRowSelection) {
      extended |= LVS_EX_FULLROWSELECT;
    }
    ::SendMessageW(handle, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    InsertColumn(handle, 0, text, kFirstColumnWidth);
  } else if (kind == ControlKind::Progress) {
    ::SendMessageW(handle, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(handle, PBM_SETPOS, 0, 0);
  }
  return handle;
}

void Win32WidgetServices::CreateControl(int control, ControlKind kind, Geometry geometry,
                                        const std::string& text, const ControlOptions& options) {
  const auto window = state_->windows.find(state_->container);
  if (window == state_->windows.end() || state_->controls.contains(control)) {
    return;
  }
  State::ProgramChange change(*state_);
  HWND handle = state_->MakeControl(window->second.handle, control, kind, geometry, text, options);
  if (handle == nullptr) {
    return;
  }
  State::Control created;
  created.window = window->first;
  created.kind = kind;
  created.options = options;
  created.handle = handle;
  if (kind == ControlKind::Button || kind == ControlKind::Label) {
    created.text = text;
  }
  state_->controls.emplace(control, std::move(created));
  window->second.controlOrder.push_back(control);
}

void Win32WidgetServices::AddColumn(int control, int index, const std::string& title, int width) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || found->kind != ControlKind::ListView || index < 0) {
    return;
  }
  State::ProgramChange change(*state_);
  const int count = ColumnCount(found->handle);
  if (index >= count) {
    InsertColumn(found->handle, count, title, width);
    return;
  }
  const std::wstring wide = WideFromUtf8(title);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = std::max(0, width);
  column.pszText = const_cast<wchar_t*>(wide.c_str());
  ::SendMessageW(found->handle, LVM_SETCOLUMNW, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&column));
}

void Win32WidgetServices::SetEnabled(int control, bool enabled) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || (::IsWindowEnabled(found->handle) != FALSE) == enabled) {
    return;
  }
  State::ProgramChange change(*state_);
  ::EnableWindow(found->handle, enabled ? TRUE : FALSE);
}

bool Win32WidgetServices::IsEnabled(int control) const {
  const State::Control* found = state_->Find(control);
  return found != nullptr && ::IsWindowEnabled(found->handle) != FALSE;
}

void Win32WidgetServices::SetText(int control, const std::string& text) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || found->kind == ControlKind::ListView ||
      found->kind == ControlKind::ListBox || found->kind == ControlKind::Progress) {
    return;
  }
  State::ProgramChange change(*state_);
  ::SetWindowTextW(found->handle, ShownText(found->kind, text).c_str());
  if (found->kind != ControlKind::Field) {
    found->text = text;
  }
}

std::string Win32WidgetServices::GetText(int control) const {
  const State::Control* found = state_->Find(control);
  if (found == nullptr) {
    return {};
  }
  if (found->kind == ControlKind::Field) {
    // Counted in characters of the UTF-8 text, as everywhere else, not in UTF-16 units.
    return FieldTextOf(Utf8FromWide(win32_readback::WindowText(found->handle)));
  }
  return found->text;
}

// Typed letters become lower case one character at a time, as everywhere in the program
// (CharLower and ES_LOWERCASE follow the system's own table, which may differ).
void Win32WidgetServices::State::LowerCaseAsTyped(Control& field) {
  const std::wstring typed = win32_readback::WindowText(field.handle);
  const std::wstring lower = WideFromUtf8(TypedLowerCase(Utf8FromWide(typed)));
  if (lower == typed) {
    return;
  }
  // The change was reported already; the lower-casing is not news.
  ProgramChange change(*this);
  DWORD start = 0;
  DWORD end = 0;
  ::SendMessageW(field.handle, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
  ::SetWindowTextW(field.handle, lower.c_str());
  const auto length = static_cast<DWORD>(lower.size());
  ::SendMessageW(field.handle, EM_SETSEL, std::min(start, length), std::min(end, length));
}

void Win32WidgetServices::SetProgress(int control, int value) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || found->kind != ControlKind::Progress) {
    return;
  }
  ::SendMessageW(found->handle, PBM_SETPOS, static_cast<WPARAM>(std::clamp(value, 0, 100)), 0);
  state_->RepaintNowAndThen();
}

}  // namespace kopiensieb
