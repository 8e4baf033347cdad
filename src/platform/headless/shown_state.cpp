#include "platform/headless/shown_state.h"

namespace kopiensieb {

ShownState ShownStateOf(const HeadlessWidgetServices& widgets) {
  ShownState state;
  for (const int number : widgets.OpenWindowNumbers()) {
    const HeadlessWindow* window = widgets.Window(number);
    if (window == nullptr) {
      continue;
    }
    ShownWindow shown{
        number, window->layout.title, window->layout.clientWidth, window->layout.clientHeight, {}};
    for (const int control : window->controls) {
      if (const HeadlessControl* found = widgets.Control(control)) {
        shown.controls.push_back(*found);
      }
    }
    state.windows.push_back(std::move(shown));
  }
  state.statusTexts = widgets.StatusTexts();
  state.statusWrites = widgets.StatusWrites();
  state.messageBoxes = widgets.MessageBoxes();
  state.choosers = widgets.Choosers();
  return state;
}

}  // namespace kopiensieb
