// filelistmodel.h - the main window's three-column report over the
// presenter's rows: one row per entry in index order, read on demand so that
// 100,000 entries cost one reset, not 100,000 inserted items.
#pragma once

#include <QAbstractTableModel>
#include <QItemSelectionModel>
#include <functional>

#include "toolsetpresenter.h"

namespace toolset {

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kName = 0, kSize = 1, kOffset = 2, kColumnCount = 3 };

  // rowAt: the row's texts, asked only for rows the list shows.
  using RowSource = std::function<present::EntryRow(int row)>;
  explicit FileListModel(RowSource rowAt, QObject* parent = nullptr)
      : QAbstractTableModel(parent), rowAt_(std::move(rowAt)) {}

  // Shows rows rows; every call rebuilds them.
  void Rebuild(int rows);
  // Deletes every row.
  void Clear() { Rebuild(0); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // The view lays out every row once per reset, asking each for its index,
  // flags and children: these answer from the row count alone, without the
  // base class's virtual round trips.
  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  RowSource rowAt_;
  int rows_ = 0;
};

// A selection model that announces a change before it happens (the list's
// "item changing" notification).
class AnnouncingSelectionModel : public QItemSelectionModel {
  Q_OBJECT

 public:
  AnnouncingSelectionModel(QAbstractItemModel* model, std::function<void()> changing)
      : QItemSelectionModel(model), changing_(std::move(changing)) {}

  void select(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override;
  void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override;

 private:
  std::function<void()> changing_;
};

}  // namespace toolset
