#pragma once

// The main window's control table, read from main_window_controls.json, which the end-to-end
// scripts read as well: one table for the unit, Qt and end-to-end tests.

#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/widget_services.h"

namespace kopiensieb::testing {

struct ExpectedControl {
  int number = 0;
  ControlKind kind = ControlKind::Button;
  std::string kindName;  // as the headless dump names it: "button", "listview", ...
  std::string text;      // "" for lists and progress bars
  Geometry geometry;
};

inline ControlKind ControlKindNamed(const std::string& name) {
  if (name == "button")
    return ControlKind::Button;
  if (name == "field")
    return ControlKind::Field;
  if (name == "label")
    return ControlKind::Label;
  if (name == "listview")
    return ControlKind::ListView;
  if (name == "listbox")
    return ControlKind::ListBox;
  if (name == "progress")
    return ControlKind::Progress;
  throw std::runtime_error("unknown control kind in the table: " + name);
}

// The controls in creation (and focus) order.
inline const std::vector<ExpectedControl>& MainWindowControls() {
  static const std::vector<ExpectedControl> controls = [] {
    std::ifstream file(KOPIENSIEB_MAIN_WINDOW_TABLE);
    if (!file) {
      throw std::runtime_error("cannot read " KOPIENSIEB_MAIN_WINDOW_TABLE);
    }
    std::vector<ExpectedControl> table;
    for (const nlohmann::json& row : nlohmann::json::parse(file)) {
      const std::string kind = row.at("kind").get<std::string>();
      table.push_back(ExpectedControl{row.at("number").get<int>(), ControlKindNamed(kind), kind,
                                      row.at("text").get<std::string>(),
                                      Geometry{row.at("x").get<int>(), row.at("y").get<int>(),
                                               row.at("w").get<int>(), row.at("h").get<int>()}});
    }
    return table;
  }();
  return controls;
}

}  // namespace kopiensieb::testing
