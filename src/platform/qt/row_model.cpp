#include "platform/qt/row_model.h"

#include <algorithm>
#include <unordered_map>

#include "common/text.h"

namespace kopiensieb {

namespace {

const std::string kNoText;

QString FromBytes(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

RowModel::RowModel(bool hasHeader, QObject* parent)
    : QAbstractTableModel(parent), hasHeader_(hasHeader) {
  if (!hasHeader_) {
    columnTitles_.emplace_back();
  }
}

void RowModel::SetChangeListener(std::function<void()> listener) {
  changeListener_ = std::move(listener);
}

int RowModel::SetColumn(int index, const std::string& title) {
  const int count = static_cast<int>(columnTitles_.size());
  if (index >= 0 && index < count) {
    columnTitles_[static_cast<std::size_t>(index)] = FromBytes(title);
    emit headerDataChanged(Qt::Horizontal, index, index);
    return index;
  }
  beginInsertColumns(QModelIndex(), count, count);
  columnTitles_.push_back(FromBytes(title));
  endInsertColumns();
  return count;
}

void RowModel::InsertRow(int index, const std::string& text) {
  const int count = Count();
  const int at = (index < 0 || index > count) ? count : index;
  Row row{nextId_++, {text}};
  rows_.insert(rows_.begin() + at, std::move(row));
  MarkChanged();
}

void RowModel::SetCell(int row, int column, const std::string& text) {
  if (row < 0 || row >= Count() || column < 0) {
    return;
  }
  auto& cells = rows_[static_cast<std::size_t>(row)].cells;
  if (static_cast<std::size_t>(column) >= cells.size()) {
    cells.resize(static_cast<std::size_t>(column) + 1);
  }
  cells[static_cast<std::size_t>(column)] = text;
  // A row the view already shows is repainted at once; a new row shows with the next Publish.
  if (!changed_ && row < static_cast<int>(publishedIds_.size()) &&
      publishedIds_[static_cast<std::size_t>(row)] == rows_[static_cast<std::size_t>(row)].id) {
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
  } else {
    MarkChanged();
  }
}

void RowModel::RemoveRows(const std::vector<int>& ascendingRows) {
  std::vector<bool> doomed(rows_.size(), false);
  bool any = false;
  for (const int row : ascendingRows) {
    if (row >= 0 && row < Count()) {
      doomed[static_cast<std::size_t>(row)] = true;
      any = true;
    }
  }
  if (!any) {
    return;
  }
  // One compacting pass, so that removing many rows of a long list stays linear.
  std::size_t kept = 0;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (doomed[row]) {
      continue;
    }
    // A vector moved onto itself is left empty: rows in front of the first removed one stay.
    if (kept != row) {
      rows_[kept] = std::move(rows_[row]);
    }
    ++kept;
  }
  rows_.resize(kept);
  MarkChanged();
}

void RowModel::RemoveAllRows() {
  if (rows_.empty()) {
    return;
  }
  rows_.clear();
  MarkChanged();
}

const std::string& RowModel::Cell(int row, int column) const {
  if (row < 0 || row >= Count() || column < 0) {
    return kNoText;
  }
  const auto& cells = rows_[static_cast<std::size_t>(row)].cells;
  return static_cast<std::size_t>(column) < cells.size() ? cells[static_cast<std::size_t>(column)]
                                                         : kNoText;
}

RowModel::RowId RowModel::PublishedIdAt(int row) const {
  if (row < 0 || row >= static_cast<int>(publishedIds_.size())) {
    return 0;
  }
  return publishedIds_[static_cast<std::size_t>(row)];
}

std::vector<int> RowModel::Publish(const std::vector<RowId>& idsToFollow) {
  beginResetModel();
  publishedIds_.resize(rows_.size());
  std::transform(rows_.begin(), rows_.end(), publishedIds_.begin(),
                 [](const Row& row) { return row.id; });
  changed_ = false;
  endResetModel();

  std::vector<int> found(idsToFollow.size(), -1);
  if (idsToFollow.empty()) {
    return found;
  }
  // One id may be asked for more than once (the current row is often a selected one too).
  std::unordered_map<RowId, int> rowOfId;
  for (const RowId id : idsToFollow) {
    rowOfId.emplace(id, -1);
  }
  for (std::size_t row = 0; row < publishedIds_.size(); ++row) {
    if (const auto hit = rowOfId.find(publishedIds_[row]); hit != rowOfId.end()) {
      hit->second = static_cast<int>(row);
    }
  }
  std::transform(idsToFollow.begin(), idsToFollow.end(), found.begin(),
                 [&rowOfId](RowId id) { return rowOfId.at(id); });
  return found;
}

int RowModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(publishedIds_.size());
}

int RowModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columnTitles_.size());
}

QVariant RowModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) {
    return {};
  }
  // Between a change and the next Publish the view may paint rows that moved; it gets the
  // current text of that position, or nothing, never a stale reference.
  // Control characters in a file name show as visible marks, so that every row is one line.
  return FromBytes(DisplayRowText(Cell(index.row(), index.column())));
}

QVariant RowModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (!hasHeader_ || orientation != Qt::Horizontal || section < 0 ||
      section >= static_cast<int>(columnTitles_.size())) {
    return {};
  }
  if (role == Qt::DisplayRole) {
    return columnTitles_[static_cast<std::size_t>(section)];
  }
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  }
  return {};
}

Qt::ItemFlags RowModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) {
    return Qt::NoItemFlags;
  }
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void RowModel::MarkChanged() {
  if (changed_) {
    return;
  }
  changed_ = true;
  if (changeListener_) {
    changeListener_();
  }
}

}  // namespace kopiensieb
