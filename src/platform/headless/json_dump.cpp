#include "platform/headless/json_dump.h"

#include <algorithm>
#include <string_view>

#include "common/text.h"

namespace kopiensieb {

namespace {

using Json = nlohmann::ordered_json;

std::string_view KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::Button:
      return "button";
    case ControlKind::Field:
      return "field";
    case ControlKind::Label:
      return "label";
    case ControlKind::ListView:
      return "listview";
    case ControlKind::ListBox:
      return "listbox";
    case ControlKind::Progress:
      return "progress";
  }
  return "unknown";
}

Json ListViewColumns(const HeadlessControl& control) {
  Json columns = Json::array();
  for (const HeadlessColumn& column : control.columns) {
    columns.push_back(Json::array({DisplayText(column.title), column.width}));
  }
  return columns;
}

// Every row gets one cell per column: a column the program never wrote reads "".
Json ListViewRows(const HeadlessControl& control) {
  const std::size_t columnCount = control.columns.size();
  Json rows = Json::array();
  rows.get_ref<Json::array_t&>().reserve(control.rows.size());
  for (const std::vector<std::string>& cells : control.rows) {
    Json row = Json::array();
    auto& shown = row.get_ref<Json::array_t&>();
    const std::size_t width = std::max(columnCount, cells.size());
    shown.reserve(width);
    for (std::size_t column = 0; column < width; ++column) {
      shown.emplace_back(column < cells.size() ? DisplayRowText(cells[column]) : std::string());
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

Json ListViewSelection(const HeadlessControl& control) {
  Json selected = Json::array();
  for (std::size_t row = 0; row < control.rowSelected.size(); ++row) {
    if (control.rowSelected[row]) {
      selected.push_back(row);
    }
  }
  return selected;
}

Json ListBoxRows(const HeadlessControl& control) {
  Json rows = Json::array();
  rows.get_ref<Json::array_t&>().reserve(control.rows.size());
  for (const std::vector<std::string>& cells : control.rows) {
    rows.push_back(cells.empty() ? std::string() : DisplayRowText(cells.front()));
  }
  return rows;
}

Json ControlState(const HeadlessControl& control) {
  Json shown = Json::object();
  shown["number"] = control.number;
  shown["kind"] = KindName(control.kind);
  switch (control.kind) {
    case ControlKind::Button:
    case ControlKind::Field:
    case ControlKind::Label:
      shown["text"] = DisplayText(control.text);
      break;
    case ControlKind::ListView:
      shown["columns"] = ListViewColumns(control);
      shown["rows"] = ListViewRows(control);
      shown["selected"] = ListViewSelection(control);
      break;
    case ControlKind::ListBox:
      shown["rows"] = ListBoxRows(control);
      shown["selected"] = control.selectedRow;
      break;
    case ControlKind::Progress:
      shown["value"] = control.progress;
      break;
  }
  shown["enabled"] = control.enabled;
  shown["x"] = control.geometry.x;
  shown["y"] = control.geometry.y;
  shown["w"] = control.geometry.width;
  shown["h"] = control.geometry.height;
  return shown;
}

Json WindowState(const ShownWindow& window) {
  Json shown = Json::object();
  shown["number"] = window.number;
  shown["title"] = DisplayText(window.title);
  shown["width"] = window.width;
  shown["height"] = window.height;
  Json controls = Json::array();
  for (const HeadlessControl& control : window.controls) {
    controls.push_back(ControlState(control));
  }
  shown["controls"] = std::move(controls);
  return shown;
}

Json StatusState(const ShownState& widgets) {
  Json texts = Json::array();
  for (const std::string& text : widgets.statusTexts) {
    texts.push_back(DisplayText(text));
  }
  Json status = Json::object();
  status["texts"] = std::move(texts);
  status["writes"] = widgets.statusWrites;
  return status;
}

Json MessageBoxesState(const ShownState& widgets) {
  Json boxes = Json::array();
  for (const RecordedMessageBox& box : widgets.messageBoxes) {
    Json shown = Json::object();
    shown["title"] = DisplayText(box.title);
    shown["text"] = DisplayText(box.text);
    shown["icon"] = box.icon == MessageIcon::Error ? "error" : "none";
    boxes.push_back(std::move(shown));
  }
  return boxes;
}

Json ChoosersState(const ShownState& widgets) {
  Json choosers = Json::array();
  for (const RecordedChooser& chooser : widgets.choosers) {
    Json shown = Json::object();
    shown["title"] = DisplayText(chooser.title);
    shown["start"] = DisplayText(chooser.start);
    choosers.push_back(std::move(shown));
  }
  return choosers;
}

}  // namespace

nlohmann::ordered_json DumpState(const ShownState& shown, int passes, bool ended) {
  Json state = Json::object();
  state["ended"] = ended;
  state["passes"] = passes;
  state["status"] = StatusState(shown);
  Json windows = Json::array();
  for (const ShownWindow& window : shown.windows) {
    windows.push_back(WindowState(window));
  }
  state["windows"] = std::move(windows);
  state["messageboxes"] = MessageBoxesState(shown);
  state["choosers"] = ChoosersState(shown);
  return state;
}

nlohmann::ordered_json DumpState(const HeadlessWidgetServices& widgets, int passes, bool ended) {
  return DumpState(ShownStateOf(widgets), passes, ended);
}

nlohmann::ordered_json DumpFinalState(const ShownState& shown, int passes, int exitCode) {
  Json state = DumpState(shown, passes, true);
  state["exit_code"] = exitCode;
  return state;
}

nlohmann::ordered_json DumpFinalState(const HeadlessWidgetServices& widgets, int passes,
                                      int exitCode) {
  return DumpFinalState(ShownStateOf(widgets), passes, exitCode);
}

std::string JsonLine(const nlohmann::ordered_json& state) {
  // Every text went through DisplayText already; replacing is only the last line of defence
  // against a dump that throws halfway through a test run.
  return state.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace kopiensieb
