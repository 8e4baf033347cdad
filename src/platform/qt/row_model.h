#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kopiensieb {

// The rows of one list view or list box. The program changes rows in bursts (a scan adds
// 100,000 of them in one go), so changes are only recorded here and handed to the view in one
// reset by Publish(); until then the view keeps seeing the row count it was last told.
// Every row carries an id that survives insertions and removals, so that the view's
// selection can be carried across such a reset.
class RowModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  using RowId = std::uint64_t;

  // A list box has a single unnamed column; a list view gets its columns by SetColumn.
  explicit RowModel(bool hasHeader, QObject* parent = nullptr);

  // Called once whenever the model goes from published to changed.
  void SetChangeListener(std::function<void()> listener);

  // Column index below the count renames that column, at or above it adds one at the end.
  // Returns the index the column ended up at.
  int SetColumn(int index, const std::string& title);

  void InsertRow(int index, const std::string& text);
  void SetCell(int row, int column, const std::string& text);
  void RemoveRows(const std::vector<int>& ascendingRows);
  void RemoveAllRows();
  int Count() const { return static_cast<int>(rows_.size()); }
  const std::string& Cell(int row, int column) const;

  bool HasUnpublishedChanges() const { return changed_; }
  // The id of a row as the view knows it (before the next Publish).
  RowId PublishedIdAt(int row) const;
  // Tells the view about every change since the last call. Returns the current row of each
  // given id (-1 when that row is gone), so the caller can restore its selection.
  std::vector<int> Publish(const std::vector<RowId>& idsToFollow);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct Row {
    RowId id = 0;
    std::vector<std::string> cells;
  };

  void MarkChanged();

  bool hasHeader_;
  std::vector<QString> columnTitles_;
  std::vector<Row> rows_;
  std::vector<RowId> publishedIds_;
  RowId nextId_ = 1;
  bool changed_ = false;
  std::function<void()> changeListener_;
};

}  // namespace kopiensieb
