#include <QAbstractItemView>
#include <QItemSelectionModel>

#include <algorithm>
#include <iterator>
#include <set>

#include "platform/qt/qt_backend_state.h"
#include "platform/qt/qt_widget_services.h"
#include "platform/qt/row_model.h"

namespace kopiensieb {

// The view's selected rows, read once per change of the selection or the rows.
const std::vector<bool>& QtWidgetServices::State::SelectedRowsOf(Control& control) {
  if (!control.selectedRowsKnown) {
    control.selectedRows.assign(static_cast<std::size_t>(control.model->rowCount()), false);
    const auto* view = static_cast<QAbstractItemView*>(control.widget);
    for (const QItemSelectionRange& range : view->selectionModel()->selection()) {
      const int last = std::min(range.bottom(), control.model->rowCount() - 1);
      for (int row = std::max(0, range.top()); row <= last; ++row) {
        control.selectedRows[static_cast<std::size_t>(row)] = true;
      }
    }
    control.selectedRowsKnown = true;
  }
  return control.selectedRows;
}

void QtWidgetServices::State::ForgetSelectedRows(int number) {
  if (Control* control = Find(number)) {
    control->selectedRowsKnown = false;
  }
}

void QtWidgetServices::State::SchedulePublish() {
  if (publishScheduled || watcher == nullptr) {
    return;
  }
  publishScheduled = true;
  QMetaObject::invokeMethod(
      watcher.get(),
      [this] {
        publishScheduled = false;
        PublishAll();
      },
      Qt::QueuedConnection);
}

// Hands the program's pending row selections to the view, merged into ranges of rows.
void QtWidgetServices::State::Settle(Control& control) {
  if (control.pendingSelection.empty() && control.pendingCurrent < 0) {
    return;
  }
  auto* view = static_cast<QAbstractItemView*>(control.widget);
  const int lastColumn = std::max(0, control.model->columnCount() - 1);
  QItemSelection selected;
  QItemSelection deselected;
  auto run = control.pendingSelection.begin();
  while (run != control.pendingSelection.end()) {
    auto end = std::next(run);
    int last = run->first;
    while (end != control.pendingSelection.end() && end->first == last + 1 &&
           end->second == run->second) {
      last = end->first;
      ++end;
    }
    (run->second ? selected : deselected)
        .select(control.model->index(run->first, 0), control.model->index(last, lastColumn));
    run = end;
  }
  ProgramChange change(*this);
  QItemSelectionModel* selection = view->selectionModel();
  if (!deselected.isEmpty()) {
    selection->select(deselected, QItemSelectionModel::Deselect);
  }
  if (!selected.isEmpty()) {
    selection->select(selected, QItemSelectionModel::Select);
  }
  if (control.pendingCurrent >= 0) {
    selection->setCurrentIndex(control.model->index(control.pendingCurrent, 0),
                               QItemSelectionModel::NoUpdate);
  }
  control.pendingSelection.clear();
  control.pendingCurrent = -1;
}

// Hands a list's pending row changes to its view and keeps the selection on the same rows.
void QtWidgetServices::State::Publish(Control& control) {
  if (control.model == nullptr || !control.model->HasUnpublishedChanges()) {
    return;
  }
  Settle(control);
  auto* view = static_cast<QAbstractItemView*>(control.widget);
  QItemSelectionModel* selection = view->selectionModel();
  std::set<int> selectedRows;
  for (const QItemSelectionRange& range : selection->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row) {
      selectedRows.insert(row);
    }
  }
  std::vector<RowModel::RowId> follow;
  follow.reserve(selectedRows.size() + 1);
  for (const int row : selectedRows) {
    follow.push_back(control.model->PublishedIdAt(row));
  }
  const QModelIndex current = selection->currentIndex();
  follow.push_back(current.isValid() ? control.model->PublishedIdAt(current.row()) : 0);

  ProgramChange change(*this);
  const std::vector<int> rows = control.model->Publish(follow);
  const int lastColumn = std::max(0, control.model->columnCount() - 1);
  QItemSelection restored;
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    if (rows[i] >= 0) {
      restored.select(control.model->index(rows[i], 0), control.model->index(rows[i], lastColumn));
    }
  }
  if (!restored.isEmpty()) {
    selection->select(restored, QItemSelectionModel::ClearAndSelect);
  }
  if (rows.back() >= 0) {
    selection->setCurrentIndex(control.model->index(rows.back(), 0), QItemSelectionModel::NoUpdate);
  }
}

