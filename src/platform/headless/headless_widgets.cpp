#include "platform/headless/headless_widgets.h"

#include <algorithm>
#include <memory>

#include "common/text.h"
#include "platform/path_conventions.h"

namespace kopiensieb {

HeadlessWidgetServices::HeadlessWidgetServices() = default;

bool HeadlessWidgetServices::OpenWindow(const WindowLayout& layout) {
  if (windows_.contains(layout.number)) {
    return false;
  }
  HeadlessWindow window;
  window.layout = layout;
  windows_.emplace(layout.number, std::move(window));
  return true;
}

bool HeadlessWidgetServices::ChooseContainer(int window) {
  if (!windows_.contains(window)) {
    return false;
  }
  container_ = window;
  return true;
}

void HeadlessWidgetServices::CloseWindow(int window) {
  const auto found = windows_.find(window);
  if (found == windows_.end()) {
    return;
  }
  for (const int control : found->second.controls) {
    controls_.erase(control);
  }
  windows_.erase(found);
  if (container_ == window) {
    container_ = -1;
  }
}

bool HeadlessWidgetServices::CreateStatusBar(int window, const std::vector<int>& fieldWidths) {
  const auto found = windows_.find(window);
  if (found == windows_.end()) {
    return false;
  }
  found->second.hasStatusBar = true;
  found->second.statusFieldWidths = fieldWidths;
  statusTexts_.assign(fieldWidths.size(), std::string());
  statusWrites_.assign(fieldWidths.size(), 0);
  return true;
}

void HeadlessWidgetServices::CreateControl(int control, ControlKind kind, Geometry geometry,
                                           const std::string& text, const ControlOptions& options) {
  const auto window = windows_.find(container_);
  if (window == windows_.end() || controls_.contains(control)) {
    return;
  }
  HeadlessControl created;
  created.number = control;
  created.window = container_;
  created.kind = kind;
  created.geometry = geometry;
  created.options = options;
  if (kind == ControlKind::ListView) {
    // A list view is created with its first column; the text is that column's title.
    created.columns.push_back(HeadlessColumn{text, 0});
  } else if (kind != ControlKind::ListBox && kind != ControlKind::Progress) {
    created.text = text;
  }
  controls_.emplace(control, std::move(created));
  window->second.controls.push_back(control);
}

void HeadlessWidgetServices::AddColumn(int control, int index, const std::string& title,
                                       int width) {
  HeadlessControl* found = Find(control);
  if (found == nullptr || found->kind != ControlKind::ListView || index < 0) {
    return;
  }
  auto& columns = found->columns;
  if (index < static_cast<int>(columns.size())) {
    // Index 0 is the column the view was created with: give it its title and width.
    columns[static_cast<std::size_t>(index)] = HeadlessColumn{title, width};
  } else {
    columns.push_back(HeadlessColumn{title, width});
  }
}

void HeadlessWidgetServices::SetEnabled(int control, bool enabled) {
  if (HeadlessControl* found = Find(control)) {
    found->enabled = enabled;
  }
}

bool HeadlessWidgetServices::IsEnabled(int control) const {
  const HeadlessControl* found = Find(control);
  return found != nullptr && found->enabled;
}

void HeadlessWidgetServices::SetText(int control, const std::string& text) {
  if (HeadlessControl* found = Find(control)) {
    found->text = text;
  }
}

std::string HeadlessWidgetServices::GetText(int control) const {
  const HeadlessControl* found = Find(control);
  if (found == nullptr) {
    return {};
  }
  return FieldTextOf(found->text);
}

void HeadlessWidgetServices::AddRow(int control, int index, const std::string& text) {
  HeadlessControl* found = Find(control);
  if (found == nullptr || !IsList(*found)) {
    return;
  }
  const int count = static_cast<int>(found->rows.size());
  const int at = (index < 0 || index > count) ? count : index;
  std::vector<std::string> cells;
  cells.reserve(std::max<std::size_t>(found->columns.size(), 1));
  cells.push_back(text);
  found->rows.insert(found->rows.begin() + at, std::move(cells));
  if (found->kind == ControlKind::ListView) {
    found->rowSelected.insert(found->rowSelected.begin() + at, false);
    if (found->focusedRow >= at) {
      ++found->focusedRow;
    }
  } else if (found->selectedRow >= at) {
    ++found->selectedRow;
  }
}

void HeadlessWidgetServices::SetRowText(int control, int row, int column, const std::string& text) {
  HeadlessControl* found = Find(control);
  if (found == nullptr || !IsList(*found) || row < 0 ||
      row >= static_cast<int>(found->rows.size()) || column < 0) {
    return;
  }
  auto& cells = found->rows[static_cast<std::size_t>(row)];
  if (static_cast<std::size_t>(column) >= cells.size()) {
    cells.resize(static_cast<std::size_t>(column) + 1);
  }
  cells[static_cast<std::size_t>(column)] = text;
}

void HeadlessWidgetServices::RemoveRow(int control, int row) {
  RemoveRows(control, {row});
}

void HeadlessWidgetServices::RemoveRows(int control, const std::vector<int>& rows) {
  HeadlessControl* found = Find(control);
  if (found == nullptr || !IsList(*found)) {
    return;
  }
  const int count = static_cast<int>(found->rows.size());
  std::vector<bool> doomed(static_cast<std::size_t>(count), false);
  for (const int row : rows) {
    if (row >= 0 && row < count) {
      doomed[static_cast<std::size_t>(row)] = true;
    }
  }
  // One compacting pass, so removing many rows of a long list stays linear.
  std::size_t kept = 0;
  int newSelected = -1;
  int newFocused = -1;
  for (std::size_t row = 0; row < doomed.size(); ++row) {
    if (doomed[row]) {
      continue;
    }
    if (static_cast<int>(row) == found->selectedRow) {
      newSelected = static_cast<int>(kept);
    }
    if (static_cast<int>(row) == found->focusedRow) {
      newFocused = static_cast<int>(kept);
    }
    if (kept != row) {  // moving a row onto itself would empty it
      found->rows[kept] = std::move(found->rows[row]);
      if (found->kind == ControlKind::ListView) {
        found->rowSelected[kept] = found->rowSelected[row];
      }
    }
    ++kept;
  }
  found->rows.resize(kept);
  if (found->kind == ControlKind::ListView) {
    found->rowSelected.resize(kept);
  }
  found->selectedRow = newSelected;
  found->focusedRow = newFocused;
}

void HeadlessWidgetServices::RemoveAllRows(int control) {
  HeadlessControl* found = Find(control);
  if (found == nullptr || !IsList(*found)) {
    return;
  }
  found->rows.clear();
  found->rowSelected.clear();
  found->selectedRow = -1;
  found->focusedRow = -1;
}

int HeadlessWidgetServices::CountRows(int control) const {
  const HeadlessControl* found = Find(control);
  return found == nullptr ? 0 : static_cast<int>(found->rows.size());
}

int HeadlessWidgetServices::SelectedRow(int control) const {
  const HeadlessControl* found = Find(control);
  if (found == nullptr) {
    return -1;
  }
  if (found->kind == ControlKind::ListView) {
    const auto first = std::find(found->rowSelected.begin(), found->rowSelected.end(), true);
    return first == found->rowSelected.end() ? -1
                                             : static_cast<int>(first - found->rowSelected.begin());
  }
  return found->selectedRow;
}

void HeadlessWidgetServices::SelectRow(int control, int row) {
  HeadlessControl* found = Find(control);
  if (found == nullptr || !IsList(*found)) {
    return;
  }
  const bool exists = row >= 0 && row < static_cast<int>(found->rows.size());
  if (found->kind == ControlKind::ListView) {
    std::fill(found->rowSelected.begin(), found->rowSelected.end(), false);
    if (exists) {
      found->rowSelected[static_cast<std::size_t>(row)] = true;
      found->focusedRow = row;
    }
    return;
  }
  found->selectedRow = exists ? row : -1;
}

bool HeadlessWidgetServices::IsRowSelected(int control, int row) const {
  const HeadlessControl* found = Find(control);
  if (found == nullptr || row < 0 || row >= static_cast<int>(found->rows.size())) {
    return false;
  }
  if (found->kind == ControlKind::ListView) {
    return found->rowSelected[static_cast<std::size_t>(row)];
  }
  return found->selectedRow == row;
}

void HeadlessWidgetServices::SetRowSelected(int control, int row, bool selected, bool focused) {
  HeadlessControl* found = Find(control);
  if (found == nullptr || found->kind != ControlKind::ListView || row < 0 ||
      row >= static_cast<int>(found->rows.size())) {
    return;
  }
  if (selected && !found->options.multipleSelection) {
    std::fill(found->rowSelected.begin(), found->rowSelected.end(), false);
  }
  found->rowSelected[static_cast<std::size_t>(row)] = selected;
  if (focused) {
    found->focusedRow = row;
  }
}

void HeadlessWidgetServices::SetProgress(int control, int value) {
  if (HeadlessControl* found = Find(control)) {
    found->progress = std::clamp(value, 0, 100);
  }
}

void HeadlessWidgetServices::SetStatusText(int field, const std::string& text) {
  if (field < 0 || field >= static_cast<int>(statusTexts_.size())) {
    return;
  }
  statusTexts_[static_cast<std::size_t>(field)] = text;
  ++statusWrites_[static_cast<std::size_t>(field)];
}

void HeadlessWidgetServices::ShowMessageBox(const std::string& title, const std::string& text,
                                            MessageIcon icon) {
  messageBoxes_.push_back(RecordedMessageBox{title, text, icon});
}

std::string HeadlessWidgetServices::ChooseFolder(const std::string& title,
                                                 const std::string& startFolder) {
  choosers_.push_back(RecordedChooser{title, startFolder});
  if (chooserAnswers_.empty()) {
    return {};  // nobody answered: as if cancelled
  }
  std::string answer = std::move(chooserAnswers_.front());
  chooserAnswers_.pop_front();
  return answer;
}

Event HeadlessWidgetServices::WaitForEvent() {
  while (events_.empty()) {
    if (!eventSource_ || !eventSource_()) {
      break;
    }
  }
  Event event;
  if (events_.empty()) {
    event = Event{EventKind::CloseRequest, 0, -1};
  } else {
    event = events_.front();
    events_.pop_front();
  }
  ++eventsDelivered_;
  return event;
}

bool HeadlessWidgetServices::Click(int control) {
  const HeadlessControl* found = Find(control);
  if (found == nullptr || !found->enabled) {
    return false;
  }
  RaiseControlEvent(*found);
  return true;
}

bool HeadlessWidgetServices::Type(int control, const std::string& text) {
  HeadlessControl* found = Find(control);
  if (found == nullptr || !found->enabled || found->kind != ControlKind::Field) {
    return false;
  }
  found->text = found->options.lowerCase ? TypedLowerCase(text) : text;
  RaiseControlEvent(*found);
  return true;
}

bool HeadlessWidgetServices::Select(int control, const std::vector<int>& rows) {
  HeadlessControl* found = Find(control);
  if (found == nullptr || !found->enabled || !IsList(*found)) {
    return false;
  }
  const int count = static_cast<int>(found->rows.size());
  std::vector<int> wanted;
  for (const int row : rows) {
    if (row >= 0 && row < count) {
      wanted.push_back(row);
    }
  }
  if (found->kind == ControlKind::ListBox) {
    found->selectedRow = wanted.empty() ? -1 : wanted.back();
  } else {
    std::fill(found->rowSelected.begin(), found->rowSelected.end(), false);
    if (!found->options.multipleSelection && wanted.size() > 1) {
      wanted.erase(wanted.begin(), wanted.end() - 1);
    }
    for (const int row : wanted) {
      found->rowSelected[static_cast<std::size_t>(row)] = true;
      found->focusedRow = row;
    }
  }
  RaiseControlEvent(*found);
  return true;
}

bool HeadlessWidgetServices::DoubleClick(int control, int row) {
  return Select(control, {row});
}

void HeadlessWidgetServices::Idle(int window) {
  events_.push_back(Event{EventKind::Other, window, -1});
}

void HeadlessWidgetServices::RequestClose(int window) {
  events_.push_back(Event{EventKind::CloseRequest, window, -1});
}

void HeadlessWidgetServices::QueueEvent(const Event& event) {
  events_.push_back(event);
}

void HeadlessWidgetServices::QueueChooserAnswer(const std::string& folder) {
  if (!folder.empty() && folder.back() != kNativePaths.separator) {
    chooserAnswers_.push_back(folder + kNativePaths.separator);
  } else {
    chooserAnswers_.push_back(folder);
  }
}

const HeadlessControl* HeadlessWidgetServices::Control(int control) const {
  return Find(control);
}

const HeadlessWindow* HeadlessWidgetServices::Window(int window) const {
  const auto found = windows_.find(window);
  return found == windows_.end() ? nullptr : &found->second;
}

std::vector<int> HeadlessWidgetServices::OpenWindowNumbers() const {
  std::vector<int> numbers;
  for (const auto& [number, window] : windows_) {
    numbers.push_back(number);
  }
  return numbers;
}

HeadlessControl* HeadlessWidgetServices::Find(int control) {
  const auto found = controls_.find(control);
  return found == controls_.end() ? nullptr : &found->second;
}

const HeadlessControl* HeadlessWidgetServices::Find(int control) const {
  const auto found = controls_.find(control);
  return found == controls_.end() ? nullptr : &found->second;
}

bool HeadlessWidgetServices::IsList(const HeadlessControl& control) const {
  return control.kind == ControlKind::ListView || control.kind == ControlKind::ListBox;
}

void HeadlessWidgetServices::RaiseControlEvent(const HeadlessControl& control) {
  events_.push_back(Event{EventKind::Control, control.window, control.number});
}

}  // namespace kopiensieb
