#pragma once

#include <string>
#include <vector>

#include "platform/headless/headless_widgets.h"

namespace kopiensieb {

// One open window as the user sees it, with its controls in creation order.
struct ShownWindow {
  int number = 0;
  std::string title;
  int width = 0;  // client area
  int height = 0;
  std::vector<HeadlessControl> controls;
};

// Everything a dump prints, gathered from whichever backend shows it: the in-memory widgets
// fill it from their own state, a driver of a real backend reads it back from the real
// widgets. Texts are the ones shown, before the dump makes them valid UTF-8.
struct ShownState {
  std::vector<ShownWindow> windows;  // ascending window numbers
  std::vector<std::string> statusTexts;
  std::vector<int> statusWrites;
  std::vector<RecordedMessageBox> messageBoxes;
  std::vector<RecordedChooser> choosers;
};

ShownState ShownStateOf(const HeadlessWidgetServices& widgets);

}  // namespace kopiensieb