void QtWidgetServices::State::PublishAll() {
  for (auto& [number, control] : controls) {
    if (control.model != nullptr) {
      Settle(control);
      Publish(control);
    }
  }
}

void QtWidgetServices::AddRow(int control, int index, const std::string& text) {
  if (State::Control* found = state_->FindList(control)) {
    state_->Settle(*found);
    found->model->InsertRow(index, text);
  }
}

void QtWidgetServices::SetRowText(int control, int row, int column, const std::string& text) {
  if (State::Control* found = state_->FindList(control)) {
    state_->Settle(*found);
    found->model->SetCell(row, column, text);
  }
}

void QtWidgetServices::RemoveRow(int control, int row) {
  RemoveRows(control, {row});
}

void QtWidgetServices::RemoveRows(int control, const std::vector<int>& rows) {
  if (State::Control* found = state_->FindList(control)) {
    state_->Settle(*found);
    found->model->RemoveRows(rows);
  }
}

void QtWidgetServices::RemoveAllRows(int control) {
  if (State::Control* found = state_->FindList(control)) {
    state_->Settle(*found);
    found->model->RemoveAllRows();
  }
}

int QtWidgetServices::CountRows(int control) const {
  const State::Control* found = state_->FindList(control);
  return found == nullptr ? 0 : found->model->Count();
}

int QtWidgetServices::SelectedRow(int control) const {
  State::Control* found = state_->FindList(control);
  if (found == nullptr) {
    return -1;
  }
  state_->Publish(*found);
  state_->Settle(*found);
  int first = -1;
  for (const QItemSelectionRange& range :
       static_cast<QAbstractItemView*>(found->widget)->selectionModel()->selection()) {
    if (first < 0 || range.top() < first) {
      first = range.top();
    }
  }
  return first;
}

void QtWidgetServices::SelectRow(int control, int row) {
  State::Control* found = state_->FindList(control);
  if (found == nullptr) {
    return;
  }
  state_->Publish(*found);
  found->pendingSelection.clear();
  found->pendingCurrent = -1;
  State::ProgramChange change(*state_);
  auto* view = static_cast<QAbstractItemView*>(found->widget);
  QItemSelectionModel* selection = view->selectionModel();
  if (row < 0 || row >= found->model->Count()) {
    selection->clearSelection();
    return;
  }
  const QModelIndex index = found->model->index(row, 0);
  selection->setCurrentIndex(index,
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view->scrollTo(index);
}

bool QtWidgetServices::IsRowSelected(int control, int row) const {
  State::Control* found = state_->FindList(control);
  if (found == nullptr || row < 0 || row >= found->model->Count()) {
    return false;
  }
  state_->Publish(*found);
  if (const auto pending = found->pendingSelection.find(row);
      pending != found->pendingSelection.end()) {
    return pending->second;
  }
  const std::vector<bool>& selected = state_->SelectedRowsOf(*found);
  return static_cast<std::size_t>(row) < selected.size() && selected[static_cast<std::size_t>(row)];
}

void QtWidgetServices::SetRowSelected(int control, int row, bool selected, bool focused) {
  State::Control* found = state_->Find(control);
  if (found == nullptr || found->kind != ControlKind::ListView || row < 0 ||
      row >= found->model->Count()) {
    return;
  }
  state_->Publish(*found);
  if (selected && !found->options.multipleSelection) {
    // One row at most: the others go at once.
    State::ProgramChange change(*state_);
    found->pendingSelection.clear();
    static_cast<QAbstractItemView*>(found->widget)
        ->selectionModel()
        ->select(found->model->index(row, 0),
                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  } else {
    found->pendingSelection[row] = selected;
  }
  if (focused) {
    found->pendingCurrent = row;
  }
}

std::string QtWidgetServices::RowText(int control, int row, int column) const {
  const State::Control* found = state_->FindList(control);
  return found == nullptr ? std::string() : found->model->Cell(row, column);
}

void QtWidgetServices::PublishPendingRows() {
  state_->PublishAll();
}

}  // namespace kopiensieb
