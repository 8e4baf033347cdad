// Photographs the program's windows on the Windows controls as a user sees them: the main
// window built by the program's own start-up pieces after a search with a group chosen, and
// then the ToDelete window over it. Clicks go to the real buttons (BM_CLICK); the folder
// chooser is answered with a folder of sample files. Writes kopiensieb-win32-main.bmp and
// kopiensieb-win32-todelete.bmp of the whole screen into the given folder.

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/win32_file_services.h"
#include "platform/win32/win32_widget_services.h"
#include "shell/control_numbers.h"
#include "shell/event_loop.h"
#include "shell/main_window.h"
#include "shell/program.h"
#include "temp_folder.h"

namespace {

using kopiensieb::Event;
using kopiensieb::EventKind;
using kopiensieb::Program;
using kopiensieb::Win32WidgetServices;

void WriteSamples(kopiensieb::testing::TempFolder& folder) {
  folder.WriteFile("Übersicht 2023.txt", "Umsätze und Erlöse");
  folder.WriteFile("Übersicht 2023.bak", "Umsätze und Erlöse");
  folder.WriteFile("Größenliste.csv", "Größe;Länge;Höhe");
  folder.WriteFile("Kopie von Größenliste.csv", "Größe;Länge;Höhe");
  folder.WriteFile("Brief an Jürgen.txt", "Lieber Jürgen, ...");
  folder.WriteFile("Straßenkarte.tmp", "Kärtchen");
  folder.WriteFile("Ödland – Notizen mit einem sehr langen Dateinamen.txt", "ß");
  folder.WriteFile("Ältere Sicherungen/Größenliste.csv", "Größe;Länge;Höhe");
  folder.MakeFolder("Urlaubsfotos");
}

// Hands every message waiting to its window, and every event that raised its pass.
void RunQueuedPasses(Win32WidgetServices& widgets, Program& program) {
  for (int round = 0; round < 5; ++round) {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    for (const Event& event : widgets.TakeQueuedEvents()) {
      kopiensieb::RunPass(program, event);
    }
  }
  kopiensieb::RunPass(program, Event{EventKind::Other, kopiensieb::kMainWindow, -1});
}

void Click(Win32WidgetServices& widgets, Program& program, int control) {
  RunQueuedPasses(widgets, program);
  ::SendMessageW(widgets.ControlHandle(control), BM_CLICK, 0, 0);
  RunQueuedPasses(widgets, program);
}

// The whole screen as a 24-bit bitmap file, once the lists the program changed are drawn (the
// event loop's wait would draw them; here the program asks to keep painting instead).
bool SaveScreen(Win32WidgetServices& widgets, const std::string& path) {
  for (int i = 0; i < 20; ++i) {
    widgets.KeepPainting();
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::DispatchMessageW(&message);
    }
    ::Sleep(25);
  }
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ earlier = ::SelectObject(memory, bitmap);
  const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != 0;
  ::SelectObject(memory, earlier);
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  const std::size_t size = stride * static_cast<std::size_t>(height);
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  header.bfSize = static_cast<DWORD>(header.bfOffBits + size);
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(&header), sizeof(header));
  file.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
  file.write(static_cast<const char*>(bits), static_cast<std::streamsize>(size));
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return copied && static_cast<bool>(file);
}

}  // namespace

int main(int argc, char* argv[]) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
  ::InitCommonControlsEx(&controls);
  const std::string outFolder = argc > 1 ? argv[1] : ".";
  kopiensieb::testing::TempFolder samples;
  WriteSamples(samples);
  const std::string sampleFolder = samples.Path();
  Win32WidgetServices widgets(
      ::GetModuleHandleW(nullptr),
      [&sampleFolder](const std::string&, const std::string&) { return sampleFolder; });
  kopiensieb::Win32FileServices files;
  Program program(widgets, files);
  if (!kopiensieb::BuildMainWindow(program)) {
    std::fprintf(stderr, "the main window could not be built\n");
    return 1;
  }
  Click(widgets, program, kopiensieb::kAddFolderButton);
  Click(widgets, program, kopiensieb::kSameContentButton);
  widgets.SelectRow(kopiensieb::kGroupsBox, 0);
  kopiensieb::RunPass(program,
                      Event{EventKind::Control, kopiensieb::kMainWindow, kopiensieb::kGroupsBox});
  RunQueuedPasses(widgets, program);
  const std::string mainShot = outFolder + "/kopiensieb-win32-main.bmp";
  if (!SaveScreen(widgets, mainShot)) {
    std::fprintf(stderr, "could not save %s\n", mainShot.c_str());
    return 1;
  }
  Click(widgets, program, kopiensieb::kDeleteMarkedButton);
  Click(widgets, program, kopiensieb::kToDeleteButton);
  Click(widgets, program, kopiensieb::kSelectAllButton);
  const std::string listShot = outFolder + "/kopiensieb-win32-todelete.bmp";
  if (!SaveScreen(widgets, listShot)) {
    std::fprintf(stderr, "could not save %s\n", listShot.c_str());
    return 1;
  }
  std::printf("%s\n%s\n", mainShot.c_str(), listShot.c_str());
  return 0;
}
