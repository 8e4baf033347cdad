#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "platform/headless/headless_widgets.h"
#include "platform/headless/shown_state.h"

namespace kopiensieb {

// What kopiensieb-headless prints: every open window with its controls in creation order,
// the status bar, and every message box and folder chooser shown so far. Texts appear as the
// user would see them (bytes that are not UTF-8 as U+FFFD).
nlohmann::ordered_json DumpState(const ShownState& shown, int passes, bool ended);
nlohmann::ordered_json DumpState(const HeadlessWidgetServices& widgets, int passes, bool ended);

// The state of the program after it ended: DumpState with "ended" true and its exit code.
nlohmann::ordered_json DumpFinalState(const ShownState& shown, int passes, int exitCode);
nlohmann::ordered_json DumpFinalState(const HeadlessWidgetServices& widgets, int passes,
                                      int exitCode);

// One line of JSON without the line break.
std::string JsonLine(const nlohmann::ordered_json& state);

}  // namespace kopiensieb
