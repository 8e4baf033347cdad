#include <windows.h>

#include <shobjidl.h>

#include <memory>

#include "platform/win32/win32_backend_state.h"
#include "platform/win32/win32_widget_services.h"

namespace kopiensieb {

using win32_backend::WithLineBreaks;

namespace {

struct ComRelease {
  void operator()(IUnknown* object) const {
    if (object != nullptr) {
      object->Release();
    }
  }
};
template <typename Interface>
using ComPointer = std::unique_ptr<Interface, ComRelease>;

struct TaskMemoryFree {
  void operator()(wchar_t* text) const { ::CoTaskMemFree(text); }
};

// The owner of a dialog: the program's active window, else its main window.
HWND DialogOwner(HWND mainWindow) {
  HWND active = ::GetActiveWindow();
  return active != nullptr ? active : mainWindow;
}

// The folder the user picked, as the file system names it; "" when cancelled or when the
// dialog could not be shown. Only file-system folders can be picked.
std::wstring PickFolder(HWND owner, const std::wstring& title, const std::wstring& start) {
  IFileOpenDialog* raw = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, reinterpret_cast<void**>(&raw)))) {
    return {};
  }
  const ComPointer<IFileOpenDialog> dialog(raw);
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog->SetTitle(title.c_str());
  if (!start.empty()) {
    IShellItem* folder = nullptr;
    if (SUCCEEDED(::SHCreateItemFromParsingName(start.c_str(), nullptr, IID_IShellItem,
                                                reinterpret_cast<void**>(&folder)))) {
      const ComPointer<IShellItem> startItem(folder);
      dialog->SetFolder(startItem.get());
    }
  }
  if (FAILED(dialog->Show(owner))) {
    return {};  // cancelled
  }
  IShellItem* result = nullptr;
  if (FAILED(dialog->GetResult(&result))) {
    return {};
  }
  const ComPointer<IShellItem> chosen(result);
  wchar_t* path = nullptr;
  if (FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path)) || path == nullptr) {
    return {};
  }
  const std::unique_ptr<wchar_t, TaskMemoryFree> owned(path);
  return std::wstring(owned.get());
}

}  // namespace

void Win32WidgetServices::ShowMessageBox(const std::string& title, const std::string& text,
                                         MessageIcon icon) {
  state_->ThawLists();
  if (state_->messageBox) {
    state_->messageBox(title, text, icon);
    return;
  }
  const UINT style = MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : 0U);
  ::MessageBoxW(DialogOwner(WindowHandle(0)), WithLineBreaks(text).c_str(),
                WideFromUtf8(title).c_str(), style);
}

std::string Win32WidgetServices::ChooseFolder(const std::string& title,
                                              const std::string& startFolder) {
  state_->ThawLists();
  state_->lastChooserStart = startFolder;
  std::string chosen;
  if (state_->chooser) {
    chosen = state_->chooser(title, startFolder);
  } else {
    if (!state_->comInitialised) {
      // The dialog is a COM object of this (the program's only) thread.
      state_->comInitialised =
          SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }
    chosen = Utf8FromWide(
        PickFolder(DialogOwner(WindowHandle(0)), WideFromUtf8(title), WideFromUtf8(startFolder)));
  }
  if (!chosen.empty() && chosen.back() != '\\') {
    chosen.push_back('\\');
  }
  return chosen;
}

std::string Win32WidgetServices::LastChooserStart() const {
  return state_->lastChooserStart;
}

}  // namespace kopiensieb
